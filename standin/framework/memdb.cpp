// The framework's runtime memory database (memdb), kept in the state store so that every
// process naming the same state directory shares it. Databases are numbered by key; a
// record is up to 16 typed values (32-bit integers or texts, both kinds allowed in one
// column). Values are kept without column affinity, so an integer never equals a text of
// the same digits: the type travels with every value, as the callers rely on.
//
// Each call records itself, takes its fault and does its work in one transaction: one
// commit per call, which keeps a 100k-record load at WAL append speed.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "memdb_internal.h"

namespace standin {

namespace {

constexpr uint32_t kHandleMagic = 0x6d656d64;  // "memd"

// Result of one call's body: the value returned and the errno left behind (0: unchanged).
struct Outcome {
    int ret = 0;
    int err = 0;
};

Outcome failure(int err) {
    return Outcome{-1, err};
}

bool handle_ok(const MemdbHandle *h) {
    return h && h->magic == kHandleMagic;
}

std::string handle_arg(const MemdbHandle *h) {
    if (!h) return "NULL";
    return handle_ok(h) ? std::to_string(h->key) : std::string("?");
}

std::string value_arg(int32_t type, const void *value) {
    if (!value) return "NULL";
    if (type == LUMEK_MEMDB_TYPE_INT32) return std::to_string(*static_cast<const int32_t *>(value));
    if (type == LUMEK_MEMDB_TYPE_STRING) return quote(static_cast<const char *>(value));
    return "?type" + std::to_string(type);
}

std::string record_arg(const MemdbRecord &r) {
    std::string out = "{";
    int n = r.count < 0 ? 0 : (r.count > LUMEK_MEMDB_MAX_COLUMNS ? LUMEK_MEMDB_MAX_COLUMNS : r.count);
    for (int i = 0; i < n; ++i) {
        if (i) out += ", ";
        out += value_arg(r.columns[i].type, r.columns[i].value);
    }
    if (r.count != n) out += "?count" + std::to_string(r.count);
    return out + "}";
}

const char *op_text(int32_t op) {
    switch (op) {
        case LUMEK_MEMDB_OP_EQ:
            return "=";
        case LUMEK_MEMDB_OP_NE:
            return "!=";
        case LUMEK_MEMDB_OP_GT:
            return ">";
        default:
            return "?op";
    }
}

std::string query_arg(const MemdbQuery &q) {
    std::string out = "[";
    int n = q.count < 0 ? 0 : (q.count > LUMEK_MEMDB_MAX_CONDITIONS ? LUMEK_MEMDB_MAX_CONDITIONS : q.count);
    for (int j = 0; j < n; ++j) {
        const MemdbCondition &c = q.conditions[j];
        if (j) out += ", ";
        out += "c" + std::to_string(c.column) + " " + op_text(c.op) + " " + value_arg(c.type, c.value);
    }
    if (q.count != n) out += "?count" + std::to_string(q.count);
    return out + "]";
}

bool value_ok(int32_t type, const void *value) {
    return value && (type == LUMEK_MEMDB_TYPE_INT32 || type == LUMEK_MEMDB_TYPE_STRING);
}

void bind_value(sqlite3_stmt *st, int i, int32_t type, const void *value) {
    if (type == LUMEK_MEMDB_TYPE_INT32)
        sqlite3_bind_int(st, i, *static_cast<const int32_t *>(value));
    else
        sqlite3_bind_text(st, i, static_cast<const char *>(value), -1, SQLITE_TRANSIENT);
}

// Runs @body with the store inside one transaction that also records the call and takes
// its fault. A fault wins over the body. errno is set last, after the store is done.
template <typename Body>
Outcome call(const char *func, const std::string &arguments, Body &&body) {
    Outcome out;
    bool ran = false;
    {
        Session s;
        if (!s) return failure(EIO);
        ran = s->transaction([&] {
            s->record_call(func, arguments);
            if (auto f = s->take_fault(func)) {
                out.ret = f->ret;
                out.err = f->err;
                if (f->set_error) set_error(f->code, f->object, f->message.c_str());
                return true;
            }
            out = body(*s);
            return true;
        });
    }
    if (!ran) out = failure(EIO);
    if (out.err) errno = out.err;
    return out;
}

// The key goes into the statement's text, not a parameter: only then can SQLite use the
// database's partial indexes.
std::string key_clause(int key) {
    return "key = " + std::to_string(key);
}

// One changing statement; EIO when it did not run to the end.
bool run(sqlite3_stmt *st) {
    if (!st) return false;
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
}

// A delivered row, kept until the transaction is over.
struct Row {
    int32_t count = 0;
    int32_t types[LUMEK_MEMDB_MAX_COLUMNS] = {};
    int32_t ints[LUMEK_MEMDB_MAX_COLUMNS] = {};
    std::string texts[LUMEK_MEMDB_MAX_COLUMNS];
};

}  // namespace

bool memdb_exists(Store &s, int key) {
    sqlite3_stmt *st = s.stmt("SELECT 1 FROM memdb_db WHERE key = ?");
    if (!st) return false;
    sqlite3_bind_int(st, 1, key);
    bool found = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_reset(st);
    return found;
}

bool memdb_insert(Store &s, int key, int32_t count, const int32_t *types, const void *const *values) {
    sqlite3_stmt *st = s.stmt(
        "INSERT INTO memdb_rec(key, n, c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15)"
        " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!st) return false;
    sqlite3_bind_int(st, 1, key);
    sqlite3_bind_int(st, 2, count);
    for (int i = 0; i < count; ++i) bind_value(st, 3 + i, types[i], values[i]);
    return run(st);
}

// The SQL of a column list "c0, c1, ..." for reading whole records.
const char kMemdbColumns[] = "n, c0, c1, c2, c3, c4, c5, c6, c7, c8, c9, c10, c11, c12, c13, c14, c15";

}  // namespace standin

using standin::Outcome;

extern "C" {

MemdbHandle *lumek_memdb_create_database(int key, int size) {
    MemdbHandle *h = nullptr;
    Outcome o = standin::guarded(standin::failure(ENOMEM), [&] {
        return standin::call("lumek_memdb_create_database",
                             standin::args({std::to_string(key), std::to_string(size)}),
                             [&](standin::Store &s) -> Outcome {
                                 if (key <= 0 || size <= 0) return standin::failure(EINVAL);
                                 // A second create would silently double every record.
                                 if (standin::memdb_exists(s, key)) return standin::failure(EEXIST);
                                 sqlite3_stmt *st = s.stmt("INSERT INTO memdb_db(key, size) VALUES(?, ?)");
                                 if (!st) return standin::failure(EIO);
                                 sqlite3_bind_int(st, 1, key);
                                 sqlite3_bind_int(st, 2, size);
                                 if (!standin::run(st)) return standin::failure(EIO);
                                 return Outcome{};
                             });
    });
    if (o.ret != 0) return nullptr;
    h = new (std::nothrow) MemdbHandle{standin::kHandleMagic, key};
    if (!h) errno = ENOMEM;
    return h;
}

MemdbHandle *lumek_memdb_connect_database(int key) {
    Outcome o = standin::guarded(standin::failure(ENOMEM), [&] {
        return standin::call("lumek_memdb_connect_database", std::to_string(key),
                             [&](standin::Store &s) -> Outcome {
                                 return standin::memdb_exists(s, key) ? Outcome{} : standin::failure(ENOENT);
                             });
    });
    if (o.ret != 0) return nullptr;
    auto *h = new (std::nothrow) MemdbHandle{standin::kHandleMagic, key};
    if (!h) errno = ENOMEM;
    return h;
}

int lumek_memdb_disconnect_database(MemdbHandle *db) {
    Outcome o = standin::guarded(standin::failure(ENOMEM), [&] {
        return standin::call("lumek_memdb_disconnect_database", standin::handle_arg(db),
                             [&](standin::Store &) -> Outcome {
                                 return standin::handle_ok(db) ? Outcome{} : standin::failure(EINVAL);
                             });
    });
    if (standin::handle_ok(db)) {
        db->magic = 0;
        delete db;
    }
    return o.ret;
}

int lumek_memdb_delete_database(int key) {
    return standin::guarded(
               standin::failure(ENOMEM),
               [&] {
                   return standin::call(
                       "lumek_memdb_delete_database", std::to_string(key), [&](standin::Store &s) -> Outcome {
                           if (!standin::memdb_exists(s, key)) return standin::failure(ENOENT);
                           std::vector<std::string> indexes;
                           sqlite3_stmt *st =
                               s.stmt("SELECT name FROM sqlite_master WHERE type = 'index' AND name GLOB ?");
                           if (!st) return standin::failure(EIO);
                           std::string pattern = "memdb_k" + std::to_string(key) + "_c*";
                           sqlite3_bind_text(st, 1, pattern.c_str(), -1, SQLITE_TRANSIENT);
                           while (sqlite3_step(st) == SQLITE_ROW)
                               indexes.emplace_back(
                                   reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
                           sqlite3_reset(st);
                           for (const auto &name : indexes) {
                               std::string sql = "DROP INDEX IF EXISTS " + name;
                               if (sqlite3_exec(s.db(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
                                   return standin::failure(EIO);
                           }
                           sqlite3_stmt *rec = s.stmt("DELETE FROM memdb_rec WHERE key = ?");
                           sqlite3_stmt *dbs = s.stmt("DELETE FROM memdb_db WHERE key = ?");
                           if (!rec || !dbs) return standin::failure(EIO);
                           sqlite3_bind_int(rec, 1, key);
                           sqlite3_bind_int(dbs, 1, key);
                           if (!standin::run(rec) || !standin::run(dbs)) return standin::failure(EIO);
                           return Outcome{};
                       });
               })
        .ret;
}

int lumek_memdb_create_t_tree_index(MemdbHandle *db, int column) {
    return standin::guarded(
               standin::failure(ENOMEM),
               [&] {
                   return standin::call(
                       "lumek_memdb_create_t_tree_index",
                       standin::args({standin::handle_arg(db), std::to_string(column)}),
                       [&](standin::Store &s) -> Outcome {
                           if (!standin::handle_ok(db) || column < 0 || column >= LUMEK_MEMDB_MAX_COLUMNS)
                               return standin::failure(EINVAL);
                           if (!standin::memdb_exists(s, db->key)) return standin::failure(ENOENT);
                           // A real index of the shared table, partial so that it holds (and
                           // costs inserts into) this database's rows only.
                           char sql[160];
                           snprintf(
                               sql, sizeof sql,
                               "CREATE INDEX IF NOT EXISTS memdb_k%d_c%d ON memdb_rec(c%d) WHERE key = %d",
                               db->key, column, column, db->key);
                           if (sqlite3_exec(s.db(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
                               return standin::failure(EIO);
                           return Outcome{};
                       });
               })
        .ret;
}

int lumek_memdb_create_record(MemdbHandle *db, MemdbRecord record) {
    return standin::guarded(
               standin::failure(ENOMEM),
               [&] {
                   return standin::call(
                       "lumek_memdb_create_record",
                       standin::args({standin::handle_arg(db), standin::record_arg(record)}),
                       [&](standin::Store &s) -> Outcome {
                           if (!standin::handle_ok(db) || record.count < 1 ||
                               record.count > LUMEK_MEMDB_MAX_COLUMNS)
                               return standin::failure(EINVAL);
                           int32_t types[LUMEK_MEMDB_MAX_COLUMNS];
                           const void *values[LUMEK_MEMDB_MAX_COLUMNS];
                           for (int i = 0; i < record.count; ++i) {
                               if (!standin::value_ok(record.columns[i].type, record.columns[i].value))
                                   return standin::failure(EINVAL);
                               types[i] = record.columns[i].type;
                               values[i] = record.columns[i].value;
                           }
                           if (!standin::memdb_exists(s, db->key)) return standin::failure(ENOENT);
                           if (!standin::memdb_insert(s, db->key, record.count, types, values))
                               return standin::failure(EIO);
                           return Outcome{};
                       });
               })
        .ret;
}

int lumek_memdb_delete_record(MemdbHandle *db, MemdbRecord record) {
    return standin::guarded(
               standin::failure(ENOMEM),
               [&] {
                   return standin::call(
                       "lumek_memdb_delete_record",
                       standin::args({standin::handle_arg(db), standin::record_arg(record)}),
                       [&](standin::Store &s) -> Outcome {
                           // A count of 0 would match every record: refused rather than guessed.
                           if (!standin::handle_ok(db) || record.count < 1 ||
                               record.count > LUMEK_MEMDB_MAX_COLUMNS)
                               return standin::failure(EINVAL);
                           std::string sql = "DELETE FROM memdb_rec WHERE " + standin::key_clause(db->key);
                           for (int i = 0; i < record.count; ++i) {
                               if (!standin::value_ok(record.columns[i].type, record.columns[i].value))
                                   return standin::failure(EINVAL);
                               sql += " AND c" + std::to_string(i) + " IS ?";
                           }
                           if (!standin::memdb_exists(s, db->key)) return standin::failure(ENOENT);
                           sqlite3_stmt *st = s.stmt(sql.c_str());
                           if (!st) return standin::failure(EIO);
                           for (int i = 0; i < record.count; ++i)
                               standin::bind_value(st, 1 + i, record.columns[i].type,
                                                   record.columns[i].value);
                           return standin::run(st) ? Outcome{} : standin::failure(EIO);
                       });
               })
        .ret;
}

int lumek_memdb_retrive(MemdbHandle *db, MemdbRetrieveCallback cb, void *user_data, MemdbQuery query) {
    std::vector<standin::Row> rows;
    Outcome o = standin::guarded(standin::failure(ENOMEM), [&] {
        return standin::call(
            "lumek_memdb_retrive", standin::args({standin::handle_arg(db), standin::query_arg(query)}),
            [&](standin::Store &s) -> Outcome {
                if (!standin::handle_ok(db) || !cb || query.count < 0 ||
                    query.count > LUMEK_MEMDB_MAX_CONDITIONS)
                    return standin::failure(EINVAL);
                std::string sql = std::string("SELECT ") + standin::kMemdbColumns + " FROM memdb_rec WHERE " +
                                  standin::key_clause(db->key);
                for (int j = 0; j < query.count; ++j) {
                    const MemdbCondition &c = query.conditions[j];
                    if (!standin::value_ok(c.type, c.value) || c.column < 0 ||
                        c.column >= LUMEK_MEMDB_MAX_COLUMNS)
                        return standin::failure(EINVAL);
                    std::string col = "c" + std::to_string(c.column);
                    switch (c.op) {
                        case LUMEK_MEMDB_OP_EQ:
                            sql += " AND " + col + " IS ?";
                            break;
                        case LUMEK_MEMDB_OP_NE:  // an absent column differs too
                            sql += " AND " + col + " IS NOT ?";
                            break;
                        case LUMEK_MEMDB_OP_GT:
                            if (c.type != LUMEK_MEMDB_TYPE_INT32) return standin::failure(EINVAL);
                            sql += " AND typeof(" + col + ") = 'integer' AND " + col + " > ?";
                            break;
                        default:
                            return standin::failure(EINVAL);
                    }
                }
                sql += " ORDER BY seq";
                if (!standin::memdb_exists(s, db->key)) return standin::failure(ENOENT);
                sqlite3_stmt *st = s.stmt(sql.c_str());
                if (!st) return standin::failure(EIO);
                for (int j = 0; j < query.count; ++j)
                    standin::bind_value(st, 1 + j, query.conditions[j].type, query.conditions[j].value);
                int rc;
                while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                    standin::Row r;
                    r.count = sqlite3_column_int(st, 0);
                    for (int i = 0; i < r.count && i < LUMEK_MEMDB_MAX_COLUMNS; ++i) {
                        if (sqlite3_column_type(st, 1 + i) == SQLITE_INTEGER) {
                            r.types[i] = LUMEK_MEMDB_TYPE_INT32;
                            r.ints[i] = sqlite3_column_int(st, 1 + i);
                        } else {
                            r.types[i] = LUMEK_MEMDB_TYPE_STRING;
                            const unsigned char *t = sqlite3_column_text(st, 1 + i);
                            r.texts[i].assign(t ? reinterpret_cast<const char *>(t) : "",
                                              static_cast<size_t>(sqlite3_column_bytes(st, 1 + i)));
                        }
                    }
                    rows.push_back(std::move(r));
                }
                sqlite3_reset(st);
                return rc == SQLITE_DONE ? Outcome{} : standin::failure(EIO);
            });
    });
    if (o.ret != 0) return o.ret;
    // Offered outside the store's lock and transaction, so the callback may call the
    // framework itself. A callback's non-zero result skips that record only.
    for (standin::Row &r : rows) {
        MemdbRecord rec;
        memset(&rec, 0, sizeof rec);
        rec.count = r.count;
        for (int i = 0; i < r.count && i < LUMEK_MEMDB_MAX_COLUMNS; ++i) {
            rec.columns[i].type = r.types[i];
            rec.columns[i].value = r.types[i] == LUMEK_MEMDB_TYPE_INT32 ? static_cast<void *>(&r.ints[i])
                                                                        : static_cast<void *>(&r.texts[i][0]);
        }
        cb(&rec, user_data);
    }
    return 0;
}

}  // extern "C"
