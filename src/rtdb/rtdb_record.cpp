// The record codec: the memdb record and query layouts as the rtdb fills them, the label
// record builder, the two retrieval callbacks, and the selecting records and queries.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "core/whlist_internal.h"
#include "rtdb/rtdb_internal.h"

// The memdb takes these by value: every offset is part of the framework's interface.
static_assert(sizeof(MemdbColumn) == 16 && offsetof(MemdbColumn, type) == 0 &&
                  offsetof(MemdbColumn, pad) == 4 && offsetof(MemdbColumn, value) == 8,
              "MemdbColumn layout");
static_assert(sizeof(MemdbRecord) == 264 && offsetof(MemdbRecord, count) == 0 &&
                  offsetof(MemdbRecord, pad) == 4 && offsetof(MemdbRecord, columns) == 8,
              "MemdbRecord layout");
static_assert(offsetof(MemdbRecord, columns[15].type) == 8 + 16 * 15 &&
                  offsetof(MemdbRecord, columns[15].value) == 16 + 16 * 15,
              "MemdbRecord slot i at 8 + 16i, value at 16 + 16i");
static_assert(sizeof(MemdbCondition) == 24 && offsetof(MemdbCondition, op) == 0 &&
                  offsetof(MemdbCondition, column) == 4 && offsetof(MemdbCondition, type) == 8 &&
                  offsetof(MemdbCondition, pad) == 12 && offsetof(MemdbCondition, value) == 16,
              "MemdbCondition layout");
static_assert(sizeof(MemdbQuery) == 392 && offsetof(MemdbQuery, count) == 0 &&
                  offsetof(MemdbQuery, pad) == 4 && offsetof(MemdbQuery, conditions) == 8,
              "MemdbQuery layout");
static_assert(offsetof(MemdbQuery, conditions[15].op) == 8 + 24 * 15 &&
                  offsetof(MemdbQuery, conditions[15].column) == 12 + 24 * 15 &&
                  offsetof(MemdbQuery, conditions[15].type) == 16 + 24 * 15 &&
                  offsetof(MemdbQuery, conditions[15].value) == 24 + 24 * 15,
              "MemdbQuery condition j at 8 + 24j");
static_assert(sizeof(WhlistObjectEntry) == 40 &&
                  offsetof(WhlistObjectEntry, extra2) == offsetof(WhlistObject, extra2),
              "the entry fields are the front of a WhlistObject");

namespace lumek::rtdb {

namespace {

int32_t *int_block(int32_t v) noexcept {
    auto *p = static_cast<int32_t *>(malloc(sizeof(int32_t)));
    if (p) *p = v;
    return p;
}

void set_slot(MemdbRecord &r, int i, int32_t type, void *value) noexcept {
    r.columns[i].type = type;
    r.columns[i].value = value;
}

bool is_text(const MemdbRecord &r, int i) noexcept {
    return r.columns[i].type == LUMEK_MEMDB_TYPE_STRING && r.columns[i].value;
}

bool is_int(const MemdbRecord &r, int i) noexcept {
    return r.columns[i].type == LUMEK_MEMDB_TYPE_INT32 && r.columns[i].value;
}

int32_t int_at(const MemdbRecord &r, int i) noexcept {
    return *static_cast<const int32_t *>(r.columns[i].value);
}

const char *text_at(const MemdbRecord &r, int i) noexcept {
    return static_cast<const char *>(r.columns[i].value);
}

}  // namespace

bool entry_is_valid(const WhlistObjectEntry &e) noexcept {
    return e.path && e.hash && e.obj_type >= 0 && e.obj_type <= LUMEK_OBJ_LINK && e.exectl_type >= 0 &&
           e.exectl_type <= LUMEK_EXECTL_SCRIPT;
}

OwnedRecord::OwnedRecord() {
    memset(&rec_, 0, sizeof rec_);
}

OwnedRecord::~OwnedRecord() {
    free_memdb_record_values(&rec_);
}

Selector::Selector() {
    memset(&rec_, 0, sizeof rec_);
}

void Selector::add(int32_t column, int32_t *value) {
    set_slot(rec_, column, LUMEK_MEMDB_TYPE_INT32, value);
    rec_.count = column + 1;
}

void Selector::add(int32_t column, const char *value) {
    set_slot(rec_, column, LUMEK_MEMDB_TYPE_STRING, const_cast<char *>(value));
    rec_.count = column + 1;
}

Query::Query() {
    memset(&q_, 0, sizeof q_);
}

void Query::add(int32_t op, int32_t column, int32_t *value) {
    q_.conditions[q_.count++] = {op, column, LUMEK_MEMDB_TYPE_INT32, 0, value};
}

void Query::add(int32_t op, int32_t column, const char *value) {
    q_.conditions[q_.count++] = {op, column, LUMEK_MEMDB_TYPE_STRING, 0, const_cast<char *>(value)};
}

}  // namespace lumek::rtdb

