// The runtime label database (rtdb): the memdb database 10000 holding one label record per
// whitelisted file and one sync-time record. Private to src/rtdb.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek::rtdb {

// The rtdb in the memdb.
inline constexpr int kKey = 10000;
inline constexpr int kSize = 500;
inline constexpr int32_t kKindLabel = 0;
inline constexpr int32_t kKindSyncTime = 9999;
inline constexpr int kLabelColumns = 7;
inline constexpr int kSyncColumns = 2;

// Columns of a label record.
enum Column : int32_t { kColKind = 0, kColPath, kColLabel, kColType, kColStatus, kColHash, kColTime };

// Log level of every rtdb message.
inline constexpr int kLogLevel = 2;

// Messages of the rtdb operations; each takes errno's text last.
inline constexpr const char kMsgConnect[] = "connect to rtdb failed: %s\n";
inline constexpr const char kMsgDelete[] = "delete data from rtdb failed: %s\n";
inline constexpr const char kMsgAdd[] = "add data to rtdb failed: %s\n";
inline constexpr const char kMsgRetrieve[] = "retrieve from rtdb failed: %s\n";
inline constexpr const char kMsgLoadWhlist[] = "load whlist objects failed";
inline constexpr const char kMsgCreateDb[] = "create lumek rt memdb failed: %s\n";
inline constexpr const char kMsgCreateIndex[] = "lumek rt db create index for col %d failed: %s\n";
inline constexpr const char kMsgCreateRecord[] = "create record failed, file = %s: %s\n";
inline constexpr const char kMsgDeleteDb[] = "delete lumek rt memdb failed: %s\n";
inline constexpr const char kMsgParseAlloc[] = "%s";
inline constexpr const char kMsgBadReply[] = "%s: the daemon's reply has type %s, not %s\n";
// The status refresh names the path first.
inline constexpr const char kMsgGetLabel[] = "%s: get file exectl label failed: %s\n";
inline constexpr const char kMsgGetHash[] = "%s: get file hash value failed: %s\n";
inline constexpr const char kMsgPathDelete[] = "%s: delete from rtdb failed: %s\n";
inline constexpr const char kMsgPathAdd[] = "%s: add to rtdb failed: %s\n";

// Function names the log lines carry.
inline constexpr const char kFnParse[] = "parse_memdb_record_to_object_list";
inline constexpr const char kFnCreate[] = "lumek_memdb_whlist_create";
inline constexpr const char kFnDelete[] = "lumek_memdb_whlist_delete";
inline constexpr const char kFnAdd[] = "lumek_memdb_whlist_exectl_add";
inline constexpr const char kFnRemove[] = "lumek_memdb_whlist_exectl_remove";
inline constexpr const char kFnLoad[] = "lumek_memdb_whlist_exectl_load";
inline constexpr const char kFnLoadSpecial[] = "lumek_memdb_whlist_exectl_load_special";
inline constexpr const char kFnLoadAfter[] = "lumek_memdb_whlist_exectl_load_after_time";
inline constexpr const char kFnLoadDaemon[] = "lumek_memdb_whlist_exectl_load_by_daemon";
inline constexpr const char kFnGetSync[] = "lumek_memdb_whlist_exectl_get_lasted_sync_time";
inline constexpr const char kFnSetSync[] = "lumek_memdb_whlist_exectl_update_lasted_sync_time";
inline constexpr const char kFnStatus[] = "lumek_memdb_whlist_exectl_update_status";

// The daemon method behind lumek_memdb_whlist_exectl_load_by_daemon, and its reply type.
inline constexpr const char kDaemonLoad[] = "lumek_memdb_whlist_exectl_load";
inline constexpr const char kReplyObjectList[] = "(a(sssssii))";

// One log line of @fn at the rtdb's level.
#define RTDB_LOG(fn, ...) lumek_log(::lumek::rtdb::kLogLevel, 0, (fn), __VA_ARGS__)

// A memdb connection, disconnected when it goes.
struct Disconnect {
    void operator()(MemdbHandle *h) const noexcept { lumek_memdb_disconnect_database(h); }
};
using Connection = std::unique_ptr<MemdbHandle, Disconnect>;

// A record whose slot values are heap blocks of its own, released with
// free_memdb_record_values when it goes.
class OwnedRecord {
  public:
    OwnedRecord();
    ~OwnedRecord();
    OwnedRecord(const OwnedRecord &) = delete;
    OwnedRecord &operator=(const OwnedRecord &) = delete;
    MemdbRecord &get() { return rec_; }

  private:
    MemdbRecord rec_;
};

// Records and queries that only select: their values point at the caller's variables.
class Selector {
  public:
    Selector();
    void add(int32_t column, int32_t *value);
    void add(int32_t column, const char *value);
    const MemdbRecord &get() const { return rec_; }

  private:
    MemdbRecord rec_;
};

class Query {
  public:
    Query();
    void add(int32_t op, int32_t column, int32_t *value);
    void add(int32_t op, int32_t column, const char *value);
    const MemdbQuery &get() const { return q_; }

  private:
    MemdbQuery q_;
};

// The framework's type number of each stored type name, asked once per name and load: a
// load of 100k records names only a handful of types.
class TypeMemo {
  public:
    int32_t type_of(const char *name) noexcept;

  private:
    static constexpr int kSlots = 8;
    char names_[kSlots][16];
    int32_t types_[kSlots];
    int used_ = 0;
};

// parse_memdb_record_to_object_list with the list head typed, and the type names resolved
// through @memo when it is not NULL.
int parse_label_record(const MemdbRecord *record, WhlistObject **list, TypeMemo *memo) noexcept;

// The loads' retrieval callback: user data is a LoadSink.
struct LoadSink {
    WhlistObject **head;
    TypeMemo memo;
    bool out_of_memory = false;  // a record was offered but its object could not be built
};
int collect_label_record(const MemdbRecord *record, void *sink) noexcept;

// Retrieves the label records of @query from the rtdb into *@out (prepended): 0, -2 no
// connection, -3 retrieval failed, each logged under @fn.
int32_t load_query(const char *fn, const Query &query, WhlistObject **out) noexcept;

// True when the entry can become a label record: path and hash present, object type 0-5,
// label 0-6.
bool entry_is_valid(const WhlistObjectEntry &entry) noexcept;

}  // namespace lumek::rtdb

// Part of the record codec, named as the rtdb's other users know them.

// Fills @record with the label record of @entry, every value a heap block of its own and
// column 6 the current time. Returns 0; -1 with errno EINVAL for an entry that is not valid
// (entry_is_valid) or ENOMEM, leaving @record empty (count 0, nothing to free).
int fill_memdb_record_from_object(MemdbRecord *record, WhlistObjectEntry entry) noexcept;
// Releases every slot value below the count; the record itself stays.
void free_memdb_record_values(MemdbRecord *record) noexcept;
// Retrieval callbacks (user data: a WhlistObject list head, or an int32_t). 0 taken; -1
// NULL argument; -2 a record of another shape (nothing changed); -3 no memory.
int parse_memdb_record_to_object_list(const MemdbRecord *record, void *head) noexcept;
int parse_memdb_record_to_sync_time(const MemdbRecord *record, void *out) noexcept;
// MD5 of a file's contents as 32 upper-case hex digits (malloc'd), without the caller's
// regular-file test; NULL when it cannot be opened, is not a regular file or a read fails.
char *calc_md5_hex_of_file(const char *path) noexcept;
