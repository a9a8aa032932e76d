// The in-process DT_NEEDED reader on arbitrary bytes: it must stay inside the buffer (the
// sanitizers check), and whatever it accepts must read as the objdump pipeline's names do.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "label/elf_needed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    auto names = lumek::label::elf_needed(data, size);
    if (!names) return 0;
    // awk's second field: never empty, never blank, printable.
    for (const auto &n : *names) {
        if (n.empty()) abort();
        for (unsigned char c : n)
            if (c <= ' ' || c > 0x7e) abort();
    }
    return 0;
}
