// The stand-in's file classifier on arbitrary file contents (ELF headers of any class, byte
// order and size, truncated program headers, "#!" lines).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "standin_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    auto read_at = [&](uint64_t off, void *buf, size_t len) -> size_t {
        if (off >= size) return 0;
        size_t n = size - off < len ? size - off : len;
        memcpy(buf, data + off, n);
        return n;
    };
    // The name decides only between a kernel module and other relocatable objects.
    int type = standin::classify_contents(read_at, size % 2 ? "mod.ko" : "obj.o");
    if (type < -1 || type > 5) abort();
    return 0;
}
