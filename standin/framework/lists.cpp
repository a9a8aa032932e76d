// The kernel-enforced lists: netctl programs and packages per user, ppro and pblk, kept
// in the state store in insertion order. The "kernel" is a command log that tests and
// lumek-standin read back. Records are handed out in the framework's fixed layouts; a
// text that fills its field is copied without a terminator, as the framework does.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "standin_internal.h"

using standin::Session;

namespace {

constexpr const char kReadonlyPproFlag[] = "ppro_readonly";
constexpr size_t kHashLen = 16;  // hex digits of a path hash
constexpr size_t kWordLen = 8;   // the "add"/"del" word buffer
constexpr int kCmdNetctlAdd = 1, kCmdNetctlDel = 2;
constexpr int kCmdPproAdd = 9, kCmdPproDel = 10, kCmdPproProc2 = 11, kCmdPproProc1 = 12;
constexpr int kCmdPblkAdd = 20, kCmdPblkDel = 21;

using standin::Binder;
using standin::column_text;
using standin::put_text;
using standin::select_rows;

void bind_text(sqlite3_stmt *st, int i, const char *text) {
    sqlite3_bind_text(st, i, text, -1, SQLITE_TRANSIENT);
}

// A malloc'd array of the rows, or NULL (count 0) when there are none.
template <typename Rec>
Rec *to_records(const std::vector<Rec> &rows, int *count) {
    *count = static_cast<int>(rows.size());
    if (rows.empty()) return nullptr;
    auto *arr = static_cast<Rec *>(malloc(rows.size() * sizeof(Rec)));
    if (!arr) {
        *count = 0;
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(static_cast<void *>(arr), rows.data(), rows.size() * sizeof(Rec));
    return arr;
}

template <typename Rec>
Rec *first_record(const std::vector<Rec> &rows) {
    if (rows.empty()) return nullptr;
    auto *r = static_cast<Rec *>(malloc(sizeof(Rec)));
    if (r) memcpy(static_cast<void *>(r), &rows[0], sizeof(Rec));
    return r;
}

// FNV-1a over the key, as 16 hex digits in a malloc'd text.
void *make_hash(const std::string &key) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : key) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char *out = static_cast<char *>(malloc(kHashLen + 1));
    if (out) snprintf(out, kHashLen + 1, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

std::string netctl_hash_key(const char *path, uint32_t uid) {
    return std::string(path) + '\0' + std::to_string(uid);
}

int record_kernel(const char *list, int command, const std::string &data, int64_t value) {
    return standin::change_row(
        "INSERT INTO kernel(list, command, data, value) VALUES(?, ?, ?, ?)",
        [&](sqlite3_stmt *st) {
            bind_text(st, 1, list);
            sqlite3_bind_int(st, 2, command);
            sqlite3_bind_text(st, 3, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 4, value);
        },
        false);
}

std::string hash_text(const void *hash) {
    return std::string(static_cast<const char *>(hash), strnlen(static_cast<const char *>(hash), kHashLen));
}

bool valid_text(const char *text) {
    return text && *text;
}

bool valid_choice(int v) {
    return v == 1 || v == 2;
}

int invalid() {
    errno = EINVAL;
    return -1;
}

std::string u(uint32_t v) {
    return std::to_string(v);
}
std::string i(int v) {
    return std::to_string(v);
}

// ---- netctl ------------------------------------------------------------------------------

std::vector<NetctlRecord> netctl_rows(uint32_t uid, const char *path) {
    std::vector<NetctlRecord> rows;
    select_rows(
        path ? "SELECT path, mode FROM netctl WHERE uid = ? AND path = ?"
             : "SELECT path, mode FROM netctl WHERE uid = ? ORDER BY rowid",
        [&](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, uid);
            if (path) bind_text(st, 2, path);
        },
        [&](sqlite3_stmt *st) {
            NetctlRecord r{};
            put_text(r.path, sizeof r.path, column_text(st, 0));
            r.mode = sqlite3_column_int(st, 1);
            rows.push_back(r);
        });
    return rows;
}

std::vector<NetctlPkgRecord> netctl_pkg_rows(uint32_t uid, const char *pkg) {
    std::vector<NetctlPkgRecord> rows;
    select_rows(
        pkg ? "SELECT pkg, mode FROM netctl_pkg WHERE uid = ? AND pkg = ?"
            : "SELECT pkg, mode FROM netctl_pkg WHERE uid = ? ORDER BY rowid",
        [&](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, uid);
            if (pkg) bind_text(st, 2, pkg);
        },
        [&](sqlite3_stmt *st) {
            NetctlPkgRecord r{};
            put_text(r.name, sizeof r.name, column_text(st, 0));
            r.mode = sqlite3_column_int(st, 1);
            rows.push_back(r);
        });
    return rows;
}

