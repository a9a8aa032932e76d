// The rtdb's retrieval callbacks on memdb records of any shape: any count, and in each slot
// nothing, a 32-bit integer, a text, a NULL value of either kind, or a kind the rtdb never
// stores. Input: a count byte, then per slot a kind byte and its value bytes.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/whlist_internal.h"
#include "rtdb/rtdb_internal.h"

// The framework's type-name table, here rather than through the stand-in, which would
// record every call in its state directory.
extern "C" int trans_type_str_2_type(const char *name) {
    if (!name) return -1;
    for (int i = 0; i < 6; ++i)
        if (strcmp(name, lumek::kObjTypeNames[i]) == 0) return i;
    return -1;
}

namespace {

struct Input {
    const uint8_t *p, *end;
    uint8_t byte() { return p < end ? *p++ : 0; }
};

void *int_value(Input &in) {
    auto *v = static_cast<int32_t *>(malloc(sizeof(int32_t)));
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u = u << 8 | in.byte();
    memcpy(v, &u, sizeof u);
    return v;
}

char *text_value(Input &in) {
    size_t n = in.byte() % 64;
    std::string s;
    for (size_t i = 0; i < n && in.p < in.end; ++i) s += static_cast<char>(in.byte());
    return strdup(s.c_str());
}

void check_list(const MemdbRecord &r, const WhlistObject *list) {
    const char *hash = static_cast<const char *>(r.columns[lumek::rtdb::kColHash].value);
    if (!list || list->next || strcmp(list->path, static_cast<const char *>(r.columns[1].value)) != 0 ||
        (hash ? !list->hash || strcmp(list->hash, hash) != 0 : list->hash != nullptr) ||
        list->extra2 != *static_cast<const int32_t *>(r.columns[lumek::rtdb::kColStatus].value))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    Input in{data, data + size};
    MemdbRecord r;
    memset(&r, 0, sizeof r);
    r.count = static_cast<int8_t>(in.byte());
    for (int i = 0; i < LUMEK_MEMDB_MAX_COLUMNS && in.p < in.end; ++i) {
        uint8_t kind = in.byte();
        switch (kind % 6) {
            case 0:
                break;
            case 1:
                r.columns[i] = {LUMEK_MEMDB_TYPE_INT32, 0, int_value(in)};
                break;
            case 2:
                r.columns[i] = {LUMEK_MEMDB_TYPE_STRING, 0, text_value(in)};
                break;
            case 3:
                r.columns[i].type = LUMEK_MEMDB_TYPE_STRING;
                break;
            case 4:
                r.columns[i].type = LUMEK_MEMDB_TYPE_INT32;
                break;
            // A text kind always points at a text; any other number may hold anything.
            default:
                r.columns[i] = {kind == LUMEK_MEMDB_TYPE_STRING ? 0x55 : kind, 0, int_value(in)};
                break;
        }
    }

    WhlistObject *list = nullptr;
    int rc = parse_memdb_record_to_object_list(&r, &list);
    if (rc == 0)
        check_list(r, list);
    else if (rc != -2 || list)
        abort();
    if (list && lumek::rtdb::entry_is_valid(
                    {list->path, list->hash, list->obj_type, list->exectl_type, 0, 0, list->extra2})) {
        // What was read back stores as the same record.
        MemdbRecord again;
        WhlistObjectEntry e{list->path, list->hash, list->obj_type, list->exectl_type, 0, 0, list->extra2};
        if (fill_memdb_record_from_object(&again, e) != 0) abort();
        WhlistObject *back = nullptr;
        if (parse_memdb_record_to_object_list(&again, &back) != 0 || back->obj_type != list->obj_type ||
            back->exectl_type != list->exectl_type)
            abort();
        check_list(again, back);
        lumek_whlist_objects_free(&back);
        free_memdb_record_values(&again);
    }

    // The loads' callback resolves type names through a memo: twice, the same answer.
    WhlistObject *loaded = nullptr;
    lumek::rtdb::LoadSink sink{&loaded, {}};
    int rc1 = lumek::rtdb::collect_label_record(&r, &sink);
    int rc2 = lumek::rtdb::collect_label_record(&r, &sink);
    if (rc1 != rc || rc2 != rc) abort();
    if (rc == 0 && (loaded->obj_type != list->obj_type || loaded->next->obj_type != list->obj_type)) abort();
    lumek_whlist_objects_free(&loaded);
    lumek_whlist_objects_free(&list);

    int32_t when = 0;
    rc = parse_memdb_record_to_sync_time(&r, &when);
    bool sync_shape = r.count == lumek::rtdb::kSyncColumns && r.columns[1].type == LUMEK_MEMDB_TYPE_INT32 &&
                      r.columns[1].value;
    if ((rc == 0) != sync_shape || (rc != 0 && rc != -2)) abort();
    if (rc == 0 && when != *static_cast<const int32_t *>(r.columns[1].value)) abort();

    // The release takes the slots below the count; the rest are the harness's own.
    free_memdb_record_values(&r);
    for (auto &c : r.columns) free(c.value);
    return 0;
}
