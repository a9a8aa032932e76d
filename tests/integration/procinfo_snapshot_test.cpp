// lumek_get_process_info against real processes the test starts, inside private pid (and
// network) namespaces so that /proc holds only them, and against ps on the same /proc.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "namespaces.h"

namespace {

constexpr int kInNamespaces = CLONE_NEWPID | CLONE_NEWNS;

// One snapshot and everything it hands to the caller. One spare record past the cap holds a
// pattern that must survive the call.
class Snapshot {
  public:
    Snapshot() : recs_(static_cast<ProcessInfo *>(calloc(LUMEK_PROCESS_INFO_MAX + 1, sizeof(ProcessInfo)))) {
        memset(&recs_[LUMEK_PROCESS_INFO_MAX], 0xAB, sizeof(ProcessInfo));
    }
    ~Snapshot() {
        release();
        free(recs_);
    }
    Snapshot(const Snapshot &) = delete;
    Snapshot &operator=(const Snapshot &) = delete;

    // A new snapshot; the records of an earlier one are released first.
    int32_t take() {
        release();
        return lumek_get_process_info(recs_, &count_);
    }
    uint32_t count() const { return count_; }
    const ProcessInfo &at(uint32_t i) const { return recs_[i]; }
    const ProcessInfo *find(int64_t pid) const {
        for (uint32_t i = 0; i < count_; ++i)
            if (recs_[i].pid == pid) return &recs_[i];
        return nullptr;
    }
    void release() {
        for (uint32_t i = 0; i < count_; ++i) {
            for (int32_t k = 0; k < recs_[i].fd_count; ++k) free(recs_[i].fd_targets[k]);
            free(recs_[i].fd_targets);
        }
        count_ = 0;
    }
    bool spare_untouched() const {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(&recs_[LUMEK_PROCESS_INFO_MAX]);
        for (size_t i = 0; i < sizeof(ProcessInfo); ++i)
            if (p[i] != 0xAB) return false;
        return true;
    }
    // A missing record reads as INT32_MIN.
    int32_t sockets(int64_t pid) const {
        const ProcessInfo *p = find(pid);
        return p ? p->socket_count : INT32_MIN;
    }
    std::vector<std::string> targets(const ProcessInfo &p) const {
        std::vector<std::string> out;
        for (int32_t i = 0; i < p.fd_count; ++i) out.emplace_back(p.fd_targets[i]);
        return out;
    }

  private:
    ProcessInfo *recs_;
    uint32_t count_ = 0;
};

// Closes every descriptor of the calling process except @keep.
void close_all_but(int keep) {
    if (keep > 0) close_range(0, static_cast<unsigned>(keep - 1), 0);
    close_range(static_cast<unsigned>(keep + 1), ~0U, 0);
}

char state_letter_of(int64_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// Waits (up to 5 s) until @pid has left the running state: after its ready signal a child
// still has a few instructions to go before it pauses.
void wait_until_settled(pid_t pid) {
    for (int i = 0; i < 5000 && state_letter_of(pid) == 'R'; ++i) usleep(1000);
}

// Forks a child that runs @setup and then waits for SIGKILL. @setup gets the descriptor that
// tells the parent it is ready: the parent returns once every copy of it is closed, which is
// at the end of @setup, or at its exec, or when @setup closes it itself.
pid_t spawn(const std::function<void(int ready_fd)> &setup) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        setup(p[1]);
        close(p[1]);
        for (;;) pause();
    }
    close(p[1]);
    char c;
    while (read(p[0], &c, 1) > 0 || errno == EINTR) {
    }
    close(p[0]);
    wait_until_settled(pid);
    return pid;
}

