// The sandbox's scratch directory: bus config, bus socket, stand-in state.
#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sandbox_internal.h"

namespace sandbox {

std::string make_temp_dir() {
    char tmpl[] = "/tmp/lumek-sandbox.XXXXXX";
    if (!mkdtemp(tmpl)) {
        fprintf(stderr, "%s: cannot create a temporary directory: %s\n", kProg, strerror(errno));
        return {};
    }
    return tmpl;
}

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    if (remove(path) != 0 && errno != ENOENT) {
        fprintf(stderr, "%s: cannot remove %s: %s\n", kProg, path, strerror(errno));
        return -1;
    }
    return 0;
}

}  // namespace

bool remove_tree(const std::string &dir) {
    // Depth first, links themselves rather than their targets, and never across a mount.
    return nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT) == 0;
}

}  // namespace sandbox
