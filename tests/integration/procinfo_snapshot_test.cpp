// lumek_get_process_info against real processes the test starts, inside private pid (and
// network) namespaces so that /proc holds only them, and against ps on the same /proc.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
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
    const ProcessInfo *begin() const { return recs_; }
    const ProcessInfo *end() const { return recs_ + count_; }
    const ProcessInfo *find(int64_t pid) const {
        for (const ProcessInfo &p : *this)
            if (p.pid == pid) return &p;
        return nullptr;
    }
    // A missing record reads as INT32_MIN.
    int32_t sockets(int64_t pid) const { return find(pid) ? find(pid)->socket_count : INT32_MIN; }
    bool spare_untouched() const {
        ProcessInfo pattern;
        memset(&pattern, 0xAB, sizeof pattern);
        return memcmp(&pattern, &recs_[LUMEK_PROCESS_INFO_MAX], sizeof pattern) == 0;
    }

  private:
    void release() {
        for (const ProcessInfo &p : *this) {
            for (int32_t k = 0; k < p.fd_count; ++k) free(p.fd_targets[k]);
            free(p.fd_targets);
        }
        count_ = 0;
    }

    ProcessInfo *recs_;
    uint32_t count_ = 0;
};

std::vector<std::string> targets(const ProcessInfo &p) {
    return std::vector<std::string>(p.fd_targets, p.fd_targets + p.fd_count);
}

// Closes every descriptor of the calling process except @keep.
void close_all_but(int keep) {
    if (keep > 0) close_range(0, static_cast<unsigned>(keep - 1), 0);
    close_range(static_cast<unsigned>(keep + 1), ~0U, 0);
}

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string link_target(const std::string &path) {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink(path.c_str(), buf, PATH_MAX);
    return n < 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

char state_letter_of(int64_t pid) {
    std::string text = slurp("/proc/" + std::to_string(pid) + "/stat");
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// Forks a child that runs @setup and then waits for SIGKILL. @setup gets the descriptor that
// tells the parent it is ready: the parent goes on once every copy of it is closed (at the end
// of @setup, at its exec, or when @setup closes it itself), and once the child has left the
// running state, which takes it a few more instructions.
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
    for (int i = 0; i < 5000 && state_letter_of(pid) == 'R'; ++i) usleep(1000);
    return pid;
}

void reap(pid_t pid) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// ---- ps ----------------------------------------------------------------------------------

using PsRow = std::tuple<int64_t, int64_t, int64_t, std::string>;  // ppid, uid, threads, name

std::map<int64_t, PsRow> run_ps() {
    std::map<int64_t, PsRow> rows;
    FILE *f = popen("/usr/bin/ps -e -o pid=,ppid=,ruid=,nlwp=,comm=", "re");
    if (!f) return rows;
    char line[4096];
    while (fgets(line, sizeof line, f)) {
        std::istringstream in(line);
        int64_t pid, ppid, uid, threads;
        std::string comm;
        if (!(in >> pid >> ppid >> uid >> threads)) continue;
        std::getline(in >> std::ws, comm);
        while (!comm.empty() && isspace(static_cast<unsigned char>(comm.back()))) comm.pop_back();
        rows[pid] = {ppid, uid, threads, comm};
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
        if (it == after.end() || it->second != row) continue;  // came, went or changed meanwhile
        const ProcessInfo *p = snap.find(pid);
        if (!p) {
            // Looked at only now, after the second ps: still there, with a program and in a
            // listed state, it was there all along and should have been taken.
            bool listable = !link_target("/proc/" + std::to_string(pid) + "/exe").empty() &&
                            strchr("RTStDX", state_letter_of(pid)) != nullptr;
            if (snap.count() < LUMEK_PROCESS_INFO_MAX && listable)
                ADD_FAILURE() << "pid " << pid << " (" << std::get<3>(row) << ") missing from the snapshot";
            continue;
        }
        EXPECT_EQ(PsRow(p->ppid, p->uid, p->thread_count, p->name), row) << "pid " << pid;
        ++compared;
    }
    EXPECT_GT(compared, 0u);
}

}  // namespace

// ---- identity, state, program, command line, descriptors, terminal, times ----------------

