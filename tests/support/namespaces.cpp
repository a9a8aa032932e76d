#include "namespaces.h"

#include <errno.h>
#include <pthread.h>
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

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#define LUMEK_TEST_HAVE_VALGRIND 1
extern "C" void __libc_freeres(void);
#endif

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

#ifdef LUMEK_TEST_HAVE_VALGRIND
// A forked child holds whatever the parent's threads (GLib's workers) held, and those threads
// are gone, so valgrind's check at the child's exit would report the parent's live memory as
// lost. Every forked child skips that check; run_child checks its own work instead.
struct ChildLeakCheckOff {
    ChildLeakCheckOff() {
        if (RUNNING_ON_VALGRIND)
            pthread_atfork(nullptr, nullptr, [] { VALGRIND_CLO_CHANGE("--leak-check=no"); });
    }
} child_leak_check_off;
#endif

int run_child(const std::function<int()> &fn) {
#ifdef LUMEK_TEST_HAVE_VALGRIND
    // What is lost now was inherited; the check after @fn reports only what grew since.
    if (RUNNING_ON_VALGRIND) VALGRIND_DO_QUICK_LEAK_CHECK;
    unsigned errors = VALGRIND_COUNT_ERRORS;
#endif
    int rc = fn();
    fflush(stdout);
    fflush(stderr);
    if (rc == 0 && ::testing::Test::HasFailure()) rc = 1;
#ifdef LUMEK_TEST_HAVE_VALGRIND
    if (RUNNING_ON_VALGRIND) {
        // As valgrind does before its own check at exit: glibc's caches (dlopen's tables for
        // NSS, locales) go, so that only what the child's code left behind is reported.
        __libc_freeres();
        VALGRIND_DO_ADDED_LEAK_CHECK;
    }
    if (rc == 0 && VALGRIND_COUNT_ERRORS > errors) {
        static const char kMsg[] = "valgrind found errors in the forked child (above)\n";
        if (write(STDERR_FILENO, kMsg, sizeof kMsg - 1) < 0) {
        }
        rc = 1;
    }
#endif
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

// The kernel ignores the file system type of a bind mount and of a propagation change; a real
// string rather than NULL keeps valgrind from taking it for a bad pointer.
bool bind_mount(const char *source, const char *target) {
    if (mount(source, target, "none", MS_BIND, nullptr) != 0) {
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
    if ((clone_flags & CLONE_NEWNS) && mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0)
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
