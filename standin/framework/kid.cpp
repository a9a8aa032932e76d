// Application identities: kid records, resources, policies and network-control entries in
// the state store, and the kid texts of files (by path, never on the files themselves) and
// of processes (by pid, set by tests). Kernel command 22 lands in the kernel command log
// under "kid". Lists are handed out as malloc'd nodes in the store's order.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "standin_internal.h"

using standin::Session;

namespace {

constexpr uint32_t kThirdLow = 10001, kThirdHigh = 500000;
constexpr uint32_t kThirdAppType = 3;
constexpr int kCmdDropPolicyCache = 22;
constexpr const char kUidSupportFlag[] = "kid_uid_support";

using standin::Binder;
using standin::column_text;
using standin::put_text;
using standin::select_rows;

std::string u(uint64_t v) {
    return std::to_string(v);
}

int invalid() {
    errno = EINVAL;
    return -1;
}

void bind_text(sqlite3_stmt *st, int i, const std::string &text) {
    sqlite3_bind_text(st, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string key_of(const char *path) {
    auto abs = standin::clean_absolute(path);
    return abs ? *abs : std::string(path);
}

// Runs one statement per binder inside one transaction; false when any step fails.
bool run_all(standin::Store &s, const char *sql, const std::vector<Binder> &binders) {
    return s.transaction([&] {
        for (const Binder &b : binders) {
            sqlite3_stmt *st = s.stmt(sql);
            if (!st) return false;
            b(st);
            int rc = sqlite3_step(st);
            sqlite3_reset(st);
            if (rc != SQLITE_DONE) return false;
        }
        return true;
    });
}

// 0, or -1 with errno EIO.
int write_all(const char *sql, const std::vector<Binder> &binders) {
    Session s;
    if (!s || !run_all(*s, sql, binders)) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// Links malloc'd copies of @rows in order; false (nothing left allocated) when memory ran out.
template <typename Node>
bool to_list(const std::vector<Node> &rows, Node **list) {
    Node *head = nullptr, **tail = &head;
    for (const Node &r : rows) {
        auto *n = static_cast<Node *>(malloc(sizeof(Node)));
        if (!n) {
            while (head) {
                Node *next = head->next;
                free(head);
                head = next;
            }
            errno = ENOMEM;
            return false;
        }
        memcpy(static_cast<void *>(n), &r, sizeof(Node));
        n->next = nullptr;
        *tail = n;
        tail = &n->next;
    }
    *list = head;
    return true;
}

template <typename Node>
void free_list(Node *list) {
    while (list) {
        Node *next = list->next;
        free(list);
        list = next;
    }
}

// A loader: fault first, then the rows.
template <typename Node>
int load(const char *func, const std::string &args, Node **list, const char *sql, const Binder &bind,
         const std::function<void(sqlite3_stmt *, Node &)> &fill) {
    if (auto f = standin::enter(func, args)) return standin::fault_result(*f);
    if (!list) return invalid();
    *list = nullptr;
    std::vector<Node> rows;
    bool ok = select_rows(sql, bind, [&](sqlite3_stmt *st) {
        Node n{};
        fill(st, n);
        rows.push_back(n);
    });
    if (!ok) {
        errno = EIO;
        return -1;
    }
    return to_list(rows, list) ? 0 : -1;
}

void fill_info(sqlite3_stmt *st, KidInfoNode &n) {
    n.info.kid = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    put_text(n.info.app_name, sizeof n.info.app_name, column_text(st, 1));
    put_text(n.info.pkg_name, sizeof n.info.pkg_name, column_text(st, 2));
    n.info.kid_type = static_cast<uint32_t>(sqlite3_column_int64(st, 3));
}

void fill_res(sqlite3_stmt *st, KidResRecord &n) {
    n.kid = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    n.res_type = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
    put_text(n.path, sizeof n.path, column_text(st, 2));
    put_text(n.app_name, sizeof n.app_name, column_text(st, 3));
}

void fill_priv(sqlite3_stmt *st, KidPrivilegeNode &n) {
    n.priv.sub_kid = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    n.priv.obj_kid = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
    n.priv.uid = static_cast<uint32_t>(sqlite3_column_int64(st, 2));
    n.priv.perm = static_cast<uint32_t>(sqlite3_column_int64(st, 3));
    n.priv.reserved = static_cast<uint32_t>(sqlite3_column_int64(st, 4));
}

constexpr const char kInfoCols[] = "SELECT kid, app_name, pkg_name, kid_type FROM kid_info ";
constexpr const char kResCols[] = "SELECT kid, res_type, path, app_name FROM kid_res ";
constexpr const char kPrivCols[] = "SELECT sub_kid, obj_kid, uid, perm, reserved FROM kid_priv ";

bool valid_paths(char **paths, int count) {
    if (count < 0 || (count > 0 && !paths)) return false;
    for (int i = 0; i < count; ++i)
        if (!paths[i] || !*paths[i]) return false;
    return true;
}

std::string info_args(const KidInfoRecord &info) {
    return "{" + u(info.kid) + ", " + standin::quote_bounded(info.app_name, sizeof info.app_name) + ", " +
           standin::quote_bounded(info.pkg_name, sizeof info.pkg_name) + ", " + u(info.kid_type) + "}";
}

std::string bounded(const char *field, size_t cap) {
    return std::string(field, strnlen(field, cap));
}

// Files become resources of @info's kid, and the identity record is stored. Runs inside
// the caller's transaction.
bool put_kid_data(standin::Store &s, char **files, int count, const KidInfoRecord &info) {
    std::string app = bounded(info.app_name, sizeof info.app_name);
    std::string pkg = bounded(info.pkg_name, sizeof info.pkg_name);
    sqlite3_stmt *st =
        s.stmt("INSERT OR REPLACE INTO kid_info(kid, app_name, pkg_name, kid_type) VALUES(?, ?, ?, ?)");
    if (!st) return false;
    sqlite3_bind_int64(st, 1, info.kid);
    bind_text(st, 2, app);
    bind_text(st, 3, pkg);
    sqlite3_bind_int64(st, 4, info.kid_type);
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) return false;
    for (int i = 0; i < count; ++i) {
        st = s.stmt("INSERT OR REPLACE INTO kid_res(path, kid, res_type, app_name) VALUES(?, ?, 0, ?)");
        if (!st) return false;
        bind_text(st, 1, files[i]);
        sqlite3_bind_int64(st, 2, info.kid);
        bind_text(st, 3, app);
        rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) return false;
    }
    return true;
}

int store_kid_data(char **files, int count, const KidInfoRecord &info) {
    Session s;
    bool ok = s && s->transaction([&] { return put_kid_data(*s, files, count, info); });
    if (!ok) errno = EIO;
    return ok ? 0 : -1;
}

// Whether @path names something (a dangling link counts), without a call-log entry.
bool exists(const char *path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

std::string files_args(char **files, int count) {
    std::string a;
    if (!files) return "NULL, " + std::to_string(count);
    a = "{";
    for (int i = 0; i < count; ++i) a += (i ? ", " : "") + standin::quote(files[i]);
    return a + "}, " + std::to_string(count);
}

// Sets (or, for "0", removes) the kid text of one path; the path must exist.
bool set_file_kid(standin::Store &s, const char *path, const std::string &text) {
    sqlite3_stmt *st = text == "0" ? s.stmt("DELETE FROM kid_file WHERE path = ?")
                                   : s.stmt("INSERT OR REPLACE INTO kid_file(path, kid) VALUES(?, ?)");
    if (!st) return false;
    bind_text(st, 1, key_of(path));
    if (text != "0") bind_text(st, 2, text);
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
}

bool valid_kid_text(const std::string &text) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

char *lookup_text(const char *sql, const Binder &bind) {
    std::string out;
    bool found = false;
    select_rows(sql, bind, [&](sqlite3_stmt *st) {
        out = column_text(st, 0);
        found = true;
    });
    if (!found) return nullptr;
    char *t = strdup(out.c_str());
    if (!t) errno = ENOMEM;
    return t;
}

int priv_change(const char *func, const char *sql, KidPrivilegeRecord *records, int count) {
    std::string a = std::to_string(count);
    for (int i = 0; records && i < count; ++i) {
        const KidPrivilegeRecord &r = records[i];
        a += ", {" + u(r.sub_kid) + ", " + u(r.obj_kid) + ", " + u(r.uid) + ", " + u(r.perm) + ", " +
             u(r.reserved) + "}";
    }
    if (auto f = standin::enter(func, a)) return standin::fault_result(*f);
    if (count < 0 || (count > 0 && !records)) return invalid();
    std::vector<Binder> binders;
    for (int i = 0; i < count; ++i) {
        const KidPrivilegeRecord r = records[i];
        binders.push_back([r](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, r.sub_kid);
            sqlite3_bind_int64(st, 2, r.obj_kid);
            sqlite3_bind_int64(st, 3, r.uid);
            sqlite3_bind_int64(st, 4, r.perm);
            sqlite3_bind_int64(st, 5, r.reserved);
        });
    }
    return write_all(sql, binders);
}

int netctl_change(const char *func, const char *sql, KidNetctlRecord *records, int count) {
    std::string a = std::to_string(count);
    for (int i = 0; records && i < count; ++i)
        a += ", {" + u(records[i].kid) + ", " + u(records[i].flag) + ", " +
             standin::quote_bounded(records[i].path, sizeof records[i].path) + "}";
    if (auto f = standin::enter(func, a)) return standin::fault_result(*f);
    if (count < 0 || (count > 0 && !records)) return invalid();
    std::vector<Binder> binders;
    for (int i = 0; i < count; ++i) {
        uint32_t kid = records[i].kid, flag = records[i].flag;
        std::string path = bounded(records[i].path, sizeof records[i].path);
        binders.push_back([kid, flag, path](sqlite3_stmt *st) {
            sqlite3_bind_int64(st, 1, kid);
            sqlite3_bind_int64(st, 2, flag);
            bind_text(st, 3, path);
        });
    }
    return write_all(sql, binders);
}

}  // namespace

extern "C" {

int lumek_kid_get(const char *path, char **kid_text) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_get", standin::args({standin::quote(path), "&text"})))
            return standin::fault_result(*f);
        if (!path || !kid_text) return invalid();
        if (!exists(path)) {
            errno = ENOENT;
            return -1;
        }
        std::string key = key_of(path);
        char *t = lookup_text("SELECT kid FROM kid_file WHERE path = ?",
                              [&](sqlite3_stmt *st) { bind_text(st, 1, key); });
        if (!t) {
            if (errno != ENOMEM) errno = ENODATA;
            return -1;
        }
        *kid_text = t;
        return 0;
    });
}

