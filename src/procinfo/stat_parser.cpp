// /proc/<pid>/stat: the command name between the first "(" and the last ")", and the numeric
// fields behind them. The fields are scanned with the classic scanf formats, but from the text after the
// LAST ")" of the line: the name may hold blanks or a forged ") R 1 1 ..." of its own, and a
// scan that started at the pid would take those for fields.
#include <stdio.h>
#include <string.h>

#include "procinfo/procinfo_internal.h"

namespace lumek::procinfo {

namespace {

// The formats start where the state letter is due (field 3), just after the name.
constexpr const char kTtyFormat[] = " %*c %*d %*d %*d %9d";
constexpr const char kStartFormat[] =
    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %19llu %*u";
constexpr const char kTimeFormat[] = " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %*s";
constexpr const char kUsageFormat[] =
    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %lu %lu %*d %*d %*d %*d %llu %*u";

Scan outcome(int rc, int wanted) {
    if (rc == EOF) return Scan::Eof;
    return rc == wanted ? Scan::Ok : Scan::Partial;
}

}  // namespace

bool parse_stat(std::string_view text, StatFields *out) {
    *out = StatFields{};
    // The whole record, not its first line: the kernel writes the name unescaped, so a name
    // may hold a newline, and cutting there would hide the process.
    std::string_view line = text;

    // The name comes from the first 127 bytes, as one short line read would see them.
    std::string_view window = line.substr(0, kNameWindow);
    size_t open = window.find('(');
    size_t close = window.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    out->name.assign(window.substr(open + 1, close - open - 1));

    // Numeric fields: behind the last ")" of the (bounded) line. An embedded NUL would end a
    // C-string scan anyway; cutting there keeps the copy and the scan in step.
    line = line.substr(0, kStatLineMax);
    size_t last = line.rfind(')');
    if (last == std::string_view::npos || last < open) return false;
    std::string tail(line.substr(last + 1));
    tail.resize(strlen(tail.c_str()));
    const char *t = tail.c_str();

    int tty = 0;
    out->tty_scan = outcome(sscanf(t, kTtyFormat, &tty), 1);
    out->tty_nr = tty;

    out->start_scan = outcome(sscanf(t, kStartFormat, &out->start_ticks), 1);
    out->time_scan = outcome(sscanf(t, kTimeFormat, &out->utime, &out->stime), 2);
    out->usage_scan = outcome(sscanf(t, kUsageFormat, &out->usage_utime, &out->usage_stime, &out->cutime,
                                     &out->cstime, &out->usage_start_ticks),
                              5);
    return true;
}

}  // namespace lumek::procinfo
