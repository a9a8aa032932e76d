// Starting, watching and stopping the sandbox's children without a shell.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "sandbox_internal.h"

namespace sandbox {

namespace {

sigset_t g_child_mask;  // the mask the sandbox started with; children get it back

long long now_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

int make_signal_fd() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&set, s);
    if (sigprocmask(SIG_BLOCK, &set, &g_child_mask) != 0) return -1;
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

pid_t spawn(const std::vector<std::string> &argv, bool search_path, int death_signal, bool own_group,
            int extra_fd, int stderr_fd) {
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid != 0) return pid;

    // Child: only async-signal-safe calls from here on.
    if (own_group) setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, death_signal);
    // The parent may have died between fork and prctl; then nobody would stop us.
    if (getppid() != parent) _exit(kExitCannotExec);
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) sigaction(s, &dfl, nullptr);
    sigprocmask(SIG_SETMASK, &g_child_mask, nullptr);
    if (stderr_fd >= 0) dup2(stderr_fd, STDERR_FILENO);
    if (extra_fd >= 0) {
        int flags = fcntl(extra_fd, F_GETFD);
        if (flags >= 0) fcntl(extra_fd, F_SETFD, flags & ~FD_CLOEXEC);
    }
    if (search_path)
        execvp(args[0], args.data());
    else
        execv(args[0], args.data());
    int err = errno;
    const char *msg = strerror(err);
    // Plain writes: stdio is not safe after fork.
    (void)!write(STDERR_FILENO, kProg, strlen(kProg));
    (void)!write(STDERR_FILENO, ": cannot execute ", 17);
    (void)!write(STDERR_FILENO, args[0], strlen(args[0]));
    (void)!write(STDERR_FILENO, ": ", 2);
    (void)!write(STDERR_FILENO, msg, strlen(msg));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(kExitCannotExec);
}

int read_line(int fd, int timeout_ms, int signal_fd, std::string *line) {
    line->clear();
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0) return 0;
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {signal_fd, POLLIN, 0}};
        int n = poll(fds, signal_fd >= 0 ? 2 : 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR) return 0;
        if (n <= 0) continue;
        if (signal_fd >= 0 && (fds[1].revents & POLLIN)) {
            struct signalfd_siginfo si;
            while (read(signal_fd, &si, sizeof si) == sizeof si)
                if (si.ssi_signo != SIGCHLD) return -static_cast<int>(si.ssi_signo);
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char c;
            ssize_t r = read(fd, &c, 1);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return 0;
            if (c == '\n') return 1;
            line->push_back(c);
        }
    }
}

void stop_child(pid_t pid) {
    if (pid <= 0) return;
    int st;
    if (waitpid(pid, &st, WNOHANG) == pid) return;
    kill(pid, SIGTERM);
    long long deadline = now_ms() + kStopGraceMs;
    while (now_ms() < deadline) {
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return;
        struct timespec ts = {0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace sandbox
