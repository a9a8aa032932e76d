// ppro and pblk lists against the stand-in, with real processes found through /proc.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "scratch.h"
#include "standin_state.h"

extern "C" char **environ;

namespace fs = std::filesystem;
using lumek_test::fault;
using lumek_test::kernel_commands;
using lumek_test::list_entries;
using lumek_test::log_lines;
using lumek_test::take_texts;
using Lines = std::vector<std::string>;

namespace {

// A process started from a program of our own, running until the object goes.
class Child {
  public:
    explicit Child(const std::string &program) {
        char *argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>("30"), nullptr};
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
        // Until exec is done, /proc shows the test's own program.
        for (int i = 0; pid_ > 0 && i < 5000 && !running_; ++i) {
            std::error_code ec;
            running_ = fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe", ec) == program;
            if (!running_) usleep(2000);
        }
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return running_ ? pid_ : -1; }

  private:
    pid_t pid_ = -1;
    bool running_ = false;
};

class Lists : public ::testing::Test {
  protected:
    void SetUp() override {
        program_ = scratch_.path() + "/sleeper";
        fs::copy_file("/usr/bin/sleep", program_);
    }
    lumek_test::ScratchDir scratch_;
    std::string program_;
};

// Kernel commands without the opaque hash: "LIST COMMAND VALUE", or with the word for
// the running-process commands.
Lines kernel_shape() {
    Lines out;
    for (const std::string &line : kernel_commands()) {
        size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.rfind(' ');
        std::string data = line.substr(b + 1, c - b - 1);
        out.push_back(line.substr(0, b) + (data == "add" || data == "del" ? " " + data : "") +
                      line.substr(c));
    }
    return out;
}

