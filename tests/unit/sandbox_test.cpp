// lumek-sandbox from the outside: exit statuses, the environment and mounts its command
// sees, the daemon on its bus, and that nothing of it is left afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kSandbox = LUMEK_BIN_DIR "/lumek-sandbox";
const std::string kLumekctl = LUMEK_BIN_DIR "/lumekctl";
const std::string kDaemon = LUMEK_BIN_DIR "/lumek-whlistd-ref";
const std::string kFixtureData = LUMEK_SOURCE_DIR "/tests/fixtures/default/usr/share/lumek-utils/data";
const char kDataDir[] = "/usr/share/lumek-utils/data";

struct Started {
    pid_t pid = -1;
    int out = -1;  // read end of the child's stdout+stderr
};

// Starts @args[0] with its arguments; its stdout and stderr go into one pipe.
Started start(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(p[1], 1);
        dup2(p[1], 2);
        execv(argv[0], argv.data());
        _exit(99);
    }
    close(p[1]);
    return {pid, p[0]};
}

struct Finished {
    int status = -1;  // exit status, or 1000+signal if the sandbox itself was killed
    std::string output;
};

Finished finish(Started s) {
    Finished f;
    char buf[4096];
    ssize_t n;
    while ((n = read(s.out, buf, sizeof buf)) > 0) f.output.append(buf, static_cast<size_t>(n));
    close(s.out);
    int st = 0;
    while (waitpid(s.pid, &st, 0) < 0 && errno == EINTR) {
    }
    f.status = WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st);
    return f;
}

Started start_sandbox(std::vector<std::string> args) {
    args.insert(args.begin(), kSandbox);
    return start(args);
}

Finished run_sandbox(const std::vector<std::string> &args) {
    return finish(start_sandbox(args));
}

Finished run_plain(const std::vector<std::string> &argv) {
    return finish(start(argv));
}

std::vector<std::string> sh(const std::string &script) {
    return {"--", "/bin/sh", "-c", script};
}

bool is_root() {
    return geteuid() == 0;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A process that is gone or only a zombie no longer holds anything.
bool process_alive(pid_t pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return false;
    auto close_paren = stat.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < stat.size() && stat[close_paren + 2] != 'Z';
}

std::set<pid_t> children_of(pid_t parent) {
    std::set<pid_t> out;
    DIR *d = opendir("/proc");
    if (!d) return out;
    while (struct dirent *e = readdir(d)) {
        char *end;
        long pid = strtol(e->d_name, &end, 10);
        if (*end || pid <= 0) continue;
        std::string stat = read_file(std::string("/proc/") + e->d_name + "/stat");
        auto close_paren = stat.rfind(')');
        if (close_paren == std::string::npos) continue;
        char state;
        long ppid;
        if (sscanf(stat.c_str() + close_paren + 1, " %c %ld", &state, &ppid) == 2 && ppid == parent &&
            state != 'Z')
            out.insert(static_cast<pid_t>(pid));
    }
    closedir(d);
    return out;
}

std::string comm_of(pid_t pid) {
    std::string c = read_file("/proc/" + std::to_string(pid) + "/comm");
    while (!c.empty() && c.back() == '\n') c.pop_back();
    return c;
}

// Waits until @path holds a full line; returns it without the newline.
std::string wait_for_line(const std::string &path, int timeout_ms = 15000) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        std::string s = read_file(path);
        if (!s.empty() && s.back() == '\n') {
            s.pop_back();
            return s;
        }
        usleep(20 * 1000);
    }
    return {};
}

std::string scratch_file(const char *tag) {
    return "/tmp/lumek-sandbox-test." + std::to_string(getpid()) + "." + tag;
}

