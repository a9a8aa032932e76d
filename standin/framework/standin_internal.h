// Private to the stand-in: the shared state store, the call log and the fault table,
// and the pure helpers (path clean-up, file classification) that tests feed directly.
#pragma once

#include <errno.h>
#include <sqlite3.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/framework.h"

namespace standin {

// Default state directory when LUMEK_STANDIN_DIR is unset.
inline constexpr const char kDefaultStateDir[] = "/var/lib/lumek-standin";
inline constexpr const char kStateDirEnv[] = "LUMEK_STANDIN_DIR";
inline constexpr const char kDbFile[] = "state.db";
inline constexpr const char kLogFile[] = "log";
inline constexpr const char kLogNullTag[] = "\\N";

// Codes written into the error record, and their readable reasons.
inline constexpr int32_t kCodeLabelSet = -1006;
inline constexpr int32_t kCodeInvalidArg = -1007;
inline constexpr const char kMsgInvalidLabel[] = "invalid exectl label";
inline constexpr const char kMsgInvalidProtect[] = "invalid protection text";
inline constexpr const char kMsgInvalidArg[] = "invalid argument";
inline constexpr const char kMsgStore[] = "state store failure";

// A scripted result for the next calls of one function.
struct Fault {
    int ret = -1;
    int err = 0;             // errno to leave; 0 leaves errno alone
    bool set_error = false;  // fill the error record
    int32_t code = 0;
    char object[256] = {};  // raw: need not hold a NUL
    std::string message;
};

// One process's connection to the shared store. Use it only through a Session.
class Store {
  public:
    // The store of the current state directory, opened (and created) on first use and
    // reopened after fork or when the directory changes. NULL when it cannot be opened.
    // Only under a Session.
    static Store *get();

    const std::string &dir() const { return dir_; }
    sqlite3 *db() const { return db_; }

    // Runs @fn inside BEGIN IMMEDIATE ... COMMIT (ROLLBACK when it returns false).
    bool transaction(const std::function<bool()> &fn);
    // Prepared once per connection, reset before each use.
    sqlite3_stmt *stmt(const char *sql);

    // Appends one line to the call log.
    void record_call(const char *func, const std::string &args);
    // Takes the fault of @func, if any (decrementing its count); nullopt when none.
    std::optional<Fault> take_fault(const char *func);

    ~Store();

  private:
    Store() = default;
    bool open(const std::string &dir);
    std::string dir_;
    sqlite3 *db_ = nullptr;
    std::vector<std::pair<std::string, sqlite3_stmt *>> stmts_;
};

// Holds the process-wide store lock for its lifetime; the store is NULL when it could
// not be opened. Calls nest on one thread.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    Store *operator->() const { return store_; }
    Store &operator*() const { return *store_; }
    explicit operator bool() const { return store_ != nullptr; }

  private:
    std::recursive_mutex *lock_ = nullptr;
    Store *store_ = nullptr;
};

// The directory named by the environment, or the default.
std::string state_dir();

// Applies a fault's side effects (errno, error record).
void apply_fault(const Fault &f);
// Entry of every framework call: records it and returns its fault, if any.
std::optional<Fault> enter(const char *func, const std::string &args);

// A fault's scripted integer result, after its side effects.
inline int fault_result(const Fault &f) {
    apply_fault(f);
    return f.ret;
}

// Runs a call's body so that no exception leaves the C edge.
template <typename T, typename Fn>
T guarded(T fallback, Fn &&fn) noexcept {
    try {
        return fn();
    } catch (...) {
        errno = ENOMEM;
        return fallback;
    }
}

// Argument formatting for the call log.
std::string quote(const char *text);  // "text" with escapes, or NULL
std::string quote_bounded(const char *text, size_t max);
std::string args(std::initializer_list<std::string> parts);

// The per-thread error record, and helpers that fill it.
LumekErrorRecord *error_record();
void set_error(int32_t code, const char *object, const char *message);

// Lexical absolute path: cwd-prefixed when relative; "//", "/./" and "/../" folded.
// nullopt (errno set) for NULL or "".
std::optional<std::string> clean_absolute(const char *path);

// File classification from a file's bytes. @read_at reads up to @len bytes at @off into
// @buf and returns how many it got (0 at the end or on failure).
using ReadAt = std::function<size_t(uint64_t off, void *buf, size_t len)>;
int classify_contents(const ReadAt &read_at, const char *name);
// The file type of @path, as parse_file_type gives it, without a call-log entry.
int classify_path(const char *path);

// Key/value settings.
std::optional<int64_t> kv_get(Store &s, const char *key);
bool kv_set(Store &s, const char *key, int64_t value);

// The count set for @func's read-alls with lumek_standin_count_set, if any.
std::optional<int> forced_count(const char *func);
inline std::string forced_count_key(const char *func) {
    return std::string("count ") + func;
}

// A read-all's answer with the forced count of @func applied: the array grows (zeroed) to
// at least max(count, 1) records. NULL with count 0 when memory runs out.
template <typename Rec>
Rec *apply_forced_count(const char *func, Rec *records, int *count) {
    std::optional<int> forced = forced_count(func);
    if (!forced) return records;
    size_t have = records ? static_cast<size_t>(*count) : 0;
    size_t want = std::max(have, static_cast<size_t>(std::max(*forced, 1)));
    if (want > have) {
        auto *grown = static_cast<Rec *>(realloc(static_cast<void *>(records), want * sizeof(Rec)));
        if (!grown) {
            free(records);
            *count = 0;
            return nullptr;
        }
        memset(static_cast<void *>(grown + have), 0, (want - have) * sizeof(Rec));
        records = grown;
    }
    *count = *forced;
    return records;
}

// Label texts accepted by the setters.
bool valid_exectl_label(const char *label);
bool valid_protect_text(const char *text);

// ---- One-statement helpers (statements.cpp) ----
using Binder = std::function<void(sqlite3_stmt *)>;
// Runs one changing statement. 0 when it ran and (with @must_change) touched a row; -1 with
// errno EEXIST (constraint), ENOENT (no row) or EIO otherwise.
int change_row(const char *sql, const Binder &bind, bool must_change);
// Calls @row for every row of a query, in order; false when the query failed.
bool select_rows(const char *sql, const Binder &bind, const std::function<void(sqlite3_stmt *)> &row);
// A text column as a string ("" for NULL).
std::string column_text(sqlite3_stmt *st, int i);
// Copies @text into a fixed field of @cap bytes; a text that fills the field gets no
// terminator, as the framework's records do.
void put_text(char *field, size_t cap, const std::string &text);

// @lines as a malloc'd NULL-terminated array for the control calls (freed with
// lumek_standin_free_lines); NULL when memory runs out.
char **lines_to_array(const std::vector<std::string> &lines, int *count);

}  // namespace standin
