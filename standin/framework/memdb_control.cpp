// Inspection of the memdb for tests, the reference daemon and lumek-standin; nothing here is
// recorded in the call log.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "memdb_internal.h"
#include "standin_control.h"

using standin::Session;

namespace standin {

bool memdb_reset(Store &s) {
    std::vector<std::string> indexes;
    sqlite3_stmt *st = s.stmt("SELECT name FROM sqlite_master WHERE type = 'index' AND name GLOB 'memdb_k*'");
    if (!st) return false;
    while (sqlite3_step(st) == SQLITE_ROW)
        indexes.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    sqlite3_reset(st);
    for (const auto &name : indexes)
        if (sqlite3_exec(s.db(), ("DROP INDEX IF EXISTS " + name).c_str(), nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            return false;
    return sqlite3_exec(s.db(), "DELETE FROM memdb_rec; DELETE FROM memdb_db;", nullptr, nullptr, nullptr) ==
           SQLITE_OK;
}

}  // namespace standin

namespace {

// Column numbers indexed in database @key, from the index names.
std::string indexed_columns(standin::Store &s, int key) {
    sqlite3_stmt *st = s.stmt(
        "SELECT CAST(substr(name, length(?1) + 1) AS INTEGER) AS col FROM sqlite_master"
        " WHERE type = 'index' AND name GLOB ?1 || '*' ORDER BY col");
    if (!st) return "-";
    std::string prefix = "memdb_k" + std::to_string(key) + "_c";
    sqlite3_bind_text(st, 1, prefix.c_str(), -1, SQLITE_TRANSIENT);
    std::string out;
    while (sqlite3_step(st) == SQLITE_ROW) {
        if (!out.empty()) out += ",";
        out += std::to_string(sqlite3_column_int(st, 0));
    }
    sqlite3_reset(st);
    return out.empty() ? "-" : out;
}

}  // namespace

extern "C" {

char **lumek_standin_memdb_databases(int *count) {
    return standin::guarded<char **>(nullptr, [&]() -> char ** {
        Session s;
        if (!s) return nullptr;
        sqlite3_stmt *st = s->stmt(
            "SELECT d.key, d.size, (SELECT count(*) FROM memdb_rec r WHERE r.key = d.key) FROM memdb_db d"
            " ORDER BY d.key");
        if (!st) return nullptr;
        std::vector<std::pair<int, std::string>> rows;
        while (sqlite3_step(st) == SQLITE_ROW) {
            int key = sqlite3_column_int(st, 0);
            rows.emplace_back(key, std::to_string(key) + " " + std::to_string(sqlite3_column_int(st, 1)) +
                                       " " + std::to_string(sqlite3_column_int64(st, 2)));
        }
        sqlite3_reset(st);
        std::vector<std::string> lines;
        for (auto &r : rows) lines.push_back(r.second + " " + indexed_columns(*s, r.first));
        return standin::lines_to_array(lines, count);
    });
}

LumekStandinMemdbRecord *lumek_standin_memdb_records(int key, int *count) {
    return standin::guarded<LumekStandinMemdbRecord *>(nullptr, [&]() -> LumekStandinMemdbRecord * {
        Session s;
        if (!s || !standin::memdb_exists(*s, key)) return nullptr;
        std::string sql =
            std::string("SELECT ") + standin::kMemdbColumns + " FROM memdb_rec WHERE key = ? ORDER BY seq";
        sqlite3_stmt *st = s->stmt(sql.c_str());
        if (!st) return nullptr;
        sqlite3_bind_int(st, 1, key);
        std::vector<LumekStandinMemdbRecord> rows;
        bool ok = true;
        while (ok && sqlite3_step(st) == SQLITE_ROW) {
            LumekStandinMemdbRecord r{};
            r.count = sqlite3_column_int(st, 0);
            for (int i = 0; i < r.count && i < 16; ++i) {
                if (sqlite3_column_type(st, 1 + i) == SQLITE_INTEGER) {
                    r.type[i] = LUMEK_MEMDB_TYPE_INT32;
                    r.number[i] = sqlite3_column_int(st, 1 + i);
                } else {
                    r.type[i] = LUMEK_MEMDB_TYPE_STRING;
                    const unsigned char *t = sqlite3_column_text(st, 1 + i);
                    r.text[i] = strdup(t ? reinterpret_cast<const char *>(t) : "");
                    ok = ok && r.text[i];
                }
            }
            rows.push_back(r);
        }
        sqlite3_reset(st);
        auto *out =
            static_cast<LumekStandinMemdbRecord *>(calloc(rows.size() + 1, sizeof(LumekStandinMemdbRecord)));
        if (!ok || !out) {
            free(out);
            for (auto &r : rows)
                for (char *t : r.text) free(t);
            return nullptr;
        }
        if (!rows.empty()) memcpy(out, rows.data(), rows.size() * sizeof(LumekStandinMemdbRecord));
        if (count) *count = static_cast<int>(rows.size());
        return out;
    });
}

void lumek_standin_memdb_free_records(LumekStandinMemdbRecord *records, int count) {
    if (!records) return;
    for (int i = 0; i < count; ++i)
        for (char *t : records[i].text) free(t);
    free(records);
}

int lumek_standin_memdb_insert(int key, const LumekStandinMemdbRecord *record) {
    if (!record || record->count < 1 || record->count > 16) return -1;
    return standin::guarded(-1, [&]() -> int {
        int32_t types[16];
        const void *values[16];
        for (int i = 0; i < record->count; ++i) {
            types[i] = record->type[i];
            values[i] = record->type[i] == LUMEK_MEMDB_TYPE_INT32
                            ? static_cast<const void *>(&record->number[i])
                            : static_cast<const void *>(record->text[i]);
            if (!values[i] || (types[i] != LUMEK_MEMDB_TYPE_INT32 && types[i] != LUMEK_MEMDB_TYPE_STRING))
                return -1;
        }
        Session s;
        if (!s || !standin::memdb_exists(*s, key)) return -1;
        return standin::memdb_insert(*s, key, record->count, types, values) ? 0 : -1;
    });
}

}  // extern "C"
