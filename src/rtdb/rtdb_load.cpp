// Reading label records back as WhlistObject lists: by filters, the special labels, the
// records written after a time, and the same filters answered by the daemon.
#include <errno.h>
#include <string.h>

#include "common/raii.h"
#include "rtdb/rtdb_internal.h"

namespace lumek::rtdb {

int32_t load_query(const char *fn, const Query &query, WhlistObject **out) noexcept {
    Connection db(lumek_memdb_connect_database(kKey));
    if (!db) {
        RTDB_LOG(fn, kMsgConnect, strerror(errno));
        return -2;
    }
    LoadSink sink{out, {}};
    if (lumek_memdb_retrive(db.get(), collect_label_record, &sink, query.get()) != 0) {
        RTDB_LOG(fn, kMsgRetrieve, strerror(errno));
        return -3;
    }
    if (sink.out_of_memory) {
        RTDB_LOG(fn, kMsgRetrieve, strerror(ENOMEM));
        return -3;
    }
    return 0;
}

namespace {

bool text_matches(const char *filter, const char *value) {
    return !filter || strcmp(filter, value) == 0;
}

}  // namespace

}  // namespace lumek::rtdb

using namespace lumek::rtdb;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load(const char *path, const char *type,
                                                                     const char *label, const char *hash,
                                                                     int32_t status, WhlistObject **out) {
    if (!out) return -1;
    *out = nullptr;
    // The arguments come as path, type, label, hash, status; the conditions go in column order.
    int32_t kind = kKindLabel;
    Query q;
    q.add(LUMEK_MEMDB_OP_EQ, kColKind, &kind);
    if (path) q.add(LUMEK_MEMDB_OP_EQ, kColPath, path);
    if (label) q.add(LUMEK_MEMDB_OP_EQ, kColLabel, label);
    if (type) q.add(LUMEK_MEMDB_OP_EQ, kColType, type);
    if (status != -1) q.add(LUMEK_MEMDB_OP_EQ, kColStatus, &status);
    if (hash) q.add(LUMEK_MEMDB_OP_EQ, kColHash, hash);
    return load_query(kFnLoad, q, out);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load_special(WhlistObject **out) {
    if (!out) return -1;
    *out = nullptr;
    int32_t kind = kKindLabel;
    Query q;
    q.add(LUMEK_MEMDB_OP_EQ, kColKind, &kind);
    q.add(LUMEK_MEMDB_OP_NE, kColLabel, "verified");
    q.add(LUMEK_MEMDB_OP_NE, kColLabel, "original");
    q.add(LUMEK_MEMDB_OP_NE, kColLabel, "unknown");
    return load_query(kFnLoadSpecial, q, out);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_memdb_whlist_exectl_load_after_time(int32_t time,
                                                                                WhlistObject **out) {
    if (!out) return -1;
    *out = nullptr;
    int32_t kind = kKindLabel;
    Query q;
    q.add(LUMEK_MEMDB_OP_EQ, kColKind, &kind);
    q.add(LUMEK_MEMDB_OP_GT, kColTime, &time);
    return load_query(kFnLoadAfter, q, out);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t
lumek_memdb_whlist_exectl_load_by_daemon(const char *path, const char *type, const char *label,
                                         const char *hash, int32_t status, WhlistObject **out) {
    if (!out) return -1;
    *out = nullptr;
    int32_t rc = 0;
    lumek::GVariantPtr reply(lumek_whlist_process_dbus_method(kDaemonLoad, nullptr, &rc));
    if (!reply) return rc;
    // Any owner of the bus name may answer: read only a reply of the expected type.
    if (!g_variant_is_of_type(reply.get(), G_VARIANT_TYPE(kReplyObjectList))) {
        RTDB_LOG(kFnLoadDaemon, kMsgBadReply, kDaemonLoad, g_variant_get_type_string(reply.get()),
                 kReplyObjectList);
        return LUMEK_WHLIST_ERR_UNKNOWN_REMOTE;
    }
    lumek::GVariantPtr array(g_variant_get_child_value(reply.get(), 0));
    GVariantIter it;
    g_variant_iter_init(&it, array.get());
    const char *e_path, *e_hash, *e_type, *e_label, *e_protect;
    gint32 extra1, extra2;
    while (g_variant_iter_next(&it, "(&s&s&s&s&sii)", &e_path, &e_hash, &e_type, &e_label, &e_protect,
                               &extra1, &extra2)) {
        if (!text_matches(path, e_path) || !text_matches(type, e_type) || !text_matches(label, e_label) ||
            !text_matches(hash, e_hash) || (status != -1 && status != extra2))
            continue;
        if (create_object_list_entry(out, e_path, e_hash, e_type, e_label, e_protect, extra1, extra2) != 0)
            return -3;
    }
    return 0;
}
