// The whitelist file that import reads and export writes: lines LABEL<tab>PROTECTION<tab>PATH
// with the three texts escaped, so that every byte a path or a text can hold survives the
// trip (users back up and restore whitelists with it).
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "daemon_internal.h"

namespace whlistd {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "\\", "\n", "\t"; "\xNN" for the other control bytes (a "\r" would be taken for a CRLF line
// end) and for each byte of a sequence that is not UTF-8.
void append_escaped(std::string *out, const std::string &text) {
    static const char kHex[] = "0123456789abcdef";
    const char *p = text.data();
    const char *end = p + text.size();
    while (p < end) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\\' || c == '\n' || c == '\t') {
            *out += '\\';
            *out += c == '\\' ? '\\' : c == '\n' ? 'n' : 't';
            ++p;
        } else if (c < 0x20 || c == 0x7f) {
            *out += "\\x";
            *out += kHex[c >> 4];
            *out += kHex[c & 15];
            ++p;
        } else if (c < 0x80) {
            *out += *p++;
        } else if (static_cast<gint32>(g_utf8_get_char_validated(p, end - p)) >= 0) {
            const char *next = g_utf8_next_char(p);
            out->append(p, next);
            p = next;
        } else {
            *out += "\\x";
            *out += kHex[c >> 4];
            *out += kHex[c & 15];
            ++p;
        }
    }
}

// Undoes append_escaped. Null on success, else why the text is refused.
const char *unescape(const std::string &text, std::string *out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        // The texts end up as C strings: a raw NUL would cut a path short and name another file.
        if (text[i] == '\0') return "a NUL byte cannot be part of a text";
        if (text[i] != '\\') {
            *out += text[i];
            continue;
        }
        char e = i + 1 < text.size() ? text[i + 1] : '\0';
        if (e == '\\' || e == 'n' || e == 't') {
            *out += e == '\\' ? '\\' : e == 'n' ? '\n' : '\t';
            ++i;
        } else if (e == 'x' && i + 3 < text.size() && hex_digit(text[i + 2]) >= 0 &&
                   hex_digit(text[i + 3]) >= 0) {
            int v = hex_digit(text[i + 2]) * 16 + hex_digit(text[i + 3]);
            if (v == 0) return "\\x00 cannot be part of a text";
            *out += static_cast<char>(v);
            i += 3;
        } else {
            return "unknown escape (known: \\\\, \\n, \\t, \\xNN)";
        }
    }
    return nullptr;
}

// One line, its line end removed. Null on success, else why the line is refused.
const char *parse_line(const std::string &line, FileLine *out) {
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) return "expected LABEL<tab>PROTECTION<tab>PATH";
    // The path is the rest of the line: files written before paths were escaped may hold tabs.
    const char *why = unescape(line.substr(0, t1), &out->label);
    if (!why) why = unescape(line.substr(t1 + 1, t2 - t1 - 1), &out->protect);
    if (!why) why = unescape(line.substr(t2 + 1), &out->path);
    if (why) return why;
    if (out->path.empty() || out->path[0] != '/') return "the path is not absolute";
    // Any label or protection text is taken: the file restores what export saved, and the
    // store may hold texts the framework's setters would not write.
    if (out->label.empty() && out->protect.empty()) return "neither a label nor a protection text";
    return nullptr;
}

bool write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

void append_file_line(std::string *out, const FileLine &line) {
    append_escaped(out, line.label);
    *out += '\t';
    append_escaped(out, line.protect);
    *out += '\t';
    append_escaped(out, line.path);
    *out += '\n';
}

bool parse_file(const std::string &text, std::vector<FileLine> *out, int *bad_line, std::string *why) {
    size_t pos = 0;
    for (int lineno = 1; pos < text.size(); ++lineno) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        FileLine l;
        if (const char *reason = parse_line(line, &l)) {
            *bad_line = lineno;
            *why = reason;
            return false;
        }
        out->push_back(std::move(l));
    }
    return true;
}

bool read_whlist_file(const char *file, std::string *text, std::string *why) {
    // Without O_NONBLOCK a FIFO nobody writes to would block the daemon, and every client.
    int fd = open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok)
        *why = strerror(errno);
    else if (!S_ISREG(st.st_mode))
        *why = kMsgNotRegular;
    else if (st.st_size > kMaxFileBytes)
        *why = kMsgTooLarge;
    ok = ok && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes;
    text->clear();
    char buf[65536];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) *why = strerror(errno);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        // The file may grow while it is read.
        if (text->size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxFileBytes)) {
            *why = kMsgTooLarge;
            ok = false;
            break;
        }
        text->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

bool write_whlist_file(const char *file, const std::string &text, std::string *why, bool *opened) {
    *opened = false;
    if (!*file) {  // a temporary file would be made in the daemon's working directory
        *why = strerror(ENOENT);
        return false;
    }
    // Only a regular file is replaced: a link, FIFO or device at the name is refused, never
    // followed or opened.
    struct stat old;
    bool existed = lstat(file, &old) == 0;
    if (!existed && errno != ENOENT) {
        *why = strerror(errno);
        return false;
    }
    if (existed && !S_ISREG(old.st_mode)) {
        *why = kMsgNotRegular;
        return false;
    }
    // A new file beside it, renamed over it when complete: a failed export leaves the
    // earlier backup whole, and nobody reads half a file.
    std::string tmp = std::string(file) + ".XXXXXX";
    int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    *opened = true;
    // Keeps the owner of the file it replaces; only possible as root, and not needed else.
    if (existed && (old.st_uid != geteuid() || old.st_gid != getegid()))
        (void)!fchown(fd, old.st_uid, old.st_gid);
    bool ok =
        fchmod(fd, existed ? (old.st_mode & 07777) : 0644) == 0 && write_all(fd, text) && fsync(fd) == 0;
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(tmp.c_str(), file) != 0) {
        ok = false;
        saved = errno;
    }
    if (ok) return true;
    unlink(tmp.c_str());
    *why = strerror(saved);
    return false;
}

}  // namespace whlistd