int lumek_kid_get_by_pid(int pid, char **kid_text) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_get_by_pid", standin::args({std::to_string(pid), "&text"})))
            return standin::fault_result(*f);
        if (!kid_text) return invalid();
        char *t = lookup_text("SELECT kid FROM kid_pid WHERE pid = ?",
                              [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, pid); });
        if (!t) {
            if (errno != ENOMEM) errno = ENODATA;
            return -1;
        }
        *kid_text = t;
        return 0;
    });
}

int lumek_kid_set(const char *path, const char *kid_text) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_set",
                                    standin::args({standin::quote(path), standin::quote(kid_text)})))
            return standin::fault_result(*f);
        if (!path || !kid_text || !valid_kid_text(kid_text)) return invalid();
        if (!exists(path)) {
            errno = ENOENT;
            return -1;
        }
        Session s;
        if (!s || !set_file_kid(*s, path, kid_text)) {
            errno = EIO;
            return -1;
        }
        return 0;
    });
}

int lumek_kid_multi_set(MarkRecord *records, int count) {
    return standin::guarded(-1, [&]() -> int {
        std::string a = std::to_string(count);
        for (int i = 0; records && i < count; ++i)
            a += ", {" + standin::quote_bounded(records[i].path, sizeof records[i].path) + ", " +
                 standin::quote_bounded(records[i].label, sizeof records[i].label) + "}";
        if (auto f = standin::enter("lumek_kid_multi_set", a)) return standin::fault_result(*f);
        if (count < 0 || (count > 0 && !records)) return invalid();
        for (int i = 0; i < count; ++i)
            if (!valid_kid_text(bounded(records[i].label, sizeof records[i].label))) return invalid();
        Session s;
        if (!s) return -1;
        // Missing files are skipped: the kernel cannot mark what is not there.
        bool ok = s->transaction([&] {
            for (int i = 0; i < count; ++i) {
                std::string path = bounded(records[i].path, sizeof records[i].path);
                if (path.empty() || standin::clean_absolute(path.c_str()) == std::nullopt) continue;
                if (!exists(path.c_str())) continue;
                if (!set_file_kid(*s, path.c_str(), bounded(records[i].label, sizeof records[i].label)))
                    return false;
            }
            return true;
        });
        if (!ok) errno = EIO;
        return ok ? 0 : -1;
    });
}

