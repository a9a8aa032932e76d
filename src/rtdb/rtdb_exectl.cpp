// Writing and removing one file's label record.
#include <errno.h>
#include <string.h>

#include "rtdb/rtdb_internal.h"

using namespace lumek::rtdb;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_add(WhlistObjectEntry entry) {
    // Built and checked before anything is deleted, so a bad entry never costs the path
    // its old record.
    OwnedRecord rec;
    if (fill_memdb_record_from_object(&rec.get(), entry) != 0) {
        RTDB_LOG(kFnAdd, kMsgAdd, strerror(errno));
        return -3;
    }
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(kFnAdd, kMsgConnect, strerror(errno));
        return -1;
    }
    int32_t kind = kKindLabel;
    Selector old;
    old.add(kColKind, &kind);
    old.add(kColPath, entry.path);
    if (lumek_memdb_delete_record(db.get(), old.get()) != 0) {
        RTDB_LOG(kFnAdd, kMsgDelete, strerror(errno));
        return -2;
    }
    if (lumek_memdb_create_record(db.get(), rec.get()) != 0) {
        RTDB_LOG(kFnAdd, kMsgAdd, strerror(errno));
        return -3;
    }
    return 0;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_remove(const char *path) {
    if (!path) return -1;
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(kFnRemove, kMsgConnect, strerror(errno));
        return -1;
    }
    int32_t kind = kKindLabel;
    Selector old;
    old.add(kColKind, &kind);
    old.add(kColPath, path);
    if (lumek_memdb_delete_record(db.get(), old.get()) != 0) {
        RTDB_LOG(kFnRemove, kMsgDelete, strerror(errno));
        return -2;
    }
    return 0;
}