void reap(pid_t pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

std::string link_target(const std::string &path) {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink(path.c_str(), buf, PATH_MAX);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string self_exe() {
    return link_target("/proc/self/exe");
}

std::string real_path(const char *path) {
    char buf[PATH_MAX];
    return realpath(path, buf) ? buf : "";
}

void *block_forever(void *) {
    for (;;) pause();
    return nullptr;
}

// ---- ps ----------------------------------------------------------------------------------

struct PsRow {
    int64_t ppid;
    int64_t uid;
    int64_t threads;
    std::string comm;
    bool operator==(const PsRow &o) const {
        return ppid == o.ppid && uid == o.uid && threads == o.threads && comm == o.comm;
    }
};

std::map<int64_t, PsRow> run_ps() {
    std::map<int64_t, PsRow> rows;
    FILE *f = popen("/usr/bin/ps -e -o pid=,ppid=,ruid=,nlwp=,comm=", "re");
    if (!f) return rows;
    char line[4096];
    while (fgets(line, sizeof line, f)) {
        std::istringstream in(line);
        int64_t pid;
        PsRow row;
        if (!(in >> pid >> row.ppid >> row.uid >> row.threads)) continue;
        std::getline(in, row.comm);
        size_t b = row.comm.find_first_not_of(" \t");
        size_t e = row.comm.find_last_not_of(" \t\n");
        row.comm = b == std::string::npos ? "" : row.comm.substr(b, e - b + 1);
        rows[pid] = row;
    }
    pclose(f);
    return rows;
}

// Every process that ps shows the same before and after the snapshot, that has a program and
// is no zombie or idle thread, is in the snapshot with the same parent, user, threads and name.
void compare_with_ps() {
    std::map<int64_t, PsRow> before = run_ps();
    ASSERT_FALSE(before.empty()) << "ps printed nothing";
    Snapshot snap;
    ASSERT_EQ(snap.take(), 0);
    std::map<int64_t, PsRow> after = run_ps();

    size_t compared = 0;
    for (const auto &[pid, row] : before) {
        auto it = after.find(pid);
        if (it == after.end() || !(it->second == row)) continue;  // came, went or changed meanwhile
        const ProcessInfo *p = snap.find(pid);
        if (!p) {
            // Looked at only now, after the second ps: still there, with a program and in a
            // listed state, it was there all along and should have been taken.
            char state = state_letter_of(pid);
            bool listable = !link_target("/proc/" + std::to_string(pid) + "/exe").empty() &&
                            strchr("RTStDX", state) != nullptr;
            if (snap.count() < LUMEK_PROCESS_INFO_MAX && listable)
                ADD_FAILURE() << "pid " << pid << " (" << row.comm << ") missing from the snapshot";
            continue;
        }
        EXPECT_EQ(p->ppid, row.ppid) << "pid " << pid;
        EXPECT_EQ(p->uid, row.uid) << "pid " << pid;
        EXPECT_EQ(p->thread_count, row.threads) << "pid " << pid;
        EXPECT_EQ(std::string(p->name), row.comm) << "pid " << pid;
        ++compared;
    }
    EXPECT_GT(compared, 0u);
}

}  // namespace

// ---- arguments -------------------------------------------------------------------------------

TEST(ProcessSnapshot, NullArgumentsAreRefused) {
    uint32_t count = 77;
    EXPECT_EQ(lumek_get_process_info(nullptr, &count), -1);
    EXPECT_EQ(count, 0u);
    ProcessInfo one[1];
    EXPECT_EQ(lumek_get_process_info(one, nullptr), -1);
}

// ---- identity, program, command line -----------------------------------------------------

TEST(ProcessSnapshot, ChildrenOfEveryKindAreListedAsTheyAre) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        pid_t sleeper = spawn([](int) {
            execlp("sleep", "sleep", "10", static_cast<char *>(nullptr));
            _exit(127);
        });
        pid_t stopped = spawn([](int) {});
        kill(stopped, SIGSTOP);
        int ws = 0;
        EXPECT_EQ(waitpid(stopped, &ws, WUNTRACED), stopped);
        pid_t zombie = fork();
        if (zombie == 0) _exit(0);
        siginfo_t info{};
        EXPECT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);  // not reaped
        pid_t threaded = spawn([](int) {
            for (int i = 0; i < 3; ++i) {
                pthread_t t;
                pthread_create(&t, nullptr, block_forever, nullptr);
            }
        });
        pid_t no_fds = spawn([](int) { close_range(0, ~0U, 0); });
        // ps agrees while every name is printable.
        compare_with_ps();

        // Names the kernel writes into stat unescaped; none of them may hide a process.
        struct Named {
            const char *name;
            pid_t pid;
        } named[] = {{"we)ird) x", 0}, {"hid\nden", 0}, {"a) b (c", 0}, {"x)", 0}, {"fifteen-bytes-x", 0}};
        for (auto &n : named) n.pid = spawn([&n](int) { prctl(PR_SET_NAME, n.name); });

        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        struct Want {
            pid_t pid;
            const char *name;
            int32_t state;
            int32_t threads;
        };
        std::vector<Want> wants = {{1, nullptr, LUMEK_PROC_STATE_RUNNING, 1},  // it is the one reading
                                   {sleeper, "sleep", LUMEK_PROC_STATE_SLEEPING, 1},
                                   {stopped, nullptr, LUMEK_PROC_STATE_STOPPED, 1},
                                   {threaded, nullptr, LUMEK_PROC_STATE_SLEEPING, 4},
                                   {no_fds, nullptr, LUMEK_PROC_STATE_SLEEPING, 1}};
        for (const auto &n : named) wants.push_back({n.pid, n.name, LUMEK_PROC_STATE_SLEEPING, 1});
        for (const auto &w : wants) {
            const ProcessInfo *p = snap.find(w.pid);
            if (!p) {
                ADD_FAILURE() << "pid " << w.pid << " (" << (w.name ? w.name : "?") << ") not listed";
                continue;
            }
            if (w.name) {
                EXPECT_STREQ(p->name, w.name);
            }
            EXPECT_EQ(p->state, w.state) << w.pid;
            EXPECT_EQ(p->thread_count, w.threads) << w.pid;
            EXPECT_EQ(p->uid, static_cast<int32_t>(getuid())) << w.pid;
            EXPECT_EQ(p->ppid, w.pid == 1 ? 0 : 1) << w.pid;
            if (w.pid != sleeper) {
                EXPECT_EQ(std::string(p->exe_path), self_exe()) << w.pid;
            }
        }
        // A zombie has no program left to name: never listed.
        EXPECT_EQ(snap.find(zombie), nullptr);
        EXPECT_EQ(snap.count(), wants.size());

        if (const ProcessInfo *s = snap.find(sleeper)) {
            EXPECT_STREQ(s->cmdline, "sleep 10 ");  // every NUL a blank, the last one too
            std::string exe = real_path("/bin/sleep");
            EXPECT_EQ(std::string(s->exe_path), exe);
            EXPECT_EQ(std::string(s->exe_dir), exe.substr(0, exe.rfind('/') + 1));
            EXPECT_GT(s->mem_usage, 0.0);
            EXPECT_LT(s->mem_usage, 100.0);
            EXPECT_EQ(s->tty_nr, 0);
        }
        if (const ProcessInfo *p = snap.find(no_fds)) {
            EXPECT_EQ(p->fd_count, 0);
            EXPECT_NE(p->fd_targets, nullptr);
            if (p->fd_targets) {
                EXPECT_EQ(p->fd_targets[0], nullptr);
            }
            EXPECT_EQ(p->socket_count, 0);
        }
        for (pid_t pid : {sleeper, stopped, threaded, no_fds}) reap(pid);
        for (const auto &n : named) reap(n.pid);
        waitpid(zombie, nullptr, 0);
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// A program and an open file deep below a temporary directory: the program path is cut at
// 1023 bytes and its directory taken from the cut; descriptor targets are cut at 319.
TEST(ProcessSnapshot, DescriptorTargetsAndOverlongPaths) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        char base[] = "/tmp/lumek-exe-XXXXXX";
        EXPECT_NE(mkdtemp(base), nullptr);
        std::string file = std::string(base) + "/plain";
        std::string path = base;
        std::vector<std::string> dirs;
        while (path.size() < 1100) {
            path += "/" + std::string(90, 'd');
            EXPECT_EQ(mkdir(path.c_str(), 0755), 0);
            dirs.push_back(path);
        }
        std::string prog = path + "/prog", long_file = path + "/long";
        {
            std::ifstream in("/bin/sleep", std::ios::binary);
            std::ofstream out(prog, std::ios::binary);
            out << in.rdbuf();
        }
        chmod(prog.c_str(), 0755);
        pid_t child = spawn([&](int ready) {
            close_all_but(ready);
            int p[2];
            if (pipe(p) != 0) _exit(1);                                    // 0, 1
            if (open(file.c_str(), O_RDWR | O_CREAT, 0600) < 0) _exit(1);  // 2
            if (open(long_file.c_str(), O_RDWR | O_CREAT, 0600) < 0) _exit(1);
            execl(prog.c_str(), "prog", "30", static_cast<char *>(nullptr));  // closes @ready
            _exit(127);
        });
        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        const ProcessInfo *p = snap.find(child);
        EXPECT_NE(p, nullptr);
        if (p) {
            std::string cut = prog.substr(0, 1023);
            EXPECT_EQ(std::string(p->exe_path), cut);
            EXPECT_EQ(std::string(p->exe_dir), cut.substr(0, cut.rfind('/') + 1));
            std::string pipe_target = link_target("/proc/" + std::to_string(child) + "/fd/0");
            EXPECT_EQ(pipe_target.rfind("pipe:[", 0), 0u);
            std::vector<std::string> want = {pipe_target, pipe_target, file, long_file.substr(0, 319)};
            EXPECT_EQ(snap.targets(*p), want);
            EXPECT_EQ(p->fd_count, 4);
            EXPECT_EQ(p->socket_count, 0);
        }
        reap(child);
        unlink(prog.c_str());
        unlink(long_file.c_str());
        for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) rmdir(it->c_str());
        unlink(file.c_str());
        rmdir(base);
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- sockets -----------------------------------------------------------------------------