int lumek_kid_get_kid_by_app_name(const char *app_name) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_get_kid_by_app_name", standin::quote(app_name)))
            return standin::fault_result(*f);
        if (!app_name) return invalid();
        int kid = -1;
        select_rows(
            "SELECT kid FROM kid_info WHERE app_name = ? ORDER BY rowid DESC LIMIT 1",
            [&](sqlite3_stmt *st) { bind_text(st, 1, app_name); },
            [&](sqlite3_stmt *st) { kid = static_cast<int>(sqlite3_column_int64(st, 0)); });
        if (kid < 0) errno = ENOENT;
        return kid;
    });
}

int lumek_kid_apply_for_kid(const char *app_name, const char *pkg_name, int flag) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter(
                "lumek_kid_apply_for_kid",
                standin::args({standin::quote(app_name), standin::quote(pkg_name), std::to_string(flag)})))
            return standin::fault_result(*f);
        if (!app_name || !*app_name || !pkg_name) return invalid();
        Session s;
        if (!s) return -1;
        int kid = -1;
        bool ok = s->transaction([&] {
            // An application that already owns a third-app kid keeps it.
            select_rows(
                "SELECT kid FROM kid_info WHERE app_name = ?1 AND kid BETWEEN ?2 AND ?3 LIMIT 1",
                [&](sqlite3_stmt *st) {
                    bind_text(st, 1, app_name);
                    sqlite3_bind_int64(st, 2, kThirdLow);
                    sqlite3_bind_int64(st, 3, kThirdHigh);
                },
                [&](sqlite3_stmt *st) { kid = static_cast<int>(sqlite3_column_int64(st, 0)); });
            if (kid > 0) return true;
            int64_t top = kThirdLow - 1;
            select_rows(
                "SELECT MAX(kid) FROM kid_info WHERE kid BETWEEN ?1 AND ?2",
                [&](sqlite3_stmt *st) {
                    sqlite3_bind_int64(st, 1, kThirdLow);
                    sqlite3_bind_int64(st, 2, kThirdHigh);
                },
                [&](sqlite3_stmt *st) {
                    if (sqlite3_column_type(st, 0) != SQLITE_NULL) top = sqlite3_column_int64(st, 0);
                });
            if (top >= kThirdHigh) return false;
            kid = static_cast<int>(top + 1);
            KidInfoRecord info{};
            info.kid = static_cast<uint32_t>(kid);
            put_text(info.app_name, sizeof info.app_name - 1, app_name);
            put_text(info.pkg_name, sizeof info.pkg_name - 1, pkg_name);
            info.kid_type = kThirdAppType;
            return put_kid_data(*s, nullptr, 0, info);
        });
        if (!ok) {
            errno = ENOSPC;
            return -1;
        }
        return kid;
    });
}

