// lumek_nic_speedctl / lumek_nic_speedclr and `lumekctl nic`, first against a recording tc:
// a script bind-mounted over "/sbin/tc" in a private mount namespace logs every command
// line and exits with scripted statuses, so the exact commands, their order and the
// handling of every exit status can be checked; then with the real tc on a veth pair in a
// private network namespace, read back with tc's own show commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "lumekctl_run.h"
#include "lumekwhlist.h"
#include "scratch.h"
#include "namespaces.h"

namespace {

using lumek_test::stderr_of;

using Lines = std::vector<std::string>;

const char kTcPath[] = "/sbin/tc";

bool write_file(const std::string &path, const std::string &text, mode_t mode) {
    return bool(std::ofstream(path, std::ios::trunc) << text) && chmod(path.c_str(), mode) == 0;
}

// The recording tc, installed inside the current (private) mount namespace. Its record
// lives in a directory of its own, removed with it; /tmp itself is left alone, since the
// sources and the build may live below it.
class RecordingTc {
  public:
    ~RecordingTc() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }

    bool install() {
        char tmpl[] = "/tmp/lumek-tc-record-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
        std::string script = dir_ + "/tc";
        std::error_code ec;
        std::filesystem::copy_file(LUMEK_SOURCE_DIR "/tests/fixtures/nic/recording_tc.sh", script, ec);
        // Writable for a caller that dropped root, too.
        if (ec || chmod(dir_.c_str(), 0777) != 0 || chmod(script.c_str(), 0755) != 0 ||
            !write_file(dir_ + "/log", "", 0666))
            return false;
        setenv("LUMEK_TC_RECORD_DIR", dir_.c_str(), 1);
        return lumek_test::bind_mount(script.c_str(), kTcPath);
    }

    const std::string &dir() const { return dir_; }

    // The exit status of each call in turn ("KILL" for death by SIGKILL); later calls exit 0.
    void set_statuses(const Lines &statuses) {
        std::string text;
        for (const auto &s : statuses) text += s + "\n";
        write_file(dir_ + "/statuses", text, 0644);
    }

