// lumek-sandbox from the outside, as deep as the integration tests rely on it: exit
// statuses, what the command sees, the daemon on its bus, and that nothing is left after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kSandbox = LUMEK_BIN_DIR "/lumek-sandbox";
const std::string kLumekctl = LUMEK_BIN_DIR "/lumekctl";
const std::string kFixtureData = LUMEK_SOURCE_DIR "/tests/fixtures/default/usr/share/lumek-utils/data";
const std::string kDataDir = "/usr/share/lumek-utils/data";
const char *const kLists[] = {"vordsw_list", "trust_list", "parent_list", "script_list", "readonly_pkg_list"};

struct Started {
    pid_t pid = -1;
    int out = -1;  // read end of the child's stdout+stderr
};

// Starts the sandbox with @args, its output and errors in one pipe. @env is set for the
// child only, so no test leaves its variables to the next.
Started start_sandbox(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    std::vector<std::string> all{"/usr/bin/env"};
    all.insert(all.end(), env.begin(), env.end());
    all.push_back(kSandbox);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(const_cast<char *>(a.c_str()));
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

Finished run_sandbox(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    return finish(start_sandbox(args, env));
}
std::vector<std::string> sh(const std::string &script) {
    return {"--", "/bin/sh", "-c", script};
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A zombie no longer holds anything.
bool process_alive(pid_t pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    auto close_paren = stat.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < stat.size() && stat[close_paren + 2] != 'Z';
}

std::set<pid_t> children_of(pid_t parent) {
    std::string p = std::to_string(parent);
    std::istringstream in(read_file("/proc/" + p + "/task/" + p + "/children"));
    std::set<pid_t> out;
    for (pid_t c; in >> c;) out.insert(c);
    return out;
}

}  // namespace

TEST(Sandbox, ExitStatus) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *output_names;  // the output must name this
    } cases[] = {
        {{"--", "/bin/true"}, 0, ""},
        {sh("exit 3"), 3, ""},
        {sh("kill -KILL $$"), 128 + SIGKILL, ""},
        {sh("kill -SEGV $$"), 128 + SIGSEGV, ""},
        {{"--", "/nonexistent/lumek-no-such-command"}, 127, "lumek-no-such-command"},
        {{"--", "lumek-no-such-command-either"}, 127, ""},  // looked up in PATH as well
        {{}, 125, ""},
        {{"--"}, 125, ""},
        {{"--bogus", "--", "/bin/true"}, 125, ""},
        {{"--data", "/nonexistent/lumek-data", "--", "/bin/true"}, 125, "/nonexistent/lumek-data"},
    };
    for (const Case &c : cases) {
        std::string what;
        for (const auto &a : c.args) what += a + " ";
        Finished f = run_sandbox(c.args);
        EXPECT_EQ(f.status, c.status) << what << "\n" << f.output;
        EXPECT_NE(f.output.find(c.output_names), std::string::npos) << what << f.output;
    }
}

TEST(Sandbox, CommandSeesPrivateBusFreshStateAndFixtureLists) {
    // The caller's bus must not leak in.
    std::vector<std::string> env = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system"};
    std::string script =
        "echo \"bus=$DBUS_SYSTEM_BUS_ADDRESS\"; echo \"state=$LUMEK_STANDIN_DIR\"; echo "
        "\"sandbox=$LUMEK_SANDBOX\";"
        "test -d \"$LUMEK_STANDIN_DIR\" && test -z \"$(ls -A \"$LUMEK_STANDIN_DIR\")\" && echo state_empty=1;"
        "cd " +
        kDataDir +
        " 2>/dev/null || exit 0;"
        "cmp -s trust_list " +
        kFixtureData +
        "/trust_list && echo trust_same=1;"
        "for n in *_list; do test -s $n && echo $n=ok; done;"
        // Mounted read-only: the command cannot edit the source tree.
        "(echo x >> vordsw_list) 2>/dev/null && echo lists_writable=1;"
        "exit 0";
    Finished f = run_sandbox(sh(script), env);
    ASSERT_EQ(f.status, 0) << f.output;
    std::map<std::string, std::string> seen;
    std::istringstream lines(f.output);
    for (std::string l; std::getline(lines, l);)
        if (l.find('=') != std::string::npos) seen[l.substr(0, l.find('='))] = l.substr(l.find('=') + 1);

    EXPECT_EQ(seen["bus"].rfind("unix:path=/tmp/lumek-sandbox.", 0), 0u) << f.output;
    EXPECT_EQ(seen["state"].rfind("/tmp/lumek-sandbox.", 0), 0u) << f.output;
    EXPECT_EQ(seen["sandbox"], "1");
    EXPECT_EQ(seen["state_empty"], "1");
    EXPECT_NE(access(seen["state"].c_str(), F_OK), 0) << "state dir outlived the sandbox";

    if (geteuid() != 0) GTEST_SKIP() << "*** SKIPPED: the sandbox mounts the data lists only as root ***";
    EXPECT_EQ(seen["trust_same"], "1") << f.output;
    for (const char *name : kLists) {
        EXPECT_EQ(seen[name], "ok") << name << " missing or empty inside";
        EXPECT_NE(access((kDataDir + "/" + name).c_str(), F_OK), 0) << name << " leaked out of the sandbox";
    }
    EXPECT_EQ(seen.count("lists_writable"), 0u);
}

