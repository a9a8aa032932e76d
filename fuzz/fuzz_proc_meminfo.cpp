// /proc/meminfo texts.
#include <stddef.h>
#include <stdint.h>

#include <string_view>

#include "procinfo/procinfo_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    long total =
        lumek::procinfo::parse_meminfo_total(std::string_view(reinterpret_cast<const char *>(data), size));
    if (total <= 0) __builtin_trap();  // a divisor for every percentage
    return 0;
}
