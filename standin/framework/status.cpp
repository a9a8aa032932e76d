// Framework status, feature switches, configuration and the caller's roles.
#include <errno.h>

#include <string>

#include "standin_internal.h"

using standin::Session;

namespace {

constexpr const char kStatusKey[] = "status";
constexpr const char kSecadmKey[] = "secadm";
constexpr const char kAuditadmKey[] = "auditadm";

int read_flag(const char *key, int fallback) {
    return standin::guarded(-1, [&]() -> int {
        Session s;
        if (!s) return -1;
        auto v = standin::kv_get(*s, key);
        return v ? static_cast<int>(*v) : fallback;
    });
}

}  // namespace

extern "C" {

int lumek_getstatus(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_getstatus", "")) return standin::fault_result(*f);
        return read_flag(kStatusKey, 1);
    });
}

int lumek_setstatus(int status) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_setstatus", std::to_string(status)))
            return standin::fault_result(*f);
        Session s;
        if (!s || !standin::kv_set(*s, kStatusKey, status)) return -1;
        return 0;
    });
}

int lumek_get_func_status(int func) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_get_func_status", std::to_string(func)))
            return standin::fault_result(*f);
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = s->stmt("SELECT value FROM func_status WHERE func = ?");
        if (!st) return -1;
        sqlite3_bind_int(st, 1, func);
        int v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : 0;
        sqlite3_reset(st);
        return v;
    });
}

int lumek_set_func_status(int func, int value) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_set_func_status",
                                    standin::args({std::to_string(func), std::to_string(value)})))
            return standin::fault_result(*f);
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = s->stmt("INSERT OR REPLACE INTO func_status(func, value) VALUES(?, ?)");
        if (!st) return -1;
        sqlite3_bind_int(st, 1, func);
        sqlite3_bind_int(st, 2, value);
        int rc = sqlite3_step(st);
        sqlite3_reset(st);
        return rc == SQLITE_DONE ? 0 : -1;
    });
}

int lumek_conf_add(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_conf_add", "")) return standin::fault_result(*f);
        return 0;
    });
}

int lumek_conf_set(const char *key, int value) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f =
                standin::enter("lumek_conf_set", standin::args({standin::quote(key), std::to_string(value)})))
            return standin::fault_result(*f);
        if (!key || !*key) {
            errno = EINVAL;
            return -1;
        }
        Session s;
        if (!s) return -1;
        sqlite3_stmt *st = s->stmt("INSERT OR REPLACE INTO conf(key, value) VALUES(?, ?)");
        if (!st) return -1;
        sqlite3_bind_text(st, 1, key, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 2, value);
        int rc = sqlite3_step(st);
        sqlite3_reset(st);
        return rc == SQLITE_DONE ? 0 : -1;
    });
}

int is_secadm(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("is_secadm", "")) return standin::fault_result(*f);
        return read_flag(kSecadmKey, 1);
    });
}

int is_auditadm(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("is_auditadm", "")) return standin::fault_result(*f);
        return read_flag(kAuditadmKey, 1);
    });
}

}  // extern "C"
