// The reference daemon's whitelist file on arbitrary text: what import takes must export
// and import again unchanged, and a refusal names a line of the text.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "daemon_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<whlistd::FileLine> lines;
    int bad = 0;
    std::string why;
    if (!whlistd::parse_file(text, &lines, &bad, &why)) {
        if (bad < 1 || bad > static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1 || why.empty())
            abort();
        return 0;
    }
    std::string out;
    for (const auto &l : lines) whlistd::append_file_line(&out, l);
    std::vector<whlistd::FileLine> again;
    if (!whlistd::parse_file(out, &again, &bad, &why) || again.size() != lines.size()) abort();
    for (size_t i = 0; i < lines.size(); ++i)
        if (again[i].label != lines[i].label || again[i].protect != lines[i].protect ||
            again[i].path != lines[i].path)
            abort();
    return 0;
}
