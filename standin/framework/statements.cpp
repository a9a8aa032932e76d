// One-statement helpers over the shared store, used by every list the stand-in keeps.
#include <errno.h>
#include <string.h>

#include "standin_internal.h"

namespace standin {

int change_row(const char *sql, const Binder &bind, bool must_change) {
    Session s;
    if (!s) return -1;
    sqlite3_stmt *st = s->stmt(sql);
    if (!st) return -1;
    bind(st);
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) {
        errno = (rc & 0xff) == SQLITE_CONSTRAINT ? EEXIST : EIO;
        return -1;
    }
    if (must_change && sqlite3_changes(s->db()) == 0) {
        errno = ENOENT;
        return -1;
    }
    return 0;
}

bool select_rows(const char *sql, const Binder &bind, const std::function<void(sqlite3_stmt *)> &row) {
    Session s;
    if (!s) return false;
    sqlite3_stmt *st = s->stmt(sql);
    if (!st) return false;
    bind(st);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) row(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE;
}

std::string column_text(sqlite3_stmt *st, int i) {
    const unsigned char *t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char *>(t), sqlite3_column_bytes(st, i)) : std::string();
}

void put_text(char *field, size_t cap, const std::string &text) {
    memcpy(field, text.data(), text.size() < cap ? text.size() : cap);
}

}  // namespace standin