int lumek_kid_create_kid_data(char **files, int count, KidInfoRecord info) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_create_kid_data",
                                    files_args(files, count) + ", " + info_args(info)))
            return standin::fault_result(*f);
        if (!valid_paths(files, count)) return invalid();
        return store_kid_data(files, count, info);
    });
}

int lumek_kid_improve_kid_data(uint32_t old_kid, char **files, int count, KidInfoRecord info) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_improve_kid_data",
                                    u(old_kid) + ", " + files_args(files, count) + ", " + info_args(info)))
            return standin::fault_result(*f);
        if (!valid_paths(files, count)) return invalid();
        std::string app = bounded(info.app_name, sizeof info.app_name);
        if (write_all("DELETE FROM kid_info WHERE kid = ? AND app_name = ?", {[&](sqlite3_stmt *st) {
                          sqlite3_bind_int64(st, 1, old_kid);
                          bind_text(st, 2, app);
                      }}) != 0)
            return -1;
        return store_kid_data(files, count, info);
    });
}

int lumek_kid_load_kid_res_list(uint32_t kid, KidResRecord **list) {
    return standin::guarded(-1, [&] {
        return load<KidResRecord>(
            "lumek_kid_load_kid_res_list", u(kid) + ", &list", list,
            (std::string(kResCols) + "WHERE kid = ? ORDER BY rowid").c_str(),
            [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, kid); }, fill_res);
    });
}

