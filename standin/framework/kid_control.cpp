// Fixtures and inspection of the application identities; nothing here is logged.
#include <string.h>

#include <functional>
#include <string>

#include "standin_control.h"
#include "standin_internal.h"

using standin::Session;

namespace {

std::string key_of(const char *path) {
    auto abs = standin::clean_absolute(path);
    return abs ? *abs : std::string(path);
}

int exec_one(const char *sql, const standin::Binder &bind) {
    return standin::change_row(sql, bind, false);
}

}  // namespace

extern "C" {

char *lumek_standin_kid_of(const char *path) {
    if (!path) return nullptr;
    return standin::guarded<char *>(nullptr, [&]() -> char * {
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = s->stmt("SELECT kid FROM kid_file WHERE path = ?");
        if (!st) return nullptr;
        std::string key = key_of(path);
        sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        char *out = nullptr;
        if (sqlite3_step(st) == SQLITE_ROW)
            out = strdup(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_reset(st);
        return out;
    });
}

int lumek_standin_kid_set_path(const char *path, const char *kid_text) {
    if (!path) return -1;
    return standin::guarded(-1, [&] {
        std::string key = key_of(path);
        if (!kid_text)
            return exec_one("DELETE FROM kid_file WHERE path = ?", [&](sqlite3_stmt *st) {
                sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
            });
        return exec_one("INSERT OR REPLACE INTO kid_file(path, kid) VALUES(?, ?)", [&](sqlite3_stmt *st) {
            sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, kid_text, -1, SQLITE_TRANSIENT);
        });
    });
}

int lumek_standin_kid_set_pid(int pid, const char *kid_text) {
    return standin::guarded(-1, [&] {
        if (!kid_text)
            return exec_one("DELETE FROM kid_pid WHERE pid = ?",
                            [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, pid); });
        return exec_one("INSERT OR REPLACE INTO kid_pid(pid, kid) VALUES(?, ?)", [&](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, pid);
            sqlite3_bind_text(st, 2, kid_text, -1, SQLITE_TRANSIENT);
        });
    });
}

int lumek_standin_kid_add_info(uint32_t kid, const char *app_name, const char *pkg_name, uint32_t kid_type) {
    if (!app_name || !pkg_name) return -1;
    return standin::guarded(-1, [&] {
        return exec_one(
            "INSERT OR REPLACE INTO kid_info(kid, app_name, pkg_name, kid_type) VALUES(?, ?, ?, ?)",
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, kid);
                sqlite3_bind_text(st, 2, app_name, -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 3, pkg_name, -1, SQLITE_TRANSIENT);
                sqlite3_bind_int64(st, 4, kid_type);
            });
    });
}

int lumek_standin_kid_add_policy(uint32_t sub_kid, uint32_t obj_kid, uint32_t uid, uint32_t perm) {
    return standin::guarded(-1, [&] {
        return exec_one(
            "INSERT OR REPLACE INTO kid_priv(sub_kid, obj_kid, uid, perm, reserved) VALUES(?, ?, ?, ?, 0)",
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, sub_kid);
                sqlite3_bind_int64(st, 2, obj_kid);
                sqlite3_bind_int64(st, 3, uid);
                sqlite3_bind_int64(st, 4, perm);
            });
    });
}

int lumek_standin_kid_add_res(uint32_t kid, uint32_t res_type, const char *path, const char *app_name) {
    if (!path) return -1;
    return standin::guarded(-1, [&] {
        return exec_one("INSERT OR REPLACE INTO kid_res(path, kid, res_type, app_name) VALUES(?, ?, ?, ?)",
                        [&](sqlite3_stmt *st) {
                            sqlite3_bind_text(st, 1, path, -1, SQLITE_TRANSIENT);
                            sqlite3_bind_int64(st, 2, kid);
                            sqlite3_bind_int64(st, 3, res_type);
                            sqlite3_bind_text(st, 4, app_name ? app_name : "", -1, SQLITE_TRANSIENT);
                        });
    });
}

int lumek_standin_kid_add_netctl(uint32_t kid, uint32_t flag, const char *path) {
    if (!path) return -1;
    return standin::guarded(-1, [&] {
        return exec_one("INSERT OR REPLACE INTO kid_netctl(kid, flag, path) VALUES(?, ?, ?)",
                        [&](sqlite3_stmt *st) {
                            sqlite3_bind_int64(st, 1, kid);
                            sqlite3_bind_int64(st, 2, flag);
                            sqlite3_bind_text(st, 3, path, -1, SQLITE_TRANSIENT);
                        });
    });
}

}  // extern "C"