// The sandbox's temp dir is the parent of the state dir it hands out.
std::string temp_dir_of(const std::string &state_dir) {
    return state_dir.substr(0, state_dir.rfind('/'));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Exit status

TEST(SandboxExit, PassesTheCommandsExitStatus) {
    EXPECT_EQ(run_sandbox({"--", "/bin/true"}).status, 0);
    EXPECT_EQ(run_sandbox(sh("exit 3")).status, 3);
    EXPECT_EQ(run_sandbox(sh("exit 124")).status, 124);
}

TEST(SandboxExit, CommandKilledBySignalGives128PlusSignal) {
    EXPECT_EQ(run_sandbox(sh("kill -KILL $$")).status, 128 + SIGKILL);
    EXPECT_EQ(run_sandbox(sh("kill -SEGV $$")).status, 128 + SIGSEGV);
}

TEST(SandboxExit, MissingCommandGives127) {
    Finished f = run_sandbox({"--", "/nonexistent/lumek-no-such-command"});
    EXPECT_EQ(f.status, 127);
    EXPECT_NE(f.output.find("lumek-no-such-command"), std::string::npos) << f.output;
    // Looked up in PATH as well: a bare name that is nowhere.
    EXPECT_EQ(run_sandbox({"--", "lumek-no-such-command-either"}).status, 127);
}

TEST(SandboxExit, UsageAndSetupErrorsGive125) {
    EXPECT_EQ(run_sandbox({}).status, 125);
    EXPECT_EQ(run_sandbox({"--"}).status, 125);
    EXPECT_EQ(run_sandbox({"--bogus", "--", "/bin/true"}).status, 125);
    Finished f = run_sandbox({"--data", "/nonexistent/lumek-data", "--", "/bin/true"});
    EXPECT_EQ(f.status, 125);
    EXPECT_NE(f.output.find("/nonexistent/lumek-data"), std::string::npos) << f.output;
}

TEST(SandboxExit, HelpExitsZeroWithoutRunningAnything) {
    Finished f = run_sandbox({"--help"});
    EXPECT_EQ(f.status, 0);
    EXPECT_NE(f.output.find("Usage: lumek-sandbox"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// What the command sees

TEST(SandboxEnvironment, PointsAtPrivateBusAndFreshState) {
    // Buses of the caller must not leak in.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session", 1);
    setenv("DBUS_STARTER_ADDRESS", "unix:path=/nonexistent/starter", 1);
    setenv("DBUS_STARTER_BUS_TYPE", "session", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system", 1);
    Finished f = run_sandbox(sh(
        "echo \"bus=$DBUS_SYSTEM_BUS_ADDRESS\"; echo \"state=$LUMEK_STANDIN_DIR\"; echo "
        "\"sandbox=$LUMEK_SANDBOX\";"
        "echo \"session=${DBUS_SESSION_BUS_ADDRESS-unset}\"; echo \"starter=${DBUS_STARTER_ADDRESS-unset}\";"
        "echo \"starter_type=${DBUS_STARTER_BUS_TYPE-unset}\";"
        "test -d \"$LUMEK_STANDIN_DIR\" && test -z \"$(ls -A \"$LUMEK_STANDIN_DIR\")\" && echo state_empty"));
    ASSERT_EQ(f.status, 0) << f.output;
    EXPECT_NE(f.output.find("bus=unix:path=/tmp/lumek-sandbox."), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("state=/tmp/lumek-sandbox."), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("sandbox=1\n"), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("session=unset\n"), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("starter=unset\n"), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("starter_type=unset\n"), std::string::npos) << f.output;
    EXPECT_NE(f.output.find("state_empty"), std::string::npos) << f.output;
}

TEST(SandboxMounts, FixtureListsVisibleInsideOnly) {
    if (!is_root()) GTEST_SKIP() << "*** SKIPPED: the sandbox mounts the data lists only as root ***";
    Finished f = run_sandbox({"--", "/bin/cat", std::string(kDataDir) + "/trust_list"});
    ASSERT_EQ(f.status, 0) << f.output;
    EXPECT_EQ(f.output, read_file(kFixtureData + "/trust_list"));
    for (const char *name :
         {"vordsw_list", "trust_list", "parent_list", "script_list", "readonly_pkg_list"}) {
        Finished g = run_sandbox({"--", "/usr/bin/test", "-s", std::string(kDataDir) + "/" + name});
        EXPECT_EQ(g.status, 0) << name << " missing or empty inside";
        EXPECT_FALSE(exists(std::string(kDataDir) + "/" + name)) << name << " leaked out of the sandbox";
    }
}

TEST(SandboxMounts, DataOptionChoosesTheLists) {
    if (!is_root()) GTEST_SKIP() << "*** SKIPPED: the sandbox mounts the data lists only as root ***";
    char tmpl[] = "/tmp/lumek-sandbox-test-data.XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    std::string dir = tmpl;
    std::ofstream(dir + "/vordsw_list") << "/usr/bin/lumek-test-only\n";
    Finished f = run_sandbox({"--data", dir, "--", "/bin/cat", std::string(kDataDir) + "/vordsw_list"});
    EXPECT_EQ(f.status, 0) << f.output;
    EXPECT_EQ(f.output, "/usr/bin/lumek-test-only\n");
    // The fixture lists are mounted read-only: the command cannot edit the source tree.
    Finished w = run_sandbox(sh(std::string("echo x >> ") + kDataDir + "/vordsw_list"));
    EXPECT_NE(w.status, 0);
    EXPECT_EQ(read_file(dir + "/vordsw_list"), "/usr/bin/lumek-test-only\n");
    unlink((dir + "/vordsw_list").c_str());
    rmdir(dir.c_str());
}

// ---------------------------------------------------------------------------------------
// The bus and the daemon

TEST(SandboxBus, DaemonOwnsTheNameInside) {
    ASSERT_TRUE(exists(kLumekctl)) << kLumekctl;
    Finished f = run_sandbox({"--", kLumekctl, "call", "lumek_whlist_load_all"});
    EXPECT_EQ(f.status, 0) << f.output;
    EXPECT_NE(f.output.find("([],)"), std::string::npos) << f.output;
}

TEST(SandboxBus, NoDaemonLeavesTheNameUnowned) {
    ASSERT_TRUE(exists(kLumekctl)) << kLumekctl;
    // The bus itself answers, with its own error name, which maps to -1011.
    Finished f = run_sandbox({"--no-daemon", "--", kLumekctl, "call", "lumek_whlist_load_all"});
    EXPECT_NE(f.status, 0) << f.output;
    EXPECT_NE(f.output.find("-1011"), std::string::npos) << f.output;
    EXPECT_EQ(f.output.find("no reply"), std::string::npos) << "the bus itself was unreachable: " << f.output;
}

// ---------------------------------------------------------------------------------------
// Teardown

TEST(SandboxTeardown, KeepLeavesTheTempDirAndSaysWhere) {
    Finished f = run_sandbox({"--keep", "--", "/bin/sh", "-c", "echo \"state=$LUMEK_STANDIN_DIR\""});
    ASSERT_EQ(f.status, 0) << f.output;
    auto pos = f.output.find("state=");
    ASSERT_NE(pos, std::string::npos);
    std::string state = f.output.substr(pos + 6, f.output.find('\n', pos) - pos - 6);
    std::string tmp = temp_dir_of(state);
    EXPECT_TRUE(exists(tmp + "/system-bus.conf"));
    EXPECT_NE(f.output.find("kept " + tmp), std::string::npos) << f.output;
    std::string rm = "rm -rf '" + tmp + "'";
    ASSERT_EQ(system(rm.c_str()), 0);
}

// Runs a sandbox whose command reports its state dir and waits until it is told to exit
// (status 5) or killed; checks what is left afterwards.
class SandboxStopped : public ::testing::Test {
  protected:
    void start(const std::string &trap) {
        note_ = scratch_file("note");
        go_ = scratch_file("go");
        unlink(note_.c_str());
        unlink(go_.c_str());
        proc_ = start_sandbox(sh(trap + "echo \"$LUMEK_STANDIN_DIR\" > " + note_ + "; while [ ! -e " + go_ +
                                 " ]; do sleep 0.05; done; exit 5"));
        ASSERT_GT(proc_.pid, 0);
        state_ = wait_for_line(note_);
        ASSERT_FALSE(state_.empty()) << "the command never started";
        // dbus-daemon, the daemon and the command: the sandbox's three children.
        helpers_.clear();
        for (pid_t c : children_of(proc_.pid))
            if (comm_of(c) == "dbus-daemon" || comm_of(c) == "lumek-whlistd-r") helpers_.insert(c);
        ASSERT_EQ(helpers_.size(), 2u) << "expected the bus and the daemon";
    }
    void TearDown() override {
        // Whatever a broken sandbox left running must not outlive the test.
        for (pid_t c : helpers_)
            if (process_alive(c)) kill(c, SIGKILL);
        unlink(note_.c_str());
        unlink(go_.c_str());
        if (!state_.empty()) {
            std::string rm = "rm -rf '" + temp_dir_of(state_) + "'";
            (void)!system(rm.c_str());
        }
    }
    void expect_helpers_gone() {
        for (int waited = 0; waited < 3000 && any_helper_alive(); waited += 20) usleep(20 * 1000);
        for (pid_t c : helpers_) EXPECT_FALSE(process_alive(c)) << "left behind: " << c << " " << comm_of(c);
    }
    bool any_helper_alive() {
        for (pid_t c : helpers_)
            if (process_alive(c)) return true;
        return false;
    }

    std::string note_, go_, state_;
    Started proc_;
    std::set<pid_t> helpers_;
};

TEST_F(SandboxStopped, NothingLeftAfterNormalExit) {
    start("");
    std::ofstream(go_) << "go\n";
    Finished f = finish(proc_);
    EXPECT_EQ(f.status, 5) << f.output;
    expect_helpers_gone();
    EXPECT_FALSE(exists(temp_dir_of(state_)));
}

TEST_F(SandboxStopped, SigtermStopsCommandAndTearsDown) {
    start("");
    ASSERT_EQ(kill(proc_.pid, SIGTERM), 0);
    Finished f = finish(proc_);
    EXPECT_EQ(f.status, 128 + SIGTERM) << f.output;
    expect_helpers_gone();
    EXPECT_FALSE(exists(temp_dir_of(state_)));
}

TEST_F(SandboxStopped, SignalIsForwardedAndCommandMayExitItsOwnWay) {
    start("trap 'exit 42' INT; ");
    ASSERT_EQ(kill(proc_.pid, SIGINT), 0);
    Finished f = finish(proc_);
    EXPECT_EQ(f.status, 42) << f.output;
    expect_helpers_gone();
    EXPECT_FALSE(exists(temp_dir_of(state_)));
}

TEST_F(SandboxStopped, SigkillOfTheSandboxTakesItsChildrenAlong) {
    start("");
    std::set<pid_t> all = children_of(proc_.pid);
    ASSERT_EQ(kill(proc_.pid, SIGKILL), 0);
    // Not reading the output to its end: survivors would hold the pipe open.
    close(proc_.out);
    int st = 0;
    ASSERT_EQ(waitpid(proc_.pid, &st, 0), proc_.pid);
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL);
    helpers_ = all;  // the command too
    expect_helpers_gone();
}

// ---------------------------------------------------------------------------------------
// The daemon as a process, run as the sandbox's command on a bus of its own

TEST(DaemonProcess, HelpAndBadUsage) {
    Finished help = run_plain({kDaemon, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("com.vorda.lumek"), std::string::npos) << help.output;
    Finished bad = run_plain({kDaemon, "--ready-fd=x"});
    EXPECT_EQ(bad.status, 2) << bad.output;
}

TEST(DaemonProcess, ExitsNonZeroWithoutABus) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumek-test-bus", 1);
    Finished f = run_plain({kDaemon});
    EXPECT_EQ(f.status, 1) << f.output;
    EXPECT_NE(f.output.find("cannot connect"), std::string::npos) << f.output;
}

TEST(DaemonProcess, ExitsNonZeroWhenTheNameIsTaken) {
    // The sandbox's own daemon already owns the name.
    Finished f = run_sandbox({"--", kDaemon});
    EXPECT_EQ(f.status, 1) << f.output;
    EXPECT_NE(f.output.find("cannot own the bus name"), std::string::npos) << f.output;
}

class DaemonStops : public ::testing::TestWithParam<int> {};

TEST_P(DaemonStops, CleanExitOnSignal) {
    // The ready pipe's write end passes through the sandbox to the daemon.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    fcntl(p[0], F_SETFD, FD_CLOEXEC);
    Started s = start_sandbox({"--no-daemon", "--", kDaemon, "--ready-fd=" + std::to_string(p[1])});
    close(p[1]);
    struct pollfd pfd = {p[0], POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 15000), 1) << "the daemon never took its name";
    char buf[16] = {};
    EXPECT_GT(read(p[0], buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "ready\n");
    close(p[0]);
    // The sandbox forwards the signal to its command, the daemon.
    ASSERT_EQ(kill(s.pid, GetParam()), 0);
    Finished f = finish(s);
    EXPECT_EQ(f.status, 0) << f.output;
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, DaemonStops, ::testing::Values(SIGTERM, SIGINT));
