// The output layer: escaping, tables, lossless JSON, reasons and absolute paths.
#include "output.h"

#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "lumekwhlist.h"

namespace lumekctl {

namespace {

// Length of the valid UTF-8 sequence at @s[i], 0 when the byte starts none.
size_t utf8_length(std::string_view s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1f : n == 3 ? c & 0x0f : c & 0x07;
    for (size_t k = 1; k < n; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xc0) != 0x80) return 0;
        cp = cp << 6 | (d & 0x3f);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
    return n;
}

std::string hex(unsigned char c) {
    char buf[5];
    snprintf(buf, sizeof buf, "\\x%02x", c);
    return buf;
}

// Walks @text: valid sequences are passed to @keep, other bytes escaped as \xNN; a backslash
// is doubled either way so that the result reads back to the same bytes.
template <typename Keep>
std::string walk(std::string_view text, Keep keep) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8_length(text, i);
        if (n == 0) {
            out += hex(static_cast<unsigned char>(text[i++]));
        } else if (text[i] == '\\') {
            out += "\\\\";
            ++i;
        } else {
            keep(out, text.substr(i, n));
            i += n;
        }
    }
    return out;
}

// Display columns of escaped text: one per code point.
size_t columns_of(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xc0) != 0x80;
    return n;
}

// @s cut to @width columns, the last of them "…".
std::string cut(const std::string &s, size_t width) {
    if (width == 0 || columns_of(s) <= width) return s;
    size_t cols = 0, i = 0;
    for (; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xc0) != 0x80 && cols++ == width - 1) break;
    }
    return s.substr(0, i) + "…";
}

}  // namespace

std::string escaped(std::string_view text) {
    return walk(text, [](std::string &out, std::string_view seq) {
        unsigned char c = static_cast<unsigned char>(seq[0]);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7f)
            out += hex(c);
        else if (seq.size() == 2 && c == 0xc2 && static_cast<unsigned char>(seq[1]) < 0xa0)
            out += hex(c) + hex(static_cast<unsigned char>(seq[1]));  // C1 controls such as U+009B
        else
            out += seq;
    });
}

std::string json_text(std::string_view text) {
    return walk(text, [](std::string &out, std::string_view seq) { out += seq; });
}

nlohmann::json lossless(const nlohmann::json &doc) {
    if (doc.is_string()) return json_text(doc.get_ref<const std::string &>());
    if (doc.is_array()) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto &e : doc) out.push_back(lossless(e));
        return out;
    }
    if (doc.is_object()) {
        nlohmann::json out = nlohmann::json::object();
        for (const auto &[k, v] : doc.items()) out[json_text(k)] = lossless(v);
        return out;
    }
    return doc;
}

void Table::add(std::vector<std::string> cells) {
    cells.resize(columns_.size());
    for (auto &c : cells) c = escaped(c);
    rows_.push_back(std::move(cells));
}

void Table::print(std::ostream &out, size_t width) const {
    std::vector<size_t> w(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
        w[c] = columns_of(columns_[c].head);
        for (const auto &r : rows_) w[c] = std::max(w[c], columns_of(r[c]));
        if (columns_[c].max) w[c] = std::min(w[c], std::max(columns_[c].max, columns_of(columns_[c].head)));
    }
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (size_t c = 0; c < cells.size(); ++c) {
            bool last = c + 1 == cells.size();
            std::string cell = cut(cells[c], last ? 0 : w[c]);
            std::string pad(w[c] - std::min(w[c], columns_of(cell)), ' ');
            if (columns_[c].right)
                text += pad + cell;
            else
                text += cell + (last ? "" : pad);
            if (!last) text += "  ";
        }
        out << cut(text, width) << '\n';
    };
    std::vector<std::string> heads;
    for (const auto &c : columns_) heads.push_back(c.head);
    line(heads);
    for (const auto &r : rows_) line(r);
}

size_t terminal_width() {
    struct winsize ws {};
    if (!isatty(STDOUT_FILENO) || ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return 0;
    return ws.ws_col;
}

const char kSeeLog[] = "the framework log has the details";

std::string last_error() {
    std::string text = lumek_whlist_last_err();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string code_meaning(int32_t rc) {
    // The framework band the daemon and the framework setters share.
    static const std::map<int32_t, const char *> kCodes = {
        {-1001, "authorisation failed"},
        {-1002, "authorisation cancelled"},
        {-1003, "the framework is disabled"},
        {-1004, "the daemon's database failed"},
        {-1005, "reading a label failed"},
        {-1006, "setting a label failed"},
        {-1007, "invalid argument"},
        {-1008, "extracting a list failed"},
        {-1009, "no label can be chosen for the file (file attribute error)"},
        {-1010, "framework error -1010"},
        {-1011, "unrecognised daemon error"},
    };
    auto it = kCodes.find(rc);
    return it == kCodes.end() ? "" : it->second;
}

std::string reason(int32_t rc, const std::string &before) {
    std::string now = last_error();
    std::string code = "result " + std::to_string(rc);
    if (!now.empty() && now != before) return now + " (" + code + ")";
    std::string meaning = code_meaning(rc);
    return (meaning.empty() ? std::string(kSeeLog) : meaning + "; " + kSeeLog) + " (" + code + ")";
}

std::string absolute(const std::string &path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(path, ec);
    if (ec) return path;
    std::string out = abs.lexically_normal().string();
    // "dir/" stays a directory name, "." the directory itself.
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

CLI::Validator absolute_path() {
    return CLI::Validator(
        [](std::string &text) -> std::string {
            text = absolute(text);
            return "";
        },
        "PATH");
}

}  // namespace lumekctl