TEST(Sandbox, DaemonOwnsTheNameInsideUnlessNoDaemon) {
    ASSERT_EQ(access(kLumekctl.c_str(), X_OK), 0) << kLumekctl;
    Finished with = run_sandbox({"--", kLumekctl, "call", "lumek_whlist_load_all"});
    EXPECT_EQ(with.status, 0) << with.output;
    // Without the daemon the bus itself answers, with its own error name: -1011.
    Finished without = run_sandbox({"--no-daemon", "--", kLumekctl, "call", "lumek_whlist_load_all"});
    EXPECT_NE(without.status, 0) << without.output;
    EXPECT_NE(without.output.find("-1011"), std::string::npos) << without.output;
    EXPECT_EQ(without.output.find("no reply"), std::string::npos)
        << "the bus was unreachable: " << without.output;
}

// A running sandbox ends: its command exits, or the sandbox gets the signal in the parameter.
class SandboxTeardown : public ::testing::TestWithParam<int> {
  protected:
    void TearDown() override {
        // Whatever a broken sandbox left running must not outlive the test.
        for (pid_t c : children_)
            if (process_alive(c)) kill(c, SIGKILL);
        if (!temp_.empty()) (void)!system(("rm -rf '" + temp_ + "'").c_str());
    }

    std::string temp_;
    std::set<pid_t> children_;
};

TEST_P(SandboxTeardown, NothingIsLeft) {
    // The command reports its state dir, then runs until SIGUSR1 makes it exit with 5.
    Started s =
        start_sandbox(sh("trap 'exit 5' USR1; echo \"$LUMEK_STANDIN_DIR\"; while :; do sleep 0.05; done"));
    std::string state;
    for (char ch; read(s.out, &ch, 1) == 1 && ch != '\n';) state += ch;
    ASSERT_FALSE(state.empty()) << "the command never started";
    temp_ = state.substr(0, state.rfind('/'));  // the sandbox's temp dir holds the state dir
    children_ = children_of(s.pid);
    pid_t command = -1;
    int helpers = 0;
    for (pid_t c : children_) {
        std::string comm = read_file("/proc/" + std::to_string(c) + "/comm");
        if (comm == "dbus-daemon\n" || comm == "lumek-whlistd-r\n") {
            ++helpers;
        } else {
            command = c;
        }
    }
    ASSERT_EQ(helpers, 2) << "expected the bus and the daemon beside the command";

    const int sig = GetParam();
    ASSERT_EQ(sig ? kill(s.pid, sig) : kill(command, SIGUSR1), 0);
    if (sig == SIGKILL) {
        close(s.out);  // survivors would hold the pipe open: do not read to its end
        int st = 0;
        ASSERT_EQ(waitpid(s.pid, &st, 0), s.pid);
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL);
    } else {
        Finished f = finish(s);
        EXPECT_EQ(f.status, sig ? 128 + sig : 5) << f.output;
    }
    auto any_alive = [&] {
        for (pid_t c : children_)
            if (process_alive(c)) return true;
        return false;
    };
    for (int waited = 0; waited < 3000 && any_alive(); waited += 20) usleep(20 * 1000);
    for (pid_t c : children_) EXPECT_FALSE(process_alive(c)) << "left behind: " << c;
    // Only a sandbox that lives to see its end can remove its temp dir.
    EXPECT_TRUE(sig == SIGKILL || access(temp_.c_str(), F_OK) != 0) << temp_;
}

// 0: the command exits by itself.
INSTANTIATE_TEST_SUITE_P(Ends, SandboxTeardown, ::testing::Values(0, SIGTERM, SIGKILL), [](const auto &info) {
    return std::string(info.param == 0 ? "CommandExits" : info.param == SIGTERM ? "Sigterm" : "Sigkill");
});
