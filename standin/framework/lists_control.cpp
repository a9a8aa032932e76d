// Inspection of the kernel-enforced lists and of the commands the kernel got.
#include <string.h>

#include <string>
#include <vector>

#include "standin_control.h"
#include "standin_internal.h"

using standin::Session;

namespace {

struct ListQuery {
    const char *name;
    const char *sql;
    int columns;
};

const ListQuery kLists[] = {
    {"netctl", "SELECT uid, mode, path FROM netctl ORDER BY rowid", 3},
    {"netctl_pkg", "SELECT uid, mode, pkg FROM netctl_pkg ORDER BY rowid", 3},
    {"ppro", "SELECT type, path FROM ppro ORDER BY rowid", 2},
    {"pblk", "SELECT path FROM pblk ORDER BY rowid", 1},
    {"udeb", "SELECT sm, first, second FROM udeb ORDER BY rowid", 3},
    {"func_status", "SELECT func, value FROM func_status ORDER BY func", 2},
    {"kid_info", "SELECT kid, kid_type, app_name, pkg_name FROM kid_info ORDER BY rowid", 4},
    {"kid_res", "SELECT kid, res_type, path FROM kid_res ORDER BY rowid", 3},
    {"kid_priv", "SELECT sub_kid, obj_kid, uid, perm FROM kid_priv ORDER BY rowid", 4},
    {"kid_netctl", "SELECT kid, flag, path FROM kid_netctl ORDER BY rowid", 3},
    {"kid_file", "SELECT kid, path FROM kid_file ORDER BY path", 2},
    {"kid_pid", "SELECT pid, kid FROM kid_pid ORDER BY pid", 2},
};

char **lines_of(const char *sql, int columns, const char *bind_text, int *count) {
    Session s;
    if (!s) return nullptr;
    sqlite3_stmt *st = s->stmt(sql);
    if (!st) return nullptr;
    if (bind_text) sqlite3_bind_text(st, 1, bind_text, -1, SQLITE_TRANSIENT);
    std::vector<std::string> lines;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string line;
        for (int c = 0; c < columns; ++c) {
            const unsigned char *t = sqlite3_column_text(st, c);
            if (c) line += ' ';
            line += t ? reinterpret_cast<const char *>(t) : "";
        }
        lines.push_back(line);
    }
    sqlite3_reset(st);
    return standin::lines_to_array(lines, count);
}

}  // namespace

extern "C" {

char **lumek_standin_list_entries(const char *list, int *count) {
    if (!list) return nullptr;
    return standin::guarded<char **>(nullptr, [&]() -> char ** {
        for (const auto &q : kLists)
            if (strcmp(list, q.name) == 0) return lines_of(q.sql, q.columns, nullptr, count);
        return nullptr;
    });
}

char **lumek_standin_kernel_commands(const char *list, int *count) {
    return standin::guarded<char **>(nullptr, [&] {
        return list ? lines_of("SELECT list, command, data, value FROM kernel WHERE list = ? ORDER BY seq", 4,
                               list, count)
                    : lines_of("SELECT list, command, data, value FROM kernel ORDER BY seq", 4, nullptr,
                               count);
    });
}

}  // extern "C"
