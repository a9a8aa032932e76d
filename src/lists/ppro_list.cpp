// The process-protection list: one system-wide list of paths with a protection type.
// The kernel gets the path hash with the type, and the id of a process already running
// from the path with an operation word.
#include <string.h>

#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr const char kAdd[] = "vorda_ppro_list_add";
constexpr const char kDel[] = "vorda_ppro_list_del";
constexpr const char kGet[] = "vorda_ppro_list_get";

constexpr int kCmdAddPath = 9, kCmdDelPath = 10;
constexpr int kCmdProcessType2 = 11, kCmdProcessType1 = 12, kCmdProcessDel = 12;
constexpr int kTypeOne = 1, kTypeTwo = 2;
constexpr int kReadonlySupported = 1;

constexpr int kStoreFailed = -4, kNoHash = -5, kKernelFailed = -6;
constexpr int kRemoveFailed = -3, kDelNoHash = -4, kDelKernelFailed = -5, kDelProcessFailed = -7;

constexpr const char kFmtAddFailed[] = "add ppro data failed, path = %s, type = %d, ret = %d\n";
constexpr const char kFmtNoHash[] = "get hash value failed, path = %s\n";
constexpr const char kFmtSendFailed[] = "%s: send ppro data to kernel failed, ret = %d\n";
constexpr const char kFmtNotFound[] = "%s: cannot find ppro data\n";
constexpr const char kFmtRemoveFailed[] = "remove ppro data failed, path = %s, ret = %d\n";
constexpr const char kFmtRemoveKernelFailed[] =
    "%s: remove ppro data in kernel failed, type = %d, ret = %d\n";
constexpr const char kMsgListNull[] = "ppro list is null\n";

// The operation word goes to the kernel in an 8-byte buffer, zero after the text.
struct OpWord {
    char text[8] = {};
    explicit OpWord(const char *word) { strncpy(text, word, sizeof text - 1); }
};

int ppro_add(const char *path, int type) {
    if ((type != kTypeOne && type != kTypeTwo) || !path) {
        lumek_log(kLogList, 0, kAdd, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogList, 0, kAdd, kMsgDisabled);
        return kDisabled;
    }
    bool listed = FwPtr<PproRecord>(lumek_ppro_read_node_with_path(path)) != nullptr;
    int ret = listed ? lumek_ppro_update(path, type) : lumek_ppro_add(path, type);
    if (ret != 0) {
        lumek_log(kLogList, 0, kAdd, kFmtAddFailed, path, type, ret);
        return kStoreFailed;
    }
    FwPtr<void> hash(lumek_ppro_get_path_hash(path));
    if (!hash) {
        lumek_log(kLogList, 0, kAdd, kFmtNoHash, path);
        return kNoHash;
    }
    ret = lumek_ppro_communicate_with_kernel(kCmdAddPath, hash.get(), type);
    if (ret != 0) {
        lumek_log(kLogList, 0, kAdd, kFmtSendFailed, path, ret);
        return kKernelFailed;
    }
    int pid = lumek_get_pid_by_path(path);
    if (pid <= 0) return kOk;
    OpWord word("add");
    ret = lumek_ppro_communicate_with_kernel(type == kTypeTwo ? kCmdProcessType2 : kCmdProcessType1,
                                             word.text, pid);
    if (ret != 0) {
        lumek_log(kLogList, 0, kAdd, kFmtSendFailed, path, ret);
        return kKernelFailed;
    }
    return kOk;
}

int ppro_del(const char *path) {
    if (!path) {
        lumek_log(kLogList, 0, kDel, kMsgInvalidParameters);
        return kInvalid;
    }
    if (lumek_getstatus() == 0) {
        lumek_log(kLogList, 0, kDel, kMsgDisabled);
        return kDisabled;
    }
    FwPtr<PproRecord> record(lumek_ppro_read_node_with_path(path));
    if (!record) {
        lumek_log(kLogList, 0, kDel, kFmtNotFound, path);
        return kOk;
    }
    int type = read_i32(record.get(), kPproTypeAt);
    int ret = lumek_ppro_remove(path);
    if (ret != 0) {
        lumek_log(kLogList, 0, kDel, kFmtRemoveFailed, path, ret);
        return kRemoveFailed;
    }
    FwPtr<void> hash(lumek_ppro_get_path_hash(path));
    if (!hash) {
        lumek_log(kLogList, 0, kDel, kFmtNoHash, path);
        return kDelNoHash;
    }
    ret = lumek_ppro_communicate_with_kernel(kCmdDelPath, hash.get(), type);
    if (ret != 0) {
        lumek_log(kLogList, 0, kDel, kFmtRemoveKernelFailed, path, type, ret);
        return kDelKernelFailed;
    }
    if (lumek_check_readonly_ppro_support() != kReadonlySupported) return kOk;
    int pid = lumek_get_pid_by_path(path);
    if (pid <= 0) return kOk;
    OpWord word("del");
    ret = lumek_ppro_communicate_with_kernel(kCmdProcessDel, word.text, pid);
    if (ret != 0) {
        lumek_log(kLogList, 0, kDel, kFmtSendFailed, path, ret);
        return kDelProcessFailed;
    }
    return kOk;
}

char **ppro_get(int *count) {
    if (!count) return nullptr;
    int n = 0;
    PproRecord *records = lumek_ppro_read_all_data(&n);
    if (!records || n == 0) {
        free(records);
        lumek_log(kLogList, 0, kGet, kMsgListNull);
        return nullptr;
    }
    return hand_out_texts(
        records, n, sizeof(PproRecord), kPproPathField, [](const unsigned char *) { return true; }, count);
}

}  // namespace

}  // namespace lumek::lists

using namespace lumek::lists;

extern "C" LUMEKWHLIST_PUBLIC int vorda_ppro_list_add(const char *path, int type) {
    return guarded(kInvalid, [&] { return ppro_add(path, type); });
}

extern "C" LUMEKWHLIST_PUBLIC int vorda_ppro_list_del(const char *path) {
    return guarded(kInvalid, [&] { return ppro_del(path); });
}

extern "C" LUMEKWHLIST_PUBLIC char **vorda_ppro_list_get(int *count) {
    return guarded<char **>(nullptr, [&] { return ppro_get(count); });
}
