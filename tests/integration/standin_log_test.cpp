// The shipped library talks to the stand-in it was linked with: what the library logs
// lands in the stand-in's state, where another process (lumek-standin) reads it.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "lumekwhlist.h"
#include "scratch.h"

extern "C" char **environ;

namespace {

// Runs lumek-standin with @args and returns its standard output.
std::string standin(std::vector<std::string> args) {
    args.insert(args.begin(), LUMEK_BIN_DIR "/lumek-standin");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "<pipe>";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while (rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
    close(fds[0]);
    int st = 0;
    if (rc != 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st) != 0) return "<failed>";
    return out;
}

class StandinLog : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = scratch_.path(); }
    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

TEST_F(StandinLog, DaemonErrorTextReachesTheFrameworkLog) {
    GError *err = g_dbus_error_new_for_dbus_error("VORDA.LUMEK.LABEL.SET.ERR", "line one\nline two");
    EXPECT_EQ(lumek_whlist_handling_dbus_error(err), -1006);
    g_error_free(err);

    EXPECT_EQ(standin({"log"}), "2|0|\\N|VORDA.LUMEK.LABEL.SET.ERR: line one\\nline two\\n\n");
    EXPECT_EQ(standin({"calls", "--count", "lumek_log"}), "1\n");
}

TEST_F(StandinLog, LocalFailuresMakeNoFrameworkCall) {
    GError *err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "no bus");
    EXPECT_EQ(lumek_whlist_handling_dbus_error(err), 0);
    g_error_free(err);
    EXPECT_EQ(lumek_whlist_handling_dbus_error(nullptr), 0);
    EXPECT_EQ(standin({"calls", "--count"}), "0\n");
}

}  // namespace
