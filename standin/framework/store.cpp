// The stand-in's shared state: one SQLite database per state directory, used by every
// process that names the same directory.
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "standin_internal.h"

namespace standin {
namespace {

// Leaked on purpose: stand-in calls may come from destructors at process exit.
std::recursive_mutex *g_store_lock = new std::recursive_mutex;

std::recursive_mutex &store_lock() {
    return *g_store_lock;
}

struct Current {
    Store *store = nullptr;
    pid_t pid = 0;
    std::vector<Store *> abandoned;  // connections inherited across fork: never touched again
};

Current &current() {
    static auto *c = new Current;
    return *c;
}

// A fork while another thread holds the lock would leave it held forever in the child.
void install_fork_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The child's thread has a new id, so it cannot unlock what the parent's thread
        // locked: it gets a fresh lock instead.
        pthread_atfork([] { store_lock().lock(); }, [] { store_lock().unlock(); },
                       [] { g_store_lock = new std::recursive_mutex; });
    });
}

bool make_dirs(const std::string &dir) {
    std::string part;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        part = dir.substr(0, pos);
        if (part.empty()) continue;
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS kv(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS func_status(func INTEGER PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS conf(key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS exectl(path TEXT PRIMARY KEY, label TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS protect(path TEXT NOT NULL, sm INTEGER NOT NULL,"
    "  protect TEXT NOT NULL, PRIMARY KEY(path, sm));"
    "CREATE TABLE IF NOT EXISTS texts(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS kmod(name TEXT NOT NULL, sm INTEGER NOT NULL,"
    "  PRIMARY KEY(name, sm));"
    "CREATE TABLE IF NOT EXISTS calls(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  pid INTEGER NOT NULL, func TEXT NOT NULL, args TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS calls_func ON calls(func, seq);"
    "CREATE TABLE IF NOT EXISTS faults(func TEXT PRIMARY KEY, remaining INTEGER NOT NULL,"
    "  ret INTEGER NOT NULL, err INTEGER NOT NULL, set_error INTEGER NOT NULL,"
    "  code INTEGER NOT NULL, object BLOB NOT NULL, message TEXT NOT NULL,"
    "  skip INTEGER NOT NULL DEFAULT 0);"
    // Kernel-enforced lists, in insertion order (rowid), and the commands the kernel got.
    "CREATE TABLE IF NOT EXISTS netctl(uid INTEGER NOT NULL, path TEXT NOT NULL,"
    "  mode INTEGER NOT NULL, name TEXT NOT NULL, PRIMARY KEY(uid, path));"
    "CREATE TABLE IF NOT EXISTS netctl_pkg(uid INTEGER NOT NULL, pkg TEXT NOT NULL,"
    "  mode INTEGER NOT NULL, PRIMARY KEY(uid, pkg));"
    "CREATE TABLE IF NOT EXISTS ppro(path TEXT PRIMARY KEY, type INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS pblk(path TEXT PRIMARY KEY);"
    "CREATE TABLE IF NOT EXISTS kernel(seq INTEGER PRIMARY KEY AUTOINCREMENT, list TEXT NOT NULL,"
    "  command INTEGER NOT NULL, data TEXT NOT NULL, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS udeb(sm INTEGER NOT NULL, first INTEGER NOT NULL,"
    "  second INTEGER NOT NULL, PRIMARY KEY(sm, first, second));"
    // Application identities: records, resources (one kid per path), policies, network
    // control, and the kid texts of files and processes.
    "CREATE TABLE IF NOT EXISTS kid_info(kid INTEGER NOT NULL, app_name TEXT NOT NULL,"
    "  pkg_name TEXT NOT NULL, kid_type INTEGER NOT NULL, PRIMARY KEY(kid, app_name));"
    "CREATE TABLE IF NOT EXISTS kid_res(path TEXT PRIMARY KEY, kid INTEGER NOT NULL,"
    "  res_type INTEGER NOT NULL, app_name TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS kid_res_kid ON kid_res(kid);"
    "CREATE TABLE IF NOT EXISTS kid_priv(sub_kid INTEGER NOT NULL, obj_kid INTEGER NOT NULL,"
    "  uid INTEGER NOT NULL, perm INTEGER NOT NULL, reserved INTEGER NOT NULL,"
    "  PRIMARY KEY(sub_kid, obj_kid, uid));"
    "CREATE TABLE IF NOT EXISTS kid_netctl(kid INTEGER NOT NULL, flag INTEGER NOT NULL,"
    "  path TEXT NOT NULL, PRIMARY KEY(kid, path));"
    "CREATE TABLE IF NOT EXISTS kid_file(path TEXT PRIMARY KEY, kid TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS kid_pid(pid INTEGER PRIMARY KEY, kid TEXT NOT NULL);"
    // memdb: databases by key, and their records of up to 16 values. The value columns have
    // no declared type, so each value keeps its own (an integer never equals a text).
    "CREATE TABLE IF NOT EXISTS memdb_db(key INTEGER PRIMARY KEY, size INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS memdb_rec(seq INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    "  n INTEGER NOT NULL, c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15);"
    "CREATE INDEX IF NOT EXISTS memdb_rec_key ON memdb_rec(key, seq);";

}  // namespace

Session::Session() {
    install_fork_handlers();
    lock_ = &store_lock();
    lock_->lock();
    store_ = Store::get();
}

Session::~Session() {
    lock_->unlock();
}

std::string state_dir() {
    const char *env = getenv(kStateDirEnv);
    return (env && *env) ? std::string(env) : std::string(kDefaultStateDir);
}

Store *Store::get() {
    Current &c = current();
    std::string dir = state_dir();
    pid_t pid = getpid();
    if (c.store && c.pid == pid && c.store->dir_ == dir) return c.store;
    if (c.store) {
        if (c.pid != pid)
            c.abandoned.push_back(c.store);  // the parent still uses this connection
        else
            delete c.store;
        c.store = nullptr;
    }
    auto *s = new Store;
    if (!s->open(dir)) {
        int saved = errno;
        delete s;
        errno = saved;
        return nullptr;
    }
    c.store = s;
    c.pid = pid;
    return s;
}

namespace {

// SQLite gives up at once, busy handler or not, in a few states another process can leave
// for a moment (the first switch to WAL, WAL recovery after a crash). Retry those for as
// long as the busy timeout would have waited.
int exec_retrying(sqlite3 *db, const char *sql) {
    constexpr int kTries = 15000;  // 1 ms apart
    int rc = SQLITE_BUSY;
    for (int i = 0; i < kTries; ++i) {
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) break;
        usleep(1000);
    }
    return rc;
}

}  // namespace

bool Store::open(const std::string &dir) {
    dir_ = dir;
    if (!make_dirs(dir)) return false;
    std::string file = dir + "/" + kDbFile;
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        errno = EIO;
        return false;
    }
    sqlite3_busy_timeout(db_, 15000);
    // WAL lets readers in other processes go on while one writes; NORMAL skips the
    // fsync per commit, which a test stand-in does not need.
    if (exec_retrying(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") != SQLITE_OK ||
        !transaction([this] { return sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK; })) {
        errno = EIO;
        return false;
    }
    // An rtdb is filled one memdb record per call (100k of them): no fsync at checkpoints
    // either; a crash of the machine may lose the stand-in's latest state, which it can.
    sqlite3_exec(db_, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
    return true;
}

Store::~Store() {
    for (auto &p : stmts_) sqlite3_finalize(p.second);
    if (db_) sqlite3_close(db_);
}

bool Store::transaction(const std::function<bool()> &fn) {
    if (exec_retrying(db_, "BEGIN IMMEDIATE") != SQLITE_OK) return false;
    bool ok = false;
    try {
        ok = fn();
    } catch (...) {
        ok = false;
    }
    if (ok && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

sqlite3_stmt *Store::stmt(const char *sql) {
    for (auto &p : stmts_) {
        if (p.first == sql) {
            sqlite3_reset(p.second);
            sqlite3_clear_bindings(p.second);
            return p.second;
        }
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
        return nullptr;
    stmts_.emplace_back(sql, st);
    return st;
}

void Store::record_call(const char *func, const std::string &args) {
    sqlite3_stmt *st = stmt("INSERT INTO calls(pid, func, args) VALUES(?, ?, ?)");
    if (!st) return;
    sqlite3_bind_int64(st, 1, getpid());
    sqlite3_bind_text(st, 2, func, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, args.data(), static_cast<int>(args.size()), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
}

std::optional<Fault> Store::take_fault(const char *func) {
    sqlite3_stmt *st =
        stmt("SELECT remaining, ret, err, set_error, code, object, message, skip FROM faults WHERE func = ?");
    if (!st) return std::nullopt;
    sqlite3_bind_text(st, 1, func, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_ROW) {
        sqlite3_reset(st);
        return std::nullopt;
    }
    if (sqlite3_column_int64(st, 7) > 0) {
        // Not this call yet: a later one fails.
        sqlite3_reset(st);
        sqlite3_stmt *up = stmt("UPDATE faults SET skip = skip - 1 WHERE func = ?");
        if (up) {
            sqlite3_bind_text(up, 1, func, -1, SQLITE_TRANSIENT);
            sqlite3_step(up);
            sqlite3_reset(up);
        }
        return std::nullopt;
    }
    Fault f;
    int64_t remaining = sqlite3_column_int64(st, 0);
    f.ret = sqlite3_column_int(st, 1);
    f.err = sqlite3_column_int(st, 2);
    f.set_error = sqlite3_column_int(st, 3) != 0;
    f.code = sqlite3_column_int(st, 4);
    const void *obj = sqlite3_column_blob(st, 5);
    int obj_len = sqlite3_column_bytes(st, 5);
    if (obj && obj_len > 0)
        memcpy(f.object, obj, static_cast<size_t>(obj_len) < sizeof f.object ? obj_len : sizeof f.object);
    const unsigned char *msg = sqlite3_column_text(st, 6);
    if (msg) f.message = reinterpret_cast<const char *>(msg);
    sqlite3_reset(st);

    if (remaining > 1) {
        sqlite3_stmt *up = stmt("UPDATE faults SET remaining = remaining - 1 WHERE func = ?");
        if (up) {
            sqlite3_bind_text(up, 1, func, -1, SQLITE_TRANSIENT);
            sqlite3_step(up);
            sqlite3_reset(up);
        }
    } else if (remaining >= 0) {
        sqlite3_stmt *del = stmt("DELETE FROM faults WHERE func = ?");
        if (del) {
            sqlite3_bind_text(del, 1, func, -1, SQLITE_TRANSIENT);
            sqlite3_step(del);
            sqlite3_reset(del);
        }
        if (remaining == 0) return std::nullopt;  // spent
    }
    return f;
}

std::optional<Fault> enter(const char *func, const std::string &args) {
    Session s;
    if (!s) return std::nullopt;
    std::optional<Fault> fault;
    s->transaction([&] {
        s->record_call(func, args);
        fault = s->take_fault(func);
        return true;
    });
    return fault;
}

std::optional<int64_t> kv_get(Store &s, const char *key) {
    sqlite3_stmt *st = s.stmt("SELECT value FROM kv WHERE key = ?");
    if (!st) return std::nullopt;
    sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
    std::optional<int64_t> v;
    if (sqlite3_step(st) == SQLITE_ROW) v = sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
    return v;
}

bool kv_set(Store &s, const char *key, int64_t value) {
    sqlite3_stmt *st = s.stmt("INSERT OR REPLACE INTO kv(key, value) VALUES(?, ?)");
    if (!st) return false;
    sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, value);
    bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
}

std::optional<int> forced_count(const char *func) {
    Session s;
    if (!s) return std::nullopt;
    std::optional<int64_t> v = kv_get(*s, forced_count_key(func).c_str());
    if (!v) return std::nullopt;
    return static_cast<int>(*v);
}

}  // namespace standin
