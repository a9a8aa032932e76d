// The _v2 forms: a list loader's result copied into one contiguous array, in list order.
#include <limits>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

// Loads into a private head with @load, then hands out the item bytes of every node.
template <typename Node, typename Entry, typename Load>
int32_t to_array(Entry **items, uint32_t *count, Load &&load) {
    static_assert(sizeof(Entry) <= offsetof(Node, next), "an item is the bytes before next");
    if (!items || !count) return kInvalid;
    *items = nullptr;
    *count = 0;
    Node *raw = nullptr;
    int32_t rc = load(&raw);
    std::unique_ptr<Node, void (*)(Node *)> list(raw, ListBuilder<Node>::free_nodes);
    if (rc != 0) return rc;
    size_t n = 0;
    for (const Node *p = list.get(); p; p = p->next) ++n;
    if (n == 0) return kOk;
    // Counted first and allocated once; the byte count cannot overflow for a list that fits
    // in memory, but check it all the same.
    if (n > std::numeric_limits<uint32_t>::max() || n > SIZE_MAX / sizeof(Entry)) return kNoMemory;
    auto *arr = static_cast<Entry *>(malloc(n * sizeof(Entry)));
    if (!arr) return kNoMemory;
    size_t i = 0;
    for (const Node *p = list.get(); p; p = p->next) memcpy(&arr[i++], p, sizeof(Entry));
    *items = arr;
    *count = static_cast<uint32_t>(n);
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_res_list_v2(uint32_t kid_type, uint32_t type,
                                                             KidResEntry **items, uint32_t *count) {
    return guarded([&] {
        return to_array<KidResItem>(
            items, count, [&](KidResItem **l) { return lumek_kid_whlist_load_res_list(kid_type, type, l); });
    });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_app_list_v2(KidAppEntry **items, uint32_t *count) {
    return guarded([&] { return to_array<KidAppItem>(items, count, lumek_kid_whlist_load_app_list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_third_app_list_v2(KidAppEntry **items, uint32_t *count) {
    return guarded([&] { return to_array<KidAppItem>(items, count, lumek_kid_whlist_load_third_app_list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_app_list_v2(KidAppEntry **items, uint32_t *count) {
    return guarded(
        [&] { return to_array<KidAppItem>(items, count, lumek_kid_whlist_load_installed_app_list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_third_app_list_v2(KidAppEntry **items,
                                                                             uint32_t *count) {
    return guarded(
        [&] { return to_array<KidAppItem>(items, count, lumek_kid_whlist_load_installed_third_app_list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_v2(KidPolicyEntry **items, uint32_t *count) {
    return guarded([&] { return to_array<KidPolicyItem>(items, count, lumek_kid_whlist_load_policy_list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_by_subject_v2(uint32_t sub_type,
                                                                           const char *subject,
                                                                           KidPolicyEntry **items,
                                                                           uint32_t *count) {
    return guarded([&] {
        return to_array<KidPolicyItem>(items, count, [&](KidPolicyItem **l) {
            return lumek_kid_whlist_load_policy_list_by_subject(sub_type, subject, l);
        });
    });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_netctl_list_v2(KidNetctlEntry **items, uint32_t *count) {
    return guarded([&] { return to_array<KidNetctlItem>(items, count, lumek_kid_whlist_load_netctl_list); });
}

}  // extern "C"
