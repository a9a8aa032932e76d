// kid policies: a subject's permission bits on an object, between the two kids the
// framework stores, followed by a refresh of the subject's running processes.
#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

enum class Change { Add, Update, Remove };

// The subject's kid, or nullopt (-1021).
std::optional<uint32_t> resolve_subject(uint32_t sub_type, const char *subject) {
    std::optional<uint32_t> kid;
    if (sub_type == LUMEK_KID_SUBJECT_FILE) {
        kid = kid_of_path(subject);
    } else {
        int k = lumek_kid_get_kid_by_app_name(subject);
        if (k >= 0) kid = static_cast<uint32_t>(k);
    }
    if (!kid || *kid == 0) return std::nullopt;
    return kid;
}

std::optional<uint32_t> resolve_object(Change change, const char *object) {
    std::optional<uint32_t> kid;
    if (path_is_exist(object) == 1) {
        kid = kid_of_path(object);
    } else if (change == Change::Update && is_user_res_dir(object) == 1) {
        // Only a real privacy kid will do: not a failure (-1, -2), and not the shared public
        // kid 999 that stands for "none free".
        int k = get_user_res_kid(object);
        if (k >= static_cast<int>(kPrivacyLow) && k <= static_cast<int>(kPrivacyHigh))
            kid = static_cast<uint32_t>(k);
    }
    if (!kid || *kid == 0) return std::nullopt;
    return kid;
}

uint32_t owner_uid(const char *object) {
    uint32_t uid = 0;
    if (is_user_res_dir(object) == 1 && get_user_res_uid(object, &uid) == 0) return uid;
    return 0;
}

// The object kid must own a resource before a policy can reach it.
int32_t ensure_resource(uint32_t obj_kid, const char *object) {
    KidResRecord *raw = nullptr;
    int rc = lumek_kid_load_kid_res_list(obj_kid, &raw);
    ResList res(raw);
    if (rc != 0 || res) return kOk;
    char *paths[] = {const_cast<char *>(object)};
    return lumek_kid_add_kid_res_list(obj_kid, path_is_dir(object) == 1 ? kResDir : kResFile, paths, 1);
}

int32_t change_policy(Change change, uint32_t sub_type, const char *subject, const char *object,
                      uint32_t perm) {
    constexpr const char *kTag = "lumek_kid_whlist_add_kid_policy";
    if (!subject || !object || sub_type > 1) return kInvalid;
    if (change == Change::Add)
        KID_LOG(kTag, "sub_type = %d, subject = %s, object = %s, perm = %.8x", sub_type, subject, object,
                perm);
    std::optional<uint32_t> sub_kid = resolve_subject(sub_type, subject);
    if (!sub_kid) return kNoKid;
    std::optional<uint32_t> obj_kid = resolve_object(change, object);
    if (!obj_kid) return kNoKid;

    if (change == Change::Add) {
        KID_LOG(kTag, "sub_type = %d, subject = %s, object = %s, perm = %.8x, sub_kid = %d, objkid = %d",
                sub_type, subject, object, perm, *sub_kid, *obj_kid);
        int32_t rc = ensure_resource(*obj_kid, object);
        if (rc != 0) return rc;
    }

    KidPrivilegeRecord rec;
    memset(&rec, 0, sizeof rec);
    rec.sub_kid = *sub_kid;
    rec.obj_kid = *obj_kid;
    rec.uid = owner_uid(object);
    rec.perm = change == Change::Remove ? 0 : perm;
    int rc = change == Change::Add      ? lumek_kid_create_kid_privilege(&rec, 1)
             : change == Change::Update ? lumek_kid_update_kid_privilege(&rec, 1)
                                        : lumek_kid_remove_kid_privilege(&rec, 1);
    if (rc == 0 && is_third_app(*sub_kid)) clear_process_kid_auth_policy_by_kid(*sub_kid);
    return rc;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_add_kid_policy(uint32_t sub_type, const char *subject,
                                                           const char *object, uint32_t perm) {
    return guarded([&] { return change_policy(Change::Add, sub_type, subject, object, perm); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_update_kid_policy(uint32_t sub_type, const char *subject,
                                                              const char *object, uint32_t perm) {
    return guarded([&] { return change_policy(Change::Update, sub_type, subject, object, perm); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_remove_kid_policy(uint32_t sub_type, const char *subject,
                                                              const char *object) {
    return guarded([&] { return change_policy(Change::Remove, sub_type, subject, object, 0); });
}

}  // extern "C"
