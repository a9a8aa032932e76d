// The netctl program list of the user in _uid: checked, stored (added or updated), and
// the kernel told with the path hash and the mode.
#include <stdint.h>

#include "lists/lists_internal.h"

// The user whose netctl lists are acted on; the application sets it, the library only
// reads it.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreserved-identifier"
#endif
extern "C" {
LUMEKWHLIST_PUBLIC uint32_t _uid = 0;
}
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace lumek::lists {

namespace {

constexpr const char kAdd[] = "vorda_netctl_list_add";
constexpr const char kDel[] = "vorda_netctl_list_del";
constexpr const char kGet[] = "vorda_netctl_list_get";

constexpr int kCmdAdd = 1, kCmdDel = 2;
constexpr int kInvalidType = -3;
constexpr int kStoreFailed = -4, kNoHash = -5, kKernelFailed = -6;
constexpr int kRemoveFailed = -3, kDelNoHash = -4, kDelKernelFailed = -5;

constexpr const char kFmtInvalidType[] = "%s: invalid file type\n";
constexpr const char kFmtAddFailed[] = "add netctl data failed, uid = %u, path = %s, mode = %d, ret = %d\n";
constexpr const char kFmtNoHash[] = "get hash value failed, uid = %u, path = %s\n";
constexpr const char kFmtSendFailed[] = "%s: send netctl data to kernel failed, ctrl = %d, ret = %d\n";
constexpr const char kFmtNotFound[] = "%s: cannot find netctl data\n";
constexpr const char kFmtRemoveFailed[] =
    "remove netctl data failed, uid = %u, path = %s, mode = %d, ret = %d\n";
constexpr const char kFmtRemoveKernelFailed[] =
    "%s: remove netctl data in kernel failed, mode = %d, ret = %d\n";

int list_add(int mode, const char *path) {
    if (!netctl_mode_is_valid(mode) || !path) {
        lumek_log(kLogNetctl, 0, kAdd, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogNetctl, 0, kAdd, kMsgDisabled);
        return kDisabled;
    }
    if (!is_program_file(path)) {
        lumek_log(kLogNetctl, 0, kAdd, kFmtInvalidType, path);
        return kInvalidType;
    }
    const char *name = file_name_of(path);
    bool listed = FwPtr<NetctlRecord>(lumek_netctl_read_node_with_uid(_uid, path)) != nullptr;
    int ret = listed ? lumek_netctl_update(_uid, path, mode, name, 0, 0)
                     : lumek_netctl_add(_uid, path, mode, name, 0, 0);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kAdd, kFmtAddFailed, _uid, path, mode, ret);
        return kStoreFailed;
    }
    FwPtr<void> hash(lumek_netctl_get_path_hash(path, _uid));
    if (!hash) {
        lumek_log(kLogNetctl, 0, kAdd, kFmtNoHash, _uid, path);
        return kNoHash;
    }
    ret = lumek_netctl_communicate_with_kernel(kCmdAdd, hash.get(), mode);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kAdd, kFmtSendFailed, path, mode, ret);
        return kKernelFailed;
    }
    return kOk;
}

int list_del(int mode, const char *path) {
    if (!netctl_mode_is_valid(mode) || !path) {
        lumek_log(kLogNetctl, 0, kDel, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogNetctl, 0, kDel, kMsgDisabled);
        return kDisabled;
    }
    FwPtr<NetctlRecord> record(lumek_netctl_read_node_with_uid(_uid, path));
    if (!record) {
        lumek_log(kLogNetctl, 0, kDel, kFmtNotFound, path);
        return kOk;
    }
    // An entry leaves only the list of its own mode.
    if (read_i32(record.get(), kNetctlModeAt) != mode) return kOk;
    int ret = lumek_netctl_remove(_uid, path);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kDel, kFmtRemoveFailed, _uid, path, mode, ret);
        return kRemoveFailed;
    }
    FwPtr<void> hash(lumek_netctl_get_path_hash(path, _uid));
    if (!hash) {
        lumek_log(kLogNetctl, 0, kDel, kFmtNoHash, _uid, path);
        return kDelNoHash;
    }
    ret = lumek_netctl_communicate_with_kernel(kCmdDel, hash.get(), mode);
    if (ret != 0) {
        lumek_log(kLogNetctl, 0, kDel, kFmtRemoveKernelFailed, path, mode, ret);
        return kDelKernelFailed;
    }
    return kOk;
}

char **list_get(int mode, int *count) {
    if (!netctl_mode_is_valid(mode) || !count) {
        lumek_log(kLogNetctl, 0, kGet, kMsgInvalidParameters);
        return nullptr;
    }
    int n = 0;
    NetctlRecord *records = lumek_netctl_read_all_data_with_uid(_uid, &n);
    if (!records || n == 0) {
        free(records);
        lumek_log(kLogNetctl, 0, kGet, kFmtListNull, mode);
        return nullptr;
    }
    return hand_out_texts(
        records, n, sizeof(NetctlRecord), kNetctlPathField,
        [mode](const unsigned char *rec) { return read_i32(rec, kNetctlModeAt) == mode; }, count);
}

}  // namespace

}  // namespace lumek::lists

using namespace lumek::lists;

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_list_add(int mode, const char *path) {
    return guarded(kInvalid, [&] { return list_add(mode, path); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_netctl_list_del(int mode, const char *path) {
    return guarded(kInvalid, [&] { return list_del(mode, path); });
}

extern "C" LUMEKWHLIST_PUBLIC char **vorda_netctl_list_get(int mode, int *count) {
    return guarded<char **>(nullptr, [&] { return list_get(mode, count); });
}
