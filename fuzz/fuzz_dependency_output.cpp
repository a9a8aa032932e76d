// The dependency analysis's readers of tool output: objdump -p text (NEEDED names as awk's
// second field) and whereis lines (the first location). Input: OBJDUMP '\0' WHEREIS-LINE,
// the line cut at its newline as the reader hands lines over.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "label/label_internal.h"

namespace {

bool has_blank(const std::string &s) {
    return s.find_first_of(" \t") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    std::string in(reinterpret_cast<const char *>(data), size);
    size_t nul = in.find('\0');
    std::string objdump = in.substr(0, nul);
    std::string line = nul == std::string::npos ? std::string() : in.substr(nul + 1);
    line = line.substr(0, line.find('\n'));

    // Every name is a non-empty field of a NEEDED line: no blanks or newlines, found in the text.
    for (const std::string &name : lumek::label::needed_from_objdump(objdump))
        if (name.empty() || has_blank(name) || name.find('\n') != std::string::npos ||
            objdump.find(name) == std::string::npos)
            abort();

    // A candidate starts at the line's first "/" and runs to the first blank.
    auto candidate = lumek::label::whereis_candidate(line);
    size_t slash = line.find('/');
    if (candidate.has_value() != (slash != std::string::npos)) abort();
    if (candidate && (line.compare(slash, candidate->size(), *candidate) != 0 || has_blank(*candidate)))
        abort();
    return 0;
}