namespace {

// A network namespace of the calling process's own, its loopback up, so that the socket
// tables hold only the test's sockets. (Entered from inside the pid namespace: a helper
// process started between the two unshares would become the pid namespace's init.)
bool enter_private_net() {
    return unshare(CLONE_NEWNET) == 0 && lumek_test::bring_loopback_up();
}

int bound_socket(int family, int type) {
    int fd = socket(family, type, 0);
    if (fd < 0) return -1;
    int rc;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } else {
        int on = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        rc = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    if (rc != 0) return -1;
    if (type == SOCK_STREAM && listen(fd, 1) != 0) return -1;
    return fd;
}

}  // namespace

namespace {

// A stand-in /proc: a tmpfs whose pid entries and meminfo lead into a real proc mounted
// aside, and whose net/tcp and net/udp are what the test says (absent when null).
class FakeProc {
  public:
    FakeProc() {
        char dir[] = "/tmp/lumek-realproc-XXXXXX";
        if (mkdtemp(dir)) real_ = dir;
        ok_ = !real_.empty() && mount("proc", real_.c_str(), "proc", 0, nullptr) == 0;
    }
    ~FakeProc() {
        if (layered_) umount("/proc");
        if (ok_) umount(real_.c_str());
        if (!real_.empty()) rmdir(real_.c_str());
    }
    bool ok() const { return ok_; }
    std::string real_table(const char *name) const {
        std::ifstream in(real_ + "/net/" + name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Lays the stand-in over /proc (replacing an earlier one).
    bool layer(const char *tcp, const char *udp) {
        if (layered_) umount("/proc");
        layered_ = mount("none", "/proc", "tmpfs", 0, nullptr) == 0;
        if (!layered_) return false;
        DIR *d = opendir(real_.c_str());
        if (!d) return false;
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
            symlink((real_ + "/" + e->d_name).c_str(), (std::string("/proc/") + e->d_name).c_str());
        }
        closedir(d);
        symlink((real_ + "/meminfo").c_str(), "/proc/meminfo");
        mkdir("/proc/net", 0755);
        if (tcp) std::ofstream("/proc/net/tcp") << tcp;
        if (udp) std::ofstream("/proc/net/udp") << udp;
        return true;
    }

  private:
    std::string real_;
    bool ok_ = false;
    bool layered_ = false;
};

const char kTableHeader[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string socket_inode_of(pid_t pid, int fd) {
    std::string t = link_target("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd));
    size_t a = t.find('['), b = t.rfind(']');
    return a == std::string::npos || b == std::string::npos ? "" : t.substr(a + 1, b - a - 1);
}

}  // namespace

// Sockets are counted when the IPv4 tcp or udp table lists their inode, in its own column.
TEST(ProcessSnapshot, SocketCountsTcpAndUdpOverIpv4OnlyByTheInodeColumn) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        if (!enter_private_net()) return lumek_test::kNamespacesRefused;
        pid_t v4 = spawn([](int) {
            if (bound_socket(AF_INET, SOCK_STREAM) < 0 || bound_socket(AF_INET, SOCK_STREAM) < 0 ||
                bound_socket(AF_INET, SOCK_DGRAM) < 0)
                _exit(1);
            int pair[2];
            socketpair(AF_UNIX, SOCK_STREAM, 0, pair);  // a socket, but in no IPv4 table
        });
        pid_t v6 = spawn([](int) {
            if (bound_socket(AF_INET6, SOCK_STREAM) < 0) _exit(1);
        });
        bool have_v6 = kill(v6, 0) == 0 && waitpid(v6, nullptr, WNOHANG) == 0;
        pid_t both = spawn([](int ready) {  // fd 0 tcp, fd 1 udp
            close_all_but(ready);
            if (bound_socket(AF_INET, SOCK_STREAM) != 0 || bound_socket(AF_INET, SOCK_DGRAM) != 1) _exit(1);
        });
        pid_t tcp_only = spawn([](int ready) {
            close_all_but(ready);
            if (bound_socket(AF_INET, SOCK_STREAM) != 0) _exit(1);
        });
        pid_t none = spawn([](int ready) { close_all_but(ready); });
        std::string tcp_inode = socket_inode_of(both, 0);
        EXPECT_FALSE(tcp_inode.empty());
        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.sockets(v4), 3);
        EXPECT_EQ(snap.sockets(both), 2);
        if (have_v6) {
            EXPECT_EQ(snap.sockets(v6), 0);
        } else {
            fprintf(stderr, "*** IPv6 loopback unavailable: IPv6-only case not checked ***\n");
        }

