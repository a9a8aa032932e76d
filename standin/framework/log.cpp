// The framework log: one line "level|flag|func|text" per call, appended to the file "log" in
// the state directory. The tag is data (it may be a caller's path holding '%'). A NULL tag is
// written as "\N", which no escaped tag can be, so tests can tell it from an empty one.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "standin_internal.h"

namespace {

// Backslash, newline and carriage return are escaped so that one call stays one line;
// in the tag '|' is escaped too so that the text starts after the second bare '|'.
std::string escape(const char *text, bool is_tag) {
    std::string out;
    for (const char *p = text; *p; ++p) {
        switch (*p) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '|':
                out += is_tag ? "\\|" : "|";
                break;
            default:
                out += *p;
        }
    }
    return out;
}

std::string format_text(const char *fmt, va_list ap) {
    if (!fmt) return "";
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return "";
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&big[0], big.size(), fmt, ap);
    big.resize(static_cast<size_t>(n));
    return big;
}

}  // namespace

extern "C" int lumek_log(int level, int flag, const char *func, const char *fmt, ...) {
    int saved_errno = errno;  // callers log errno texts and go on using errno
    try {
        va_list ap;
        va_start(ap, fmt);
        std::string text = format_text(fmt, ap);
        va_end(ap);

        if (auto f =
                standin::enter("lumek_log", standin::args({std::to_string(level), std::to_string(flag),
                                                           standin::quote(func), standin::quote(fmt)}))) {
            standin::apply_fault(*f);
            return f->ret;
        }
        std::string line = std::to_string(level) + "|" + std::to_string(flag) + "|" +
                           (func ? escape(func, true) : std::string(standin::kLogNullTag)) + "|" +
                           escape(text.c_str(), false) + "\n";
        std::string path = standin::state_dir() + "/" + standin::kLogFile;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) {
            errno = saved_errno;
            return -1;
        }
        // One write per line: appends from several processes do not interleave.
        ssize_t w = write(fd, line.data(), line.size());
        close(fd);
        errno = saved_errno;
        return w == static_cast<ssize_t>(line.size()) ? 0 : -1;
    } catch (...) {
        errno = saved_errno;
        return -1;
    }
}