int netctl_store(const char *func, bool update, uint32_t uid, const char *path, int mode, const char *name,
                 int a, int b) {
    if (auto f = standin::enter(
            func, standin::args({u(uid), standin::quote(path), i(mode), standin::quote(name), i(a), i(b)})))
        return standin::fault_result(*f);
    if (!valid_text(path) || !valid_choice(mode) || !name) return invalid();
    return standin::change_row(
        update ? "UPDATE netctl SET mode = ?3, name = ?4 WHERE uid = ?1 AND path = ?2"
               : "INSERT INTO netctl(uid, path, mode, name) VALUES(?1, ?2, ?3, ?4)",
        [&](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, uid);
            bind_text(st, 2, path);
            sqlite3_bind_int(st, 3, mode);
            bind_text(st, 4, name);
        },
        update);
}

int netctl_pkg_store(const char *func, bool update, uint32_t uid, const char *pkg, int mode, const char *name,
                     int a, int b) {
    if (auto f = standin::enter(
            func, standin::args({u(uid), standin::quote(pkg), i(mode), standin::quote(name), i(a), i(b)})))
        return standin::fault_result(*f);
    // An empty package name is the caller's business; only NULL is refused.
    if (!pkg || !valid_choice(mode)) return invalid();
    return standin::change_row(
        update ? "UPDATE netctl_pkg SET mode = ?3 WHERE uid = ?1 AND pkg = ?2"
               : "INSERT INTO netctl_pkg(uid, pkg, mode) VALUES(?1, ?2, ?3)",
        [&](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, uid);
            bind_text(st, 2, pkg);
            sqlite3_bind_int(st, 3, mode);
        },
        update);
}

// ---- ppro and pblk ------------------------------------------------------------------------

std::vector<PproRecord> ppro_rows(const char *path) {
    std::vector<PproRecord> rows;
    select_rows(
        path ? "SELECT path, type FROM ppro WHERE path = ?" : "SELECT path, type FROM ppro ORDER BY rowid",
        [&](sqlite3_stmt *st) {
            if (path) bind_text(st, 1, path);
        },
        [&](sqlite3_stmt *st) {
            PproRecord r{};
            put_text(r.path, sizeof r.path, column_text(st, 0));
            r.type = sqlite3_column_int(st, 1);
            rows.push_back(r);
        });
    return rows;
}

int ppro_store(const char *func, bool update, const char *path, int type) {
    if (auto f = standin::enter(func, standin::args({standin::quote(path), i(type)})))
        return standin::fault_result(*f);
    if (!valid_text(path) || !valid_choice(type)) return invalid();
    return standin::change_row(
        update ? "UPDATE ppro SET type = ?2 WHERE path = ?1" : "INSERT INTO ppro(path, type) VALUES(?1, ?2)",
        [&](sqlite3_stmt *st) {
            bind_text(st, 1, path);
            sqlite3_bind_int(st, 2, type);
        },
        update);
}

