// Exectl labels, protection texts and the protected kernel modules, kept by path in the
// state store (missing paths included), never on the files themselves.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <type_traits>
#include <vector>

#include "standin_internal.h"

namespace standin {

namespace {
const char *const kExectlLabels[] = {"verified", "original", "vordsw", "trusted",
                                     "unknown",  "parent",   "script"};
const char *const kProtectTexts[] = {"readonly", "none"};
}  // namespace

bool valid_exectl_label(const char *label) {
    if (!label) return false;
    for (const char *l : kExectlLabels)
        if (!strcmp(label, l)) return true;
    return false;
}

bool valid_protect_text(const char *text) {
    if (!text) return false;
    for (const char *t : kProtectTexts)
        if (!strcmp(text, t)) return true;
    return false;
}

}  // namespace standin

namespace {

using standin::Session;

// Labels are keyed by the lexically cleaned absolute path, so "./x" and "/cwd/x" meet.
std::string key_of(const char *path) {
    auto abs = standin::clean_absolute(path);
    return abs ? *abs : std::string(path);
}

enum class Table { Exectl, Protect, ProtectSm };

bool store_one(standin::Store &s, Table t, const std::string &key, const char *text) {
    sqlite3_stmt *st;
    if (t == Table::Exectl) {
        st = s.stmt("INSERT OR REPLACE INTO exectl(path, label) VALUES(?, ?)");
    } else {
        st = s.stmt("INSERT OR REPLACE INTO protect(path, sm, protect) VALUES(?, ?, ?)");
    }
    if (!st) return false;
    int i = 1;
    sqlite3_bind_text(st, i++, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (t != Table::Exectl) sqlite3_bind_int(st, i++, t == Table::ProtectSm ? 1 : 0);
    sqlite3_bind_text(st, i, text, -1, SQLITE_TRANSIENT);
    bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
}

bool valid_text(Table t, const char *text) {
    return t == Table::Exectl ? standin::valid_exectl_label(text) : standin::valid_protect_text(text);
}

const char *invalid_reason(Table t) {
    return t == Table::Exectl ? standin::kMsgInvalidLabel : standin::kMsgInvalidProtect;
}

int set_one(const char *func, Table t, const char *path, const char *text) {
    if (auto f = standin::enter(func, standin::args({standin::quote(path), standin::quote(text)})))
        return standin::fault_result(*f);
    if (!path || !*path || !text) {
        standin::set_error(standin::kCodeInvalidArg, path ? path : "", standin::kMsgInvalidArg);
        errno = EINVAL;
        return -1;
    }
    if (!valid_text(t, text)) {
        standin::set_error(standin::kCodeLabelSet, path, invalid_reason(t));
        errno = EINVAL;
        return standin::kCodeLabelSet;
    }
    Session s;
    if (!s || !store_one(*s, t, key_of(path), text)) {
        standin::set_error(standin::kCodeLabelSet, path, standin::kMsgStore);
        errno = EIO;
        return standin::kCodeLabelSet;
    }
    return 0;
}

// One record of a batch, read through its own bounded fields.
struct Item {
    std::string path;
    std::string text;
    int32_t file_type = 0;
};

template <typename Rec>
std::vector<Item> read_batch(const Rec *records, int count) {
    std::vector<Item> items;
    items.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Rec &r = records[i];
        Item it;
        it.path.assign(r.path, strnlen(r.path, sizeof r.path));
        it.text.assign(r.label, strnlen(r.label, sizeof r.label));
        if constexpr (std::is_same_v<Rec, TypedMarkRecord>) it.file_type = r.file_type;
        items.push_back(std::move(it));
    }
    return items;
}

std::string batch_args(const std::vector<Item> &items, bool typed) {
    std::string out = std::to_string(items.size());
    for (const auto &it : items) {
        out += ", {" + standin::quote(it.path.c_str()) + ", " + standin::quote(it.text.c_str());
        if (typed) out += ", " + std::to_string(it.file_type);
        out += "}";
    }
    return out;
}

// All or nothing: an invalid text anywhere rejects the whole batch. Returns the number of
// records applied (records with an empty path are skipped).
template <typename Rec>
int set_batch(const char *func, Table t, const Rec *records, int count) {
    std::vector<Item> items;
    if (records && count > 0) items = read_batch(records, count);
    std::string a = (records || count <= 0) ? batch_args(items, std::is_same_v<Rec, TypedMarkRecord>)
                                            : std::to_string(count) + ", NULL";
    if (count < 0) a = std::to_string(count);
    if (auto f = standin::enter(func, a)) return standin::fault_result(*f);
    if (count < 0 || (!records && count > 0)) {
        standin::set_error(standin::kCodeInvalidArg, "", standin::kMsgInvalidArg);
        errno = EINVAL;
        return -1;
    }
    for (const auto &it : items) {
        if (it.path.empty()) continue;
        if (!valid_text(t, it.text.c_str())) {
            standin::set_error(standin::kCodeLabelSet, it.path.c_str(), invalid_reason(t));
            errno = EINVAL;
            return standin::kCodeLabelSet;
        }
    }
    Session s;
    int applied = 0;
    bool ok = s && s->transaction([&] {
        for (const auto &it : items) {
            if (it.path.empty()) continue;
            if (!store_one(*s, t, key_of(it.path.c_str()), it.text.c_str())) return false;
            ++applied;
        }
        return true;
    });
    if (!ok) {
        standin::set_error(standin::kCodeLabelSet, "", standin::kMsgStore);
        errno = EIO;
        return standin::kCodeLabelSet;
    }
    return applied;
}

int kmod_change(const char *func, const char *name, bool add, int sm) {
    if (auto f = standin::enter(func, standin::quote(name))) return standin::fault_result(*f);
    if (!name || !*name) {
        errno = EINVAL;
        return -1;
    }
    Session s;
    if (!s) return -1;
    sqlite3_stmt *st = add ? s->stmt("INSERT OR IGNORE INTO kmod(name, sm) VALUES(?, ?)")
                           : s->stmt("DELETE FROM kmod WHERE name = ? AND sm = ?");
    if (!st) return -1;
    sqlite3_bind_text(st, 1, name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 2, sm);
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE ? 0 : -1;
}

}  // namespace

