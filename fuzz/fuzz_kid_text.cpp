// The kid texts the framework gives for files and processes: only a plain decimal number
// within 32 bits is a kid, and its type follows the numbering ranges.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "kid/kid_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    // The framework hands over a C string: it ends at the first NUL.
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    auto kid = lumek::kid::parse_kid_text(text.c_str());

    bool digits = !text.empty();
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            digits = false;
            break;
        }
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > UINT32_MAX) {
            digits = false;
            break;
        }
    }
    if (kid.has_value() != digits || (kid && *kid != v)) abort();
    if (!kid) return 0;
    auto type = lumek::kid::kid_type_of(*kid);
    if (type.has_value() != (*kid >= 1 && *kid <= 1000000)) abort();
    if (type && (*type > 4 || *kid < lumek::kid::kLowestKid[*type] || *kid > lumek::kid::kHighestKid[*type]))
        abort();
    return 0;
}
