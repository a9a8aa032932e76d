// The stored kid policies as subject names and object paths: all of them, or one subject's.
// Each kid's resource and identity lists are loaded once per call, however many policies
// name it.
#include <map>
#include <unordered_map>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

// Framework lists of one call, by kid; a failed load is remembered as NULL + failed.
class KidLists {
  public:
    const KidResRecord *resources(uint32_t kid, bool *ok) {
        auto it = res_.find(kid);
        if (it == res_.end()) {
            KidResRecord *raw = nullptr;
            int rc = lumek_kid_load_kid_res_list(kid, &raw);
            it = res_.emplace(kid, Loaded<ResList>{ResList(raw), rc == 0}).first;
        }
        *ok = it->second.ok;
        return it->second.list.get();
    }
    const KidInfoNode *identities(uint32_t kid, bool *ok) {
        auto it = info_.find(kid);
        if (it == info_.end()) {
            KidInfoNode *raw = nullptr;
            int rc = lumek_kid_load_kid_info_list(kid, &raw);
            it = info_.emplace(kid, Loaded<InfoList>{InfoList(raw), rc == 0}).first;
        }
        *ok = it->second.ok;
        return it->second.list.get();
    }

  private:
    template <typename L>
    struct Loaded {
        L list;
        bool ok;
    };
    std::unordered_map<uint32_t, Loaded<ResList>> res_;
    std::unordered_map<uint32_t, Loaded<InfoList>> info_;
};

std::string field_text(const char *field, size_t cap) {
    return std::string(field, strnlen(field, cap));
}

// Pushes one item; false when memory ran out.
bool push_item(ListBuilder<KidPolicyItem> &out, uint32_t sub_type, const char *subject, size_t subject_cap,
               const char *object, size_t object_cap, uint32_t perm) {
    KidPolicyItem *item = out.push();
    if (!item) return false;
    item->sub_type = sub_type;
    copy_field(item->subject, sizeof item->subject, subject, subject_cap);
    copy_field(item->object, sizeof item->object, object, object_cap);
    item->perm = perm;
    return true;
}

int32_t load_policy_list(KidPolicyItem **list) {
    if (!list) return kInvalid;
    *list = nullptr;
    KidPrivilegeNode *raw = nullptr;
    int rc = lumek_kid_load_kid_privilege(&raw);
    PrivList policies(raw);
    if (rc != 0) return rc;

    ListBuilder<KidPolicyItem> out;
    KidLists lists;
    for (const KidPrivilegeNode *p = policies.get(); p; p = p->next) {
        const KidPrivilegeRecord &pol = p->priv;
        if (pol.sub_kid == kLevel2Kid || pol.obj_kid == kLevel2Kid) continue;
        bool ok = false;
        const KidResRecord *objects = lists.resources(pol.obj_kid, &ok);
        if (!ok) continue;
        for (const KidResRecord *o = objects; o; o = o->next) {
            if (!is_listed_res_type(o->res_type)) continue;
            if (is_third_app(pol.sub_kid)) {
                const KidInfoNode *apps = lists.identities(pol.sub_kid, &ok);
                for (const KidInfoNode *a = ok ? apps : nullptr; a; a = a->next)
                    if (!push_item(out, LUMEK_KID_SUBJECT_APP, a->info.pkg_name, sizeof a->info.pkg_name,
                                   o->path, sizeof o->path, pol.perm))
                        return kNoMemory;
            } else {
                const KidResRecord *subjects = lists.resources(pol.sub_kid, &ok);
                for (const KidResRecord *s = ok ? subjects : nullptr; s; s = s->next)
                    if (!push_item(out, LUMEK_KID_SUBJECT_FILE, s->path, sizeof s->path, o->path,
                                   sizeof o->path, pol.perm))
                        return kNoMemory;
            }
        }
    }
    *list = out.release();
    return kOk;
}

// Owners of user directories by parent directory, so that the password database is walked
// once per home.
class Owners {
  public:
    std::optional<uint32_t> of(const char *path) {
        char copy[4096] = {};
        copy_field(copy, sizeof copy, path);
        std::string key = strrchr(copy, '/') ? std::string(copy, strrchr(copy, '/')) : std::string();
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        uint32_t uid = 0;
        std::optional<uint32_t> found;
        if (get_user_res_uid(path, &uid) == 0) found = uid;
        cache_.emplace(key, found);
        return found;
    }

  private:
    std::map<std::string, std::optional<uint32_t>> cache_;
};

int32_t load_policy_list_by_subject(uint32_t sub_type, const char *subject, KidPolicyItem **list) {
    if (!subject || !list || sub_type > 1) return kInvalid;
    *list = nullptr;
    std::optional<uint32_t> sub_kid;
    if (sub_type == LUMEK_KID_SUBJECT_FILE) {
        sub_kid = kid_of_path(subject);
    } else {
        int k = lumek_kid_get_kid_by_app_name(subject);
        if (k >= 0) sub_kid = static_cast<uint32_t>(k);
    }
    if (!sub_kid || *sub_kid == 0) return kNoKid;

    KidPrivilegeNode *raw = nullptr;
    int rc = lumek_kid_load_kid_privilege_by_subject(*sub_kid, &raw);
    PrivList policies(raw);
    if (rc != 0) return rc;

    ListBuilder<KidPolicyItem> out;
    KidLists lists;
    Owners owners;
    for (const KidPrivilegeNode *p = policies.get(); p; p = p->next) {
        const KidPrivilegeRecord &pol = p->priv;
        if (pol.sub_kid == kLevel2Kid || pol.obj_kid == kPublicKid || pol.obj_kid == kLevel2Kid) continue;
        bool ok = false;
        const KidResRecord *objects = lists.resources(pol.obj_kid, &ok);
        if (!ok) continue;
        for (const KidResRecord *o = objects; o; o = o->next) {
            if (!is_listed_res_type(o->res_type)) continue;
            std::string path = field_text(o->path, sizeof o->path);
            if (is_user_res_dir(path.c_str()) == 1) {
                std::optional<uint32_t> owner = owners.of(path.c_str());
                if (!owner || *owner != pol.uid) continue;
            }
            uint32_t type = is_third_app(pol.sub_kid) ? LUMEK_KID_SUBJECT_APP : LUMEK_KID_SUBJECT_FILE;
            if (!push_item(out, type, subject, static_cast<size_t>(-1), path.c_str(), path.size(), pol.perm))
                return kNoMemory;
        }
    }
    *list = out.release();
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list(KidPolicyItem **list) {
    return guarded([&] { return load_policy_list(list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_policy_list_by_subject(uint32_t sub_type,
                                                                        const char *subject,
                                                                        KidPolicyItem **list) {
    return guarded([&] { return load_policy_list_by_subject(sub_type, subject, list); });
}

}  // extern "C"