extern "C" {

int lumek_exectl_get(const char *path, char **label) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("lumek_exectl_get",
                                    standin::args({standin::quote(path), label ? "&label" : "NULL"})))
            return standin::fault_result(*f);
        if (!path || !label) {
            errno = EINVAL;
            return -1;
        }
        struct stat st;
        if (lstat(path, &st) != 0) {
            errno = ENOENT;
            return -1;
        }
        Session s;
        if (!s) return -1;
        sqlite3_stmt *q = s->stmt("SELECT label FROM exectl WHERE path = ?");
        if (!q) return -1;
        std::string key = key_of(path);
        sqlite3_bind_text(q, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
        char *out = nullptr;
        if (sqlite3_step(q) == SQLITE_ROW) {
            const unsigned char *t = sqlite3_column_text(q, 0);
            out = strdup(t ? reinterpret_cast<const char *>(t) : "");
            if (!out) {
                sqlite3_reset(q);
                errno = ENOMEM;
                return -1;
            }
        }
        sqlite3_reset(q);
        if (!out) {
            errno = ENODATA;
            return -1;
        }
        *label = out;
        return 0;
    });
}

int lumek_exectl_set(const char *path, const char *label) {
    return standin::guarded(-1, [&] { return set_one("lumek_exectl_set", Table::Exectl, path, label); });
}

int lumek_exectl_multi_set(MarkRecord *records, int count) {
    return standin::guarded(
        -1, [&] { return set_batch("lumek_exectl_multi_set", Table::Exectl, records, count); });
}

int lumek_exectl_multi_set_for_dpkg(TypedMarkRecord *records, int count) {
    return standin::guarded(
        -1, [&] { return set_batch("lumek_exectl_multi_set_for_dpkg", Table::Exectl, records, count); });
}

int lumek_protect_set(const char *path, const char *protect) {
    return standin::guarded(-1, [&] { return set_one("lumek_protect_set", Table::Protect, path, protect); });
}

int lumek_protect_set_sm(const char *path, const char *protect) {
    return standin::guarded(-1,
                            [&] { return set_one("lumek_protect_set_sm", Table::ProtectSm, path, protect); });
}

int lumek_protect_multi_set(MarkRecord *records, int count) {
    return standin::guarded(
        -1, [&] { return set_batch("lumek_protect_multi_set", Table::Protect, records, count); });
}

int lumek_protect_multi_set_sm(MarkRecord *records, int count) {
    return standin::guarded(
        -1, [&] { return set_batch("lumek_protect_multi_set_sm", Table::ProtectSm, records, count); });
}

int add_to_kmod_protect(const char *name) {
    return standin::guarded(-1, [&] { return kmod_change("add_to_kmod_protect", name, true, 0); });
}

int remove_from_kmod_protect(const char *name) {
    return standin::guarded(-1, [&] { return kmod_change("remove_from_kmod_protect", name, false, 0); });
}

int add_to_kmod_protect_sm(const char *name) {
    return standin::guarded(-1, [&] { return kmod_change("add_to_kmod_protect_sm", name, true, 1); });
}

int remove_from_kmod_protect_sm(const char *name) {
    return standin::guarded(-1, [&] { return kmod_change("remove_from_kmod_protect_sm", name, false, 1); });
}

}  // extern "C"
