// Finding the daemon and the default fixture lists relative to our own executable, so the
// build tree and an installed tree both work without configuration.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sandbox_internal.h"

#ifndef LUMEK_SANDBOX_SOURCE_DATA
#error "LUMEK_SANDBOX_SOURCE_DATA must name the source tree's fixture data lists"
#endif

namespace sandbox {

namespace {

bool is_executable_file(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

bool is_dir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string self_exe_dir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    std::string p(buf);
    auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

std::string find_daemon(const std::string &exe_dir) {
    if (exe_dir.empty()) return {};
    for (const std::string &cand :
         {exe_dir + "/" + kDaemonName, exe_dir + "/" + kLibexecRel + "/" + kDaemonName})
        if (is_executable_file(cand)) return cand;
    return {};
}

std::string default_data_dir(const std::string &exe_dir) {
    if (!exe_dir.empty()) {
        std::string installed = exe_dir + "/" + kInstalledDataRel;
        if (is_dir(installed)) return installed;
    }
    return LUMEK_SANDBOX_SOURCE_DATA;
}

}  // namespace sandbox
