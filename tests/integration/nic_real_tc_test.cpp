// lumek_nic_speedctl / lumek_nic_speedclr with the real "/sbin/tc" on a veth pair in a
// private network namespace, read back with tc's own show commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "lumekwhlist.h"
#include "scratch.h"
#include "namespaces.h"

namespace {

using lumek_test::stderr_of;

std::string output_of(const std::string &command) {
    std::string text;
    FILE *p = popen(command.c_str(), "re");
    if (!p) return text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
    return text;
}

// What tc shows of @what ("qdisc", "class", "filter") on v0, @tail appended.
std::string show(const std::string &what, const std::string &tail = "") {
    return output_of("/sbin/tc " + what + " show dev v0" + tail);
}

bool contains(const std::string &hay, const std::string &needle) {
    return hay.find(needle) != std::string::npos;
}

size_t count_of(const std::string &hay, const std::string &needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// Runs @body in a fresh network namespace holding the veth pair v0/v1.
#define WITH_VETH(...)                                                                     \
    do {                                                                                   \
        int st_ = lumek_test::run_in_namespaces(CLONE_NEWNET | CLONE_NEWNS, [&] {          \
            if (system("ip link add v0 type veth peer name v1 && ip link set v0 up") != 0) \
                return lumek_test::kNamespacesRefused;                                     \
            [&] { __VA_ARGS__; }();                                                        \
            return 0;                                                                      \
        });                                                                                \
        LUMEK_SKIP_IF_REFUSED(st_);                                                        \
        EXPECT_EQ(st_, 0);                                                                 \
    } while (0)

bool no_limit_left() {
    std::string q = show("qdisc");
    return !contains(q, "qdisc htb") && !contains(q, "qdisc ingress");
}

}  // namespace

TEST(NicRealTc, SendLimitIsInstalledReplacedAndCleared) {
    WITH_VETH({
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 100), 0);
        EXPECT_TRUE(contains(show("qdisc"), "qdisc htb 1: root")) << show("qdisc");
        EXPECT_TRUE(contains(show("class"), "class htb 1:1 root")) << show("class");
        EXPECT_TRUE(contains(show("class"), " rate 800Kbit ")) << show("class");
        std::string f = show("filter");
        EXPECT_TRUE(contains(f, "protocol ip ")) << f;
        EXPECT_TRUE(contains(f, "protocol ipv6 ")) << f;
        EXPECT_EQ(count_of(f, "flowid 1:1"), 2u) << f;

        // A second limit replaces the first.
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 300), 0);
        EXPECT_EQ(count_of(show("class"), "class htb"), 1u) << show("class");
        EXPECT_TRUE(contains(show("class"), " rate 2400Kbit ")) << show("class");
        EXPECT_EQ(count_of(show("filter"), "flowid 1:1"), 2u);

        EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_SEND), 0);
        EXPECT_TRUE(no_limit_left()) << show("qdisc");
        std::string err = stderr_of([] {
            EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_SEND), 0);
            EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_RECV), 0);
            EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_BOTH), 0);
        });
        EXPECT_EQ(err, "");

        // A two-way clear removes ingress too.
        ASSERT_EQ(system("/sbin/tc qdisc add dev v0 handle ffff: ingress"), 0);
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 10), 0);
        EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_BOTH), 0);
        EXPECT_TRUE(no_limit_left()) << show("qdisc");
    });
}

TEST(NicRealTc, ReceiveLimitIsWholeOrNothingAndKeepsAnExistingSendLimit) {
    WITH_VETH({
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 100), 0);
        int32_t rc = lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_RECV, 50);
        if (rc == 0) {
            // A kernel with the police action.
            EXPECT_TRUE(contains(show("qdisc"), "qdisc ingress ffff:")) << show("qdisc");
            EXPECT_TRUE(contains(show("filter", " ingress"), "police")) << show("filter", " ingress");
        } else {
            // Without it the police filter is refused, and the ingress qdisc must not stay.
            EXPECT_EQ(rc, -1);
            EXPECT_FALSE(contains(show("qdisc"), "qdisc ingress")) << show("qdisc");
        }
        // Setting or taking back the receive side touches only ingress.
        EXPECT_TRUE(contains(show("qdisc"), "qdisc htb 1: root")) << show("qdisc");
        EXPECT_TRUE(contains(show("class"), " rate 800Kbit ")) << show("class");
    });
}

TEST(NicRealTc, TwoWayLimitIsWholeOrNothingAndAMissingDeviceAddsNothing) {
    WITH_VETH({
        int32_t rc = lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_BOTH, 100);
        if (rc == 0) {
            EXPECT_TRUE(contains(show("qdisc"), "qdisc ingress ffff:")) << show("qdisc");
            EXPECT_TRUE(contains(show("qdisc"), "qdisc htb 1: root")) << show("qdisc");
            EXPECT_TRUE(contains(show("class"), " rate 800Kbit ")) << show("class");
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_TRUE(no_limit_left()) << show("qdisc");
        }

        std::string err = stderr_of([&] { rc = lumek_nic_speedctl("nosuch0", LUMEK_NIC_NETMODE_SEND, 10); });
        EXPECT_EQ(rc, -1);
        // tc's own complaint went to /dev/null: only the library's message is left.
        EXPECT_EQ(err, "Cannot find device nosuch0\n");
        err = stderr_of([&] { rc = lumek_nic_speedclr("nosuch0", LUMEK_NIC_NETMODE_BOTH); });
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(err, "Cannot find device nosuch0\n");
    });
}
