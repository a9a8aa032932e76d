// Path probes, lexical absolute paths and directory listings from the real file system.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "standin_internal.h"

namespace standin {

std::optional<std::string> clean_absolute(const char *path) {
    if (!path || !*path) {
        errno = EINVAL;
        return std::nullopt;
    }
    std::string full;
    if (path[0] != '/') {
        std::vector<char> cwd(4096);
        while (!getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE || cwd.size() > (1u << 20)) return std::nullopt;
            cwd.resize(cwd.size() * 2);
        }
        full = cwd.data();
        full += '/';
    }
    full += path;

    std::vector<std::string> parts;
    size_t i = 0;
    while (i < full.size()) {
        size_t j = full.find('/', i);
        if (j == std::string::npos) j = full.size();
        std::string comp = full.substr(i, j - i);
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();  // "/.." stays "/"
        } else if (!comp.empty() && comp != ".") {
            parts.push_back(std::move(comp));
        }
        i = j + 1;
    }
    std::string out;
    for (const auto &p : parts) out += "/" + p;
    if (out.empty()) out = "/";
    return out;
}

}  // namespace standin

namespace {

using standin::enter;
using standin::fault_result;
using standin::guarded;
using standin::quote;

std::string join(const std::string &dir, const char *name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

enum class Walk { Files, Entries, Everything };

// Walks @dir without following links. Entries: one level, every entry. Files: regular
// files at any depth. Everything: every path at any depth.
bool walk(int dirfd, const std::string &dir, Walk mode, std::vector<std::string> &out, int depth) {
    if (depth > 256) return true;  // deeper trees are not followed
    int fd = dirfd;
    DIR *d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    std::vector<std::string> subdirs;
    errno = 0;
    while (struct dirent *e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        std::string p = join(dir, e->d_name);
        struct stat st;
        bool is_dir = false, is_reg = false;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            is_dir = S_ISDIR(st.st_mode);
            is_reg = S_ISREG(st.st_mode);
        }
        if (mode != Walk::Files || is_reg) out.push_back(p);
        if (mode != Walk::Entries && is_dir) subdirs.emplace_back(e->d_name);
    }
    for (const auto &s : subdirs) {
        int sub = openat(fd, s.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) walk(sub, join(dir, s.c_str()), mode, out, depth + 1);
    }
    closedir(d);
    return true;
}

// The sorted listing as a malloc'd array of malloc'd texts with a NULL after the last.
char **listing(const char *func, const char *dir, int *count, Walk mode) {
    if (auto f = enter(func, standin::args({quote(dir), count ? "&count" : "NULL"}))) {
        fault_result(*f);
        return nullptr;
    }
    if (!dir || !*dir || !count) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::vector<std::string> paths;
    if (!walk(fd, dir, mode, paths, 0)) return nullptr;
    std::sort(paths.begin(), paths.end());
    if (paths.size() > static_cast<size_t>(INT32_MAX - 1)) {
        errno = EOVERFLOW;
        return nullptr;
    }
    char **arr = static_cast<char **>(calloc(paths.size() + 1, sizeof(char *)));
    if (!arr) return nullptr;
    for (size_t i = 0; i < paths.size(); ++i) {
        arr[i] = strdup(paths[i].c_str());
        if (!arr[i]) {
            for (size_t j = 0; j < i; ++j) free(arr[j]);
            free(arr);
            errno = ENOMEM;
            return nullptr;
        }
    }
    *count = static_cast<int>(paths.size());
    return arr;
}

int probe(const char *func, const char *path, bool follow, mode_t want, int missing) {
    if (auto f = enter(func, quote(path))) return fault_result(*f);
    if (!path) {
        errno = EINVAL;
        return missing;
    }
    struct stat st;
    if ((follow ? stat(path, &st) : lstat(path, &st)) != 0) return missing;
    if (want == 0) return 1;
    return (st.st_mode & S_IFMT) == want ? 1 : 0;
}

}  // namespace

extern "C" {

int path_is_exist(const char *path) {
    return guarded(-1, [&] { return probe("path_is_exist", path, false, 0, -1); });
}

int path_is_dir(const char *path) {
    return guarded(0, [&] { return probe("path_is_dir", path, true, S_IFDIR, 0); });
}

int path_is_link(const char *path) {
    return guarded(0, [&] { return probe("path_is_link", path, false, S_IFLNK, 0); });
}

int path_is_reg(const char *path) {
    return guarded(0, [&] { return probe("path_is_reg", path, true, S_IFREG, 0); });
}

int path_is_same(const char *a, const char *b) {
    return guarded(0, [&]() -> int {
        if (auto f = enter("path_is_same", standin::args({quote(a), quote(b)}))) return fault_result(*f);
        if (!a || !b) {
            errno = EINVAL;
            return 0;
        }
        struct stat sa, sb;
        if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? 1 : 0;
    });
}

char *get_absolute_path(const char *path) {
    return guarded<char *>(nullptr, [&]() -> char * {
        if (auto f = enter("get_absolute_path", quote(path))) {
            fault_result(*f);
            return nullptr;
        }
        auto abs = standin::clean_absolute(path);
        if (!abs) return nullptr;
        char *out = strdup(abs->c_str());
        if (!out) errno = ENOMEM;
        return out;
    });
}

char **get_file_list_from_dir(const char *dir, int *count) {
    return guarded<char **>(nullptr,
                            [&] { return listing("get_file_list_from_dir", dir, count, Walk::Files); });
}

char **get_dir_list(const char *dir, int *count) {
    return guarded<char **>(nullptr, [&] { return listing("get_dir_list", dir, count, Walk::Entries); });
}

char **get_path_list_from_dir(const char *dir, int *count) {
    return guarded<char **>(nullptr,
                            [&] { return listing("get_path_list_from_dir", dir, count, Walk::Everything); });
}

}  // extern "C"