std::vector<PblkRecord> pblk_rows(const char *path) {
    std::vector<PblkRecord> rows;
    select_rows(
        path ? "SELECT path FROM pblk WHERE path = ?" : "SELECT path FROM pblk ORDER BY rowid",
        [&](sqlite3_stmt *st) {
            if (path) bind_text(st, 1, path);
        },
        [&](sqlite3_stmt *st) {
            PblkRecord r{};
            put_text(r.path, sizeof r.path, column_text(st, 0));
            rows.push_back(r);
        });
    return rows;
}

int remove_by(const char *func, const char *sql, const char *path) {
    if (auto f = standin::enter(func, standin::quote(path))) return standin::fault_result(*f);
    if (!valid_text(path)) return invalid();
    return standin::change_row(
        sql, [&](sqlite3_stmt *st) { bind_text(st, 1, path); }, true);
}

// A pointer-returning call: NULL on a fault.
template <typename Fn>
auto lookup(const char *func, const std::string &args, Fn &&fn) -> decltype(fn()) {
    if (auto f = standin::enter(func, args)) {
        standin::apply_fault(*f);
        return nullptr;
    }
    return fn();
}

// A read-all: NULL on a fault, which leaves its ret in the count.
template <typename Fn>
auto read_all(const char *func, const std::string &args, int *count, Fn &&fn) -> decltype(fn()) {
    if (auto f = standin::enter(func, args)) {
        standin::apply_fault(*f);
        if (count) *count = f->ret;
        return nullptr;
    }
    if (!count) {
        errno = EINVAL;
        return nullptr;
    }
    return standin::apply_forced_count(func, fn(), count);
}

// The first process whose program is @path (compared after resolving links), else 0.
int pid_by_path(const char *path) {
    char want[PATH_MAX];
    if (!path || !realpath(path, want)) return 0;
    DIR *d = opendir("/proc");
    if (!d) return 0;
    int found = 0;
    while (struct dirent *e = readdir(d)) {
        char *end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        char link[64], target[PATH_MAX];
        snprintf(link, sizeof link, "/proc/%ld/exe", pid);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (strcmp(target, want) == 0) {
            found = static_cast<int>(pid);
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

extern "C" {

NetctlRecord *lumek_netctl_read_node_with_uid(uint32_t uid, const char *path) {
    return standin::guarded<NetctlRecord *>(nullptr, [&] {
        return lookup(
            "lumek_netctl_read_node_with_uid", standin::args({u(uid), standin::quote(path)}),
            [&]() -> NetctlRecord * { return path ? first_record(netctl_rows(uid, path)) : nullptr; });
    });
}

int lumek_netctl_add(uint32_t uid, const char *path, int mode, const char *name, int a, int b) {
    return standin::guarded(
        -1, [&] { return netctl_store("lumek_netctl_add", false, uid, path, mode, name, a, b); });
}

int lumek_netctl_update(uint32_t uid, const char *path, int mode, const char *name, int a, int b) {
    return standin::guarded(
        -1, [&] { return netctl_store("lumek_netctl_update", true, uid, path, mode, name, a, b); });
}

int lumek_netctl_remove(uint32_t uid, const char *path) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_netctl_remove", standin::args({u(uid), standin::quote(path)})))
            return standin::fault_result(*f);
        if (!valid_text(path)) return invalid();
        return standin::change_row(
            "DELETE FROM netctl WHERE uid = ? AND path = ?",
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, uid);
                bind_text(st, 2, path);
            },
            true);
    });
}

void *lumek_netctl_get_path_hash(const char *path, uint32_t uid) {
    return standin::guarded<void *>(nullptr, [&] {
        return lookup("lumek_netctl_get_path_hash", standin::args({standin::quote(path), u(uid)}),
                      [&]() -> void * { return path ? make_hash(netctl_hash_key(path, uid)) : nullptr; });
    });
}

