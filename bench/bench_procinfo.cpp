// One full process snapshot with about 1,000 processes and 10,000 IPv4 sockets, against ps
// and a psutil script gathering the same fields on the same /proc.
//
// As root it runs in private pid, mount and network namespaces, so that /proc holds only its
// own processes and the socket tables only its own sockets; otherwise on the machine as is.
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lumekwhlist.h"

extern char **environ;

namespace {

constexpr int kChildren = 1000;
constexpr int kSocketChildren = 100;
constexpr int kSocketsPerChild = 100;  // half TCP listeners, half UDP
constexpr int kSnapshotRounds = 9;
constexpr int kPsRounds = 5;
constexpr int kPsutilRounds = 3;

double now_seconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

bool loopback_up() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct ifreq ifr {};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    close(fd);
    return ok;
}

int open_sockets(int n) {
    int made = 0;
    for (int i = 0; i < n; ++i) {
        bool tcp = i % 2 == 0;
        int fd = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        if (fd < 0) break;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || (tcp && listen(fd, 1) != 0)) {
            close(fd);
            break;
        }
        ++made;
    }
    return made;
}

struct Children {
    std::vector<pid_t> pids;
    int gate_write = -1;
    int sockets = 0;

    void start(int socket_children) {
        int gate[2], ready[2];
        if (pipe2(gate, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0) return;
        for (int i = 0; i < kChildren; ++i) {
            pid_t pid = fork();
            if (pid < 0) break;
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                close(gate[1]);
                close(ready[0]);
                if (i < socket_children) {
                    unsigned char made = static_cast<unsigned char>(open_sockets(kSocketsPerChild));
                    if (write(ready[1], &made, 1) != 1) _exit(1);
                }
                char c;
                while (read(gate[0], &c, 1) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
            pids.push_back(pid);
        }
        close(gate[0]);
        close(ready[1]);
        gate_write = gate[1];
        for (int i = 0; i < socket_children && i < static_cast<int>(pids.size()); ++i) {
            unsigned char made = 0;
            if (read(ready[0], &made, 1) != 1) break;
            sockets += made;
        }
        close(ready[0]);
    }

    void stop() {
        if (gate_write >= 0) close(gate_write);
        for (pid_t pid : pids)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    }
};

double time_snapshot(uint32_t *count, size_t *targets) {
    std::vector<ProcessInfo> recs(LUMEK_PROCESS_INFO_MAX);
    double t0 = now_seconds();
    int32_t rc = lumek_get_process_info(recs.data(), count);
    double t = now_seconds() - t0;
    if (rc != 0) fprintf(stderr, "lumek_get_process_info: %d\n", rc);
    *targets = 0;
    for (uint32_t i = 0; i < *count; ++i) {
        *targets += static_cast<size_t>(recs[i].fd_count);
        for (int32_t k = 0; k < recs[i].fd_count; ++k) free(recs[i].fd_targets[k]);
        free(recs[i].fd_targets);
    }
    return t;
}

// Runs argv with standard output to a pipe (read whole) or to /dev/null; returns the wall
// seconds and leaves the output in *out.
double time_command(const std::vector<const char *> &argv, std::string *out) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    std::vector<char *> args;
    for (const char *a : argv) args.push_back(const_cast<char *>(a));
    args.push_back(nullptr);
    double t0 = now_seconds();
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(p[1]);
    if (rc != 0) {
        close(p[0]);
        return -1;
    }
    out->clear();
    char buf[65536];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out->append(buf, static_cast<size_t>(n));
    close(p[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    double t = now_seconds() - t0;
    return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? t : -1;
}

void measure(int socket_children) {
    Children kids;
    kids.start(socket_children);
    printf("\n-- %zu processes started (plus this one), %d IPv4 sockets among them --\n", kids.pids.size(),
           kids.sockets);

    uint32_t count = 0;
    size_t targets = 0;
    std::vector<double> snap_times;
    time_snapshot(&count, &targets);  // warm the dentry caches for everyone alike
    for (int i = 0; i < kSnapshotRounds; ++i) snap_times.push_back(time_snapshot(&count, &targets));
    double snap = median(snap_times);
    printf("lumek_get_process_info: %8.2f ms  (%u records, %zu descriptor targets, median of %d)\n",
           snap * 1e3, count, targets, kSnapshotRounds);

    std::vector<double> ps_times;
    std::string out;
    for (int i = 0; i < kPsRounds; ++i) {
        double t = time_command(
            {"/usr/bin/ps", "-e", "-o", "pid,ppid,uid,stat,nlwp,lstart,time,%cpu,%mem,tty,comm,args"}, &out);
        if (t >= 0) ps_times.push_back(t);
    }
    double ps = median(ps_times);
    size_t ps_lines = static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
    if (ps_times.empty())
        printf("ps: could not be run\n");
    else
        printf("ps -e -o ...:            %8.2f ms  (%zu lines, median of %d)\n", ps * 1e3, ps_lines,
               kPsRounds);

    std::string script = std::string(LUMEK_BENCH_DIR) + "/procinfo_psutil.py";
    std::string rounds = std::to_string(kPsutilRounds);
    double wall = time_command({"/usr/bin/python3", script.c_str(), rounds.c_str()}, &out);
    double psutil_t = -1;
    unsigned long psutil_rows = 0;
    if (wall >= 0 && sscanf(out.c_str(), "%lf %lu", &psutil_t, &psutil_rows) == 2)
        printf(
            "psutil:                  %8.2f ms  (%lu processes, median of %d, interpreter start excluded)\n",
            psutil_t * 1e3, psutil_rows, kPsutilRounds);
    else
        printf("psutil: could not be run (python3-psutil missing?)\n");

    if (snap > 0) {
        if (!ps_times.empty()) printf("ratio ps / snapshot:     %8.1fx\n", ps / snap);
        if (psutil_t > 0) printf("ratio psutil / snapshot: %8.1fx\n", psutil_t / snap);
    }
    fflush(stdout);
    kids.stop();
}

int run(bool isolated) {
    printf("bench_procinfo: %s\n", isolated ? "private pid and network namespaces"
                                            : "no private namespaces (not root?): the machine's own /proc");
    measure(0);                // what ps reads too, plus every descriptor
    measure(kSocketChildren);  // and 10,000 sockets to count
    return 0;
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (geteuid() == 0 && unshare(CLONE_NEWPID | CLONE_NEWNS | CLONE_NEWNET) == 0) {
        pid_t init = fork();
        if (init < 0) return 1;
        if (init == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            bool ok = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                      mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0 &&
                      loopback_up();
            if (!ok) {
                perror("bench_procinfo: namespace setup");
                _exit(1);
            }
            _exit(run(true));
        }
        int st = 0;
        while (waitpid(init, &st, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
    }
    return run(false);
}
