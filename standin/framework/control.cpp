// Inspection and fault injection for tests and the lumek-standin command. Nothing here is
// recorded in the call log.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "standin_control.h"
#include "memdb_internal.h"
#include "standin_internal.h"

using standin::Session;

char **standin::lines_to_array(const std::vector<std::string> &lines, int *count) {
    char **arr = static_cast<char **>(calloc(lines.size() + 1, sizeof(char *)));
    if (!arr) return nullptr;
    for (size_t i = 0; i < lines.size(); ++i) {
        arr[i] = strdup(lines[i].c_str());
        if (!arr[i]) {
            lumek_standin_free_lines(arr, static_cast<int>(i));
            return nullptr;
        }
    }
    if (count) *count = static_cast<int>(lines.size());
    return arr;
}

namespace {

std::string key_of(const char *path) {
    auto abs = standin::clean_absolute(path);
    return abs ? *abs : std::string(path);
}

char *select_text(const char *sql, const std::string &key, int sm, bool with_sm) {
    Session s;
    if (!s) return nullptr;
    sqlite3_stmt *st = s->stmt(sql);
    if (!st) return nullptr;
    sqlite3_bind_text(st, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (with_sm) sqlite3_bind_int(st, 2, sm ? 1 : 0);
    char *out = nullptr;
    if (sqlite3_step(st) == SQLITE_ROW) {
        const unsigned char *t = sqlite3_column_text(st, 0);
        out = strdup(t ? reinterpret_cast<const char *>(t) : "");
    }
    sqlite3_reset(st);
    return out;
}

bool exec_simple(const char *sql, const std::function<void(sqlite3_stmt *)> &bind) {
    Session s;
    if (!s) return false;
    sqlite3_stmt *st = s->stmt(sql);
    if (!st) return false;
    bind(st);
    bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
}

}  // namespace

extern "C" {

char *lumek_standin_state_dir(void) {
    return standin::guarded<char *>(nullptr, [] { return strdup(standin::state_dir().c_str()); });
}

int lumek_standin_reset(void) {
    return standin::guarded(-1, []() -> int {
        Session s;
        if (!s) return -1;
        bool ok = s->transaction([&] {
            return sqlite3_exec(
                       s->db(),
                       "DELETE FROM kv; DELETE FROM func_status; DELETE FROM conf;"
                       "DELETE FROM exectl; DELETE FROM protect; DELETE FROM kmod; DELETE FROM texts;"
                       "DELETE FROM calls; DELETE FROM faults;"
                       "DELETE FROM netctl; DELETE FROM netctl_pkg; DELETE FROM ppro;"
                       "DELETE FROM pblk; DELETE FROM kernel; DELETE FROM udeb;"
                       "DELETE FROM kid_info; DELETE FROM kid_res; DELETE FROM kid_priv;"
                       "DELETE FROM kid_netctl; DELETE FROM kid_file; DELETE FROM kid_pid;",
                       nullptr, nullptr, nullptr) == SQLITE_OK &&
                   standin::memdb_reset(*s);
        });
        std::string log = s->dir() + "/" + standin::kLogFile;
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
        return ok && fd >= 0 ? 0 : -1;
    });
}

char *lumek_standin_label(const char *path) {
    if (!path) return nullptr;
    return standin::guarded<char *>(nullptr, [&] {
        return select_text("SELECT label FROM exectl WHERE path = ?", key_of(path), 0, false);
    });
}

char *lumek_standin_protection(const char *path, int sm) {
    if (!path) return nullptr;
    return standin::guarded<char *>(nullptr, [&] {
        return select_text("SELECT protect FROM protect WHERE path = ? AND sm = ?", key_of(path), sm, true);
    });
}

int lumek_standin_set_label(const char *path, const char *label) {
    if (!path || !label) return -1;
    return standin::guarded(-1, [&] {
        std::string key = key_of(path);
        return exec_simple("INSERT OR REPLACE INTO exectl(path, label) VALUES(?, ?)",
                           [&](sqlite3_stmt *st) {
                               sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_text(st, 2, label, -1, SQLITE_TRANSIENT);
                           })
                   ? 0
                   : -1;
    });
}

int lumek_standin_kmod_protected(const char *name, int sm) {
    if (!name) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = s->stmt("SELECT 1 FROM kmod WHERE name = ? AND sm = ?");
        if (!st) return -1;
        sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, sm ? 1 : 0);
        int found = sqlite3_step(st) == SQLITE_ROW ? 1 : 0;
        sqlite3_reset(st);
        return found;
    });
}

int64_t lumek_standin_get_flag(const char *role, int64_t fallback) {
    if (!role) return fallback;
    return standin::guarded<int64_t>(fallback, [&]() -> int64_t {
        Session s;
        if (!s) return fallback;
        auto v = standin::kv_get(*s, role);
        return v ? *v : fallback;
    });
}