int lumek_kid_load_kid_res_list_by_kid_range(uint32_t lowest, uint32_t highest, KidResRecord **list) {
    return standin::guarded(-1, [&] {
        return load<KidResRecord>(
            "lumek_kid_load_kid_res_list_by_kid_range", standin::args({u(lowest), u(highest), "&list"}), list,
            (std::string(kResCols) + "WHERE kid BETWEEN ? AND ? ORDER BY rowid").c_str(),
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, lowest);
                sqlite3_bind_int64(st, 2, highest);
            },
            fill_res);
    });
}

void lumek_kid_free_kid_res_list(KidResRecord *list) {
    free_list(list);
}

int lumek_kid_add_kid_res_list(uint32_t kid, uint32_t res_type, char **paths, int count) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_add_kid_res_list",
                                    u(kid) + ", " + u(res_type) + ", " + files_args(paths, count)))
            return standin::fault_result(*f);
        if (!valid_paths(paths, count) || kid == 0) return invalid();
        std::vector<Binder> binders;
        for (int i = 0; i < count; ++i) {
            std::string path = paths[i];
            binders.push_back([=](sqlite3_stmt *st) {
                bind_text(st, 1, path);
                sqlite3_bind_int64(st, 2, kid);
                sqlite3_bind_int64(st, 3, res_type);
            });
        }
        // A path is the resource of one kid: adding it again moves it.
        return write_all("INSERT OR REPLACE INTO kid_res(path, kid, res_type, app_name) VALUES(?, ?, ?, '')",
                         binders);
    });
}

int lumek_kid_remove_kid_res_list(uint32_t kid, uint32_t res_type, char **paths, int count) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_remove_kid_res_list",
                                    u(kid) + ", " + u(res_type) + ", " + files_args(paths, count)))
            return standin::fault_result(*f);
        if (!valid_paths(paths, count)) return invalid();
        std::vector<Binder> binders;
        for (int i = 0; i < count; ++i) {
            std::string path = paths[i];
            binders.push_back([=](sqlite3_stmt *st) {
                bind_text(st, 1, path);
                sqlite3_bind_int64(st, 2, kid);
            });
        }
        return write_all("DELETE FROM kid_res WHERE path = ? AND kid = ?", binders);
    });
}

