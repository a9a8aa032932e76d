// The framework records are a binary contract with the service libraries. The subsystems
// pin the layouts they read (lists, kid, memdb); these are the fields no subsystem's own
// checks cover.
#include <stddef.h>

#include "core/framework.h"

static_assert(sizeof(LumekErrorRecord) == 4 + 256 + 1024);
static_assert(offsetof(LumekErrorRecord, object) == 4);
static_assert(offsetof(LumekErrorRecord, message) == 260);

static_assert(offsetof(MarkRecord, label) == 4096);
static_assert(sizeof(TypedMarkRecord) == 4132);
static_assert(offsetof(TypedMarkRecord, file_type) == 4128);
static_assert(alignof(TypedMarkRecord) == 4);

static_assert(offsetof(KidInfoRecord, app_name) == 4);
static_assert(offsetof(KidInfoRecord, pkg_name) == 132);
static_assert(offsetof(KidInfoRecord, kid_type) == 260);
static_assert(offsetof(KidResRecord, res_type) == 4);
static_assert(offsetof(KidPrivilegeRecord, reserved) == 16);
static_assert(offsetof(KidNetctlRecord, path) == 8);

static_assert(alignof(PblkRecord) == 1);
static_assert(LUMEK_MEMDB_TYPE_INT32 == 3 && LUMEK_MEMDB_TYPE_STRING == 5);
static_assert(LUMEK_MEMDB_OP_EQ == 1 && LUMEK_MEMDB_OP_NE == 2 && LUMEK_MEMDB_OP_GT == 8);
