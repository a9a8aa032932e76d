// The sync-time record: one time that callers store and read back.
#include <errno.h>
#include <string.h>

#include "rtdb/rtdb_internal.h"

using namespace lumek::rtdb;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_get_lasted_sync_time(void) {
    int32_t kind = kKindSyncTime;
    Query q;
    q.add(LUMEK_MEMDB_OP_EQ, kColKind, &kind);
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(kFnGetSync, kMsgConnect, strerror(errno));
        return -2;
    }
    int32_t result = 0;
    if (lumek_memdb_retrive(db.get(), parse_memdb_record_to_sync_time, &result, q.get()) != 0) {
        RTDB_LOG(kFnGetSync, kMsgRetrieve, strerror(errno));
        return -3;
    }
    return result;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_update_lasted_sync_time(int32_t time) {
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(kFnSetSync, kMsgConnect, strerror(errno));
        return -1;
    }
    int32_t kind = kKindSyncTime;
    Selector old;
    old.add(kColKind, &kind);
    if (lumek_memdb_delete_record(db.get(), old.get()) != 0) {
        RTDB_LOG(kFnSetSync, kMsgDelete, strerror(errno));
        return -2;
    }
    Selector rec;  // points at the two locals; the memdb copies them
    rec.add(kColKind, &kind);
    rec.add(1, &time);
    if (lumek_memdb_create_record(db.get(), rec.get()) != 0) {
        RTDB_LOG(kFnSetSync, kMsgAdd, strerror(errno));
        return -3;
    }
    return 0;
}
