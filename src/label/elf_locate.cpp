// Locating a needed library the way the system's `whereis -b NAME` does. whereis walks a
// built-in list of directories, in the order below, keeping those that exist under their
// real path, then the directories of its PATH; for binaries it lists every entry whose name
// equals NAME exactly (a directory or a dangling link counts too). Its first location is
// therefore realpath(dir) + "/" + NAME for the first listed directory holding such an entry.
// The two wildcard entries have an order of their own, and PATH is whereis' to read: a name
// found only there is left to whereis itself.
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "common/raii.h"
#include "label/elf_needed.h"

namespace lumek::label {

namespace {

// whereis' built-in binary directories on this architecture, in its order.
constexpr const char *kWhereisDirs[] = {"/usr/bin",
                                        "/usr/sbin",
                                        "/bin",
                                        "/sbin",
                                        "/usr/lib/x86_64-linux-gnu",
                                        "/usr/local/lib/x86_64-linux-gnu",
                                        "/usr/lib",
                                        "/usr/lib32",
                                        "/usr/lib64",
                                        "/etc",
                                        "/usr/etc",
                                        "/lib",
                                        "/lib32",
                                        "/lib64",
                                        "/usr/games",
                                        "/usr/games/bin",
                                        "/usr/games/lib",
                                        "/usr/emacs/etc",
                                        "/usr/lib/emacs/*/etc",
                                        "/usr/TeX/bin",
                                        "/usr/tex/bin",
                                        "/usr/interviews/bin/LINUX",
                                        "/usr/X11R6/bin",
                                        "/usr/X386/bin",
                                        "/usr/bin/X11",
                                        "/usr/X11/bin",
                                        "/usr/X11R5/bin",
                                        "/usr/local/bin",
                                        "/usr/local/sbin",
                                        "/usr/local/etc",
                                        "/usr/local/lib",
                                        "/usr/local/games",
                                        "/usr/local/games/bin",
                                        "/usr/local/emacs/etc",
                                        "/usr/local/TeX/bin",
                                        "/usr/local/tex/bin",
                                        "/usr/local/bin/X11",
                                        "/usr/contrib",
                                        "/usr/hosts",
                                        "/usr/include",
                                        "/usr/g++-include",
                                        "/usr/ucb",
                                        "/usr/old",
                                        "/usr/new",
                                        "/usr/local",
                                        "/usr/libexec",
                                        "/usr/share",
                                        "/opt/*/bin"};

enum class Probe { kAbsent, kPresent, kUnsure };

// Whether @dir holds an entry named @name, without following it.
Probe probe(const std::string &dir, const std::string &name) {
    struct stat st;
    if (fstatat(AT_FDCWD, (dir + "/" + name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return Probe::kPresent;
    // A directory we cannot search might still be one whereis could read.
    return errno == ENOENT || errno == ENOTDIR ? Probe::kAbsent : Probe::kUnsure;
}

}  // namespace

std::optional<std::string> whereis_first_binary(const std::string &name) {
#if defined(__x86_64__)
    // whereis strips leading directories and may take odd names for options or source
    // control prefixes: such names are its own business.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.size() >= NAME_MAX || name[0] == '-')
        return std::nullopt;
    for (const char *dir : kWhereisDirs) {
        if (strchr(dir, '*')) {
            // Found among the expansions, its place depends on their order: ask whereis.
            glob_t g;
            int rc = glob(dir, GLOB_ONLYDIR | GLOB_NOSORT, nullptr, &g);
            if (rc == GLOB_NOMATCH) continue;
            bool unsure = rc != 0;
            for (size_t i = 0; rc == 0 && i < g.gl_pathc && !unsure; ++i)
                unsure = probe(g.gl_pathv[i], name) != Probe::kAbsent;
            if (rc == 0) globfree(&g);
            if (unsure) return std::nullopt;
            continue;
        }
        Probe p = probe(dir, name);
        if (p == Probe::kUnsure) return std::nullopt;
        if (p == Probe::kAbsent) continue;
        MallocPtr real(realpath(dir, nullptr));
        if (!real) return std::nullopt;
        return std::string(real.get()) + "/" + name;
    }
#else
    (void)name;
#endif
    return std::nullopt;
}

}  // namespace lumek::label