int lumek_standin_set_flag(const char *role, int64_t value) {
    if (!role) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        return s && standin::kv_set(*s, role, value) ? 0 : -1;
    });
}

int lumek_standin_conf_value(const char *key, int *value) {
    if (!key || !value) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = s->stmt("SELECT value FROM conf WHERE key = ?");
        if (!st) return -1;
        sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
        int rc = -1;
        if (sqlite3_step(st) == SQLITE_ROW) {
            *value = sqlite3_column_int(st, 0);
            rc = 0;
        }
        sqlite3_reset(st);
        return rc;
    });
}

char **lumek_standin_calls(const char *func, int *count) {
    return standin::guarded<char **>(nullptr, [&]() -> char ** {
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = func ? s->stmt("SELECT func, args FROM calls WHERE func = ? ORDER BY seq")
                                : s->stmt("SELECT func, args FROM calls ORDER BY seq");
        if (!st) return nullptr;
        if (func) sqlite3_bind_text(st, 1, func, -1, SQLITE_TRANSIENT);
        std::vector<std::string> lines;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const char *f = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            const char *a = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
            lines.push_back(std::string(f ? f : "") + "(" + (a ? a : "") + ")");
        }
        sqlite3_reset(st);
        return standin::lines_to_array(lines, count);
    });
}

int lumek_standin_call_count(const char *func) {
    return standin::guarded(-1, [&]() -> int {
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = func ? s->stmt("SELECT count(*) FROM calls WHERE func = ?")
                                : s->stmt("SELECT count(*) FROM calls");
        if (!st) return -1;
        if (func) sqlite3_bind_text(st, 1, func, -1, SQLITE_TRANSIENT);
        int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_reset(st);
        return n;
    });
}

char **lumek_standin_log_lines(int *count) {
    return standin::guarded<char **>(nullptr, [&]() -> char ** {
        std::string path = standin::state_dir() + "/" + standin::kLogFile;
        std::vector<std::string> lines;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            std::string all;
            char buf[65536];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
            close(fd);
            size_t pos = 0;
            while (pos < all.size()) {
                size_t nl = all.find('\n', pos);
                if (nl == std::string::npos) nl = all.size();
                lines.push_back(all.substr(pos, nl - pos));
                pos = nl + 1;
            }
        }
        return standin::lines_to_array(lines, count);
    });
}

int lumek_standin_fault_set(const char *func, const LumekStandinFault *fault) {
    if (!func || !*func || !fault || fault->times == 0 || fault->times < -1) return -1;
    return standin::guarded(-1, [&]() -> int {
        std::string message(fault->message, strnlen(fault->message, sizeof fault->message));
        return exec_simple(
                   "INSERT OR REPLACE INTO faults(func, remaining, ret, err, set_error, code,"
                   " object, message) VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
                   [&](sqlite3_stmt *st) {
                       sqlite3_bind_text(st, 1, func, -1, SQLITE_TRANSIENT);
                       sqlite3_bind_int(st, 2, fault->times);
                       sqlite3_bind_int(st, 3, fault->ret);
                       sqlite3_bind_int(st, 4, fault->err);
                       sqlite3_bind_int(st, 5, fault->set_error ? 1 : 0);
                       sqlite3_bind_int(st, 6, fault->code);
                       sqlite3_bind_blob(st, 7, fault->object, sizeof fault->object, SQLITE_TRANSIENT);
                       sqlite3_bind_text(st, 8, message.c_str(), -1, SQLITE_TRANSIENT);
                   })
                   ? 0
                   : -1;
    });
}

int lumek_standin_fault_skip(const char *func, int calls) {
    if (!func || calls < 0) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        sqlite3_stmt *st = s ? s->stmt("UPDATE faults SET skip = ? WHERE func = ?") : nullptr;
        if (!st) return -1;
        sqlite3_bind_int(st, 1, calls);
        sqlite3_bind_text(st, 2, func, -1, SQLITE_TRANSIENT);
        int rc = sqlite3_step(st);
        sqlite3_reset(st);
        return rc == SQLITE_DONE && sqlite3_changes(s->db()) == 1 ? 0 : -1;
    });
}

int lumek_standin_count_set(const char *func, int count) {
    if (!func || !*func) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        return s && standin::kv_set(*s, standin::forced_count_key(func).c_str(), count) ? 0 : -1;
    });
}

int lumek_standin_fault_clear(const char *func) {
    return standin::guarded(-1, [&]() -> int {
        if (!func) {
            Session s;
            return s && sqlite3_exec(s->db(), "DELETE FROM faults", nullptr, nullptr, nullptr) == SQLITE_OK
                       ? 0
                       : -1;
        }
        return exec_simple("DELETE FROM faults WHERE func = ?",
                           [&](sqlite3_stmt *st) { sqlite3_bind_text(st, 1, func, -1, SQLITE_TRANSIENT); })
                   ? 0
                   : -1;
    });
}

