// Making the kernel forget the cached policy decisions of running processes.
#include <stdio.h>

#include <functional>

#include "common/fixed_paths.h"
#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {

// The pid named by the last component of a /proc entry, or -1 when it is not all digits.
int pid_of_entry(const char *entry) {
    char copy[255] = {};
    copy_field(copy, sizeof copy, entry);
    const char *name = strrchr(copy, '/');
    name = name ? name + 1 : copy;
    if (!*name || strspn(name, "0123456789") != strlen(name) || strlen(name) > 9) return -1;
    return atoi(name);
}

// Calls command 22 for every process whose kid @wanted accepts. -1 when /proc cannot be
// listed.
int refresh_processes(const char *tag, const std::function<bool(uint32_t)> &wanted) {
    int n = 0;
    char **entries = get_dir_list(paths::kProc, &n);
    if (!entries) return -1;
    for (int i = 0; i < n; ++i) {
        MallocPtr entry(entries[i]);
        if (!entry || path_is_dir(entry.get()) != 1) continue;
        int32_t pid = pid_of_entry(entry.get());
        if (pid < 0) continue;
        std::optional<uint32_t> kid = kid_of_pid(pid);
        if (!kid || !wanted(*kid)) continue;
        if (lumek_kid_communicate_with_kernel(kCmdDropPolicyCache, &pid, sizeof pid) != 0)
            KID_LOG(tag, "lumek_kid_communicate_with_kernel failed, pid = %d", pid);
    }
    free(entries);
    return 0;
}

}  // namespace

int clear_all_process_kid_auth_policy() {
    return refresh_processes("clear_all_process_kid_auth_policy", is_third_app);
}

int clear_process_kid_auth_policy_by_kid(uint32_t kid) {
    return refresh_processes("clear_process_kid_auth_policy_by_kid", [kid](uint32_t k) { return k == kid; });
}

}  // namespace lumek::kid