int lumek_kid_load_kid_info_list(uint32_t kid, KidInfoNode **list) {
    return standin::guarded(-1, [&] {
        return load<KidInfoNode>(
            "lumek_kid_load_kid_info_list", u(kid) + ", &list", list,
            (std::string(kInfoCols) + "WHERE kid = ? ORDER BY rowid").c_str(),
            [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, kid); }, fill_info);
    });
}

int lumek_kid_load_kid_info_list_by_kid_range(uint32_t lowest, uint32_t highest, KidInfoNode **list) {
    return standin::guarded(-1, [&] {
        return load<KidInfoNode>(
            "lumek_kid_load_kid_info_list_by_kid_range", standin::args({u(lowest), u(highest), "&list"}),
            list, (std::string(kInfoCols) + "WHERE kid BETWEEN ? AND ? ORDER BY rowid").c_str(),
            [&](sqlite3_stmt *st) {
                sqlite3_bind_int64(st, 1, lowest);
                sqlite3_bind_int64(st, 2, highest);
            },
            fill_info);
    });
}

void lumek_kid_free_kid_info_list(KidInfoNode *list) {
    free_list(list);
}

int lumek_kid_load_kid_data(uint32_t kid, KidInfoNode **info, KidResRecord **res) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_load_kid_data", u(kid) + ", &info, &res"))
            return standin::fault_result(*f);
        if (!info || !res) return invalid();
        *info = nullptr;
        *res = nullptr;
        std::vector<KidInfoNode> infos;
        std::vector<KidResRecord> ress;
        Binder by_kid = [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, kid); };
        bool ok = select_rows((std::string(kInfoCols) + "WHERE kid = ? ORDER BY rowid").c_str(), by_kid,
                              [&](sqlite3_stmt *st) {
                                  KidInfoNode n{};
                                  fill_info(st, n);
                                  infos.push_back(n);
                              }) &&
                  select_rows((std::string(kResCols) + "WHERE kid = ? ORDER BY rowid").c_str(), by_kid,
                              [&](sqlite3_stmt *st) {
                                  KidResRecord n{};
                                  fill_res(st, n);
                                  ress.push_back(n);
                              });
        if (!ok) {
            errno = EIO;
            return -1;
        }
        if (!to_list(infos, info)) return -1;
        if (!to_list(ress, res)) {
            free_list(*info);
            *info = nullptr;
            return -1;
        }
        return 0;
    });
}

int lumek_kid_create_kid_privilege(KidPrivilegeRecord *records, int count) {
    return standin::guarded(-1, [&] {
        return priv_change("lumek_kid_create_kid_privilege",
                           "INSERT OR REPLACE INTO kid_priv(sub_kid, obj_kid, uid, perm, reserved)"
                           " VALUES(?1, ?2, ?3, ?4, ?5)",
                           records, count);
    });
}

int lumek_kid_update_kid_privilege(KidPrivilegeRecord *records, int count) {
    // An update of a policy that is not there creates it, as the framework does.
    return standin::guarded(-1, [&] {
        return priv_change(
            "lumek_kid_update_kid_privilege",
            "INSERT INTO kid_priv(sub_kid, obj_kid, uid, perm, reserved) VALUES(?1, ?2, ?3, ?4, ?5)"
            " ON CONFLICT(sub_kid, obj_kid, uid) DO UPDATE SET perm = ?4, reserved = ?5",
            records, count);
    });
}

int lumek_kid_remove_kid_privilege(KidPrivilegeRecord *records, int count) {
    return standin::guarded(-1, [&] {
        return priv_change("lumek_kid_remove_kid_privilege",
                           "DELETE FROM kid_priv WHERE sub_kid = ?1 AND obj_kid = ?2 AND uid = ?3", records,
                           count);
    });
}

