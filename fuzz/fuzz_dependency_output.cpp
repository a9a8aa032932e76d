// The dependency analysis's readers of tool output: objdump -p text (NEEDED names as awk's
// second field) and whereis lines (the first location). Input: OBJDUMP '\0' WHEREIS-LINE,
// the line cut at its newline as the reader hands lines over.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "label/label_internal.h"

namespace {

bool has_blank(const std::string &s) {
    return s.find_first_of(" \t") != std::string::npos;
}

// What "grep NEEDED | awk '{print $2}'" read until its first empty line gives: the second
// blank-separated field of each NEEDED line, up to the first such line without one.
std::vector<std::string> reference_names(const std::string &text) {
    std::vector<std::string> names;
    for (size_t pos = 0; pos <= text.size();) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
        if (line.find("NEEDED") == std::string::npos) continue;
        size_t first_end = line.find_first_of(" \t", line.find_first_not_of(" \t"));
        size_t second =
            line.find_first_not_of(" \t", first_end == std::string::npos ? line.size() : first_end);
        if (second == std::string::npos) break;
        names.push_back(line.substr(second, line.find_first_of(" \t", second) - second));
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    std::string in(reinterpret_cast<const char *>(data), size);
    size_t nul = in.find('\0');
    std::string objdump = in.substr(0, nul);
    std::string line = nul == std::string::npos ? std::string() : in.substr(nul + 1);
    line = line.substr(0, line.find('\n'));

    if (lumek::label::needed_from_objdump(objdump) != reference_names(objdump)) abort();

    // A candidate starts at the line's first "/" and runs to the first blank.
    auto candidate = lumek::label::whereis_candidate(line);
    size_t slash = line.find('/');
    if (candidate.has_value() != (slash != std::string::npos)) abort();
    if (candidate && (line.compare(slash, candidate->size(), *candidate) != 0 || has_blank(*candidate)))
        abort();
    return 0;
}
