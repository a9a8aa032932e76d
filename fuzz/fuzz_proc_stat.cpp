// /proc/<pid>/stat lines: name window, last-")" field scans.
#include <stddef.h>
#include <stdint.h>

#include <string_view>

#include "procinfo/procinfo_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    lumek::procinfo::StatFields st;
    if (lumek::procinfo::parse_stat(std::string_view(reinterpret_cast<const char *>(data), size), &st)) {
        // Whatever the text, the derived fields must be computable.
        (void)lumek::procinfo::cpu_seconds(st.utime, st.stime);
        (void)lumek::procinfo::cpu_usage_percent(st.usage_utime, st.usage_stime, st.usage_start_ticks, 12345);
        char out[128];
        lumek::procinfo::start_time_text(st.start_ticks, 1700000000, 12345, out);
    }
    return 0;
}
