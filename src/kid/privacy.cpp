// Users' private directories: a privacy kid of their own, with a no-permission policy for
// every third app, and back to the shared public kid 999.
#include <libgen.h>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

constexpr const char kAddTag[] = "lumek_kid_whlist_add_user_privacy_res";
constexpr const char kRemoveTag[] = "lumek_kid_whlist_remove_user_privcay_res";

int32_t register_dir(const char *tag, uint32_t kid, const char *path) {
    char *paths[] = {const_cast<char *>(path)};
    int rc = lumek_kid_add_kid_res_list(kid, kResDir, paths, 1);
    if (rc != 0)
        KID_LOG(tag, "lumek_kid_add_kid_res_list, res = %s, kid = %d, ret = %d", path, static_cast<int>(kid),
                rc);
    return rc;
}

// One policy without permission per third app on @privacy_kid, owned by @uid. nullopt
// with @rc set when the applications cannot be loaded.
std::optional<std::vector<KidPrivilegeRecord>> privacy_policies(const char *tag, uint32_t privacy_kid,
                                                                uint32_t uid, int32_t &rc) {
    KidInfoNode *raw = nullptr;
    rc = lumek_kid_load_kid_info_list_by_kid_range(kThirdLow, kThirdHigh, &raw);
    InfoList apps(raw);
    if (rc != 0) {
        KID_LOG(tag, "lumek_kid_load_kid_info_list_by_kid_range failed, ret = %d", rc);
        return std::nullopt;
    }
    std::vector<KidPrivilegeRecord> records;
    for (const KidInfoNode *n = apps.get(); n; n = n->next) {
        KidPrivilegeRecord r;
        memset(&r, 0, sizeof r);
        r.sub_kid = n->info.kid;
        r.obj_kid = privacy_kid;
        r.uid = uid;
        records.push_back(r);
    }
    return records;
}

KidPrivilegeRecord *data_or_null(std::vector<KidPrivilegeRecord> &v) {
    return v.empty() ? nullptr : v.data();
}

int32_t add_privacy(const char *path) {
    if (!path || is_user_res_dir(path) != 1) return kInvalid;
    // Only a real privacy kid: not a failure to read the resources (-1, -2), and not 999,
    // which means that none is free.
    int kid = get_user_res_kid(path);
    if (kid < static_cast<int>(kPrivacyLow) || kid > static_cast<int>(kPrivacyHigh)) return kInvalid;
    uint32_t uid = 0;
    if (get_user_res_uid(path, &uid) != 0) return kInvalid;

    int32_t rc = register_dir(kAddTag, static_cast<uint32_t>(kid), path);
    if (rc != 0) return rc;
    auto records = privacy_policies(kAddTag, static_cast<uint32_t>(kid), uid, rc);
    if (!records) return rc;
    rc = lumek_kid_create_kid_privilege(data_or_null(*records), static_cast<int>(records->size()));
    if (rc != 0) {
        KID_LOG(kAddTag, "lumek_kid_create_kid_privilege failed, ret = %d", rc);
        return rc;
    }
    set_kid_under_dir(path, static_cast<uint32_t>(kid));
    return kOk;
}

// The privacy kid under which @path is registered, or 0.
uint32_t get_privacy_kid_from_res(const char *path) {
    KidResRecord *raw = nullptr;
    int rc = lumek_kid_load_kid_res_list_by_kid_range(kPrivacyLow, kPrivacyHigh, &raw);
    ResList res(raw);
    if (rc != 0) {
        KID_LOG("get_privacy_kid_from_res", "lumek_kid_load_kid_res_list_by_kid_range failed, ret = %d", rc);
        return 0;
    }
    size_t len = strlen(path);
    for (const KidResRecord *r = res.get(); r; r = r->next)
        if (r->res_type == kResDir && len < sizeof r->path && strncmp(r->path, path, sizeof r->path) == 0)
            return r->kid;
    return 0;
}

// Other directories of the same home that still carry the freed kid become public too.
void clear_user_invalid_privacy_dir_kid(const char *path, uint32_t privacy_kid) {
    char copy[4096] = {};
    copy_field(copy, sizeof copy, path);
    const char *home = dirname(copy);
    if (path_is_dir(home) != 1) return;
    int n = 0;
    char **entries = get_dir_list(home, &n);
    if (!entries) return;
    for (int i = 0; i < n; ++i) {
        MallocPtr entry(entries[i]);
        // A link is not followed: what it points to is no directory of this home.
        if (!entry || path_is_dir(entry.get()) != 1 || path_is_link(entry.get()) != 0) continue;
        std::optional<uint32_t> kid = kid_of_path(entry.get());
        if (!kid || *kid != privacy_kid) continue;
        set_kid_under_dir(entry.get(), kPublicKid);
        char *paths[] = {entry.get()};
        int rc = lumek_kid_add_kid_res_list(kPublicKid, kResDir, paths, 1);
        if (rc != 0)
            KID_LOG("clear_user_invalid_privacy_dir_kid",
                    "update res kid failed, res = %s, kid = %d, ret = %d", entry.get(),
                    static_cast<int>(kPublicKid), rc);
    }
    free(entries);
}

int32_t remove_privacy(const char *path) {
    if (!path || is_user_res_dir(path) != 1) return kInvalid;
    uint32_t privacy_kid = get_privacy_kid_from_res(path);
    KID_LOG(kRemoveTag, "privacy kid = %d", static_cast<int>(privacy_kid));
    uint32_t uid = 0;
    if (get_user_res_uid(path, &uid) != 0) return kInvalid;
    int32_t rc = register_dir(kRemoveTag, kPublicKid, path);
    if (rc != 0) return rc;

    if (privacy_kid >= kPrivacyLow && privacy_kid <= kPrivacyHigh) {
        auto records = privacy_policies(kRemoveTag, privacy_kid, uid, rc);
        if (!records) return rc;
        rc = lumek_kid_remove_kid_privilege(data_or_null(*records), static_cast<int>(records->size()));
        if (rc != 0) {
            KID_LOG(kRemoveTag, "lumek_kid_remove_kid_privilege failed, ret = %d", rc);
            return rc;
        }
        clear_user_invalid_privacy_dir_kid(path, privacy_kid);
    }
    clear_all_process_kid_auth_policy();
    set_kid_under_dir(path, kPublicKid);
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_user_privacy_res(const char *path) {
    return guarded([&] { return add_privacy(path); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_user_privcay_res(const char *path) {
    return guarded([&] { return remove_privacy(path); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_user_privacy_res(const char *path) {
    return lumek_kid_whlist_remove_user_privcay_res(path);
}

}  // extern "C"
