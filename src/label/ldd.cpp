// Labelling a program's shared-library dependencies: the dependency list, the batch and
// single setters that take dependencies along, and one-by-one admission.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

constexpr char kGetLddList[] = "lumek_whlist_get_ldd_list";
constexpr char kLddAdd[] = "lumek_whlist_ldd_add";
constexpr char kMultiSetLdd[] = "lumek_exectl_multi_set_ldd";
constexpr char kSetLddFile[] = "lumek_exectl_set_ldd_file";

std::string locator_command(const std::string &name) {
    return "whereis " + name;
}

// Bounded texts of a caller's record, whose fields may lack a terminator.
std::string field(const char *f, size_t size) {
    return std::string(f, strnlen(f, size));
}

// The dependency walk both analyses share: the program's NEEDED names in order, up to the
// first empty one; a name the shell would have treated specially is logged under @func and
// skipped; a name whose locator could not start goes to @unrun; the first location of each
// other name that has one goes to @found. False when the names could not be listed.
template <typename Unrun, typename Found>
bool walk_dependencies(DepScanner &scan, const char *path, const char *func, Unrun unrun, Found found) {
    auto names = scan.needed_names(path);
    if (!names) return false;
    std::vector<std::string> safe;
    for (const auto &n : *names)
        if (!library_name_unsafe(n)) safe.push_back(n);
    auto where = scan.locate(safe);
    size_t next = 0;
    for (const auto &n : *names) {
        if (library_name_unsafe(n)) {
            log_line(kMsgSpecialChars, func, n.c_str());
            continue;
        }
        const DepScanner::Location &loc = where[next++];
        if (!loc.ran)
            unrun(n);
        else if (loc.candidate)
            found(*loc.candidate);
    }
    return true;
}

}  // namespace

std::optional<MarkList> ldd_list(DepScanner &scan, const char *path, const char *label, int program_state) {
    if (!path) {
        log_line(kMsgPathInvalid);
        return std::nullopt;
    }
    if (path_is_dir(path) != 0) {
        log_line(kMsgPathIsDir, kGetLddList);
        return std::nullopt;
    }
    if (path_is_exist(path) < 0) {
        log_line(kMsgPathInvalid);
        return std::nullopt;
    }
    int type = parse_file_type(path);
    if (type != LUMEK_OBJ_PROGRAM) {
        log_line(kMsgBadType, kGetLddList, path, type);
        return std::nullopt;
    }
    MarkList marks;
    if (program_state < 0) program_state = probe_exectl_state(path);
    if (program_state == kStateUnknown && fits_record(path)) marks.push_back(make_record(path, label));
    bool ran = walk_dependencies(
        scan, path, kGetLddList,
        [](const std::string &n) { log_line(kMsgLocatorFailed, locator_command(n).c_str()); },
        [&](const std::string &candidate) {
            auto real = scan.real_path(candidate);
            if (!real || !fits_record(real->c_str())) return;
            if (probe_exectl_state(real->c_str()) == kStateUnknown)
                marks.push_back(make_record(real->c_str(), label));
        });
    if (!ran) log_line(kMsgAnalysisFailed, kGetLddList);
    return marks;
}

int exectl_ldd_set(DepScanner &scan, const char *path, const char *label, int program_state) {
    auto marks = ldd_list(scan, path, label, program_state);
    if (!marks || marks->empty()) return 0;
    return lumek_exectl_multi_set(marks->data(), static_cast<int>(marks->size()));
}

