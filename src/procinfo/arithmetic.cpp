// Turning ticks and kilobytes into record fields. The whole-second arithmetic (ticks taken as
// 100 a second, divisions that drop the remainder) is the interface callers know and compare
// against: keep it, even where finer numbers would be possible.
#include <string.h>
#include <time.h>

#include "procinfo/procinfo_internal.h"

namespace lumek::procinfo {

int64_t cpu_seconds(unsigned long utime, unsigned long stime) noexcept {
    return static_cast<int64_t>((utime + stime) / kTicksPerSecond);
}

double cpu_usage_percent(unsigned long utime, unsigned long stime, unsigned long long start_ticks,
                         int64_t now_secs) noexcept {
    int64_t elapsed = now_secs - static_cast<int64_t>(start_ticks / kTicksPerSecond);
    // A start in the future (clock readings straddling a tick, or a hostile stat line) must
    // not give a negative or infinite usage.
    if (elapsed <= 0) return 0.0;
    int64_t busy = static_cast<int64_t>((utime + stime) / kTicksPerSecond * 100);
    // Whole percent on purpose: the usage is whole CPU seconds per whole second of life.
    return static_cast<double>(busy / elapsed);  // NOLINT(bugprone-integer-division)
}

double mem_usage_percent(unsigned long vm_rss_kb, long mem_total_kb) noexcept {
    int64_t scaled = static_cast<int64_t>(static_cast<uint64_t>(vm_rss_kb) * 100);
    return static_cast<double>(scaled) / static_cast<double>(mem_total_kb);
}

void start_time_text(unsigned long long start_ticks, int64_t wall_secs, int64_t boot_secs,
                     char (&out)[128]) noexcept {
    out[0] = '\0';
    // Done in unsigned arithmetic so that a hostile tick count wraps instead of overflowing.
    uint64_t instant = start_ticks / kTicksPerSecond + static_cast<uint64_t>(wall_secs - boot_secs);
    time_t t = static_cast<time_t>(instant);
    char buf[64];
    if (!ctime_r(&t, buf)) return;  // a year that does not fit
    strncpy(out, buf, sizeof out - 1);
    out[sizeof out - 1] = '\0';
}

}  // namespace lumek::procinfo
