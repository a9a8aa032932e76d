// The dpkg status file reader on arbitrary text: every name it gives is the rest of a
// "Package: " line of the text, and no stanza lends its status to another.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "kid/kid_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 65536) return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    FILE *f = fmemopen(text.data(), text.size(), "r");
    if (!f) return 0;
    // Text in memory never fails to read.
    std::optional<std::vector<std::string>> read = lumek::kid::installed_packages_in(f);
    fclose(f);
    if (!read) abort();
    const std::vector<std::string> &names = *read;
    size_t from = 0;
    for (const std::string &name : names) {
        // In order, each after the previous one's line.
        size_t at = text.find("Package: " + name, from);
        if (at == std::string::npos || name.find('\n') != std::string::npos) abort();
        from = at + 1;
    }
    // Each name needs its own installed status line after it.
    if (names.size() > 0 && text.find("ok installed") == std::string::npos) abort();
    return 0;
}
