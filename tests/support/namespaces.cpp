#include "namespaces.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lumek_test {

namespace {

int wait_for(pid_t pid) {
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return 1;
    }
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    return 128 + WTERMSIG(st);
}

int run_child(const std::function<int()> &fn) {
    int rc = fn();
    fflush(stdout);
    fflush(stderr);
    if (rc == 0 && ::testing::Test::HasFailure()) rc = 1;
    return rc;
}

}  // namespace

bool bring_loopback_up() {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    struct ifreq ifr {};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
        ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(s);
    return ok;
}

bool bind_mount(const char *source, const char *target) {
    if (mount(source, target, nullptr, MS_BIND, nullptr) != 0) {
        fprintf(stderr, "bind mount %s over %s: %s\n", source, target, strerror(errno));
        return false;
    }
    return true;
}

int run_in_namespaces(int clone_flags, const std::function<int()> &fn) {
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid > 0) return wait_for(pid);

    // Child.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (clone_flags & CLONE_NEWPID) clone_flags |= CLONE_NEWNS;  // /proc must be remounted
    if (unshare(clone_flags) != 0) _exit(kNamespacesRefused);
    if ((clone_flags & CLONE_NEWNS) && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        _exit(kNamespacesRefused);
    // In-process, not through a helper program: a child started here would become the new
    // pid namespace's init and take the namespace with it when it exits.
    if ((clone_flags & CLONE_NEWNET) && !bring_loopback_up()) _exit(kNamespacesRefused);
    if (!(clone_flags & CLONE_NEWPID)) _exit(run_child(fn));

    pid_t init = fork();
    if (init < 0) _exit(1);
    if (init > 0) _exit(wait_for(init));
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        _exit(kNamespacesRefused);
    _exit(run_child(fn));
}

void in_private_tree(const std::function<bool()> &build, const std::function<void()> &fn) {
    int st = run_in_namespaces(CLONE_NEWNS, [&] {
        if (!build()) return 2;
        fn();
        return 0;
    });
    ASSERT_NE(st, kNamespacesRefused) << "private mount namespace refused";
    EXPECT_EQ(st, 0);
}

}  // namespace lumek_test
