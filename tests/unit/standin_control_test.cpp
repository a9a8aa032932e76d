// Fault injection, the call log and the framework log of the stand-in, driven both
// through its C control interface and through the lumek-standin command.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/spawn.h"
#include "core/framework.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

class Control : public ::testing::Test {
  protected:
    // Runs lumek-standin with @args; returns its standard output, "<exit N>" on failure.
    static std::string standin(std::vector<std::string> args) {
        args.insert(args.begin(), LUMEK_BIN_DIR "/lumek-standin");
        lumek::SpawnOptions opts;
        opts.capture_stdout = true;
        auto r = lumek::run_command(args, opts);
        if (!r.exited_with(0)) return "<exit " + std::to_string(r.wait_status >> 8) + ">";
        return r.out;
    }

    lumek_test::ScratchDir scratch_;  // a fresh stand-in state for every test
};

TEST_F(Control, FaultsFromAnotherProcessHitTheNextCalls) {
    ASSERT_EQ(standin({"fault", "lumek_set_func_status", "--times", "2", "--ret", "-7", "--errno", "5"}), "");
    for (int i = 0; i < 2; ++i) {
        errno = 0;
        EXPECT_EQ(lumek_set_func_status(1, 1), -7);
        EXPECT_EQ(errno, 5);
    }
    EXPECT_EQ(lumek_set_func_status(1, 1), 0);  // spent
    EXPECT_EQ(lumek_get_func_status(1), 1);     // and other functions were never affected

    ASSERT_EQ(standin({"fault", "lumek_getstatus", "--always", "--ret", "0"}), "");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lumek_getstatus(), 0);
    ASSERT_EQ(standin({"clear-faults"}), "");
    EXPECT_EQ(lumek_getstatus(), 1);  // enabled by default

    // Calls that return pointers give NULL.
    LumekStandinFault f{};
    f.times = 1;
    f.err = ENOMEM;
    ASSERT_EQ(lumek_standin_fault_set("get_absolute_path", &f), 0);
    errno = 0;
    EXPECT_EQ(get_absolute_path("/usr"), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    ASSERT_EQ(lumek_standin_fault_set("lumek_get_error", &f), 0);
    EXPECT_EQ(lumek_get_error(), nullptr);
    EXPECT_NE(lumek_get_error(), nullptr);
}

TEST_F(Control, LogTagIsDataAndNewlinesStayRecoverable) {
    lumek_log(2, 0, "/nonexistent/%n%n", "faile to get absolute path: %s", "No such file");
    lumek_log(16, 7, nullptr, "a\nb\\c|d\n");
    lumek_log(2, 0, "tag|with\nbreak", "%d%%", 5);
    lumek_log(2, 0, "", "empty tag");
    const std::vector<std::string> want{
        "2|0|/nonexistent/%n%n|faile to get absolute path: No such file",
        "16|7|\\N|a\\nb\\\\c|d\\n",
        "2|0|tag\\|with\\nbreak|5%",
        "2|0||empty tag",
    };
    EXPECT_EQ(lumek_test::log_lines(), want);
    std::string joined;
    for (const auto &l : want) joined += l + "\n";
    EXPECT_EQ(standin({"log"}), joined);
}

TEST_F(Control, CallLogKeepsOrderArgumentsAndBatchRecords) {
    lumek_getstatus();
    lumek_conf_set("lumek_netctl", 2);
    MarkRecord recs[2] = {};
    strcpy(recs[0].path, "/a\"b");
    strcpy(recs[0].label, "trusted");
    strcpy(recs[1].path, "/c\nd");
    strcpy(recs[1].label, "verified");
    lumek_exectl_multi_set(recs, 2);
    path_is_exist(nullptr);

    EXPECT_EQ(lumek_test::take_lines(lumek_standin_calls(nullptr, nullptr)),
              (std::vector<std::string>{
                  "lumek_getstatus()",
                  "lumek_conf_set(\"lumek_netctl\", 2)",
                  "lumek_exectl_multi_set(2, {\"/a\\\"b\", \"trusted\"}, {\"/c\\nd\", \"verified\"})",
                  "path_is_exist(NULL)",
              }));
}

}  // namespace