        FakeProc fake;
        auto reap_all = [&] {
            for (pid_t pid : {v4, v6, both, tcp_only, none}) reap(pid);
            return 0;
        };
        if (!fake.ok()) {
            fprintf(stderr, "*** cannot mount a second proc: stand-in /proc cases not checked ***\n");
            return reap_all();
        }
        std::string real_tcp = fake.real_table("tcp");
        std::string real_udp = fake.real_table("udp");

        // The tcp socket's inode appears in a line, but inside other columns only (port,
        // and an inode with one more digit): it is not in the table.
        std::string decoy = std::string(kTableHeader) + "   0: 0100007F:" + tcp_inode +
                            " 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 9" +
                            tcp_inode + " 1 0000000000000000 100 0 0 10 0\n";
        EXPECT_TRUE(fake.layer(decoy.c_str(), real_udp.c_str()));
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.sockets(both), 1);  // the udp socket alone

        // No tcp table: every process with a socket descriptor gets -1 and is still listed.
        EXPECT_TRUE(fake.layer(nullptr, real_udp.c_str()));
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.sockets(both), -1);
        EXPECT_EQ(snap.sockets(tcp_only), -1);
        EXPECT_EQ(snap.sockets(none), 0);

        // No udp table: it is consulted only for sockets that tcp does not list.
        EXPECT_TRUE(fake.layer(real_tcp.c_str(), nullptr));
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.sockets(both), -1);
        EXPECT_EQ(snap.sockets(tcp_only), 1);
        return reap_all();
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- times and terminal (names with blanks) ----------------------------------------------

