// The tc argument vectors and what a tc wait status means.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "nic/nic_internal.h"

namespace nic = lumek::nic;

namespace {

std::string joined(const nic::Argv &argv) {
    std::string s;
    for (const auto &a : argv) s += (s.empty() ? "" : " ") + a;
    return s;
}

std::vector<std::string> joined(const std::vector<nic::Argv> &argvs) {
    std::vector<std::string> out;
    for (const auto &a : argvs) out.push_back(joined(a));
    return out;
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

}  // namespace

TEST(NicCommands, RateIsEightTimesSpeedInKbit) {
    EXPECT_EQ(nic::rate_text(1), "8kbit");
    EXPECT_EQ(nic::rate_text(100), "800kbit");
    EXPECT_EQ(nic::rate_text(nic::kSpeedMax), "31457280kbit");
}

TEST(NicCommands, DeletesNameTheDeviceAsOneArgument) {
    // A name with shell syntax stays a single argument.
    EXPECT_EQ(nic::root_delete_argv("a;b"), (nic::Argv{"/sbin/tc", "qdisc", "del", "dev", "a;b", "root"}));
    EXPECT_EQ(nic::ingress_delete_argv("v0"), (nic::Argv{"/sbin/tc", "qdisc", "del", "dev", "v0", "ingress"}));
}

TEST(NicCommands, ReceiveLimitIsIngressQdiscAndPoliceFilter) {
    EXPECT_EQ(joined(nic::ingress_police_argvs("v0", 1)),
              (std::vector<std::string>{
                  "/sbin/tc qdisc add dev v0 handle ffff: ingress",
                  "/sbin/tc filter add dev v0 parent ffff: u32 match u32 0 0 police rate 8kbit burst 10k",
              }));
}

TEST(NicCommands, SendLimitIsHtbWithIpv4AndIpv6Filters) {
    EXPECT_EQ(joined(nic::egress_htb_argvs("eth0", 3932160)),
              (std::vector<std::string>{
                  "/sbin/tc qdisc add dev eth0 root handle 1: htb",
                  "/sbin/tc class add dev eth0 parent 1: classid 1:1 htb rate 31457280kbit",
                  "/sbin/tc filter add dev eth0 parent 1: protocol ip u32 match u32 0 0 classid 1:1",
                  "/sbin/tc filter add dev eth0 parent 1: protocol ipv6 u32 match u32 0 0 classid 1:1",
              }));
}

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
    for (int code : {1, 2, 126, 127})
        EXPECT_FALSE(nic::add_succeeded(exited(code))) << code;
    EXPECT_FALSE(nic::add_succeeded(killed(SIGTERM)));
    lumek::SpawnResult not_run;
    not_run.wait_status = 0;  // a zero status from a tool that never ran means nothing
    EXPECT_FALSE(nic::add_succeeded(not_run));
}
