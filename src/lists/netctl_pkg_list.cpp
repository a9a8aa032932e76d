// The netctl package list of the user in _uid: kept in the framework's store only; no
// file check, no hash, no kernel.
#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr const char kAdd[] = "vorda_netctl_pkg_list_add";
constexpr const char kDel[] = "vorda_netctl_pkg_list_del";
constexpr const char kGet[] = "vorda_netctl_pkg_list_get";

constexpr int kStoreFailed = -4, kRemoveFailed = -3;

constexpr const char kFmtAddFailed[] = "add netctl data failed, uid = %u, pkg = %s, mode = %d, ret = %d\n";
constexpr const char kFmtNotFound[] = "%s: cannot find netctl data\n";
constexpr const char kFmtRemoveFailed[] =
    "remove netctl data failed, uid = %u, pkg = %s, mode = %d, ret = %d\n";

int pkg_add(int mode, const char *pkg) {
    if (!netctl_mode_is_valid(mode) || !pkg) {
        lumek_log(kLogNetctl, 0, kAdd, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogNetctl, 0, kAdd, kMsgDisabled);
        return kDisabled;
    }
    bool listed = FwPtr<NetctlPkgRecord>(lumek_netctl_pkg_read_node_with_uid(_uid, pkg)) != nullptr;
    int ret = listed ? lumek_netctl_pkg_update(_uid, pkg, mode, nullptr, 0, 0)
                     : lumek_netctl_pkg_add(_uid, pkg, mode, nullptr, 0, 0);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kAdd, kFmtAddFailed, _uid, pkg, mode, ret);
        return kStoreFailed;
    }
    return kOk;
}

int pkg_del(int mode, const char *pkg) {
    if (!netctl_mode_is_valid(mode) || !pkg) {
        lumek_log(kLogNetctl, 0, kDel, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogNetctl, 0, kDel, kMsgDisabled);
        return kDisabled;
    }
    FwPtr<NetctlPkgRecord> record(lumek_netctl_pkg_read_node_with_uid(_uid, pkg));
    if (!record) {
        lumek_log(kLogNetctl, 0, kDel, kFmtNotFound, pkg);
        return kOk;
    }
    if (read_i32(record.get(), kNetctlPkgModeAt) != mode) return kOk;
    int ret = lumek_netctl_pkg_remove(_uid, pkg);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kDel, kFmtRemoveFailed, _uid, pkg, mode, ret);
        return kRemoveFailed;
    }
    return kOk;
}

char **pkg_get(int mode, int *count) {
    if (!netctl_mode_is_valid(mode) || !count) {
        lumek_log(kLogNetctl, 0, kGet, kMsgInvalidParameters);
        return nullptr;
    }
    int n = 0;
    NetctlPkgRecord *records = lumek_netctl_pkg_read_all_data_with_uid(_uid, &n);
    if (!records || n == 0) {
        free(records);
        lumek_log(kLogNetctl, 0, kGet, kFmtListNull, mode);
        return nullptr;
    }
    return hand_out_texts(
        records, n, sizeof(NetctlPkgRecord), kNetctlPkgNameField,
        [mode](const unsigned char *rec) { return read_i32(rec, kNetctlPkgModeAt) == mode; }, count);
}

}  // namespace

}  // namespace lumek::lists

using namespace lumek::lists;

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_add(int mode, const char *pkg) {
    return guarded(kInvalid, [&] { return pkg_add(mode, pkg); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_pkg_list_del(int mode, const char *pkg) {
    return guarded(kInvalid, [&] { return pkg_del(mode, pkg); });
}

extern "C" LUMEKWHLIST_PUBLIC char **vorda_netctl_pkg_list_get(int mode, int *count) {
    return guarded<char **>(nullptr, [&] { return pkg_get(mode, count); });
}
