// lumek-sandbox from the outside, as deep as ./run and the test runner rely on it: exit
// statuses, what the command sees, and that nothing is left after. (The bus without the
// daemon is the library's own dbus-client test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kDataDir = "/usr/share/lumek-utils/data";

struct Started {
    pid_t pid = -1;
    int out = -1;  // read end of the child's stdout+stderr
};

// Starts the sandbox with @args; @env is set for the child only.
Started start_sandbox(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
    std::vector<std::string> all{"/usr/bin/env"};
    all.insert(all.end(), env.begin(), env.end());
    all.push_back(LUMEK_BIN_DIR "/lumek-sandbox");
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

// The output, and the exit status (1000+signal if the sandbox itself was killed).
std::pair<std::string, int> finish(Started s) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(s.out, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    close(s.out);
    int st = 0;
    while (waitpid(s.pid, &st, 0) < 0 && errno == EINTR) {
    }
    return {out, WIFEXITED(st) ? WEXITSTATUS(st) : 1000 + WTERMSIG(st)};
}

std::vector<std::string> sh(const std::string &script) {
    return {"--", "/bin/sh", "-c", script};
}

std::string read_file(const std::string &path) {
    std::stringstream ss;
    ss << std::ifstream(path).rdbuf();
    return ss.str();
}

// A zombie no longer holds anything.
bool process_alive(pid_t pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    auto paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

}  // namespace

TEST(Sandbox, ExitStatus) {
    const struct {
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
    for (const auto &c : cases) {
        auto [out, status] = finish(start_sandbox(c.args));
        EXPECT_EQ(status, c.status) << c.args.size() << " args\n" << out;
        EXPECT_NE(out.find(c.output_names), std::string::npos) << out;
    }
}

TEST(Sandbox, CommandSeesPrivateBusFreshStateAndReadOnlyFixtureLists) {
    if (geteuid() != 0) GTEST_SKIP() << "*** SKIPPED: the sandbox mounts the data lists only as root ***";
    // The caller's bus must not leak in; the lists are the fixture's, and not writable.
    auto [out, status] = finish(start_sandbox(
        sh("case $DBUS_SYSTEM_BUS_ADDRESS in unix:path=/tmp/lumek-sandbox.*) echo bus;; esac;"
           "case $LUMEK_STANDIN_DIR in /tmp/lumek-sandbox.*) echo state;; esac; echo sandbox=$LUMEK_SANDBOX;"
           "test -d \"$LUMEK_STANDIN_DIR\" && test -z \"$(ls -A \"$LUMEK_STANDIN_DIR\")\" && echo empty;"
           "cd " +
           kDataDir + " && cmp trust_list " LUMEK_SOURCE_DIR "/tests/fixtures/default" + kDataDir +
           "/trust_list && for n in vordsw trust parent script readonly_pkg; do test -s ${n}_list || echo $n;"
           "done; (echo x >> vordsw_list) 2>/dev/null && echo writable; exit 0"),
        {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system"}));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "bus\nstate\nsandbox=1\nempty\n");
    EXPECT_NE(access((kDataDir + "/trust_list").c_str(), F_OK), 0) << "the lists leaked out of the sandbox";
}

// A running sandbox ends: its command exits (0), or the sandbox gets the signal in the parameter.
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
    std::string pid = std::to_string(s.pid);
    std::istringstream kids(read_file("/proc/" + pid + "/task/" + pid + "/children"));
    pid_t command = -1;
    int helpers = 0;
    for (pid_t c; kids >> c;) {
        children_.insert(c);
        std::string comm = read_file("/proc/" + std::to_string(c) + "/comm");
        if (comm == "dbus-daemon\n" || comm == "lumek-whlistd-r\n")
            ++helpers;
        else
            command = c;
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
        auto [out, status] = finish(s);
        EXPECT_EQ(status, sig ? 128 + sig : 5) << out;
    }
    auto alive = [&]() -> pid_t {
        for (pid_t c : children_)
            if (process_alive(c)) return c;
        return 0;
    };
    for (int waited = 0; waited < 3000 && alive(); waited += 20) usleep(20 * 1000);
    EXPECT_EQ(alive(), 0) << "left behind";
    // Only a sandbox that lives to see its end can remove its temp dir, and the state in it.
    EXPECT_TRUE(sig == SIGKILL || access(temp_.c_str(), F_OK) != 0) << temp_;
}

INSTANTIATE_TEST_SUITE_P(Ends, SandboxTeardown, ::testing::Values(0, SIGTERM, SIGKILL), [](const auto &info) {
    return std::string(info.param == 0 ? "CommandExits" : info.param == SIGTERM ? "Sigterm" : "Sigkill");
});