    Lines calls() const {
        Lines lines;
        std::ifstream in(dir_ + "/log");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

  private:
    std::string dir_;
};

// Runs @body in a child with private @flags namespaces, after @setup (which may return a
// failing status). Skips when namespaces are refused.
#define IN_NAMESPACES(flags, setup, ...)                     \
    do {                                                     \
        int st_ = lumek_test::run_in_namespaces(flags, [&] { \
            setup;                                           \
            [&] { __VA_ARGS__; }();                          \
            return 0;                                        \
        });                                                  \
        LUMEK_SKIP_IF_REFUSED(st_);                          \
        EXPECT_EQ(st_, 0);                                   \
    } while (0)

// @body with a private mount namespace and the recording tc installed.
#define WITH_RECORDING_TC(tc, ...) \
    IN_NAMESPACES(CLONE_NEWNS, RecordingTc tc; if (!tc.install()) return 1, __VA_ARGS__)

// The command lines the library must run, as the recording tc logs them.
std::string del_root(const std::string &dev) {
    return "/sbin/tc qdisc del dev " + dev + " root";
}
std::string del_ingress(const std::string &dev) {
    return "/sbin/tc qdisc del dev " + dev + " ingress";
}

Lines police_adds(const std::string &dev, const std::string &rate) {
    return {"/sbin/tc qdisc add dev " + dev + " handle ffff: ingress",
            "/sbin/tc filter add dev " + dev + " parent ffff: u32 match u32 0 0 police rate " + rate +
                " burst 10k"};
}

Lines htb_adds(const std::string &dev, const std::string &rate) {
    return {"/sbin/tc qdisc add dev " + dev + " root handle 1: htb",
            "/sbin/tc class add dev " + dev + " parent 1: classid 1:1 htb rate " + rate,
            "/sbin/tc filter add dev " + dev + " parent 1: protocol ip u32 match u32 0 0 classid 1:1",
            "/sbin/tc filter add dev " + dev + " parent 1: protocol ipv6 u32 match u32 0 0 classid 1:1"};
}

Lines cat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

constexpr bool kSet = true, kClear = false;
constexpr int32_t kSend = LUMEK_NIC_NETMODE_SEND, kRecv = LUMEK_NIC_NETMODE_RECV,
                  kBoth = LUMEK_NIC_NETMODE_BOTH;

// One call of lumek_nic_speedctl (set) or lumek_nic_speedclr.
struct Call {
    bool set;
    const char *nic;
    int32_t mode;
    int64_t speed = 0;
    int32_t run() const { return set ? lumek_nic_speedctl(nic, mode, speed) : lumek_nic_speedclr(nic, mode); }
};

// Runs @calls against the recording tc exiting with @statuses in turn: every call returns
// @rc, tc runs @tc_calls, and standard error is @err when given.
void expect_tc(const char *what, const Lines &statuses, const std::vector<Call> &calls, int32_t rc,
               const Lines &tc_calls, const std::string *err = nullptr) {
    WITH_RECORDING_TC(tc, {
        SCOPED_TRACE(what);
        tc.set_statuses(statuses);
        std::string out = stderr_of([&] {
            for (const Call &call : calls) EXPECT_EQ(call.run(), rc);
        });
        EXPECT_EQ(tc.calls(), tc_calls);
        if (err) {
            EXPECT_EQ(out, *err);
        }
    });
}

// What `lumekctl nic` with @args (run by @wrapper when given) runs against tc exiting with
// @statuses, whether it succeeds, and what it prints (out/err checked when given).
void expect_tool(const Lines &args, const Lines &statuses, bool ok, const Lines &calls,
                 const char *out = nullptr, const char *err = nullptr, const Lines &wrapper = {}) {
    WITH_RECORDING_TC(tc, {
        std::string cmd;
        for (const auto &a : cat({wrapper, args})) cmd += a + " ";
        SCOPED_TRACE(cmd);
        tc.set_statuses(statuses);
        lumek_test::Run r = lumek_test::lumekctl(args, wrapper);
        EXPECT_EQ(r.status == 0, ok) << r.err;
        EXPECT_EQ(tc.calls(), calls);
        if (out) {
            EXPECT_EQ(r.out, out);
        }
        if (err) {
            EXPECT_EQ(r.err, err);
        }
    });
}

// What tc shows of @what ("qdisc", "class", "filter") on v0, @tail appended.
std::string show(const std::string &what, const std::string &tail = "") {
    std::string text;
    FILE *p = popen(("/sbin/tc " + what + " show dev v0" + tail).c_str(), "re");
    if (!p) return text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    pclose(p);
    return text;
}

size_t count_of(const std::string &hay, const std::string &needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// How often tc's show of @what (the arguments of show(), in parentheses) holds @needle.
#define EXPECT_SHOWS(what, needle, times) \
    EXPECT_EQ(count_of(show what, needle), static_cast<size_t>(times)) << show what

// @body in a fresh network namespace holding the veth pair v0/v1.
bool veth_pair() {
    return system("ip link add v0 type veth peer name v1 && ip link set v0 up") == 0;
}
#define WITH_VETH(...)                                                                                 \
    IN_NAMESPACES(CLONE_NEWNET | CLONE_NEWNS, if (!veth_pair()) return lumek_test::kNamespacesRefused, \
                  __VA_ARGS__)

}  // namespace

TEST(NicRecorded, CommandLinesOrderAndExitStatuses) {
    const std::string n15(15, 'n'), none;
    const Lines send10 = htb_adds("v0", "80kbit"), recv10 = police_adds("v0", "80kbit");
    const Lines both125 = cat({police_adds("eth1", "1000kbit"), htb_adds("eth1", "1000kbit")});
    // Adds keep their error output (the recording tc echoes each line), deletes lose it.
    std::string echoes;
    for (const auto &l : both125) echoes += "recorded-tc: " + l + "\n";
    const std::string no_dev = "Cannot find device nosuch0\n", no_dev3 = no_dev + no_dev + no_dev;
    const Lines send1_recv100 =
        cat({{del_root("v0")}, htb_adds("v0", "8kbit"), {del_ingress("v0")}, police_adds("v0", "800kbit")});
    expect_tc(
        "send deletes root, then adds htb with both filters; receive deletes ingress, then polices; "
        "the rate is eight times the speed in kbit",
        {}, {{kSet, "v0", kSend, 1}, {kSet, "v0", kRecv, 100}, {kSet, "v0", kSend, LUMEK_NIC_SPEED_MAX}}, 0,
        cat({send1_recv100, {del_root("v0")}, htb_adds("v0", "31457280kbit")}));
    expect_tc("both: clear both, ingress before root", {}, {{kSet, "eth1", kBoth, 125}}, 0,
              cat({{del_root("eth1"), del_ingress("eth1")}, both125}), &echoes);
    expect_tc("a 15-byte name is passed unchanged", {}, {{kClear, n15.c_str(), kSend}}, 0, {del_root(n15)});
    expect_tc("a missing device stops a limit of any netmode before any add; two-way deletes no ingress",
              {"1", "1", "1"},
              {{kSet, "nosuch0", kSend, 10}, {kSet, "nosuch0", kRecv, 10}, {kSet, "nosuch0", kBoth, 10}}, -1,
              {del_root("nosuch0"), del_ingress("nosuch0"), del_root("nosuch0")}, &no_dev3);
    expect_tc(
        "clearing with nothing installed succeeds quietly; a two-way clear does not examine the "
        "ingress delete",
        {"2", "2", "2", "1", "2"}, {{kClear, "v0", kSend}, {kClear, "v0", kRecv}, {kClear, "v0", kBoth}}, 0,
        {del_root("v0"), del_ingress("v0"), del_root("v0"), del_ingress("v0")}, &none);
    expect_tc("a refused class add takes the send limit off again", {"0", "0", "2"},
              {{kSet, "v0", kSend, 10}}, -1, {del_root("v0"), send10[0], send10[1], del_root("v0")});
    expect_tc("a refused IPv6 filter fails the send limit", {"0", "0", "0", "0", "2"},
              {{kSet, "v0", kSend, 10}}, -1, cat({{del_root("v0")}, send10, {del_root("v0")}}));
    expect_tc("refused police in a two-way limit clears both and adds no htb", {"2", "2", "0", "2"},
              {{kSet, "v0", kBoth, 10}}, -1,
              cat({{del_root("v0"), del_ingress("v0")}, recv10, {del_root("v0"), del_ingress("v0")}}));
    expect_tc("an add killed by a signal fails the limit", {"0", "KILL"}, {{kSet, "v0", kRecv, 10}}, -1,
              {del_ingress("v0"), recv10[0], del_ingress("v0")});
    // A delete whose tc could not execute or was killed fails clearing and setting; its own
    // output went to /dev/null, and the library adds nothing.
    for (const char *status : {"127", "126", "KILL"}) {
        expect_tc(status, {status}, {{kClear, "v0", kBoth}}, -1, {del_root("v0")}, &none);
        expect_tc(status, {status}, {{kSet, "v0", kSend, 10}}, -1, {del_root("v0")}, &none);
    }
}

// Arguments refused with their message and -1, before tc ever runs.
TEST(NicRecorded, RefusedArgumentsRunNothing) {
    WITH_RECORDING_TC(tc, {
        auto refused = [](const std::string &want, const std::function<int32_t()> &call) {
            int32_t rc = 0;
            EXPECT_EQ(stderr_of([&] { rc = call(); }), want);
            EXPECT_EQ(rc, -1) << want;
        };
        // The speed is checked first, even with a bad netmode and name.
        for (int64_t speed : {int64_t{0}, int64_t{-1}, int64_t{3932161}, INT64_MIN, INT64_MAX})
            refused("speed out of range\n", [&] { return lumek_nic_speedctl("a b", 4, speed); });
        refused("NIC can't be NULL\n", [] { return lumek_nic_speedctl(nullptr, 4, 0); });
        refused("NIC can't be NULL\n", [] { return lumek_nic_speedclr(nullptr, 4); });
        for (int32_t mode : {4, 0, -1, INT32_MAX}) {
            refused("Netmode error\n", [&] { return lumek_nic_speedctl("v0", mode, 10); });
            refused("Netmode error\n", [&] { return lumek_nic_speedclr("v0", mode); });
        }
        const std::string planted = tc.dir() + "/p";
        for (const std::string name :
             {"lo;touch " + planted, std::string(16, 'x'), std::string(".."), std::string("a b"),
              std::string(""), std::string("eth0:1"), std::string("a/b"), std::string("a\nb")}) {
            for (int32_t mode : {1, 2, 3}) {
                std::string want = "Cannot find device " + name + "\n";
                refused(want, [&] { return lumek_nic_speedclr(name.c_str(), mode); });
                refused(want, [&] { return lumek_nic_speedctl(name.c_str(), mode, 10); });
            }
        }
        EXPECT_EQ(tc.calls(), Lines{});
        EXPECT_NE(access(planted.c_str(), F_OK), 0);
    });
}

TEST(NicTool, CommandsRunTheRightLimits) {
    // Equal speeds: one two-way limit.
    expect_tool(
        {"nic", "limit", "v0", "--send", "10", "--recv", "10"}, {}, true,
        cat({{del_root("v0"), del_ingress("v0")}, police_adds("v0", "80kbit"), htb_adds("v0", "80kbit")}),
        "v0: limited: send 10 KB/s, receive 10 KB/s\n");
    // Different speeds: send first, then receive; a refused police takes the send side back.
    const Lines send_then_recv =
        cat({{del_root("v0")}, htb_adds("v0", "80kbit"), {del_ingress("v0")}, police_adds("v0", "160kbit")});
    expect_tool({"nic", "limit", "v0", "--send", "10", "--recv", "20"}, {}, true, send_then_recv);
    expect_tool({"nic", "limit", "v0", "--send", "10", "--recv", "20"},
                {"2", "0", "0", "0", "0", "2", "0", "2"}, false,
                cat({send_then_recv, {del_ingress("v0"), del_root("v0")}}));
    expect_tool({"nic", "limit", "v0", "--recv", "5"}, {}, true,
                cat({{del_ingress("v0")}, police_adds("v0", "40kbit")}));
    expect_tool({"nic", "clear", "v0"}, {}, true, {del_root("v0"), del_ingress("v0")});
    expect_tool({"nic", "clear", "nosuch0"}, {"1"}, false, {del_root("nosuch0")}, "",
                "lumekctl: nic clear nosuch0: Cannot find device nosuch0\n");
    expect_tool({"nic", "limit", "v0", "--send", "0"}, {}, false, {}, "",
                "lumekctl: nic limit v0: speed out of range\n");
    expect_tool({"nic", "limit", "v0"}, {}, false, {});  // no direction: a usage error
    // Only a two-way limit needs root; one-way ones leave privilege to tc.
    const Lines nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    expect_tool({"nic", "limit", "v0", "--send", "10", "--recv", "10"}, {}, false, {}, "",
                "lumekctl: nic limit v0: Operation not permitted\n", nobody);
    expect_tool({"nic", "clear", "v0"}, {}, false, {}, "",
                "lumekctl: nic clear v0: Operation not permitted\n", nobody);
    expect_tool({"nic", "clear", "v0", "--send"}, {}, true, {del_root("v0")}, nullptr, nullptr, nobody);
    expect_tool({"nic", "clear", "v0", "--recv"}, {}, true, {del_ingress("v0")}, nullptr, nullptr, nobody);
    expect_tool({"--json", "nic", "limit", "v0", "--send", "10"}, {}, true,
                cat({{del_root("v0")}, htb_adds("v0", "80kbit")}),
                "{\n  \"device\": \"v0\",\n  \"result\": 0\n}\n");
    expect_tool({"--json", "nic", "clear", "nosuch0", "--send"}, {"1"}, false, {del_root("nosuch0")},
                "{\n  \"device\": \"nosuch0\",\n  \"message\": \"Cannot find device nosuch0\",\n  "
                "\"result\": -1\n}\n");
}

// Limits as tc shows them. A receive or two-way limit is whole or nothing: a kernel without
// the police action refuses the filter, and then the ingress qdisc must not stay.
TEST(NicRealTc, LimitsAreInstalledReplacedAndClearedWholeOrNothing) {
    WITH_VETH({
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 100), 0);
        EXPECT_SHOWS(("qdisc"), "qdisc htb 1: root", 1);
        EXPECT_SHOWS(("class"), " rate 800Kbit ", 1);
        EXPECT_TRUE(count_of(show("filter"), "protocol ip ") && count_of(show("filter"), "protocol ipv6 "))
            << show("filter");
        EXPECT_SHOWS(("filter"), "flowid 1:1", 2);

        // A second limit replaces the first; the receive side leaves it alone.
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 300), 0);
        int32_t rc = lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_RECV, 50);
        EXPECT_TRUE(rc == 0 || rc == -1) << rc;
        EXPECT_SHOWS(("qdisc"), "qdisc ingress ffff:", rc == 0 ? 1 : 0);
        EXPECT_SHOWS(("filter", " ingress"), "police", rc == 0 ? 1 : 0);
        EXPECT_SHOWS(("class"), "class htb", 1);
        EXPECT_SHOWS(("class"), " rate 2400Kbit ", 1);
        EXPECT_SHOWS(("filter"), "flowid 1:1", 2);

        rc = lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_BOTH, 200);
        EXPECT_TRUE(rc == 0 || rc == -1) << rc;
        EXPECT_SHOWS(("qdisc"), "qdisc ingress ffff:", rc == 0 ? 1 : 0);
        EXPECT_SHOWS(("qdisc"), "qdisc htb 1: root", rc == 0 ? 1 : 0);
        EXPECT_SHOWS(("class"), " rate 1600Kbit ", rc == 0 ? 1 : 0);

        // Clearing what is not there succeeds quietly; a two-way clear removes ingress too.
        ASSERT_EQ(lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_SEND, 10), 0);
        if (rc != 0) {
            ASSERT_EQ(system("/sbin/tc qdisc add dev v0 handle ffff: ingress"), 0);
        }
        std::string err = lumek_test::stderr_of([] {
            for (int32_t mode : {LUMEK_NIC_NETMODE_SEND, LUMEK_NIC_NETMODE_SEND, LUMEK_NIC_NETMODE_BOTH,
                                 LUMEK_NIC_NETMODE_RECV})
                EXPECT_EQ(lumek_nic_speedclr("v0", mode), 0) << mode;
        });
        EXPECT_EQ(err, "");
        EXPECT_SHOWS(("qdisc"), "qdisc htb", 0);
        EXPECT_SHOWS(("qdisc"), "qdisc ingress", 0);

        // tc's own complaint about a missing device went to /dev/null: only the library's
        // message is left.
        err = lumek_test::stderr_of([&] {
            EXPECT_EQ(lumek_nic_speedctl("nosuch0", LUMEK_NIC_NETMODE_SEND, 10), -1);
            EXPECT_EQ(lumek_nic_speedclr("nosuch0", LUMEK_NIC_NETMODE_BOTH), -1);
        });
        EXPECT_EQ(err, "Cannot find device nosuch0\nCannot find device nosuch0\n");
    });
}
