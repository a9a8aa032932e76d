// /proc/net/tcp and /proc/net/udp: the inode column of every socket line, and the inode of a
// "socket:[N]" descriptor target. Inodes are compared as numbers taken from their own column,
// never as substrings of a whole line: "1234" must not match "51234" or a port of 0x1234.
#include "procinfo/procinfo_internal.h"

namespace lumek::procinfo {

namespace {

constexpr size_t kInodeColumn = 10;  // 1-based, whitespace-separated

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A decimal number of at most 20 digits that fits in 64 bits.
bool parse_u64(std::string_view s, uint64_t *out) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    *out = v;
    return true;
}

// The @n-th (1-based) whitespace-separated field of @line, or an empty view.
std::string_view field(std::string_view line, size_t n) {
    size_t i = 0;
    for (size_t k = 1;; ++k) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size()) return {};
        size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        if (k == n) return line.substr(start, i - start);
    }
}

}  // namespace

void parse_net_table(std::string_view text, std::unordered_set<uint64_t> *inodes) {
    bool header = true;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (header) {  // column titles, not a socket
            header = false;
            continue;
        }
        uint64_t inode = 0;
        if (parse_u64(field(line, kInodeColumn), &inode)) inodes->insert(inode);
    }
}

bool is_socket_target(std::string_view target) noexcept {
    constexpr std::string_view prefix(kSocketPrefix);
    return target.substr(0, prefix.size()) == prefix;
}

bool socket_inode(std::string_view target, uint64_t *inode) noexcept {
    if (!is_socket_target(target)) return false;
    size_t open = target.find('[');
    size_t close = target.rfind(']');
    if (open == std::string_view::npos || close == std::string_view::npos || close <= open) return false;
    std::string_view text = target.substr(open + 1, close - open - 1);
    if (text.size() > kInodeTextMax) return false;
    return parse_u64(text, inode);
}

}  // namespace lumek::procinfo
