// Kid numbering, kid texts, bounded copies and the kid batch shared by the kid family.
#include <errno.h>
#include <stdio.h>

#include "kid/kid_internal.h"

namespace lumek::kid {

std::optional<uint32_t> kid_type_of(uint32_t kid) {
    if (kid == 0) return std::nullopt;
    // Types 0 to 4 are consecutive ranges; type 5 spans them all and is never a kid's type.
    for (uint32_t t = 0; t < kTypeCount - 1; ++t)
        if (kid <= kHighestKid[t]) return t;
    return std::nullopt;
}

std::optional<uint32_t> parse_kid_text(const char *text) {
    if (!text || *text < '0' || *text > '9') return std::nullopt;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = strtoull(text, &end, 10);
    if (errno == ERANGE || *end != '\0' || v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(v);
}

namespace {
std::optional<uint32_t> take_kid_text(int rc, char *text) {
    MallocPtr owned(text);
    if (rc != 0 || !text) return std::nullopt;
    return parse_kid_text(text);
}
}  // namespace

std::optional<uint32_t> kid_of_path(const char *path) {
    char *text = nullptr;
    int rc = lumek_kid_get(path, &text);
    return take_kid_text(rc, text);
}

std::optional<uint32_t> kid_of_pid(int pid) {
    char *text = nullptr;
    int rc = lumek_kid_get_by_pid(pid, &text);
    return take_kid_text(rc, text);
}

void copy_field(char *dst, size_t cap, const char *src, size_t src_cap) {
    memset(dst, 0, cap);
    if (!src || cap == 0) return;
    size_t n = strnlen(src, src_cap < cap - 1 ? src_cap : cap - 1);
    memcpy(dst, src, n);
}

std::vector<char *> c_strings(const std::vector<std::string> &v) {
    std::vector<char *> out;
    out.reserve(v.size());
    for (const std::string &s : v) out.push_back(const_cast<char *>(s.c_str()));
    return out;
}

int32_t send_kid_batch(const std::vector<std::string> &paths, const char *kid_text) {
    // Zeroed, contiguous, grown once.
    std::vector<MarkRecord> batch(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        copy_field(batch[i].path, sizeof batch[i].path, paths[i].c_str());
        copy_field(batch[i].label, sizeof batch[i].label, kid_text);
    }
    return lumek_kid_multi_set(batch.data(), static_cast<int>(batch.size()));
}

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int lumek_kid_whlist_func_status_get(void) {
    return lumek_get_func_status(kFeatureKid);
}

LUMEKWHLIST_PUBLIC int lumek_kid_whlist_func_status_set(int status) {
    return lumek_set_func_status(kFeatureKid, status);
}

LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_res_list(KidResItem **list) {
    if (list) ListBuilder<KidResItem>::free_nodes(std::exchange(*list, nullptr));
}

LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_app_list(KidAppItem **list) {
    if (list) ListBuilder<KidAppItem>::free_nodes(std::exchange(*list, nullptr));
}

LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_policy_list(KidPolicyItem **list) {
    if (list) ListBuilder<KidPolicyItem>::free_nodes(std::exchange(*list, nullptr));
}

LUMEKWHLIST_PUBLIC void lumek_kid_whlist_free_netctl_list(KidNetctlItem **list) {
    if (list) ListBuilder<KidNetctlItem>::free_nodes(std::exchange(*list, nullptr));
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_get_app_or_file_kid_type(uint32_t selector, const char *name,
                                                                     uint32_t *kid_type) {
    return guarded([&]() -> int32_t {
        if (!name || !kid_type || selector > 1) return kInvalid;
        std::optional<uint32_t> kid;
        if (selector == LUMEK_KID_SUBJECT_FILE) {
            kid = kid_of_path(name);
        } else {
            int k = lumek_kid_get_kid_by_app_name(name);
            if (k >= 0) kid = static_cast<uint32_t>(k);
        }
        if (!kid) return kNoKid;
        std::optional<uint32_t> type = kid_type_of(*kid);
        if (!type) return kNoKid;
        *kid_type = *type;
        return kOk;
    });
}

}  // extern "C"
