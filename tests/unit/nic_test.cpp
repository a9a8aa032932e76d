// Interface names (only names the kernel itself would accept may reach tc) and what a tc
// wait status means to clearing and setting.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "nic/nic_internal.h"

namespace nic = lumek::nic;

namespace {

TEST(NicName, OneToFifteenBytesWithoutSlashColonWhiteSpaceOrNulAndNoDotNames) {
    for (const std::string name : {"lo", "eth0", "v0", "enp0s31f6", "wlp2s0", "br-1a2b3c", "veth_x.10", "a",
                                   "lo;touch", "-x", "$(id)", "\xc3\xa9th0", "...", ".a", "fifteen-bytes-x"})
        EXPECT_TRUE(nic::interface_name_is_valid(name)) << name;
    for (const std::string name :
         {"", ".", "..", "a/b", "/", "eth0:1", ":", "a b", " a", "a ", "a\tb", "a\nb", "a\vb", "a\fb", "a\rb",
          "lo;touch /tmp/p", "a\xa0\x62", "sixteen-bytes-xy"})
        EXPECT_FALSE(nic::interface_name_is_valid(name)) << name;
    EXPECT_FALSE(nic::interface_name_is_valid(std::string(300, 'a')));
    EXPECT_FALSE(nic::interface_name_is_valid(std::string("lo\0x", 4)));
}

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

TEST(NicStatus, ADeleteExitingOneMeansNoDeviceOtherExitsDoneAndNoRunNotDone) {
    EXPECT_EQ(nic::classify_delete(exited(1)), nic::DeleteOutcome::kNoDevice);
    // tc exits 2 when there is nothing to delete; anything but 1 stays success.
    for (int code : {0, 2, 3, 125, 128, 255})
        EXPECT_EQ(nic::classify_delete(exited(code)), nic::DeleteOutcome::kDone) << code;
    for (const lumek::SpawnResult &r :
         {lumek::SpawnResult{}, exited(126), exited(127), killed(SIGKILL), killed(SIGSEGV)})
        EXPECT_EQ(nic::classify_delete(r), nic::DeleteOutcome::kNotRun) << r.wait_status;
}

TEST(NicStatus, AnAddCountsOnlyWhenItExitedZero) {
    EXPECT_TRUE(nic::add_succeeded(exited(0)));
    for (int code : {1, 2, 126, 127}) EXPECT_FALSE(nic::add_succeeded(exited(code))) << code;
    EXPECT_FALSE(nic::add_succeeded(killed(SIGTERM)));
    lumek::SpawnResult not_run;
    not_run.wait_status = 0;  // a zero status from a tool that never ran means nothing
    EXPECT_FALSE(nic::add_succeeded(not_run));
}

}  // namespace
