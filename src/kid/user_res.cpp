// Users' resource directories: which paths are ones, who owns them, which privacy kid they
// get, and writing a kid onto everything below one.
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <pwd.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <bitset>
#include <mutex>

#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

constexpr const char kUserResPattern[] = "^/home/[^/]+/[^/]+$|^/root/[^/]+$";
constexpr int kResListFailedLine = 466;

// Compiled once and kept; regexec on a shared pattern is thread-safe. A failed compile (out
// of memory) is not kept: the next call tries again.
const regex_t *user_res_pattern() {
    static regex_t re;
    static std::atomic<const regex_t *> compiled{nullptr};
    static std::mutex compiling;
    if (const regex_t *p = compiled.load(std::memory_order_acquire)) return p;
    std::lock_guard<std::mutex> lock(compiling);
    if (!compiled.load(std::memory_order_relaxed) &&
        regcomp(&re, kUserResPattern, REG_EXTENDED | REG_NOSUB) == 0)
        compiled.store(&re, std::memory_order_release);
    return compiled.load(std::memory_order_relaxed);
}

// "." or ".." as a component would let the pattern name a home, /home or / itself.
bool has_dot_component(const std::string &path) {
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(pos, end - pos);
        if (part == "." || part == "..") return true;
        pos = end + 1;
    }
    return false;
}

std::string parent_of(const char *path) {
    char copy[4096] = {};
    copy_field(copy, sizeof copy, path);
    return dirname(copy);
}

}  // namespace

int is_user_res_dir(const char *path) {
    if (!path) return -1;
    // A link is never one: whatever is written below it would land where it points.
    if (path_is_link(path) != 0) return 0;
    if (path_is_exist(path) >= 0 && path_is_dir(path) != 1) return 0;
    return is_user_res_name(path);
}

int is_user_res_name(const char *path) {
    if (!path) return -1;
    const regex_t *re = user_res_pattern();
    if (!re) return -2;
    if (regexec(re, path, 0, nullptr, 0) != 0 || has_dot_component(path)) return 0;
    // The home must be the place its name says: a home (or /home, /root) that is a link
    // would carry the directory, and the kids written below it, elsewhere.
    std::string home = parent_of(path);
    MallocPtr real(realpath(home.c_str(), nullptr));
    return real && home == real.get() ? 1 : 0;
}

int get_user_res_uid(const char *path, uint32_t *uid) {
    if (!path) return -1;
    std::string home = parent_of(path);
    if (home.empty()) return -2;
    setpwent();
    int rc = -3;
    while (struct passwd *pw = getpwent()) {
        if (pw->pw_dir && home == pw->pw_dir) {
            if (uid) *uid = pw->pw_uid;
            rc = 0;
            break;
        }
    }
    endpwent();
    return rc;
}

int apply_kid_for_user_res(const char *path) {
    KidResRecord *raw = nullptr;
    if (lumek_kid_load_kid_res_list_by_kid_range(kPrivacyLow, kPrivacyHigh, &raw) != 0) {
        lumek_kid_free_kid_res_list(raw);
        KID_LOG("apply_kid_for_user_res", "%d", kResListFailedLine);
        return -2;
    }
    ResList list(raw);
    for (const KidResRecord *r = list.get(); r; r = r->next)
        if (strncmp(r->path, path, sizeof r->path) == 0 && strlen(path) < sizeof r->path)
            return static_cast<int>(r->kid);

    // One pass marks the taken kids; the framework's uid support is asked once.
    std::string home = parent_of(path);
    std::bitset<kPrivacyHigh + 1> taken;
    std::optional<bool> uid_support;
    for (const KidResRecord *r = list.get(); r; r = r->next) {
        if (r->res_type != kResDir || r->kid < kPrivacyLow || r->kid > kPrivacyHigh) continue;
        if (!uid_support) uid_support = lumek_kid_privilege_is_support_uid() == 1;
        std::string rpath(r->path, strnlen(r->path, sizeof r->path));
        if (!*uid_support || rpath.find(home) != std::string::npos) taken.set(r->kid);
    }
    for (uint32_t k = kPrivacyLow; k <= kPrivacyHigh; ++k)
        if (!taken.test(k)) return static_cast<int>(k);
    return static_cast<int>(kPublicKid);
}

int get_user_res_kid(const char *path) {
    if (!path) return -1;
    if (path_is_exist(path) >= 0 && path_is_dir(path) != 1) return static_cast<int>(kPublicKid);
    if (is_user_res_dir(path) != 1) return static_cast<int>(kPublicKid);
    return apply_kid_for_user_res(path);
}

bool HeldDir::open(const char *dir) {
    dir_ = dir;
    fd_.reset(::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd_ || fstat(fd_.get(), &st) != 0) return false;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return true;
}

bool HeldDir::unchanged() const {
    struct stat st;
    return lstat(dir_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
}

bool HeldDir::holds(const char *path) const {
    std::string prefix = dir_.back() == '/' ? dir_ : dir_ + '/';
    if (strncmp(path, prefix.c_str(), prefix.size()) != 0) return false;
    // The name below the held descriptor, one component at a time, no link followed.
    std::string rel = path + prefix.size();
    Fd held;
    int at = fd_.get();
    struct stat inside, named;
    for (size_t pos = 0;;) {
        size_t end = rel.find('/', pos);
        std::string part = rel.substr(pos, end == std::string::npos ? end : end - pos);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string::npos) {
            if (fstatat(at, part.c_str(), &inside, AT_SYMLINK_NOFOLLOW) != 0) return false;
            break;
        }
        held = Fd(openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!held) return false;
        at = held.get();
        pos = end + 1;
    }
    // ...and the path as the framework will take it.
    return lstat(path, &named) == 0 && named.st_dev == inside.st_dev && named.st_ino == inside.st_ino;
}

int set_kid_under_dir(const char *dir, uint32_t kid, bool link_ok) {
    if (!dir || path_is_dir(dir) != 1) return kOk;
    auto changed = [&] {
        KID_LOG("set_kid_under_dir", "res changed during the walk, res = %s, kid = %d", dir,
                static_cast<int>(kid));
        return kInvalid;
    };
    HeldDir held;
    struct stat st;
    if (!held.open(dir)) return link_ok && lstat(dir, &st) == 0 && S_ISLNK(st.st_mode) ? kOk : changed();
    char text[32];
    snprintf(text, sizeof text, "%u", kid);
    int n = 0;
    char **listed = get_path_list_from_dir(dir, &n);
    PathList paths(listed, n);
    // The framework lists by path: a directory swapped for a link was listed through it.
    if (!held.unchanged()) return changed();
    // What each path carried, put back when the walk turns out to have been led astray.
    std::vector<std::pair<std::string, std::string>> done;
    for (int i = 0; i < paths.count(); ++i) {
        const char *path = paths[i];
        if (!path || path_is_link(path) != 0) continue;
        if (!held.holds(path)) {
            for (auto it = done.rbegin(); it != done.rend(); ++it)
                lumek_kid_set(it->first.c_str(), it->second.c_str());
            return changed();
        }
        done.emplace_back(path, std::to_string(kid_of_path(path).value_or(0)));
        lumek_kid_set(path, text);
    }
    return kOk;
}

}  // namespace lumek::kid