TEST(ProcessSnapshot, NameWithBlankKeepsTerminalAndCpuFields) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        time_t before = time(nullptr);
        pid_t child = spawn([](int ready) {
            close_all_but(ready);
            setsid();
            int master = posix_openpt(O_RDWR | O_NOCTTY);  // 0
            if (master != 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(1);
            if (open(ptsname(master), O_RDWR) != 1) _exit(1);  // becomes the controlling terminal
            prctl(PR_SET_NAME, "a b");
            struct timespec ts {};
            do clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            while (ts.tv_sec * 1000000000LL + ts.tv_nsec < 1500000000LL);  // 1.5 s of CPU
        });
        time_t after = time(nullptr);
        std::string pts = link_target("/proc/" + std::to_string(child) + "/fd/1");
        struct stat sb {};
        EXPECT_EQ(stat(pts.c_str(), &sb), 0) << pts;
        unsigned maj = major(sb.st_rdev), min = minor(sb.st_rdev);
        int32_t want_tty = static_cast<int32_t>((min & 0xff) | (maj << 8) | ((min & ~0xffu) << 12));

        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        const ProcessInfo *p = snap.find(child);
        EXPECT_NE(p, nullptr);
        if (p) {
            EXPECT_STREQ(p->name, "a b");
            EXPECT_NE(p->tty_nr, 0);
            EXPECT_EQ(p->tty_nr, want_tty);
            EXPECT_EQ(p->cpu_time, 1);
            EXPECT_GT(p->cpu_usage, 0.0);
            EXPECT_LE(p->cpu_usage, 100.0);
            bool matched = false;
            for (time_t t = before - 2; t <= after + 2 && !matched; ++t) {
                char want[64];
                matched = ctime_r(&t, want) && strcmp(want, p->start_time) == 0;
            }
            EXPECT_TRUE(matched) << "start_time " << p->start_time;
        }
        reap(child);
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- the cap -----------------------------------------------------------------------------

TEST(ProcessSnapshot, StopsAt1024Records) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        int gate[2];
        EXPECT_EQ(pipe2(gate, O_CLOEXEC), 0);
        std::vector<pid_t> kids;
        for (int i = 0; i < 1030; ++i) {
            pid_t pid = fork();
            if (pid == 0) {
                close(gate[1]);
                char c;
                while (read(gate[0], &c, 1) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
            if (pid < 0) break;
            kids.push_back(pid);
        }
        EXPECT_EQ(kids.size(), 1030u);
        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.count(), 1024u);
        EXPECT_TRUE(snap.spare_untouched());
        std::set<int64_t> pids;
        for (uint32_t i = 0; i < snap.count(); ++i) {
            pids.insert(snap.at(i).pid);
            EXPECT_NE(snap.at(i).fd_targets, nullptr);
        }
        EXPECT_EQ(pids.size(), 1024u);
        close(gate[1]);
        for (pid_t pid : kids)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- the whole machine -------------------------------------------------------------------

// Kernel threads, known by their PF_KTHREAD flag (field 9 of stat). A container's pid
// namespace may show none.
std::set<int64_t> kernel_threads() {
    std::set<int64_t> out;
    for (const auto &e : std::filesystem::directory_iterator("/proc")) {
        int64_t pid = atoll(e.path().filename().c_str());
        if (pid <= 0) continue;
        std::ifstream in(e.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        unsigned long flags = 0;
        if (close != std::string::npos &&
            sscanf(text.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) == 1 &&
            (flags & 0x00200000))
            out.insert(pid);
    }
    return out;
}

TEST(ProcessSnapshot, AgreesWithPsNoKernelThreadsAndOwnRecordIsRight) {
    compare_with_ps();
    std::set<int64_t> kthreads = kernel_threads();
    if (kthreads.empty()) fprintf(stderr, "*** no kernel threads visible here: that check is empty ***\n");
    Snapshot snap;
    ASSERT_EQ(snap.take(), 0);
    // A test running beside this one may hold a thousand children for a moment; wait for
    // them to go so that the cap does not hide this process.
    for (int tries = 0; tries < 40 && snap.count() == LUMEK_PROCESS_INFO_MAX && !snap.find(getpid());
         ++tries) {
        usleep(250 * 1000);
        ASSERT_EQ(snap.take(), 0);
    }
    for (uint32_t i = 0; i < snap.count(); ++i) {
        const ProcessInfo &p = snap.at(i);
        EXPECT_NE(p.exe_path[0], '\0') << p.pid;
        EXPECT_EQ(kthreads.count(p.pid), 0u) << "kernel thread " << p.pid << " (" << p.name << ") listed";
        EXPECT_GE(p.state, 0);
        EXPECT_LE(p.state, 6);
        EXPECT_NE(p.fd_targets, nullptr);
    }
    const ProcessInfo *self = snap.find(getpid());
    if (!self && snap.count() == LUMEK_PROCESS_INFO_MAX)
        GTEST_SKIP() << "*** more than 1024 processes on this machine: own record not taken ***";
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(std::string(self->exe_path), self_exe());
    EXPECT_EQ(self->ppid, getppid());
    EXPECT_EQ(self->uid, static_cast<int32_t>(getuid()));
    EXPECT_EQ(self->state, LUMEK_PROC_STATE_RUNNING);
    EXPECT_EQ(self->thread_count, 1);
    std::vector<std::string> targets = snap.targets(*self);
    EXPECT_NE(std::find(targets.begin(), targets.end(), "/proc"), targets.end());
}