TEST(ProcessSnapshot, ChildrenOfEveryKindAreListedAsTheyAre) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        pid_t sleeper = spawn([](int) {
            execlp("sleep", "sleep", "10", static_cast<char *>(nullptr));
            _exit(127);
        });
        pid_t stopped = spawn([](int) {});
        kill(stopped, SIGSTOP);
        EXPECT_EQ(waitpid(stopped, nullptr, WUNTRACED), stopped);
        pid_t zombie = fork();
        if (zombie == 0) _exit(0);
        siginfo_t info{};
        EXPECT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);  // not reaped
        pid_t threaded = spawn([](int) {
            for (int i = 0; i < 3; ++i) std::thread([] { pause(); }).detach();
        });
        pid_t no_fds = spawn([](int) { close_range(0, ~0U, 0); });
        compare_with_ps();  // while every name is printable

        // On a terminal of its own, with 1.5 s of CPU, and a blank in its name.
        time_t before = time(nullptr);
        pid_t busy = spawn([](int ready) {
            close_all_but(ready);
            setsid();
            int master = posix_openpt(O_RDWR | O_NOCTTY);  // 0
            if (master != 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(1);
            if (open(ptsname(master), O_RDWR) != 1) _exit(1);  // becomes the controlling terminal
            prctl(PR_SET_NAME, "a b");
            struct timespec ts {};
            do clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            while (ts.tv_sec * 1000000000LL + ts.tv_nsec < 1500000000LL);
        });
        time_t after = time(nullptr);
        // Names the kernel writes into stat unescaped; none of them may hide a process.
        std::vector<std::pair<const char *, pid_t>> named = {
            {"we)ird) x", 0}, {"hid\nden", 0}, {"a) b (c", 0}, {"x)", 0}, {"fifteen-bytes-x", 0}};
        for (auto &n : named) n.second = spawn([&n](int) { prctl(PR_SET_NAME, n.first); });
        // A program and open files deep below a temporary directory: the program path is cut
        // at 1023 bytes and its directory taken from the cut; descriptor targets at 319.
        char base[] = "/tmp/lumek-exe-XXXXXX";
        EXPECT_NE(mkdtemp(base), nullptr);
        std::string file = std::string(base) + "/plain", path = base;
        while (path.size() < 1100) path += "/" + std::string(90, 'd');
        std::filesystem::create_directories(path);
        std::string prog = path + "/prog", long_file = path + "/long";
        std::filesystem::copy_file("/bin/sleep", prog);
        pid_t deep = spawn([&](int ready) {
            close_all_but(ready);
            int p[2];
            if (pipe(p) != 0) _exit(1);                                    // 0, 1
            if (open(file.c_str(), O_RDWR | O_CREAT, 0600) < 0) _exit(1);  // 2
            if (open(long_file.c_str(), O_RDWR | O_CREAT, 0600) < 0) _exit(1);
            execl(prog.c_str(), "prog", "30", static_cast<char *>(nullptr));  // closes @ready
            _exit(127);
        });
        named.insert(named.end(), {{"sleep", sleeper}, {"a b", busy}, {"prog", deep}});

        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        // pid, state, threads; pid 1 is the one reading.
        std::vector<std::tuple<pid_t, int32_t, int32_t>> wants = {{1, LUMEK_PROC_STATE_RUNNING, 1},
                                                                  {stopped, LUMEK_PROC_STATE_STOPPED, 1},
                                                                  {threaded, LUMEK_PROC_STATE_SLEEPING, 4},
                                                                  {no_fds, LUMEK_PROC_STATE_SLEEPING, 1}};
        for (const auto &[name, pid] : named) wants.emplace_back(pid, LUMEK_PROC_STATE_SLEEPING, 1);
        for (const auto &[pid, state, threads] : wants) {
            const ProcessInfo *p = snap.find(pid);
            if (!p) {
                ADD_FAILURE() << "pid " << pid << " not listed";
                continue;
            }
            EXPECT_EQ(
                std::make_tuple(p->state, p->thread_count, p->uid, p->ppid),
                std::make_tuple(state, threads, static_cast<int32_t>(getuid()), int64_t{pid == 1 ? 0 : 1}))
                << pid;
        }
        for (const auto &[name, pid] : named)
            if (const ProcessInfo *p = snap.find(pid)) {
                EXPECT_STREQ(p->name, name);
            }
        if (const ProcessInfo *self = snap.find(1)) {
            EXPECT_EQ(std::string(self->exe_path), link_target("/proc/self/exe"));
            std::vector<std::string> own = targets(*self);
            EXPECT_NE(std::find(own.begin(), own.end(), "/proc"), own.end());  // the walk's own
        }
        // A zombie has no program left to name: never listed.
        EXPECT_EQ(snap.find(zombie), nullptr);
        EXPECT_EQ(snap.count(), wants.size());

        if (const ProcessInfo *s = snap.find(sleeper)) {
            EXPECT_STREQ(s->cmdline, "sleep 10 ");  // every NUL a blank, the last one too
            std::string exe = std::filesystem::canonical("/bin/sleep");
            EXPECT_EQ(std::string(s->exe_path), exe);
            EXPECT_EQ(std::string(s->exe_dir), exe.substr(0, exe.rfind('/') + 1));
            EXPECT_GT(s->mem_usage, 0.0);
            EXPECT_LT(s->mem_usage, 100.0);
            EXPECT_EQ(s->tty_nr, 0);
        }
        if (const ProcessInfo *p = snap.find(no_fds)) {
            EXPECT_EQ(p->fd_count, 0);
            EXPECT_TRUE(p->fd_targets && !p->fd_targets[0]);  // an array holding only its end
            EXPECT_EQ(p->socket_count, 0);
        }
        if (const ProcessInfo *p = snap.find(busy)) {
            struct stat sb {};
            EXPECT_EQ(stat(link_target("/proc/" + std::to_string(busy) + "/fd/1").c_str(), &sb), 0);
            unsigned maj = major(sb.st_rdev), min = minor(sb.st_rdev);
            EXPECT_EQ(p->tty_nr, static_cast<int32_t>((min & 0xff) | (maj << 8) | ((min & ~0xffu) << 12)));
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
        if (const ProcessInfo *p = snap.find(deep)) {
            std::string cut = prog.substr(0, 1023);
            EXPECT_EQ(std::string(p->exe_path), cut);
            EXPECT_EQ(std::string(p->exe_dir), cut.substr(0, cut.rfind('/') + 1));
            std::string pipe_target = link_target("/proc/" + std::to_string(deep) + "/fd/0");
            EXPECT_EQ(targets(*p),
                      (std::vector<std::string>{pipe_target, pipe_target, file, long_file.substr(0, 319)}));
            EXPECT_EQ(p->socket_count, 0);
        }
        std::filesystem::remove_all(base);
        for (pid_t pid : {stopped, threaded, no_fds}) reap(pid);
        for (const auto &n : named) reap(n.second);
        waitpid(zombie, nullptr, 0);
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- sockets -----------------------------------------------------------------------------

namespace {

// A socket of @family (AF_INET or AF_INET6) bound to loopback, listening when a stream.
int bound_socket(int family, int type) {
    sockaddr_in a4{};
    a4.sin_family = AF_INET;
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    int fd = socket(family, type, 0);
    bool v4 = family == AF_INET;
    bool ok = fd >= 0 &&
              bind(fd, v4 ? reinterpret_cast<sockaddr *>(&a4) : reinterpret_cast<sockaddr *>(&a6),
                   v4 ? sizeof a4 : sizeof a6) == 0 &&
              (type != SOCK_STREAM || listen(fd, 1) == 0);
    return ok ? fd : -1;
}

// Lays a tmpfs over /proc whose pid entries and meminfo lead into a real proc mounted below
// it, and whose net/tcp and net/udp the test writes (or leaves out) itself.
bool layer_proc() {
    if (mount("none", "/proc", "tmpfs", 0, nullptr) != 0 || mkdir("/proc/real", 0755) != 0 ||
        mount("proc", "/proc/real", "proc", 0, nullptr) != 0 || mkdir("/proc/net", 0755) != 0)
        return false;
    for (const auto &e : std::filesystem::directory_iterator("/proc/real")) {
        std::string name = e.path().filename();
        if (isdigit(static_cast<unsigned char>(name[0])) || name == "meminfo")
            symlink(e.path().c_str(), ("/proc/" + name).c_str());
    }
    return true;
}

}  // namespace

// Sockets are counted when the IPv4 tcp or udp table lists their inode, in its own column.
TEST(ProcessSnapshot, SocketCountsTcpAndUdpOverIpv4OnlyByTheInodeColumn) {
    int st = lumek_test::run_in_namespaces(kInNamespaces, [] {
        // A network namespace of its own, so that the socket tables hold only the test's
        // sockets; entered from inside the pid namespace, whose init this process must stay.
        if (unshare(CLONE_NEWNET) != 0 || !lumek_test::bring_loopback_up())
            return lumek_test::kNamespacesRefused;
        // Forty listening sockets take the tcp table past the first page a read hands out.
        pid_t v4 = spawn([](int) {
            for (int i = 0; i < 40; ++i)
                if (bound_socket(AF_INET, SOCK_STREAM) < 0) _exit(1);
            int pair[2];
            if (bound_socket(AF_INET, SOCK_DGRAM) < 0 || socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
                _exit(1);
            if (bound_socket(AF_INET6, SOCK_STREAM) < 0)
                fprintf(stderr, "*** IPv6 loopback unavailable: IPv6 socket not checked ***\n");
        });
        pid_t both = spawn([](int ready) {  // fd 0 tcp, fd 1 udp
            close_all_but(ready);
            if (bound_socket(AF_INET, SOCK_STREAM) != 0 || bound_socket(AF_INET, SOCK_DGRAM) != 1) _exit(1);
        });
        pid_t tcp_only = spawn([](int ready) {
            close_all_but(ready);
            if (bound_socket(AF_INET, SOCK_STREAM) != 0) _exit(1);
        });
        pid_t none = spawn([](int ready) { close_all_but(ready); });
        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.sockets(v4), 41);  // neither the unix pair nor the IPv6 socket
        EXPECT_EQ(snap.sockets(both), 2);

        // A table that cannot be opened gives -1 to every process with a socket descriptor it
        // had to consult (udp: only for sockets tcp does not list); they are still listed.
        const std::string tcp = slurp("/proc/net/tcp"), udp = slurp("/proc/net/udp");
        EXPECT_TRUE(layer_proc());
        std::ofstream("/proc/net/udp") << udp;
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(std::make_tuple(snap.sockets(both), snap.sockets(tcp_only), snap.sockets(none)),
                  std::make_tuple(-1, -1, 0));
        std::ofstream("/proc/net/tcp") << tcp;
        unlink("/proc/net/udp");
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(std::make_tuple(snap.sockets(both), snap.sockets(tcp_only), snap.sockets(none)),
                  std::make_tuple(-1, 1, 0));
        for (pid_t pid : {v4, both, tcp_only, none}) reap(pid);
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
        for (pid_t pid = 0; kids.size() < 1030 && (pid = fork()) >= 0; kids.push_back(pid)) {
            if (pid == 0) {
                close(gate[1]);
                char c;
                while (read(gate[0], &c, 1) < 0 && errno == EINTR) {
                }
                _exit(0);
            }
        }
        EXPECT_EQ(kids.size(), 1030u);
        Snapshot snap;
        EXPECT_EQ(snap.take(), 0);
        EXPECT_EQ(snap.count(), 1024u);
        EXPECT_TRUE(snap.spare_untouched());
        std::set<int64_t> pids;
        for (const ProcessInfo &p : snap) {
            pids.insert(p.pid);
            EXPECT_NE(p.fd_targets, nullptr);
        }
        EXPECT_EQ(pids.size(), 1024u);
        for (pid_t pid : kids) reap(pid);
        return 0;
    });
    LUMEK_SKIP_IF_REFUSED(st);
    EXPECT_EQ(st, 0);
}

// ---- the whole machine -------------------------------------------------------------------

TEST(ProcessSnapshot, AgreesWithPsNoKernelThreadsAndRefusesNullArguments) {
    uint32_t count = 77;
    EXPECT_EQ(lumek_get_process_info(nullptr, &count), -1);
    EXPECT_EQ(count, 0u);
    ProcessInfo one;
    EXPECT_EQ(lumek_get_process_info(&one, nullptr), -1);
    compare_with_ps();
    // Kernel threads, known by their PF_KTHREAD flag (field 9 of stat). A container's pid
    // namespace may show none.
    std::set<int64_t> kthreads;
    for (const auto &e : std::filesystem::directory_iterator("/proc")) {
        std::string text = slurp(e.path() / "stat");  // "" for entries that are no process
        size_t close = text.rfind(')');
        unsigned long flags = 0;
        if (close != std::string::npos &&
            sscanf(text.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) == 1 &&
            (flags & 0x00200000))
            kthreads.insert(atoll(e.path().filename().c_str()));
    }
    if (kthreads.empty()) fprintf(stderr, "*** no kernel threads visible here: that check is empty ***\n");
    Snapshot snap;
    ASSERT_EQ(snap.take(), 0);
    for (const ProcessInfo &p : snap) {
        EXPECT_NE(p.exe_path[0], '\0') << p.pid;
        EXPECT_EQ(kthreads.count(p.pid), 0u) << "kernel thread " << p.pid << " (" << p.name << ") listed";
        EXPECT_TRUE(p.state >= 0 && p.state <= 6) << p.pid << " " << p.state;
        EXPECT_NE(p.fd_targets, nullptr);
    }
}
