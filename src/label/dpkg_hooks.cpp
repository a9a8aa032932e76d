// The package manager's hooks: a package's files admitted to the exectl whitelist one at a
// time or in one batch (keeping the special labels the rtdb records), and the programs,
// libraries and modules of read-only packages protected. Every hook does nothing while the
// framework is disabled, and data files are skipped by extension.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "core/error_record.h"
#include "core/last_error.h"
#include "core/whlist_internal.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

constexpr char kReadonlyPkgList[] = "/usr/share/lumek-utils/data/readonly_pkg_list";
constexpr char kMsgLoadSpecialFailed[] = "load whlist objects failed";

bool framework_disabled() {
    return lumek_getstatus() == 0;
}

// The EINVAL text in the buffer and in the log.
void refuse_arguments() {
    report_invalid_argument();
    log_line("%s", last_error_buffer());
}

bool is_auth_failure(int code) {
    return code == LUMEK_WHLIST_ERR_AUTH_FAILED || code == LUMEK_WHLIST_ERR_CANCEL_AUTH;
}

// A file the hooks leave alone: no path, a data file, or nothing there.
bool skipped(const char *path) {
    return !path || has_skipped_extension(path) || path_is_exist(path) < 0;
}

// A failed batch: the framework's "OBJECT: REASON" in the buffer and the log; -1 when the
// caller was not authorised, else -3.
int32_t batch_failed(int rc) {
    FrameworkError fe = read_framework_error();
    set_last_error(kMsgSetterFailed, fe.object.c_str(), fe.message.c_str());
    log_line("%s", last_error_buffer());
    return is_auth_failure(rc) || is_auth_failure(fe.code) ? -1 : -3;
}

// The rtdb's special entries by path, the first entry of the list winning as a search from
// its head would.
class SpecialIndex {
  public:
    explicit SpecialIndex(const WhlistObject *list) {
        for (const WhlistObject *o = list; o; o = o->next)
            if (o->path) by_path_.emplace(o->path, o->exectl_type);
    }
    // The label the rtdb keeps for @path, or nullptr.
    const char *label(const char *path) const {
        auto it = by_path_.find(path);
        if (it == by_path_.end() || it->second < 0 || it->second > LUMEK_EXECTL_SCRIPT) return nullptr;
        return kExectlLabelNames[it->second];
    }

  private:
    std::unordered_map<std::string, int32_t> by_path_;
};

struct ObjectList {
    WhlistObject *head = nullptr;
    ~ObjectList() { lumek_whlist_objects_free(&head); }
};

// Whether @package (already without its architecture) is a line of the read-only list.
bool package_listed(const std::string &package) {
    FilePtr f(fopen(kReadonlyPkgList, "re"));
    if (!f) return false;
    char *buf = nullptr;
    size_t cap = 0;
    ssize_t n;
    bool found = false;
    while (!found && (n = getline(&buf, &cap, f.get())) >= 0) {
        std::string line(buf, static_cast<size_t>(n));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        found = !line.empty() && line == package;
    }
    free(buf);
    return found;
}

int32_t exectl_add_for_dpkg(const char *path) {
    if (framework_disabled()) return 0;
    if (!path || path_is_exist(path) < 0) {
        refuse_arguments();
        return -2;
    }
    if (has_skipped_extension(path)) return 0;
    int type = parse_file_type(path);
    int rc;
    if (type >= LUMEK_OBJ_PROGRAM && type <= LUMEK_OBJ_KMODULE) {
        DepScanner scan;
        rc = label_one_file(scan, type == LUMEK_OBJ_KMODULE ? kKindKmod : kKindExectl, kOpAdd, path, 0);
    } else {
        // Other files, links and files that cannot be classified are admitted as they are.
        // The setter's own result decides: its error record may be stale, and the caller's
        // last-error text is left as it was.
        rc = lumek_exectl_set(path, kLabelVerified);
    }
    if (rc == 0) return 0;
    return is_auth_failure(rc) ? 1 : -1;
}

int32_t exectl_multi_add_for_dpkg(const char **paths, int32_t count) {
    if (framework_disabled()) return 0;
    if (!paths || count <= 0) {
        refuse_arguments();
        return -2;
    }
    ObjectList special;
    if (lumek_memdb_whlist_exectl_load_special(&special.head) != 0) {
        log_line("%s", kMsgLoadSpecialFailed);
        return -1;
    }
    std::vector<TypedMarkRecord> records;
    records.reserve(static_cast<size_t>(count));
    Decider decider;
    for (int32_t i = 0; i < count; ++i) {
        const char *p = paths[i];
        if (!p || has_skipped_extension(p)) continue;
        // A file the probe classifies exists: the existence probe is asked only when it does not.
        int type = parse_file_type(p);
        if (!type_classified(type) && path_is_exist(p) < 0) continue;
        const char *path = rewrite_user_data_path(p);
        size_t len;
        // A path cut to fit the record could name another, existing file.
        if (!fits_record(path, &len)) {
            log_line(kMsgPathTooLong, path, len);
            continue;
        }
        TypedMarkRecord &r = records.emplace_back();  // zeroed, filled where it lies
        r.file_type = type;
        strncpy(r.label, decider.list_label(p, type), sizeof r.label - 1);
        memcpy(r.path, path, len);
    }
    if (records.empty()) return 0;
    if (special.head) {
        SpecialIndex index(special.head);
        for (TypedMarkRecord &r : records) {
            if (strcmp(r.label, kLabelVerified) != 0) continue;
            if (const char *kept = index.label(r.path)) {
                memset(r.label, 0, sizeof r.label);
                strncpy(r.label, kept, sizeof r.label - 1);
            }
        }
    }
    int rc = lumek_exectl_multi_set_for_dpkg(records.data(), static_cast<int>(records.size()));
    return rc < 0 ? batch_failed(rc) : rc;
}

int32_t protect_set_by_name_for_dpkg(const char *package, const char **paths, int32_t count) {
    if (framework_disabled()) return 0;
    if (!package || !paths || count <= 0) {
        refuse_arguments();
        return -1;
    }
    std::string name = package;
    size_t colon = name.rfind(':');
    if (colon != std::string::npos) name.erase(colon);
    if (!package_listed(name)) return -2;
    MarkList marks;
    for (int32_t i = 0; i < count; ++i) {
        const char *p = paths[i];
        if (skipped(p)) continue;
        int type = parse_file_type(p);
        if (type != LUMEK_OBJ_PROGRAM && type != LUMEK_OBJ_LIBRARY && type != LUMEK_OBJ_KMODULE) continue;
        size_t len;
        if (!fits_record(p, &len)) {
            log_line(kMsgPathTooLong, p, len);
            continue;
        }
        marks.push_back(make_record(p, kProtectReadonly));
    }
    if (marks.empty()) return 0;
    int rc = lumek_protect_multi_set(marks.data(), static_cast<int>(marks.size()));
    return rc < 0 ? batch_failed(rc) : rc;
}

}  // namespace

}  // namespace lumek::label

using namespace lumek::label;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_add_for_dpkg(const char *path) {
    return guarded<int32_t>(-1, [&] { return exectl_add_for_dpkg(path); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_multi_add_for_dpkg(const char **paths,
                                                                             int32_t count) {
    return guarded<int32_t>(-3, [&] { return exectl_multi_add_for_dpkg(paths, count); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_protect_set_by_name_for_dpkg(const char *package,
                                                                                const char **paths,
                                                                                int32_t count) {
    return guarded<int32_t>(-3, [&] { return protect_set_by_name_for_dpkg(package, paths, count); });
}
