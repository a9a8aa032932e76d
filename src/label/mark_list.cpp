// Mark-list records, the batch setters and how their failures are reported, and the plan
// that the builders fill beside their records.
#include <stdlib.h>
#include <string.h>

#include <new>
#include <stdexcept>

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

void PlanSink::reserve(size_t paths, size_t bytes) {
    free(block_);
    block_ = nullptr;
    items_ = text_used_ = sent_ = 0;
    if (paths > (SIZE_MAX - bytes) / sizeof(LumekPlanItem)) throw std::bad_alloc();
    block_ = static_cast<LumekPlanItem *>(malloc(paths * sizeof(LumekPlanItem) + bytes + 1));
    if (!block_) throw std::bad_alloc();
    texts_ = reinterpret_cast<char *>(block_ + paths);
    items_room_ = paths;
    text_room_ = bytes;
}

void PlanSink::add(const char *path, const char *label, int file_type, int skip) {
    size_t len = strlen(path);
    if (items_ == items_room_ || len >= text_room_ - text_used_) throw std::length_error("plan room");
    LumekPlanItem &item = block_[items_++];
    memset(&item, 0, sizeof item);
    item.path = static_cast<char *>(memcpy(texts_ + text_used_, path, len + 1));
    text_used_ += len + 1;
    if (label) strncpy(item.label, label, sizeof item.label - 1);
    item.file_type = file_type;
    item.skip = skip;
    if (skip == LUMEK_PLAN_SENT) ++sent_;
}

void PlanSink::hand_out(LumekPlanItem **items, int32_t *count) {
    *items = nullptr;
    *count = static_cast<int32_t>(items_);
    if (items_ == 0) return;
    *items = block_;
    block_ = nullptr;
}

}  // namespace lumek::label
