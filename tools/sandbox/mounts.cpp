// The private mount namespace: the fixture data lists appear at the framework's fixed data
// path for the sandbox and everything it starts, and nowhere else.
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox_internal.h"

namespace sandbox {

namespace {

// mkdir -p; an existing directory is fine (several sandboxes may race here).
bool make_dirs(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "%s: cannot create %s: %s\n", kProg, part.c_str(), strerror(errno));
            return false;
        }
    }
    return true;
}

}  // namespace

bool isolate_mounts(const std::string &data_dir) {
    if (unshare(CLONE_NEWNS) != 0) {
        fprintf(stderr,
                "%s: *** WARNING: no private mount namespace (%s; needs root): the fixture data lists are "
                "NOT mounted at %s ***\n",
                kProg, strerror(errno), kDataDir);
        return true;
    }
    // Keep our mounts from propagating back to the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fprintf(stderr, "%s: cannot make / private: %s\n", kProg, strerror(errno));
        return false;
    }
    // The mount point has to exist on the real file system; an empty directory is harmless.
    if (!make_dirs(kDataDir)) return false;
    if (mount(data_dir.c_str(), kDataDir, nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        fprintf(stderr, "%s: cannot bind %s over %s: %s\n", kProg, data_dir.c_str(), kDataDir,
                strerror(errno));
        return false;
    }
    // The lists are inputs: nothing run in the sandbox should edit the fixture tree through them.
    if (mount(nullptr, kDataDir, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        fprintf(stderr, "%s: note: %s stays writable: %s\n", kProg, kDataDir, strerror(errno));
    return true;
}

}  // namespace sandbox
