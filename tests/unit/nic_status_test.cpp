// What a tc wait status means to clearing and setting.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "nic/nic_internal.h"

namespace nic = lumek::nic;

namespace {

lumek::SpawnResult exited(int code) {
    lumek::SpawnResult r;
    r.ran = true;
    r.wait_status = W_EXITCODE(code, 0);
    return r;
}

lumek::SpawnResult killed(int sig) {
    lumek::SpawnResult r;
    r.ran = true;
    r.wait_status = sig;  // the low bits hold the terminating signal
    return r;
}

}  // namespace

TEST(NicStatus, ExitOneOfADeleteMeansNoSuchDevice) {
    EXPECT_EQ(nic::classify_delete(exited(1)), nic::DeleteOutcome::kNoDevice);
}

TEST(NicStatus, OtherExitsOfADeleteCountAsDone) {
    // tc exits 2 when there is nothing to delete; anything but 1 stays success.
    for (int code : {0, 2, 3, 125, 128, 255})
        EXPECT_EQ(nic::classify_delete(exited(code)), nic::DeleteOutcome::kDone) << code;
}

TEST(NicStatus, ADeleteThatCouldNotRunIsNotDone) {
    EXPECT_EQ(nic::classify_delete(lumek::SpawnResult{}), nic::DeleteOutcome::kNotRun);
    EXPECT_EQ(nic::classify_delete(exited(126)), nic::DeleteOutcome::kNotRun);
    EXPECT_EQ(nic::classify_delete(exited(127)), nic::DeleteOutcome::kNotRun);
    EXPECT_EQ(nic::classify_delete(killed(SIGKILL)), nic::DeleteOutcome::kNotRun);
    EXPECT_EQ(nic::classify_delete(killed(SIGSEGV)), nic::DeleteOutcome::kNotRun);
}

TEST(NicStatus, AnAddCountsOnlyWhenItExitedZero) {
    EXPECT_TRUE(nic::add_succeeded(exited(0)));
    for (int code : {1, 2, 126, 127}) EXPECT_FALSE(nic::add_succeeded(exited(code))) << code;
    EXPECT_FALSE(nic::add_succeeded(killed(SIGTERM)));
    lumek::SpawnResult not_run;
    not_run.wait_status = 0;  // a zero status from a tool that never ran means nothing
    EXPECT_FALSE(nic::add_succeeded(not_run));
}
