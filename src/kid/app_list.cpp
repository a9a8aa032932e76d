// Lists of applications with identities (all, or only third apps), optionally only those
// whose package is installed now.
#include <unordered_set>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

constexpr uint32_t kAppListLow = 9999;

int32_t load_apps(uint32_t lowest, KidAppItem **list) {
    if (!list) return kInvalid;
    *list = nullptr;
    KidInfoNode *raw = nullptr;
    int rc = lumek_kid_load_kid_info_list_by_kid_range(lowest, kThirdHigh, &raw);
    InfoList info(raw);
    if (rc != 0) return rc;
    ListBuilder<KidAppItem> out;
    for (const KidInfoNode *n = info.get(); n; n = n->next) {
        KidAppItem *item = out.push();
        if (!item) return kNoMemory;
        copy_field(item->app_name, sizeof item->app_name, n->info.app_name, sizeof n->info.app_name);
        copy_field(item->pkg_name, sizeof item->pkg_name, n->info.pkg_name, sizeof n->info.pkg_name);
        item->kid_type = n->info.kid_type;
    }
    *list = out.release();
    return kOk;
}

int32_t load_installed_apps(uint32_t lowest, KidAppItem **list) {
    if (!list) return kInvalid;
    *list = nullptr;
    KidAppItem *raw = nullptr;
    int32_t rc = load_apps(lowest, &raw);
    std::unique_ptr<KidAppItem, void (*)(KidAppItem *)> apps(raw, ListBuilder<KidAppItem>::free_nodes);
    if (rc != 0) return rc;
    if (!apps) return kOk;

    // One hash set instead of a scan of the installed names per application.
    // A status file that is missing or unreadable lists nothing installed.
    std::vector<std::string> names;
    read_installed_pkg_list(names);
    std::unordered_set<std::string> installed(names.begin(), names.end());
    ListBuilder<KidAppItem> out;
    for (const KidAppItem *n = apps.get(); n; n = n->next) {
        if (installed.count(std::string(n->pkg_name, strnlen(n->pkg_name, sizeof n->pkg_name))) == 0)
            continue;
        KidAppItem *item = out.push();
        if (!item) return kNoMemory;
        memcpy(item, n, offsetof(KidAppItem, next));
    }
    *list = out.release();
    return kOk;
}

}  // namespace

}  // namespace lumek::kid

using namespace lumek::kid;

extern "C" {

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_third_app_list(KidAppItem **list) {
    return guarded([&] { return load_apps(kThirdLow, list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_app_list(KidAppItem **list) {
    return guarded([&] { return load_apps(kAppListLow, list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_third_app_list(KidAppItem **list) {
    return guarded([&] { return load_installed_apps(kThirdLow, list); });
}

LUMEKWHLIST_PUBLIC int32_t lumek_kid_whlist_load_installed_app_list(KidAppItem **list) {
    return guarded([&] { return load_installed_apps(kAppListLow, list); });
}

}  // extern "C"