void lumek_standin_free_lines(char **lines, int count) {
    if (!lines) return;
    for (int i = 0; i < count; ++i) free(lines[i]);
    free(lines);
}

}  // extern "C"

namespace {

char *column_copy(sqlite3_stmt *st, int col) {
    const unsigned char *t = sqlite3_column_text(st, col);
    return t ? strdup(reinterpret_cast<const char *>(t)) : nullptr;
}

void free_entry_texts(LumekStandinEntry &e) {
    free(e.path);
    free(e.label);
    free(e.protect);
}

}  // namespace

extern "C" {

LumekStandinEntry *lumek_standin_entries(int sm, int *count) {
    return standin::guarded<LumekStandinEntry *>(nullptr, [&]() -> LumekStandinEntry * {
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = s->stmt(
            "SELECT p.path, e.label, pr.protect FROM"
            " (SELECT path FROM exectl UNION SELECT path FROM protect WHERE sm = ?1) p"
            " LEFT JOIN exectl e ON e.path = p.path"
            " LEFT JOIN protect pr ON pr.path = p.path AND pr.sm = ?1 ORDER BY p.path");
        if (!st) return nullptr;
        sqlite3_bind_int(st, 1, sm ? 1 : 0);
        std::vector<LumekStandinEntry> rows;
        bool ok = true;
        while (ok && sqlite3_step(st) == SQLITE_ROW) {
            LumekStandinEntry e{column_copy(st, 0), column_copy(st, 1), column_copy(st, 2), -1};
            ok = e.path != nullptr;
            rows.push_back(e);
        }
        sqlite3_reset(st);
        auto *out = static_cast<LumekStandinEntry *>(calloc(rows.size() + 1, sizeof(LumekStandinEntry)));
        if (!ok || !out) {
            free(out);
            for (auto &e : rows) free_entry_texts(e);
            return nullptr;
        }
        for (size_t i = 0; i < rows.size(); ++i) {
            out[i] = rows[i];
            out[i].file_type = standin::classify_path(out[i].path);
        }
        if (count) *count = static_cast<int>(rows.size());
        return out;
    });
}

void lumek_standin_free_entries(LumekStandinEntry *entries, int count) {
    if (!entries) return;
    for (int i = 0; i < count; ++i) free_entry_texts(entries[i]);
    free(entries);
}

int lumek_standin_set_protection(const char *path, const char *text, int sm) {
    if (!path || !text) return -1;
    return standin::guarded(-1, [&] {
        std::string key = key_of(path);
        return exec_simple("INSERT OR REPLACE INTO protect(path, sm, protect) VALUES(?, ?, ?)",
                           [&](sqlite3_stmt *st) {
                               sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
                               sqlite3_bind_int(st, 2, sm ? 1 : 0);
                               sqlite3_bind_text(st, 3, text, -1, SQLITE_TRANSIENT);
                           })
                   ? 0
                   : -1;
    });
}

int lumek_standin_transaction(int (*fn)(void *ctx), void *ctx) {
    if (!fn) return -1;
    return standin::guarded(-1, [&]() -> int {
        Session s;
        if (!s) return -1;
        return s->transaction([&] { return fn(ctx) == 0; }) ? 0 : -1;
    });
}

char **lumek_standin_kmods(int sm, int *count) {
    return standin::guarded<char **>(nullptr, [&]() -> char ** {
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = s->stmt("SELECT name FROM kmod WHERE sm = ? ORDER BY name");
        if (!st) return nullptr;
        sqlite3_bind_int(st, 1, sm ? 1 : 0);
        std::vector<std::string> names;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char *t = sqlite3_column_text(st, 0);
            names.emplace_back(t ? reinterpret_cast<const char *>(t) : "");
        }
        sqlite3_reset(st);
        return standin::lines_to_array(names, count);
    });
}

char *lumek_standin_text(const char *key) {
    if (!key) return nullptr;
    return standin::guarded<char *>(
        nullptr, [&] { return select_text("SELECT value FROM texts WHERE key = ?", key, 0, false); });
}

int lumek_standin_set_text(const char *key, const char *text) {
    if (!key) return -1;
    return standin::guarded(-1, [&] {
        const char *sql = text ? "INSERT OR REPLACE INTO texts(key, value) VALUES(?, ?)"
                               : "DELETE FROM texts WHERE key = ?";
        return exec_simple(sql,
                           [&](sqlite3_stmt *st) {
                               sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
                               if (text) sqlite3_bind_text(st, 2, text, -1, SQLITE_TRANSIENT);
                           })
                   ? 0
                   : -1;
    });
}

}  // extern "C"