int lumek_netctl_communicate_with_kernel(int command, void *hash, int mode) {
    return standin::guarded(-1, [&]() -> int {
        std::string h = hash ? hash_text(hash) : std::string();
        if (auto f = standin::enter(
                "lumek_netctl_communicate_with_kernel",
                standin::args({i(command), hash ? standin::quote(h.c_str()) : "NULL", i(mode)})))
            return standin::fault_result(*f);
        if ((command != kCmdNetctlAdd && command != kCmdNetctlDel) || !hash || !valid_choice(mode))
            return invalid();
        return record_kernel("netctl", command, h, mode);
    });
}

NetctlRecord *lumek_netctl_read_all_data_with_uid(uint32_t uid, int *count) {
    return standin::guarded<NetctlRecord *>(nullptr, [&] {
        return read_all("lumek_netctl_read_all_data_with_uid", standin::args({u(uid), count ? "&n" : "NULL"}),
                        count, [&] { return to_records(netctl_rows(uid, nullptr), count); });
    });
}

NetctlPkgRecord *lumek_netctl_pkg_read_node_with_uid(uint32_t uid, const char *pkg) {
    return standin::guarded<NetctlPkgRecord *>(nullptr, [&] {
        return lookup(
            "lumek_netctl_pkg_read_node_with_uid", standin::args({u(uid), standin::quote(pkg)}),
            [&]() -> NetctlPkgRecord * { return pkg ? first_record(netctl_pkg_rows(uid, pkg)) : nullptr; });
    });
}

int lumek_netctl_pkg_add(uint32_t uid, const char *pkg, int mode, const char *name, int a, int b) {
    return standin::guarded(
        -1, [&] { return netctl_pkg_store("lumek_netctl_pkg_add", false, uid, pkg, mode, name, a, b); });
}

int lumek_netctl_pkg_update(uint32_t uid, const char *pkg, int mode, const char *name, int a, int b) {
    return standin::guarded(
        -1, [&] { return netctl_pkg_store("lumek_netctl_pkg_update", true, uid, pkg, mode, name, a, b); });
}

int lumek_netctl_pkg_remove(uint32_t uid, const char *pkg) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_netctl_pkg_remove", standin::args({u(uid), standin::quote(pkg)})))
            return standin::fault_result(*f);
        if (!pkg) return invalid();
        return standin::change_row(
            "DELETE FROM netctl_pkg WHERE uid = ? AND pkg = ?",
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, uid);
                bind_text(st, 2, pkg);
            },
            true);
    });
}

NetctlPkgRecord *lumek_netctl_pkg_read_all_data_with_uid(uint32_t uid, int *count) {
    return standin::guarded<NetctlPkgRecord *>(nullptr, [&] {
        return read_all("lumek_netctl_pkg_read_all_data_with_uid",
                        standin::args({u(uid), count ? "&n" : "NULL"}), count,
                        [&] { return to_records(netctl_pkg_rows(uid, nullptr), count); });
    });
}

PproRecord *lumek_ppro_read_node_with_path(const char *path) {
    return standin::guarded<PproRecord *>(nullptr, [&] {
        return lookup("lumek_ppro_read_node_with_path", standin::quote(path),
                      [&]() -> PproRecord * { return path ? first_record(ppro_rows(path)) : nullptr; });
    });
}

int lumek_ppro_add(const char *path, int type) {
    return standin::guarded(-1, [&] { return ppro_store("lumek_ppro_add", false, path, type); });
}

int lumek_ppro_update(const char *path, int type) {
    return standin::guarded(-1, [&] { return ppro_store("lumek_ppro_update", true, path, type); });
}

int lumek_ppro_remove(const char *path) {
    return standin::guarded(
        -1, [&] { return remove_by("lumek_ppro_remove", "DELETE FROM ppro WHERE path = ?", path); });
}

void *lumek_ppro_get_path_hash(const char *path) {
    return standin::guarded<void *>(nullptr, [&] {
        return lookup("lumek_ppro_get_path_hash", standin::quote(path),
                      [&]() -> void * { return path ? make_hash(path) : nullptr; });
    });
}

