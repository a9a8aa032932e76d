// Process snapshot internals: the parsers of the /proc texts one walk reads, the arithmetic
// that turns them into record fields, and the per-call context. Parsers take bytes, never
// paths, so that hostile text can be fed to them directly.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <unordered_set>

#include "lumekwhlist.h"

namespace lumek::procinfo {

// ---- Constants -------------------------------------------------------------------------------

inline constexpr uint32_t kMaxRecords = LUMEK_PROCESS_INFO_MAX;
inline constexpr uint64_t kTicksPerSecond = 100;  // fixed, whatever the kernel's USER_HZ

inline constexpr size_t kNameWindow = 127;      // bytes of the stat line the name is taken from
inline constexpr size_t kStatLineMax = 1023;    // bytes of the stat line the numeric fields come from
inline constexpr size_t kStatusLineMax = 1023;  // bytes of one status or meminfo line
inline constexpr size_t kExeMax = 1023;         // bytes of the exe link target
inline constexpr size_t kCmdlineMax = 4095;     // bytes of the command line kept
inline constexpr size_t kFdTargetMax = 319;     // bytes of one descriptor link target
inline constexpr size_t kInodeTextMax = 31;     // characters of the inode text of a socket target

// Message prefix handed to perror() when the stat file is gone at a reading step.
inline constexpr const char kFopenErrorPrefix[] = "FOPEN ERROR ";

// Status and meminfo keys, each with the offset its number (or letter) is read from.
inline constexpr const char kKeyState[] = "State:";
inline constexpr size_t kStateLetterOffset = 7;
inline constexpr const char kKeyPpid[] = "PPid:";
inline constexpr size_t kPpidOffset = 5;
inline constexpr const char kKeyThreads[] = "Threads:";
inline constexpr size_t kThreadsOffset = 8;
inline constexpr const char kKeyUid[] = "Uid:";
inline constexpr size_t kUidOffset = 4;
inline constexpr const char kKeyVmRss[] = "VmRSS:";
inline constexpr size_t kVmRssOffset = 6;
inline constexpr const char kKeyMemTotal[] = "MemTotal:";
inline constexpr size_t kMemTotalOffset = 9;

inline constexpr const char kSocketPrefix[] = "socket:";

// State code of a proc(5) state letter, or -1 for a letter the snapshot leaves out.
int state_code(char letter) noexcept;

// ---- stat ------------------------------------------------------------------------------------

// Outcome of one scanf-style read of the stat fields: the scan hit the end of the text before
// its first stored value (Eof), stopped at text that is not a number (Partial: the values it
// did not reach stay 0), or read everything (Ok).
enum class Scan { Eof, Partial, Ok };

struct StatFields {
    std::string name;  // between the first "(" and the last ")" of the name window

    Scan tty_scan = Scan::Eof;  // reading of field 7
    int32_t tty_nr = 0;
    Scan start_scan = Scan::Eof;  // reading of field 22
    unsigned long long start_ticks = 0;
    Scan time_scan = Scan::Eof;  // reading of fields 14 and 15
    unsigned long utime = 0, stime = 0;
    Scan usage_scan = Scan::Eof;  // reading of fields 14 to 17 and 22
    unsigned long usage_utime = 0, usage_stime = 0, cutime = 0, cstime = 0;
    unsigned long long usage_start_ticks = 0;
};

// Parses a /proc/<pid>/stat record, newlines in the name included. The numeric fields are
// read after the LAST ")" of the record, so that a command name holding blanks, newlines or a
// forged ") R 1 1 ..." cannot shift them. Returns false when the record has no "(", no ")" or
// its last ")" before its first "(": such a process has no name and is left out.
bool parse_stat(std::string_view text, StatFields *out);

// ---- status and meminfo ----------------------------------------------------------------------

struct StatusFields {
    bool has_state = false;  // a "State:" line with a letter at its 8th character
    char state_letter = 0;
    int64_t ppid = 0;  // 0 when the line is missing
    int32_t threads = 0;
    int32_t uid = 0;
    unsigned long vm_rss_kb = 0;
};

// Parses a /proc/<pid>/status text; each key is taken from the first line that begins with it.
void parse_status(std::string_view text, StatusFields *out) noexcept;

// MemTotal in kB from a /proc/meminfo text; 1 when the line is missing (so that a missing
// line never divides by zero), and 1 as well for a value that is not positive.
long parse_meminfo_total(std::string_view text) noexcept;

// ---- socket tables ---------------------------------------------------------------------------

// Adds the inode column (the 10th whitespace-separated field) of every data line of a
// /proc/net/tcp or /proc/net/udp text to @inodes. The header line and lines whose 10th field
// is not a decimal number are passed over.
void parse_net_table(std::string_view text, std::unordered_set<uint64_t> *inodes);

// A descriptor target that names a socket: it begins with "socket:". (A file whose path merely
// contains that text is no socket.)
bool is_socket_target(std::string_view target) noexcept;

// Inode of a socket target "socket:[N]": true and *inode = N when the target is a socket target
// and the text between its first "[" and last "]" (at most 31 characters) is a decimal number.
bool socket_inode(std::string_view target, uint64_t *inode) noexcept;

// ---- arithmetic ------------------------------------------------------------------------------

// Whole seconds of CPU: (utime + stime) / 100.
int64_t cpu_seconds(unsigned long utime, unsigned long stime) noexcept;

// Average CPU usage in whole percent since the start: ((utime + stime) / 100 * 100) / elapsed
// with elapsed = now_secs - start_ticks / 100; 0.0 when elapsed is not positive.
double cpu_usage_percent(unsigned long utime, unsigned long stime, unsigned long long start_ticks,
                         int64_t now_secs) noexcept;

// Resident memory in percent: VmRSS * 100 / MemTotal, in doubles, no truncation.
double mem_usage_percent(unsigned long vm_rss_kb, long mem_total_kb) noexcept;

// ctime() text of the instant start_ticks / 100 + (wall_secs - boot_secs) into @out (128
// bytes, NUL-terminated); empty when the instant cannot be expressed as a calendar date.
void start_time_text(unsigned long long start_ticks, int64_t wall_secs, int64_t boot_secs,
                     char (&out)[128]) noexcept;

}  // namespace lumek::procinfo