TEST_F(Lists, PproTellsTheKernelAboutRunningProcesses) {
    struct Case {
        int type;
        bool running, readonly;
        Lines add, del;
    };
    Child child(program_);
    ASSERT_GT(child.pid(), 0);
    const std::string pid = std::to_string(child.pid());
    const Case cases[] = {
        {1, true, true, {"ppro 9 1", "ppro 12 add " + pid}, {"ppro 10 1", "ppro 12 del " + pid}},
        {2, true, true, {"ppro 9 2", "ppro 11 add " + pid}, {"ppro 10 2", "ppro 12 del " + pid}},
        {2, true, false, {"ppro 9 2", "ppro 11 add " + pid}, {"ppro 10 2"}},
        {1, false, true, {"ppro 9 1"}, {"ppro 10 1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + (c.running ? " running" : "") +
                     (c.readonly ? " readonly" : ""));
        ASSERT_EQ(lumek_standin_reset(), 0);
        lumek_standin_set_flag("ppro_readonly", c.readonly ? 1 : 0);
        std::string path = c.running ? program_ : scratch_.path() + "/idle";
        ASSERT_EQ(vorda_ppro_list_add(path.c_str(), c.type), 0);
        EXPECT_EQ(kernel_shape(), c.add);
        EXPECT_EQ(list_entries("ppro"), Lines{std::to_string(c.type) + " " + path});
        ASSERT_EQ(vorda_ppro_list_del(path.c_str()), 0);
        Lines both = c.add;
        both.insert(both.end(), c.del.begin(), c.del.end());
        EXPECT_EQ(kernel_shape(), both);
        EXPECT_EQ(list_entries("ppro"), Lines{});
    }
}

TEST_F(Lists, PproDeleteUsesTheStoredTypeAndListsBothTypes) {
    Child child(program_);
    ASSERT_GT(child.pid(), 0);
    const std::string idle = scratch_.path() + "/idle";
    ASSERT_EQ(vorda_ppro_list_add(program_.c_str(), 1), 0);
    ASSERT_EQ(vorda_ppro_list_add(idle.c_str(), 1), 0);
    ASSERT_EQ(vorda_ppro_list_add(program_.c_str(), 2), 0);  // update: both kernel steps again
    int n = 0;
    EXPECT_EQ(take_texts(vorda_ppro_list_get(&n), n), (Lines{program_, idle}));
    EXPECT_EQ(n, 2);

    const std::string pid = std::to_string(child.pid());
    ASSERT_EQ(vorda_ppro_list_del(program_.c_str()), 0);
    EXPECT_EQ(kernel_shape(), (Lines{"ppro 9 1", "ppro 12 add " + pid, "ppro 9 1", "ppro 9 2",
                                     "ppro 11 add " + pid, "ppro 10 2", "ppro 12 del " + pid}));
    lumek_standin_set_flag("ppro_readonly", 0);
    ASSERT_EQ(vorda_ppro_list_del(idle.c_str()), 0);
    EXPECT_EQ(kernel_shape().back(), "ppro 10 1");
    EXPECT_EQ(vorda_ppro_list_del(idle.c_str()), 0);
    EXPECT_EQ(log_lines().back(), "2|0|vorda_ppro_list_del|" + idle + ": cannot find ppro data\\n");
    n = 5;
    EXPECT_EQ(vorda_ppro_list_get(&n), nullptr);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(log_lines().back(), "2|0|vorda_ppro_list_get|ppro list is null\\n");
    EXPECT_EQ(vorda_ppro_list_add(nullptr, 1), -1);
    EXPECT_EQ(vorda_ppro_list_add(idle.c_str(), 3), -1);
}

TEST_F(Lists, PblkRefusesListedPathsAndReadsOddStrides) {
    const std::string a = "/opt/a", b(4161, 'b'), c = "/srv/third/entry";
    int n = 5;
    EXPECT_EQ(vorda_pblk_list_get(&n), nullptr);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(vorda_pblk_list_del(a.c_str()), 0);
    EXPECT_EQ(log_lines(), (Lines{"2|0|vorda_pblk_list_get|pblk list is null\\n",
                                  "2|0|vorda_pblk_list_del|/opt/a: cannot find pblk data\\n"}));
    ASSERT_EQ(vorda_pblk_list_add(a.c_str()), 0);
    EXPECT_EQ(vorda_pblk_list_add(a.c_str()), -4);
    EXPECT_EQ(log_lines().back(), "2|0|vorda_pblk_list_add|add pblk data failed, path = /opt/a, ret = -1\\n");
    EXPECT_EQ(kernel_commands().size(), 1u);
    ASSERT_EQ(vorda_pblk_list_add(b.c_str()), 0);  // fills its record: no terminator
    ASSERT_EQ(vorda_pblk_list_add(c.c_str()), 0);
    EXPECT_EQ(take_texts(vorda_pblk_list_get(&n), n), (Lines{a, b, c}));
    EXPECT_EQ(n, 3);

    // A failed kernel add is not repaired by adding again.
    ASSERT_EQ(vorda_pblk_list_del(a.c_str()), 0);
    ASSERT_EQ(fault("lumek_pblk_communicate_with_kernel", 9), 0);
    EXPECT_EQ(vorda_pblk_list_add(a.c_str()), -6);
    EXPECT_EQ(vorda_pblk_list_add(a.c_str()), -4);
    EXPECT_EQ(list_entries("pblk"), (Lines{b, c, a}));
    Lines shape = kernel_shape();
    EXPECT_EQ(shape, (Lines{"pblk 20 0", "pblk 20 0", "pblk 20 0", "pblk 21 0"}));
    EXPECT_EQ(vorda_pblk_list_get(nullptr), nullptr);
}

TEST_F(Lists, LongPproPathsAreCopiedWithinTheirField) {
    const std::string full(4164, 'p'), longer(5000, 'q');
    ASSERT_EQ(vorda_ppro_list_add(full.c_str(), 1), 0);
    ASSERT_EQ(vorda_ppro_list_add(longer.c_str(), 2), 0);
    int n = 0;
    EXPECT_EQ(take_texts(vorda_ppro_list_get(&n), n), (Lines{full, longer.substr(0, 4164)}));
}

// The framework's array goes back in every case. With a negative count the getter answers
// NULL and 0 without a line; with count 0 it answers NULL, says so, and leaves the count.
TEST_F(Lists, GettersReleaseArraysWithANegativeOrZeroCount) {
    ASSERT_EQ(vorda_netctl_list_add(1, program_.c_str()), 0);
    ASSERT_EQ(vorda_netctl_pkg_list_add(1, "pkg"), 0);
    ASSERT_EQ(vorda_ppro_list_add(program_.c_str(), 1), 0);
    ASSERT_EQ(vorda_pblk_list_add(program_.c_str()), 0);
    const std::pair<const char *, std::function<char **(int *)>> getters[] = {
        {"lumek_netctl_read_all_data_with_uid", [](int *n) { return vorda_netctl_list_get(1, n); }},
        {"lumek_netctl_pkg_read_all_data_with_uid", [](int *n) { return vorda_netctl_pkg_list_get(1, n); }},
        {"lumek_ppro_read_all_data", vorda_ppro_list_get},
        {"lumek_pblk_read_all_data", vorda_pblk_list_get},
    };
    for (const auto &[read_all, get] : getters)
        for (int count : {-2, 0}) {
            SCOPED_TRACE(std::string(read_all) + " " + std::to_string(count));
            ASSERT_EQ(lumek_standin_count_set(read_all, count), 0);
            size_t lines = log_lines().size();
            int n = 7;
            EXPECT_EQ(get(&n), nullptr);
            EXPECT_EQ(n, count < 0 ? 0 : 7);
            EXPECT_EQ(log_lines().size(), lines + (count < 0 ? 0 : 1));
        }
}

}  // namespace
