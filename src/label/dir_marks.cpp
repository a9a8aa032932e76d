// Mark lists of a directory, from the framework's listing of it, and the six directory
// operations.
#include <stdlib.h>
#include <string.h>

#include "core/last_error.h"
#include "core/whlist_internal.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

// The framework's listing, released with the call.
struct Listing {
    char **paths = nullptr;
    int count = 0;
    ~Listing() {
        if (!paths) return;
        for (int i = 0; i < count; ++i) free(paths[i]);
        free(paths);
    }
};

void consider_path(Decider &decider, int op, int kind, const char *type_name, const char *p, MarkList &marks,
                   PlanSink *plan) {
    if (!p) return;
    if (path_is_link(p) != 0) return plan_add(plan, p, nullptr, -1, LUMEK_PLAN_SKIP_LINK);
    int type = parse_file_type(p);
    if (!type_classified(type)) return plan_add(plan, p, nullptr, type, LUMEK_PLAN_SKIP_TYPE);
    if (type_name && type != parse_obj_type(type_name))
        return plan_add(plan, p, nullptr, type, LUMEK_PLAN_SKIP_FILTER);
    MallocPtr label = decider.choose_label(kind, op, p);
    if (!label) return plan_add(plan, p, nullptr, type, LUMEK_PLAN_SKIP_LABEL);
    const char *path = rewrite_user_data_path(p);
    // Cutting a longer path would name another file; such a path is left out.
    size_t len = 0;
    if (!fits_record(path, &len)) {
        log_line(kMsgPathTooLong, path, strlen(path));
        return plan_add(plan, path, nullptr, type, LUMEK_PLAN_SKIP_LONG);
    }
    if (plan)
        plan->add(path, label.get(), type, LUMEK_PLAN_SENT);
    else
        marks.push_back(make_record(path, label.get()));
}

}  // namespace

std::optional<MarkList> build_dir_marks(int op, int kind, const char *type_name, const char *dir,
                                        PlanSink *plan) {
    if (!dir) return std::nullopt;
    Listing list;
    list.paths = get_file_list_from_dir(dir, &list.count);
    if (!list.paths) return std::nullopt;
    if (plan) {
        size_t bytes = 0;
        for (int i = 0; i < list.count; ++i)
            if (list.paths[i]) bytes += strlen(list.paths[i]) + 1;
        plan->reserve(static_cast<size_t>(list.count), bytes);
    }
    Decider decider;
    MarkList marks;
    for (int i = 0; i < list.count; ++i) {
        consider_path(decider, op, kind, type_name, list.paths[i], marks, plan);
        // Released as it is used, so a large tree is never held twice.
        free(list.paths[i]);
        list.paths[i] = nullptr;
    }
    return marks;
}

namespace {

int32_t dir_op(int op, int kind, const char *type_name, const char *dir, int sm) {
    if (!dir) return report_invalid_argument();
    auto marks = build_dir_marks(op, kind, type_name, dir, nullptr);
    if (!marks || marks->empty()) {
        set_last_error(kMsgNoMarkList, dir);
        return LUMEK_WHLIST_ERR_EXTRACT_LIST;
    }
    return batch_set(kind, sm, *marks);
}

}  // namespace

}  // namespace lumek::label

using namespace lumek::label;

#define LUMEK_DIR_OP(name, op, sm)                                                                     \
    extern "C" LUMEKWHLIST_PUBLIC int32_t name(int32_t kind, const char *type_name, const char *dir) { \
        return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST,                                         \
                                [&] { return dir_op(op, kind, type_name, dir, sm); });                 \
    }

LUMEK_DIR_OP(lumek_whlist_add_by_dir, kOpAdd, 0)
LUMEK_DIR_OP(lumek_whlist_add_by_dir_sm, kOpAdd, 1)
LUMEK_DIR_OP(lumek_whlist_update_by_dir, kOpUpdate, 0)
LUMEK_DIR_OP(lumek_whlist_delete_by_dir, kOpDelete, 0)
LUMEK_DIR_OP(lumek_whlist_delete_by_dir_sm, kOpDelete, 1)

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_by_dir_internal(int32_t kind, const char *type_name,
                                                                          const char *dir, int32_t sm) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST,
                            [&] { return dir_op(kOpDelete, kind, type_name, dir, sm != 0); });
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_plan_by_dir(int32_t op, int32_t kind,
                                                               const char *type_name, const char *dir,
                                                               LumekPlanItem **items, int32_t *count) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_EXTRACT_LIST, [&]() -> int32_t {
        if (!dir || !items || !count) return lumek::report_invalid_argument();
        PlanSink plan;
        auto marks = build_dir_marks(op, kind, type_name, dir, &plan);
        plan.hand_out(items, count);
        return (marks && plan.sends()) ? 0 : LUMEK_WHLIST_ERR_EXTRACT_LIST;
    });
}
