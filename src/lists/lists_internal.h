// Kernel-enforced lists: the switches of netctl, ppro and pblk, the netctl program and
// package lists per user, and the ppro and pblk lists. Private to src/lists.
#pragma once

#include "common/edge.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <functional>
#include <memory>

#include "common/raii.h"
#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek::lists {

// Log levels: netctl says everything at 16; ppro and pblk at 2, except "lumek is disabled"
// from their switch setters.
inline constexpr int kLogNetctl = 16;
inline constexpr int kLogList = 2;
inline constexpr int kLogDisabled = 16;

// Results.
inline constexpr int kOk = 0;
inline constexpr int kNotPermanent = 1;  // a switch took effect now but is not kept
inline constexpr int kInvalid = -1;
inline constexpr int kDisabled = -2;

// Messages shared by the families.
inline constexpr const char kMsgInvalidParameters[] = "invalid parameters\n";
inline constexpr const char kMsgDisabled[] = "lumek is disabled\n";

// netctl: the two modes, and the getters' line for an empty list.
inline bool netctl_mode_is_valid(int mode) {
    return mode == 1 || mode == 2;
}
inline constexpr const char kFmtListNull[] = "netctl list[%d] is null\n";

// The framework's record layouts as relied on: stride, text field, 32-bit value offset.
inline constexpr size_t kNetctlPathField = offsetof(NetctlRecord, mode);
inline constexpr size_t kNetctlModeAt = offsetof(NetctlRecord, mode);
inline constexpr size_t kNetctlPkgNameField = offsetof(NetctlPkgRecord, mode);
inline constexpr size_t kNetctlPkgModeAt = offsetof(NetctlPkgRecord, mode);
inline constexpr size_t kPproPathField = offsetof(PproRecord, type);
inline constexpr size_t kPproTypeAt = offsetof(PproRecord, type);
inline constexpr size_t kPblkPathField = sizeof(PblkRecord);
static_assert(sizeof(NetctlRecord) == 8524 && kNetctlModeAt == 4164);
static_assert(sizeof(NetctlPkgRecord) == 8328 && kNetctlPkgModeAt == 128);
static_assert(sizeof(PproRecord) == 4168 && kPproTypeAt == 4164);
static_assert(sizeof(PblkRecord) == 4161);

// Records, arrays and hashes from the framework, released with free.
template <typename T>
using FwPtr = std::unique_ptr<T, FnDeleter<::free>>;

// The 32-bit value at @offset of a record (records of odd size are not aligned).
int32_t read_i32(const void *record, size_t offset);

// Which records of an array go into the caller's list.
using Keep = std::function<bool(const unsigned char *record)>;

// Last steps of every list getter, once the framework handed back @records (owned
// here and released) with a non-zero @n: a negative @n gives NULL and count 0;
// otherwise a malloc'd array of bounded, terminated copies of the text at the start of
// each kept record (@field bytes at most), @stride bytes apart, in order. Returns NULL
// when nothing was kept (count 0) or memory ran out (count 0).
char **hand_out_texts(void *records, int n, size_t stride, size_t field, const Keep &keep, int *count);

// Whether @path may enter the netctl program list: an executable or shared-object MIME
// type, and no ".so"/".la" ending and no ".so." anywhere.
bool is_program_file(const char *path);

// The name stored with a netctl program entry: the text after the last "/", or the whole
// path when it has none.
const char *file_name_of(const char *path);

using ::lumek::guarded;

}  // namespace lumek::lists
