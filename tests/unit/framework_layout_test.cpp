// The framework records are a binary contract with the service libraries: sizes, field
// offsets and array strides must be exactly these.
#include <stddef.h>

#include "core/framework.h"

// Checked at compile time: an array stride is its record size, so the sizes below fix
// the strides of the batch and kernel-list arrays too.
static_assert(sizeof(LumekErrorRecord) == 4 + 256 + 1024);
static_assert(offsetof(LumekErrorRecord, object) == 4);
static_assert(offsetof(LumekErrorRecord, message) == 260);

static_assert(sizeof(MarkRecord) == 4128);
static_assert(offsetof(MarkRecord, label) == 4096);
static_assert(sizeof(TypedMarkRecord) == 4132);
static_assert(offsetof(TypedMarkRecord, file_type) == 4128);
static_assert(alignof(TypedMarkRecord) == 4);

static_assert(sizeof(MemdbColumn) == 16);
static_assert(offsetof(MemdbColumn, value) == 8);
static_assert(sizeof(MemdbRecord) == 264);
static_assert(offsetof(MemdbRecord, columns) == 8);
static_assert(sizeof(MemdbCondition) == 24);
static_assert(offsetof(MemdbCondition, column) == 4);
static_assert(offsetof(MemdbCondition, type) == 8);
static_assert(offsetof(MemdbCondition, value) == 16);
static_assert(sizeof(MemdbQuery) == 392);
static_assert(offsetof(MemdbQuery, conditions) == 8);

static_assert(sizeof(KidInfoRecord) == 264);
static_assert(offsetof(KidInfoRecord, app_name) == 4);
static_assert(offsetof(KidInfoRecord, pkg_name) == 132);
static_assert(offsetof(KidInfoRecord, kid_type) == 260);
static_assert(offsetof(KidInfoNode, next) == 264);
static_assert(sizeof(KidInfoNode) == 272);
static_assert(offsetof(KidResRecord, res_type) == 4);
static_assert(offsetof(KidResRecord, path) == 8);
static_assert(offsetof(KidResRecord, app_name) == 4104);
static_assert(offsetof(KidResRecord, next) == 4232);
static_assert(sizeof(KidPrivilegeRecord) == 20);
static_assert(offsetof(KidPrivilegeRecord, reserved) == 16);
static_assert(offsetof(KidPrivilegeNode, next) == 24);
static_assert(sizeof(KidNetctlRecord) == 4104);
static_assert(offsetof(KidNetctlRecord, path) == 8);
static_assert(offsetof(KidNetctlNode, next) == 4104);

static_assert(sizeof(NetctlRecord) == 8524);
static_assert(offsetof(NetctlRecord, mode) == 4164);
static_assert(sizeof(NetctlPkgRecord) == 8328);
static_assert(offsetof(NetctlPkgRecord, mode) == 128);
static_assert(sizeof(PproRecord) == 4168);
static_assert(offsetof(PproRecord, type) == 4164);
static_assert(sizeof(PblkRecord) == 4161);
static_assert(alignof(PblkRecord) == 1);
static_assert(LUMEK_MEMDB_TYPE_INT32 == 3 && LUMEK_MEMDB_TYPE_STRING == 5);
static_assert(LUMEK_MEMDB_OP_EQ == 1 && LUMEK_MEMDB_OP_NE == 2 && LUMEK_MEMDB_OP_GT == 8);