namespace {

int32_t ldd_add(const char *path) {
    if (!path) {
        report_invalid_argument();
        return -2;
    }
    if (path_is_dir(path) != 0) {
        log_line(kMsgPathIsDir, kLddAdd);
        return -3;
    }
    if (path_is_exist(path) < 0) {
        report_invalid_argument();
        return -2;
    }
    if (has_unsafe_char(path)) {
        log_line(kMsgInvalidLddPath);
        return -2;
    }
    int type = parse_file_type(path);
    if (type != LUMEK_OBJ_PROGRAM) {
        log_line(kMsgBadType, kLddAdd, path, type);
        return -3;
    }
    // One scanner for the whole call: the admissions below share its data lists, and the
    // program's own admission analyses the same program.
    DepScanner scan;
    // Every admission is tried; the first failure is the call's result.
    int32_t first_failure = 0;
    auto admit = [&](const char *p) {
        int32_t rc = exectl_by_type(scan, kOpAdd, p);
        if (rc == 0) return;
        log_line(kMsgSetExectlFailed, kLddAdd, p, scan.decider().list_label(p));
        if (first_failure == 0) first_failure = rc;
    };
    if (probe_exectl_state(path) == kStateUnknown) admit(path);
    // This one reports a locator that could not start on standard output.
    bool ran = walk_dependencies(
        scan, path, kLddAdd,
        [](const std::string &n) { printf(kMsgLocatorFailed, locator_command(n).c_str()); },
        [&](const std::string &candidate) {
            std::optional<std::string> use = candidate;
            if (parse_file_type(candidate.c_str()) == LUMEK_OBJ_LINK) use = scan.real_path(candidate);
            if (use && probe_exectl_state(use->c_str()) == kStateUnknown) admit(use->c_str());
        });
    if (!ran) {
        log_line(kMsgAnalysisFailed, kLddAdd);
        return -1;
    }
    return first_failure;
}

}  // namespace

}  // namespace lumek::label

using namespace lumek::label;

extern "C" LUMEKWHLIST_PUBLIC MarkRecord *lumek_whlist_get_ldd_list(const char *path, const char *label,
                                                                    int32_t *count) {
    return guarded<MarkRecord *>(nullptr, [&]() -> MarkRecord * {
        if (!label || !count) return nullptr;
        DepScanner scan;
        auto marks = ldd_list(scan, path, label);
        if (!marks) return nullptr;
        *count = 0;
        if (marks->empty()) return nullptr;
        auto *out = static_cast<MarkRecord *>(malloc(marks->size() * sizeof(MarkRecord)));
        if (!out) return nullptr;
        memcpy(out, marks->data(), marks->size() * sizeof(MarkRecord));
        *count = static_cast<int32_t>(marks->size());
        return out;
    });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_exectl_ldd_set(const char *path, const char *label) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET, [&]() -> int32_t {
        if (!path || !label) return lumek::report_invalid_argument();
        DepScanner scan;
        return exectl_ldd_set(scan, path, label);
    });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_exectl_multi_set_ldd(MarkRecord *records, int32_t count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET, [&]() -> int32_t {
        if (!records || count <= 0) return lumek::report_invalid_argument();
        DepScanner scan;
        for (int32_t i = 0; i < count; ++i) {
            std::string path = field(records[i].path, sizeof records[i].path);
            std::string label = field(records[i].label, sizeof records[i].label);
            if (path.empty() || parse_file_type(path.c_str()) != LUMEK_OBJ_PROGRAM) continue;
            // The batch setter's count is a success.
            if (exectl_ldd_set(scan, path.c_str(), label.c_str()) < 0)
                log_line(kMsgSetExectlFailed, kMultiSetLdd, path.c_str(), label.c_str());
        }
        return lumek_exectl_multi_set(records, count);
    });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_exectl_set_ldd_file(const char *path, const char *label) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET, [&]() -> int32_t {
        if (!path || !label) return lumek::report_invalid_argument();
        DepScanner scan;
        if (parse_file_type(path) == LUMEK_OBJ_PROGRAM && exectl_ldd_set(scan, path, label) < 0)
            log_line(kMsgSetExectlFailed, kSetLddFile, path, label);
        return lumek_exectl_set(path, label);
    });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_ldd_add(const char *path) {
    return guarded<int32_t>(-1, [&] { return ldd_add(path); });
}
