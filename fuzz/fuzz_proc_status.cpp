// /proc/<pid>/status texts.
#include <stddef.h>
#include <stdint.h>

#include <string_view>

#include "procinfo/procinfo_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    lumek::procinfo::StatusFields s;
    lumek::procinfo::parse_status(std::string_view(reinterpret_cast<const char *>(data), size), &s);
    if (s.has_state) (void)lumek::procinfo::state_code(s.state_letter);
    (void)lumek::procinfo::mem_usage_percent(s.vm_rss_kb, 1);
    return 0;
}
