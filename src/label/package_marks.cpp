// Mark lists of an installed package, from the package manager's file listing, and the
// three package operations.
#include <string.h>

#include <algorithm>

#include "common/package_listing.h"
#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

constexpr char kTmpPart[] = "/tmp/";

// Considers one listed line; returns the record's label when it is recorded.
void consider_line(Decider &decider, int op, const std::string &line, MarkList &marks, PlanSink *plan) {
    const char *p = line.c_str();
    if (line.find(kTmpPart) != std::string::npos) return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_TMP);
    // Only absolute paths that fit a record are files of the package; anything else
    // (a diversion note, an over-long path) is never looked up relative to our directory.
    if (p[0] != '/' || !fits_record(p)) {
        if (p[0] == '/') log_line(kMsgPathTooLong, p, line.size());
        return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_LONG);
    }
    if (path_is_exist(p) < 0) return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_MISSING);
    if (path_is_dir(p) != 0) return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_DIR);
    if (path_is_link(p) != 0) return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_LINK);
    int type = parse_file_type(p);
    if (type < 0 || type > 3) return plan_add(plan, p, nullptr, type, LUMEK_PLAN_SKIP_TYPE);
    MallocPtr label = decider.choose_label(type == 3 ? kKindKmod : kKindExectl, op, p);
    if (!label) return plan_add(plan, p, nullptr, type, LUMEK_PLAN_SKIP_LABEL);
    if (plan)
        plan->add(p, label.get(), type, LUMEK_PLAN_SENT);
    else
        marks.push_back(make_record(p, label.get()));
}

}  // namespace

std::string clean_package_name(const char *package) {
    std::string name(package);
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t under = name.find('_');
    if (under != std::string::npos) name.erase(under);
    return name;
}

std::optional<MarkList> build_package_marks(int op, const char *package, PlanSink *plan) {
    std::optional<std::string> listing = dpkg_query_listing(clean_package_name(package));
    if (!listing) return std::nullopt;
    const std::string &out = *listing;

    if (plan)
        plan->reserve(static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) + 1, out.size() + 1);
    Decider decider;
    MarkList marks;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        size_t end = nl == std::string::npos ? out.size() : nl;
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty()) consider_line(decider, op, line, marks, plan);
    }
    return marks;
}

namespace {

int32_t package_op(int op, const char *package) {
    if (!package) return report_invalid_argument();
    auto marks = build_package_marks(op, package, nullptr);
    if (!marks || marks->empty()) {
        set_last_error(kMsgNoMarkList, package);
        return LUMEK_WHLIST_ERR_EXTRACT_LIST;
    }
    return lumek_exectl_multi_set(marks->data(), static_cast<int>(marks->size()));
}

}  // namespace

}  // namespace lumek::label

using namespace lumek::label;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_by_package(const char *package) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST, [&] { return package_op(kOpAdd, package); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update_by_package(const char *package) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST, [&] { return package_op(kOpUpdate, package); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_package(const char *package) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST, [&] { return package_op(kOpDelete, package); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_plan_by_package(int32_t op, const char *package,
                                                                   LumekPlanItem **items, int32_t *count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST, [&]() -> int32_t {
        if (!package || !items || !count) return lumek::report_invalid_argument();
        PlanSink plan;
        auto marks = build_package_marks(op, package, &plan);
        plan.hand_out(items, count);
        return (marks && plan.sends()) ? 0 : LUMEK_WHLIST_ERR_EXTRACT_LIST;
    });
}
