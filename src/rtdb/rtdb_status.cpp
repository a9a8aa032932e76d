// The status refresh: one file's status in the rtdb, from its record when it has one, else
// from the file itself when it carries a label worth recording.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "common/raii.h"
#include "rtdb/rtdb_internal.h"

using namespace lumek::rtdb;

namespace {

struct ListFree {
    void operator()(WhlistObject *l) const noexcept { lumek_whlist_objects_free(&l); }
};

// What the refresh will write, or why it stops.
enum class Source { Record, Nothing };

// The entry from the file: label, object type and hash; Nothing (result 0) when there is
// nothing to record. @label and @hash keep the texts the entry points at.
Source entry_from_file(const char *path, int32_t status, lumek::MallocPtr &label, lumek::MallocPtr &hash,
                       WhlistObjectEntry &entry) {
    if (path_is_exist(path) != 1) return Source::Nothing;
    char *name = nullptr;
    if (lumek_exectl_get(path, &name) != 0 || !name) {
        int err = errno;
        free(name);
        RTDB_LOG(kFnStatus, kMsgGetLabel, path, strerror(err));
        return Source::Nothing;
    }
    label.reset(name);
    int32_t exectl = lumek_whlist_parse_exectl_type(name);
    if (exectl == LUMEK_EXECTL_UNKNOWN) return Source::Nothing;
    int32_t type = parse_file_type(path);
    hash.reset(lumek_memdb_whlist_calc_md5_for_file(path));
    if (!hash) {
        RTDB_LOG(kFnStatus, kMsgGetHash, path, strerror(errno));
        return Source::Nothing;
    }
    // A file the framework cannot classify has no type name to record.
    if (type < LUMEK_OBJ_PROGRAM || type > LUMEK_OBJ_LINK) return Source::Nothing;
    entry = WhlistObjectEntry{const_cast<char *>(path), hash.get(), type, exectl, 0, 0, status};
    return Source::Record;
}

}  // namespace

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_update_status(const char *path,
                                                                              int32_t status) {
    if (!path) return -1;
    int32_t kind = kKindLabel;
    Query q;
    q.add(LUMEK_MEMDB_OP_EQ, kColKind, &kind);
    q.add(LUMEK_MEMDB_OP_EQ, kColPath, path);
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(kFnStatus, kMsgConnect, strerror(errno));
        return -2;
    }
    WhlistObject *found = nullptr;
    // A failed retrieval goes on with what was delivered: the file decides when nothing was.
    if (lumek_memdb_retrive(db.get(), parse_memdb_record_to_object_list, &found, q.get()) != 0)
        RTDB_LOG(kFnStatus, kMsgRetrieve, strerror(errno));
    std::unique_ptr<WhlistObject, ListFree> list(found);

    lumek::MallocPtr label, hash;
    WhlistObjectEntry entry{};
    if (list) {
        // The last of the list is the first record the memdb delivered.
        const WhlistObject *first = list.get();
        while (first->next) first = first->next;
        entry = WhlistObjectEntry{first->path, first->hash,   first->obj_type, first->exectl_type,
                                  0,           first->extra1, status};
    } else if (entry_from_file(path, status, label, hash, entry) == Source::Nothing) {
        return 0;
    }

    // Built before the delete, so a record that cannot be built leaves the old ones.
    OwnedRecord rec;
    if (fill_memdb_record_from_object(&rec.get(), entry) != 0) {
        RTDB_LOG(kFnStatus, kMsgPathAdd, path, strerror(errno));
        return -2;
    }
    Selector old;
    old.add(kColKind, &kind);
    old.add(kColPath, path);
    if (lumek_memdb_delete_record(db.get(), old.get()) != 0) {
        RTDB_LOG(kFnStatus, kMsgPathDelete, path, strerror(errno));
        return -1;
    }
    if (lumek_memdb_create_record(db.get(), rec.get()) != 0) {
        RTDB_LOG(kFnStatus, kMsgPathAdd, path, strerror(errno));
        return -2;
    }
    return 0;
}
