// Mark-list records, the batch setters and how their failures are reported, and the plan
// that the builders fill beside their records.
#include <stdlib.h>
#include <string.h>

#include "core/error_record.h"
#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

MarkRecord make_record(const char *path, const char *label) {
    MarkRecord r{};
    strncpy(r.path, path, sizeof r.path - 1);
    strncpy(r.label, label, sizeof r.label - 1);
    return r;
}

const char *rewrite_user_data_path(const char *path) {
    static constexpr char kHome[] = "/data/home";
    static constexpr char kRoot[] = "/data/root";
    static constexpr size_t kPrefix = 10, kDrop = 5;
    if (strncmp(path, kHome, kPrefix) != 0 && strncmp(path, kRoot, kPrefix) != 0) return path;
    return path_is_same(path, path + kDrop) == 1 ? path + kDrop : path;
}

int32_t report_batch_result(int result) {
    if (result >= 0) return result;
    FrameworkError fe = read_framework_error();
    set_last_error(kMsgSetterFailed, fe.object.c_str(), fe.message.c_str());
    // A record without a failure code must not turn the failure into a success.
    if (fe.code >= 0) return result;
    return fe.code;
}

int batch_set(int kind, int sm, MarkList &marks) {
    int n = static_cast<int>(marks.size());
    if (kind_is_exectl(kind)) return lumek_exectl_multi_set(marks.data(), n);
    return sm ? lumek_protect_multi_set_sm(marks.data(), n) : lumek_protect_multi_set(marks.data(), n);
}

void plan_add(PlanSink *plan, const char *path, const char *label, int file_type, int skip) {
    if (!plan) return;
    LumekPlanItem item{};
    strncpy(item.path, path, sizeof item.path - 1);
    if (label) strncpy(item.label, label, sizeof item.label - 1);
    item.file_type = file_type;
    item.skip = skip;
    plan->push_back(item);
}

int32_t hand_out_plan(PlanSink &plan, LumekPlanItem **items, int32_t *count) {
    *items = nullptr;
    *count = 0;
    if (plan.empty()) return 0;
    auto *arr = static_cast<LumekPlanItem *>(malloc(plan.size() * sizeof(LumekPlanItem)));
    if (!arr) return -1;
    memcpy(arr, plan.data(), plan.size() * sizeof(LumekPlanItem));
    *items = arr;
    *count = static_cast<int32_t>(plan.size());
    return 0;
}

}  // namespace lumek::label
