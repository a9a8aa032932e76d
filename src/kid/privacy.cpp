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
    return set_kid_under_dir(path, static_cast<uint32_t>(kid), false);
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
// -1007 when the home or one of them is swapped under the walk.
int32_t clear_user_invalid_privacy_dir_kid(const char *path, uint32_t privacy_kid) {
    constexpr const char *kTag = "clear_user_invalid_privacy_dir_kid";
    char copy[4096] = {};
    copy_field(copy, sizeof copy, path);
    const char *home = dirname(copy);
    if (path_is_dir(home) != 1) return kOk;
    auto changed = [&] {
        KID_LOG(kTag, "res changed during the walk, res = %s, kid = %d", home, static_cast<int>(privacy_kid));
        return kInvalid;
    };
    HeldDir held;
    if (!held.open(home)) return changed();
    int n = 0;
    char **listed = get_dir_list(home, &n);
    PathList entries(listed, n);
    if (!held.unchanged()) return changed();
    for (int i = 0; i < entries.count(); ++i) {
        const char *entry = entries[i];
        // A link is not followed: what it points to is no directory of this home.
        if (!entry || path_is_dir(entry) != 1 || path_is_link(entry) != 0) continue;
        if (!held.holds(entry)) return changed();
        std::optional<uint32_t> kid = kid_of_path(entry);
        if (!kid || *kid != privacy_kid) continue;
        if (set_kid_under_dir(entry, kPublicKid, false) != kOk) return kInvalid;
        char *paths[] = {const_cast<char *>(entry)};
        int rc = lumek_kid_add_kid_res_list(kPublicKid, kResDir, paths, 1);
        if (rc != 0)
            KID_LOG(kTag, "update res kid failed, res = %s, kid = %d, ret = %d", entry,
                    static_cast<int>(kPublicKid), rc);
    }
    return kOk;
}

int32_t remove_privacy(const char *path) {
    if (!path) return kInvalid;
    // A private directory since replaced by a link can still be made public: its registration
    // and policies go, and the link is never walked.
    bool link = false;
    if (is_user_res_dir(path) != 1) {
        link = path_is_link(path) == 1 && is_user_res_name(path) == 1;
        if (!link) return kInvalid;
    }
    uint32_t privacy_kid = get_privacy_kid_from_res(path);
    bool is_private = privacy_kid >= kPrivacyLow && privacy_kid <= kPrivacyHigh;
    if (link && !is_private) return kInvalid;
    KID_LOG(kRemoveTag, "privacy kid = %d", static_cast<int>(privacy_kid));
    uint32_t uid = 0;
    if (get_user_res_uid(path, &uid) != 0) return kInvalid;
    int32_t rc = register_dir(kRemoveTag, kPublicKid, path);
    if (rc != 0) return rc;

    int32_t walked = kOk;
    if (is_private) {
        auto records = privacy_policies(kRemoveTag, privacy_kid, uid, rc);
        if (!records) return rc;
        rc = lumek_kid_remove_kid_privilege(data_or_null(*records), static_cast<int>(records->size()));
        if (rc != 0) {
            KID_LOG(kRemoveTag, "lumek_kid_remove_kid_privilege failed, ret = %d", rc);
            return rc;
        }
        walked = clear_user_invalid_privacy_dir_kid(path, privacy_kid);
    }
    // The policies are gone whatever the walks met: the kernel must forget them.
    clear_all_process_kid_auth_policy();
    if (set_kid_under_dir(path, kPublicKid, true) != kOk) walked = kInvalid;
    return walked;
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
