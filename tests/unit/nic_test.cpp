// Interface names (only names the kernel itself would accept may reach tc) and
// what a tc wait status means to clearing and setting.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "nic/nic_internal.h"

namespace nic = lumek::nic;

namespace {

TEST(NicName, OneToFifteenBytesWithoutSlashColonWhiteSpaceOrNulAndNoDotNames) {
    for (const std::string name : {"lo", "eth0", "enp0s31f6", "br-1a2b3c", "veth_x.10", "a", "lo;touch", "-x",
                                   "$(id)", "\xc3\xa9th0", "...", ".a", "fifteen-bytes-x"})
        EXPECT_TRUE(nic::interface_name_is_valid(name)) << name;
    for (const std::string name : {"", ".", "..", "a/b", "eth0:1", "a b", " a", "a ", "a\tb", "a\nb", "a\vb",
                                   "a\fb", "a\rb", "a\xa0\x62", "sixteen-bytes-xy"})
        EXPECT_FALSE(nic::interface_name_is_valid(name)) << name;
    EXPECT_FALSE(nic::interface_name_is_valid(std::string("lo\0x", 4)));
}

// A delete exiting 1 found no device; any other exit is done; a tc that could not execute
// (126, 127) or was killed did nothing. An add counts only when it exited 0.
TEST(NicStatus, WhatADeleteOrAnAddReports) {
    using O = nic::DeleteOutcome;
    auto check = [](int status, O want) {
        lumek::SpawnResult r;
        r.ran = true;
        r.wait_status = status;
        EXPECT_EQ(nic::classify_delete(r), want) << status;
        EXPECT_EQ(nic::add_succeeded(r), status == 0) << status;
    };
    for (int code : {0, 2, 125, 128, 255}) check(W_EXITCODE(code, 0), O::kDone);
    check(W_EXITCODE(1, 0), O::kNoDevice);
    for (int status : {W_EXITCODE(126, 0), W_EXITCODE(127, 0), SIGKILL, SIGSEGV}) check(status, O::kNotRun);
    // A zero status from a tool that never ran means nothing.
    EXPECT_EQ(nic::classify_delete(lumek::SpawnResult{}), O::kNotRun);
    EXPECT_FALSE(nic::add_succeeded(lumek::SpawnResult{}));
}

}  // namespace
