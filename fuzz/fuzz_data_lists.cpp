// The framework's data lists on arbitrary text: every non-empty line must be found again,
// at its own line or an earlier one, and one lookup must agree with the set.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "label/label_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    // The list is read by name: a memory file keeps the fuzzer off the disk.
    int fd = memfd_create("list", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    std::string name = "/proc/self/fd/" + std::to_string(fd);
    auto set = lumek::label::ListSet::load_one(name.c_str());
    std::string text(reinterpret_cast<const char *>(data), size);
    size_t pos = 0;
    for (int line_no = 1; pos < text.size(); ++line_no) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        auto hit = set.find(line);
        if (!hit || hit->line < 1 || hit->line > line_no) abort();
        if (!hit->by_real_path && hit->text != line) abort();
        // A line with a NUL is cut there by the C interface, which then looks up less.
        if (line.find('\0') == std::string::npos &&
            lumek::label::path_in_list(name.c_str(), line.c_str()) != 1)
            abort();
    }
    close(fd);
    return 0;
}