int lumek_kid_load_kid_privilege(KidPrivilegeNode **list) {
    return standin::guarded(-1, [&] {
        return load<KidPrivilegeNode>(
            "lumek_kid_load_kid_privilege", "&list", list,
            (std::string(kPrivCols) + "ORDER BY rowid").c_str(), [](sqlite3_stmt *) {}, fill_priv);
    });
}

int lumek_kid_load_kid_privilege_by_subject(uint32_t sub_kid, KidPrivilegeNode **list) {
    return standin::guarded(-1, [&] {
        return load<KidPrivilegeNode>(
            "lumek_kid_load_kid_privilege_by_subject", u(sub_kid) + ", &list", list,
            (std::string(kPrivCols) + "WHERE sub_kid = ? ORDER BY rowid").c_str(),
            [&](sqlite3_stmt *st) { sqlite3_bind_int64(st, 1, sub_kid); }, fill_priv);
    });
}

void lumek_kid_free_kid_priv_list(KidPrivilegeNode *list) {
    free_list(list);
}

int lumek_kid_privilege_is_support_uid(void) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_kid_privilege_is_support_uid", ""))
            return standin::fault_result(*f);
        Session s;
        if (!s) return -1;
        auto v = standin::kv_get(*s, kUidSupportFlag);
        return v ? static_cast<int>(*v) : 1;
    });
}

int lumek_kid_communicate_with_kernel(int command, void *data, int length) {
    return standin::guarded(-1, [&]() -> int {
        int32_t pid = 0;
        if (data && length == static_cast<int>(sizeof pid)) memcpy(&pid, data, sizeof pid);
        if (auto f = standin::enter("lumek_kid_communicate_with_kernel",
                                    standin::args({std::to_string(command),
                                                   data ? "&" + std::to_string(pid) : std::string("NULL"),
                                                   std::to_string(length)})))
            return standin::fault_result(*f);
        if (command != kCmdDropPolicyCache || !data || length != static_cast<int>(sizeof pid) || pid <= 0)
            return invalid();
        return write_all("INSERT INTO kernel(list, command, data, value) VALUES('kid', ?, ?, ?)",
                         {[&](sqlite3_stmt *st) {
                             sqlite3_bind_int(st, 1, command);
                             bind_text(st, 2, std::to_string(pid));
                             sqlite3_bind_int(st, 3, length);
                         }});
    });
}

int lumek_kid_create_kid_netctl(KidNetctlRecord *records, int count) {
    return standin::guarded(-1, [&] {
        return netctl_change("lumek_kid_create_kid_netctl",
                             "INSERT OR REPLACE INTO kid_netctl(kid, flag, path) VALUES(?, ?, ?)", records,
                             count);
    });
}

int lumek_kid_remove_kid_netctl(KidNetctlRecord *records, int count) {
    return standin::guarded(-1, [&] {
        return netctl_change("lumek_kid_remove_kid_netctl",
                             "DELETE FROM kid_netctl WHERE kid = ?1 AND path = ?3", records, count);
    });
}

int lumek_kid_load_kid_netctl(KidNetctlNode **list) {
    return standin::guarded(-1, [&] {
        return load<KidNetctlNode>(
            "lumek_kid_load_kid_netctl", "&list", list,
            "SELECT kid, flag, path FROM kid_netctl ORDER BY rowid", [](sqlite3_stmt *) {},
            [](sqlite3_stmt *st, KidNetctlNode &n) {
                n.netctl.kid = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
                n.netctl.flag = static_cast<uint32_t>(sqlite3_column_int64(st, 1));
                put_text(n.netctl.path, sizeof n.netctl.path, column_text(st, 2));
            });
    });
}

void lumek_kid_free_kid_netctl_list(KidNetctlNode *list) {
    free_list(list);
}

}  // extern "C"
