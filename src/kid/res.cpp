// A single path attached to, or detached from, the shared resource kid of kid type 0, 1 or
// 2; the file's own kid text follows the framework's record.
#include <errno.h>
#include <stdio.h>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

// The absolute form of @path, or a copy of it as given when that cannot be formed.
std::string resolved(const char *path) {
    MallocPtr abs(get_absolute_path(path));
    if (abs) return abs.get();
    int err = errno;
    KID_LOG(path, "faile to get absolute path: %s", strerror(err));
    return path;
}

int32_t add_res(uint32_t kid_type, uint32_t type, const char *path) {
    if (!path) return kInvalid;
    KID_LOG("lumek_kid_whlist_add_res", "kid_type = %d, type = %d, path = %s", kid_type, type, path);
    std::string abs = resolved(path);
    if (kid_type >= kSharedTypes) return kInvalid;
    uint32_t kid = kSharedKid[kid_type];
    char *paths[] = {abs.data()};
    uint32_t res_type = path_is_dir(abs.c_str()) == 1 ? kResDir : kResFile;
    int rc = lumek_kid_add_kid_res_list(kid, res_type, paths, 1);
    // Only a change the framework accepted reaches the file; a missing path stays a record.
    if (rc != 0 || path_is_exist(abs.c_str()) != 1) return rc;
    char text[32] = {};
    snprintf(text, sizeof text, "%u", kid);
    return lumek_kid_set(abs.c_str(), text);
}

int32_t remove_res(uint32_t kid_type, uint32_t type, const char *path) {
    (void)type;
    if (kid_type >= kSharedTypes || !path) return kInvalid;
    uint32_t kid = kSharedKid[kid_type];
    std::string abs = resolved(path);
    char *paths[] = {abs.data()};
    int rc = lumek_kid_remove_kid_res_list(kid, kResFile, paths, 1);
    if (rc != 0 || path_is_exist(abs.c_str()) != 1) return rc;
    return lumek_kid_set(abs.c_str(), "0");
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_res(uint32_t kid_type, uint32_t type, const char *path) {
    return guarded([&] { return add_res(kid_type, type, path); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_res(uint32_t kid_type, uint32_t type, const char *path) {
    return guarded([&] { return remove_res(kid_type, type, path); });
}

}  // extern "C"
