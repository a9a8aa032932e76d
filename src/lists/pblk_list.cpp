// The pblk list: one system-wide list of paths, the kernel holding each path's hash.
// A listed path is refused rather than updated.
#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr const char kAdd[] = "vorda_pblk_list_add";
constexpr const char kDel[] = "vorda_pblk_list_del";
constexpr const char kGet[] = "vorda_pblk_list_get";

constexpr int kCmdAdd = 20, kCmdDel = 21;
constexpr int kAlreadyListed = -1;  // printed as the store's result

constexpr int kStoreFailed = -4, kNoHash = -5, kKernelFailed = -6;
constexpr int kRemoveFailed = -3, kDelNoHash = -4, kDelKernelFailed = -5;

constexpr const char kFmtAddFailed[] = "add pblk data failed, path = %s, ret = %d\n";
constexpr const char kFmtNoHash[] = "get hash value failed, path = %s\n";
constexpr const char kFmtSendFailed[] = "%s: send pblk data to kernel failed, ret = %d\n";
constexpr const char kFmtNotFound[] = "%s: cannot find pblk data\n";
constexpr const char kFmtRemoveFailed[] = "remove pblk data failed, path = %s, ret = %d\n";
constexpr const char kFmtRemoveKernelFailed[] = "%s: remove pblk data in kernel failed, ret = %d\n";
constexpr const char kMsgListNull[] = "pblk list is null\n";

int pblk_add(const char *path) {
    if (!path) {
        lumek_log(kLogList, 0, kAdd, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogList, 0, kAdd, kMsgDisabled);
        return kDisabled;
    }
    if (FwPtr<PblkRecord>(lumek_pblk_read_node_with_path(path))) {
        lumek_log(kLogList, 0, kAdd, kFmtAddFailed, path, kAlreadyListed);
        return kStoreFailed;
    }
    int ret = lumek_pblk_add(path);
    if (ret != 0) {
        lumek_log(kLogList, 0, kAdd, kFmtAddFailed, path, ret);
        return kStoreFailed;
    }
    FwPtr<void> hash(lumek_pblk_get_path_hash(path));
    if (!hash) {
        lumek_log(kLogList, 0, kAdd, kFmtNoHash, path);
        return kNoHash;
    }
    ret = lumek_pblk_communicate_with_kernel(kCmdAdd, hash.get());
    if (ret != 0) {
        lumek_log(kLogList, 0, kAdd, kFmtSendFailed, path, ret);
        return kKernelFailed;
    }
    return kOk;
}

int pblk_del(const char *path) {
    if (!path) {
        lumek_log(kLogList, 0, kDel, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogList, 0, kDel, kMsgDisabled);
        return kDisabled;
    }
    FwPtr<PblkRecord> record(lumek_pblk_read_node_with_path(path));
    if (!record) {
        lumek_log(kLogList, 0, kDel, kFmtNotFound, path);
        return kOk;
    }
    int ret = lumek_pblk_remove(path);
    if (ret != 0) {
        lumek_log(kLogList, 0, kDel, kFmtRemoveFailed, path, ret);
        return kRemoveFailed;
    }
    FwPtr<void> hash(lumek_pblk_get_path_hash(path));
    if (!hash) {
        lumek_log(kLogList, 0, kDel, kFmtNoHash, path);
        return kDelNoHash;
    }
    ret = lumek_pblk_communicate_with_kernel(kCmdDel, hash.get());
    if (ret != 0) {
        lumek_log(kLogList, 0, kDel, kFmtRemoveKernelFailed, path, ret);
        return kDelKernelFailed;
    }
    return kOk;
}

char **pblk_get(int *count) {
    if (!count) return nullptr;
    int n = 0;
    PblkRecord *records = lumek_pblk_read_all_data(&n);
    if (!records || n == 0) {
        free(records);
        lumek_log(kLogList, 0, kGet, kMsgListNull);
        return nullptr;
    }
    // 4161-byte records: the stride is the record size, with no alignment padding.
    return hand_out_texts(
        records, n, sizeof(PblkRecord), kPblkPathField, [](const unsigned char *) { return true; }, count);
}

}  // namespace

}  // namespace lumek::lists

using namespace lumek::lists;

extern "C" LUMEKWHLIST_PUBLIC int vorda_pblk_list_add(const char *path) {
    return guarded(kInvalid, [&] { return pblk_add(path); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_pblk_list_del(const char *path) {
    return guarded(kInvalid, [&] { return pblk_del(path); });
}

extern "C" LUMEKWHLIST_PUBLIC char **vorda_pblk_list_get(int *count) {
    return guarded<char **>(nullptr, [&] { return pblk_get(count); });
}
