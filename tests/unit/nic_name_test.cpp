// Interface names: only names the kernel itself would accept may reach tc.
#include <gtest/gtest.h>

#include <string>

#include "nic/nic_internal.h"

using lumek::nic::interface_name_is_valid;

TEST(NicName, AcceptsOrdinaryKernelNames) {
    for (const char *name : {"lo", "eth0", "v0", "enp0s31f6", "wlp2s0", "br-1a2b3c", "veth_x.10", "a",
                             "lo;touch", "-x", "$(id)", "\xc3\xa9th0"}) {
        EXPECT_TRUE(interface_name_is_valid(name)) << name;
    }
}

TEST(NicName, LengthIsOneToFifteenBytes) {
    EXPECT_FALSE(interface_name_is_valid(""));
    EXPECT_TRUE(interface_name_is_valid(std::string(15, 'a')));
    EXPECT_FALSE(interface_name_is_valid(std::string(16, 'a')));
    EXPECT_FALSE(interface_name_is_valid(std::string(300, 'a')));
}

TEST(NicName, RefusesDotNamesButNotDotsInNames) {
    EXPECT_FALSE(interface_name_is_valid("."));
    EXPECT_FALSE(interface_name_is_valid(".."));
    EXPECT_TRUE(interface_name_is_valid("..."));
    EXPECT_TRUE(interface_name_is_valid(".a"));
}

TEST(NicName, RefusesSlashColonAndEveryKindOfWhiteSpace) {
    for (const char *name : {"a/b", "/", "eth0:1", ":", "a b", " a", "a ", "a\tb", "a\nb", "a\vb", "a\fb",
                             "a\rb", "lo;touch /tmp/p",
                             "a\xa0"
                             "b"}) {
        EXPECT_FALSE(interface_name_is_valid(name)) << name;
    }
}

TEST(NicName, RefusesEmbeddedNul) {
    EXPECT_FALSE(interface_name_is_valid(std::string("lo\0x", 4)));
}
