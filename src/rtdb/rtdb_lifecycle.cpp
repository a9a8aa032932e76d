// Creating the rtdb from the daemon's whole whitelist, and deleting it.
#include <errno.h>
#include <string.h>

#include "rtdb/rtdb_internal.h"

using namespace lumek::rtdb;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_create(void) {
    WhlistObject *list = nullptr;
    // Without a system bus the load succeeds with no entries, and the rtdb starts empty.
    if (lumek_whlist_load_all(&list) != 0) {
        lumek_whlist_objects_free(&list);
        RTDB_LOG(kFnCreate, kMsgLoadWhlist);
        return -1;
    }
    Connection db(lumek_memdb_create_database(kKey, kSize));
    if (!db) {
        RTDB_LOG(kFnCreate, kMsgCreateDb, strerror(errno));
        lumek_whlist_objects_free(&list);
        return -2;
    }
    for (int col = kColKind; col <= kColTime; ++col)
        if (lumek_memdb_create_t_tree_index(db.get(), col) != 0)
            RTDB_LOG(kFnCreate, kMsgCreateIndex, col, strerror(errno));
    for (const WhlistObject *o = list; o; o = o->next) {
        WhlistObjectEntry entry{o->path,     o->hash,   o->obj_type, o->exectl_type,
                                o->writable, o->extra1, o->extra2};
        OwnedRecord rec;
        if (fill_memdb_record_from_object(&rec.get(), entry) != 0 ||
            lumek_memdb_create_record(db.get(), rec.get()) != 0)
            RTDB_LOG(kFnCreate, kMsgCreateRecord, o->path ? o->path : "(null)", strerror(errno));
    }
    lumek_whlist_objects_free(&list);
    return 0;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_delete(void) {
    if (lumek_memdb_delete_database(kKey) == 0) return 0;
    RTDB_LOG(kFnDelete, kMsgDeleteDb, strerror(errno));
    return -1;
}