using namespace lumek::rtdb;

int fill_memdb_record_from_object(MemdbRecord *record, WhlistObjectEntry entry) noexcept {
    if (!record) {
        errno = EINVAL;
        return -1;
    }
    memset(record, 0, sizeof *record);
    if (!entry_is_valid(entry)) {
        errno = EINVAL;
        return -1;
    }
    MemdbRecord &r = *record;
    r.count = kLabelColumns;
    set_slot(r, kColKind, LUMEK_MEMDB_TYPE_INT32, int_block(kKindLabel));
    set_slot(r, kColPath, LUMEK_MEMDB_TYPE_STRING, strdup(entry.path));
    set_slot(r, kColLabel, LUMEK_MEMDB_TYPE_STRING, strdup(lumek::kExectlLabelNames[entry.exectl_type]));
    set_slot(r, kColType, LUMEK_MEMDB_TYPE_STRING, strdup(lumek::kObjTypeNames[entry.obj_type]));
    set_slot(r, kColStatus, LUMEK_MEMDB_TYPE_INT32, int_block(entry.extra2));
    set_slot(r, kColHash, LUMEK_MEMDB_TYPE_STRING, strdup(entry.hash));
    // The layout keeps 32 bits of the time (it turns negative in 2038).
    set_slot(r, kColTime, LUMEK_MEMDB_TYPE_INT32, int_block(static_cast<int32_t>(time(nullptr))));
    for (int i = 0; i < kLabelColumns; ++i) {
        if (!r.columns[i].value) {
            free_memdb_record_values(record);
            memset(record, 0, sizeof *record);
            errno = ENOMEM;
            return -1;
        }
    }
    return 0;
}

void free_memdb_record_values(MemdbRecord *record) noexcept {
    if (!record) return;
    int n = record->count < LUMEK_MEMDB_MAX_COLUMNS ? record->count : LUMEK_MEMDB_MAX_COLUMNS;
    for (int i = 0; i < n; ++i) {
        free(record->columns[i].value);
        record->columns[i].value = nullptr;
    }
}

namespace lumek::rtdb {

int32_t TypeMemo::type_of(const char *name) noexcept {
    for (int i = 0; i < used_; ++i)
        if (strcmp(names_[i], name) == 0) return types_[i];
    int32_t t = trans_type_str_2_type(name);
    if (used_ < kSlots && strlen(name) < sizeof names_[0]) {
        strcpy(names_[used_], name);
        types_[used_++] = t;
    }
    return t;
}

int parse_label_record(const MemdbRecord *record, WhlistObject **list, TypeMemo *memo) noexcept {
    if (!record || !list) return -1;
    const MemdbRecord &r = *record;
    // The memdb is shared with every other process: check each value's kind, not only the
    // count, before reading it.
    if (r.count != kLabelColumns || !is_text(r, kColPath) || !is_text(r, kColLabel) ||
        !is_text(r, kColType) || !is_int(r, kColStatus) ||
        r.columns[kColHash].type != LUMEK_MEMDB_TYPE_STRING)
        return -2;
    auto *obj = static_cast<WhlistObject *>(calloc(1, sizeof(WhlistObject)));
    if (obj) {
        obj->path = strdup(text_at(r, kColPath));
        obj->hash = r.columns[kColHash].value ? strdup(text_at(r, kColHash)) : nullptr;
        if (!obj->path || (r.columns[kColHash].value && !obj->hash)) {
            free(obj->path);
            free(obj->hash);
            free(obj);
            obj = nullptr;
            errno = ENOMEM;
        }
    }
    if (!obj) {
        RTDB_LOG(kFnParse, kMsgParseAlloc, strerror(errno));
        return -3;
    }
    const char *type = text_at(r, kColType);
    obj->exectl_type = lumek_whlist_parse_exectl_type(text_at(r, kColLabel));
    obj->obj_type = memo ? memo->type_of(type) : trans_type_str_2_type(type);
    obj->extra2 = int_at(r, kColStatus);
    obj->next = *list;
    *list = obj;
    return 0;
}

int collect_label_record(const MemdbRecord *record, void *sink) noexcept {
    auto *s = static_cast<LoadSink *>(sink);
    if (!s) return -1;
    int rc = parse_label_record(record, s->head, &s->memo);
    // The memdb goes on after a refused record; a load missing one must not report success.
    if (rc == -3) s->out_of_memory = true;
    return rc;
}

}  // namespace lumek::rtdb

int parse_memdb_record_to_object_list(const MemdbRecord *record, void *head) noexcept {
    return parse_label_record(record, static_cast<WhlistObject **>(head), nullptr);
}

int parse_memdb_record_to_sync_time(const MemdbRecord *record, void *out) noexcept {
    if (!record || !out) return -1;
    if (record->count != kSyncColumns || !is_int(*record, 1)) return -2;
    *static_cast<int32_t *>(out) = int_at(*record, 1);
    return 0;
}
