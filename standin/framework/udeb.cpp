// The udeb list: (first, second) pairs of pointer-sized values, kept as numbers, one list
// for the plain operations and one for the _sm twins, plus a root-distinguish setting
// each. A read-all hands back a malloc'd array of the second values stored under a first.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "standin_internal.h"

using standin::Session;

namespace {

std::string name_of(const char *op, int sm) {
    return std::string("vorda_udeblist_") + op + (sm ? "_sm" : "");
}

std::string key_of(const char *what, int sm) {
    return std::string("udeb_") + what + (sm ? "_sm" : "");
}

int64_t num(void *p) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(p));
}

std::string hex(void *p) {
    char buf[32];
    snprintf(buf, sizeof buf, "%#llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

int create(int sm) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(name_of("create", sm).c_str(), "")) return standin::fault_result(*f);
        Session s;
        return s && standin::kv_set(*s, key_of("created", sm).c_str(), 1) ? 0 : -1;
    });
}

int pair_change(const char *op, int sm, void *first, void *second, bool add) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(name_of(op, sm).c_str(), standin::args({hex(first), hex(second)})))
            return standin::fault_result(*f);
        auto bind = [&](sqlite3_stmt *st) {
            sqlite3_bind_int(st, 1, sm);
            sqlite3_bind_int64(st, 2, num(first));
            sqlite3_bind_int64(st, 3, num(second));
        };
        return add ? standin::change_row("INSERT INTO udeb(sm, first, second) VALUES(?, ?, ?)", bind, false)
                   : standin::change_row("DELETE FROM udeb WHERE sm = ? AND first = ? AND second = ?", bind,
                                         true);
    });
}

int clear(int sm) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(name_of("clear", sm).c_str(), "")) return standin::fault_result(*f);
        return standin::change_row(
            "DELETE FROM udeb WHERE sm = ?", [&](sqlite3_stmt *st) { sqlite3_bind_int(st, 1, sm); }, false);
    });
}

int get_root(int sm) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(name_of("get_root_distinguish", sm).c_str(), ""))
            return standin::fault_result(*f);
        Session s;
        if (!s) return -1;
        auto v = standin::kv_get(*s, key_of("root", sm).c_str());
        return v ? static_cast<int>(*v) : 0;
    });
}

int set_root(int sm, int value) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(name_of("set_root_distinguish", sm).c_str(), std::to_string(value)))
            return standin::fault_result(*f);
        Session s;
        return s && standin::kv_set(*s, key_of("root", sm).c_str(), value) ? 0 : -1;
    });
}

void *read_all(int sm, void *first, int *count) {
    return standin::guarded<void *>(nullptr, [&]() -> void * {
        if (auto f = standin::enter(name_of("read_all_node_with_uid", sm).c_str(),
                                    standin::args({hex(first), count ? "&n" : "NULL"}))) {
            standin::apply_fault(*f);
            if (count) *count = f->ret;
            return nullptr;
        }
        if (!count) {
            errno = EINVAL;
            return nullptr;
        }
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = s->stmt("SELECT second FROM udeb WHERE sm = ? AND first = ? ORDER BY rowid");
        if (!st) return nullptr;
        sqlite3_bind_int(st, 1, sm);
        sqlite3_bind_int64(st, 2, num(first));
        std::vector<intptr_t> values;
        while (sqlite3_step(st) == SQLITE_ROW)
            values.push_back(static_cast<intptr_t>(sqlite3_column_int64(st, 0)));
        sqlite3_reset(st);
        *count = static_cast<int>(values.size());
        intptr_t *arr = nullptr;
        if (!values.empty()) {
            arr = static_cast<intptr_t *>(malloc(values.size() * sizeof(intptr_t)));
            if (!arr) {
                *count = 0;
                return nullptr;
            }
            memcpy(arr, values.data(), values.size() * sizeof(intptr_t));
        }
        return standin::apply_forced_count(name_of("read_all_node_with_uid", sm).c_str(), arr, count);
    });
}

}  // namespace

extern "C" {

int vorda_udeblist_create(void) {
    return create(0);
}
int vorda_udeblist_add(void *first, void *second) {
    return pair_change("add", 0, first, second, true);
}
int vorda_udeblist_del(void *first, void *second) {
    return pair_change("del", 0, first, second, false);
}
int vorda_udeblist_clear(void) {
    return clear(0);
}
int vorda_udeblist_get_root_distinguish(void) {
    return get_root(0);
}
int vorda_udeblist_set_root_distinguish(int value) {
    return set_root(0, value);
}
void *vorda_udeblist_read_all_node_with_uid(void *first, int *count) {
    return read_all(0, first, count);
}
int vorda_udeblist_create_sm(void) {
    return create(1);
}
int vorda_udeblist_add_sm(void *first, void *second) {
    return pair_change("add", 1, first, second, true);
}
int vorda_udeblist_del_sm(void *first, void *second) {
    return pair_change("del", 1, first, second, false);
}
int vorda_udeblist_clear_sm(void) {
    return clear(1);
}
int vorda_udeblist_get_root_distinguish_sm(void) {
    return get_root(1);
}
int vorda_udeblist_set_root_distinguish_sm(int value) {
    return set_root(1, value);
}
void *vorda_udeblist_read_all_node_with_uid_sm(void *first, int *count) {
    return read_all(1, first, count);
}

}  // extern "C"
