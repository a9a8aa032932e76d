// Users' resource directories: which paths are ones, who owns them, which privacy kid they
// get, and writing a kid onto everything below one.
#include <libgen.h>
#include <pwd.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>

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

void set_kid_under_dir(const char *dir, uint32_t kid) {
    if (!dir || path_is_dir(dir) != 1) return;
    char text[32];
    snprintf(text, sizeof text, "%u", kid);
    int n = 0;
    char **paths = get_path_list_from_dir(dir, &n);
    for (int i = 0; paths && i < n; ++i) {
        if (paths[i] && path_is_link(paths[i]) == 0) lumek_kid_set(paths[i], text);
        free(paths[i]);
    }
    free(paths);
}

}  // namespace lumek::kid