int lumek_ppro_communicate_with_kernel(int command, void *data, int value) {
    return standin::guarded(-1, [&]() -> int {
        bool proc = command == kCmdPproProc2 || command == kCmdPproProc1;
        std::string d;
        if (data)
            d = proc ? std::string(static_cast<const char *>(data),
                                   strnlen(static_cast<const char *>(data), kWordLen))
                     : hash_text(data);
        if (auto f = standin::enter(
                "lumek_ppro_communicate_with_kernel",
                standin::args({i(command), data ? standin::quote(d.c_str()) : "NULL", i(value)})))
            return standin::fault_result(*f);
        if (!data) return invalid();
        if (proc) {
            if ((d != "add" && d != "del") || value <= 0) return invalid();
        } else if ((command != kCmdPproAdd && command != kCmdPproDel) || !valid_choice(value)) {
            return invalid();
        }
        return record_kernel("ppro", command, d, value);
    });
}

int lumek_get_pid_by_path(const char *path) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_get_pid_by_path", standin::quote(path)))
            return standin::fault_result(*f);
        return pid_by_path(path);
    });
}

int lumek_check_readonly_ppro_support(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_check_readonly_ppro_support", ""))
            return standin::fault_result(*f);
        Session s;
        if (!s) return -1;
        auto v = standin::kv_get(*s, kReadonlyPproFlag);
        return v ? static_cast<int>(*v) : 1;
    });
}

PproRecord *lumek_ppro_read_all_data(int *count) {
    return standin::guarded<PproRecord *>(nullptr, [&] {
        return read_all("lumek_ppro_read_all_data", count ? "&n" : "NULL", count,
                        [&] { return to_records(ppro_rows(nullptr), count); });
    });
}

PblkRecord *lumek_pblk_read_node_with_path(const char *path) {
    return standin::guarded<PblkRecord *>(nullptr, [&] {
        return lookup("lumek_pblk_read_node_with_path", standin::quote(path),
                      [&]() -> PblkRecord * { return path ? first_record(pblk_rows(path)) : nullptr; });
    });
}

int lumek_pblk_add(const char *path) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_pblk_add", standin::quote(path))) return standin::fault_result(*f);
        if (!valid_text(path)) return invalid();
        return standin::change_row(
            "INSERT INTO pblk(path) VALUES(?)", [&](sqlite3_stmt *st) { bind_text(st, 1, path); }, false);
    });
}

int lumek_pblk_remove(const char *path) {
    return standin::guarded(
        -1, [&] { return remove_by("lumek_pblk_remove", "DELETE FROM pblk WHERE path = ?", path); });
}

void *lumek_pblk_get_path_hash(const char *path) {
    return standin::guarded<void *>(nullptr, [&] {
        return lookup("lumek_pblk_get_path_hash", standin::quote(path),
                      [&]() -> void * { return path ? make_hash(path) : nullptr; });
    });
}

int lumek_pblk_communicate_with_kernel(int command, void *hash) {
    return standin::guarded(-1, [&]() -> int {
        std::string h = hash ? hash_text(hash) : std::string();
        if (auto f = standin::enter("lumek_pblk_communicate_with_kernel",
                                    standin::args({i(command), hash ? standin::quote(h.c_str()) : "NULL"})))
            return standin::fault_result(*f);
        if ((command != kCmdPblkAdd && command != kCmdPblkDel) || !hash) return invalid();
        return record_kernel("pblk", command, h, 0);
    });
}

PblkRecord *lumek_pblk_read_all_data(int *count) {
    return standin::guarded<PblkRecord *>(nullptr, [&] {
        return read_all("lumek_pblk_read_all_data", count ? "&n" : "NULL", count,
                        [&] { return to_records(pblk_rows(nullptr), count); });
    });
}

}  // extern "C"
