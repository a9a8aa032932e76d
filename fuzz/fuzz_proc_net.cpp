// /proc/net/tcp and /proc/net/udp tables, and socket descriptor targets.
#include <stddef.h>
#include <stdint.h>

#include <string_view>
#include <unordered_set>

#include "procinfo/procinfo_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 262144) return 0;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::unordered_set<uint64_t> inodes;
    lumek::procinfo::parse_net_table(text, &inodes);
    // The same bytes, up to the first newline, as a descriptor target.
    uint64_t inode = 0;
    (void)lumek::procinfo::socket_inode(text.substr(0, text.find('\n')), &inode);
    return 0;
}
