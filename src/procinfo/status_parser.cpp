// /proc/<pid>/status and /proc/meminfo: "Key:<blanks>value" lines. Each key is taken from
// the first line that begins with it (colon included), and its value is scanned from a fixed
// character position, as the classic readers did.
#include <stdio.h>

#include "procinfo/procinfo_internal.h"

namespace lumek::procinfo {

namespace {

struct StateEntry {
    char letter;
    int code;
};

// proc(5) letters the snapshot lists; any other letter (I, P, W, ...) is left out.
constexpr StateEntry kStateTable[] = {
    {'R', LUMEK_PROC_STATE_RUNNING}, {'T', LUMEK_PROC_STATE_STOPPED},      {'S', LUMEK_PROC_STATE_SLEEPING},
    {'Z', LUMEK_PROC_STATE_ZOMBIE},  {'t', LUMEK_PROC_STATE_TRACING_STOP}, {'D', LUMEK_PROC_STATE_DISK_SLEEP},
    {'X', LUMEK_PROC_STATE_DEAD},
};

// One line, bounded and NUL-terminated so that scanf stops where the line does.
class Line {
  public:
    explicit Line(std::string_view text) noexcept {
        len_ = text.size() < kStatusLineMax ? text.size() : kStatusLineMax;
        for (size_t i = 0; i < len_; ++i) {
            buf_[i] = text[i];
            if (text[i] == '\0') {
                len_ = i;
                break;
            }
        }
        buf_[len_] = '\0';
    }
    bool starts_with(const char *key, size_t key_len) const noexcept {
        return len_ >= key_len && std::string_view(buf_, key_len) == std::string_view(key, key_len);
    }
    // The text from @offset on; an empty text when the line is shorter.
    const char *from(size_t offset) const noexcept { return offset <= len_ ? buf_ + offset : buf_ + len_; }
    size_t size() const noexcept { return len_; }

  private:
    char buf_[kStatusLineMax + 1];
    size_t len_ = 0;
};

template <size_t N>
constexpr size_t key_len(const char (&)[N]) {
    return N - 1;
}

// Calls fn(line) for every line of @text, the newline kept as the line's last character.
template <typename Fn>
void for_each_line(std::string_view text, Fn fn) {
    while (!text.empty()) {
        size_t nl = text.find('\n');
        size_t n = nl == std::string_view::npos ? text.size() : nl + 1;
        fn(text.substr(0, n));
        text.remove_prefix(n);
    }
}

}  // namespace

int state_code(char letter) noexcept {
    for (const StateEntry &e : kStateTable)
        if (e.letter == letter) return e.code;
    return -1;
}

void parse_status(std::string_view text, StatusFields *out) noexcept {
    *out = StatusFields{};
    bool seen_state = false, seen_ppid = false, seen_threads = false, seen_uid = false, seen_rss = false;
    for_each_line(text, [&](std::string_view raw) {
        // Most lines carry no wanted key: look at the key before copying the line.
        if (raw.empty() ||
            !(raw[0] == 'S' || raw[0] == 'P' || raw[0] == 'T' || raw[0] == 'U' || raw[0] == 'V'))
            return;
        Line line(raw);
        if (!seen_state && line.starts_with(kKeyState, key_len(kKeyState))) {
            seen_state = true;
            // The letter sits after "State:" and one blank; a line too short for it has none.
            if (line.size() > kStateLetterOffset) {
                out->state_letter = *line.from(kStateLetterOffset);
                out->has_state = true;
            }
        } else if (!seen_ppid && line.starts_with(kKeyPpid, key_len(kKeyPpid))) {
            seen_ppid = true;
            long v = 0;
            if (sscanf(line.from(kPpidOffset), "%9ld", &v) == 1) out->ppid = v;
        } else if (!seen_threads && line.starts_with(kKeyThreads, key_len(kKeyThreads))) {
            seen_threads = true;
            int v = 0;
            if (sscanf(line.from(kThreadsOffset), "%9d", &v) == 1) out->threads = v;
        } else if (!seen_uid && line.starts_with(kKeyUid, key_len(kKeyUid))) {
            seen_uid = true;
            int v = 0;
            if (sscanf(line.from(kUidOffset), "%9d", &v) == 1) out->uid = v;
        } else if (!seen_rss && line.starts_with(kKeyVmRss, key_len(kKeyVmRss))) {
            seen_rss = true;
            unsigned long v = 0;
            if (sscanf(line.from(kVmRssOffset), "%lu", &v) == 1) out->vm_rss_kb = v;
        }
    });
}

long parse_meminfo_total(std::string_view text) noexcept {
    long total = 1;
    bool seen = false;
    for_each_line(text, [&](std::string_view raw) {
        if (seen) return;
        Line line(raw);
        if (!line.starts_with(kKeyMemTotal, key_len(kKeyMemTotal))) return;
        seen = true;
        long v = 0;
        if (sscanf(line.from(kMemTotalOffset), "%ld", &v) == 1) total = v;
    });
    // A zero or negative total would turn every percentage into infinity or a negative number.
    return total > 0 ? total : 1;
}

}  // namespace lumek::procinfo
