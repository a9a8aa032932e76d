// lumek_nic_speedctl / lumek_nic_speedclr and `lumekctl nic` against a recording tc:
// a script bind-mounted over "/sbin/tc" in a private mount namespace logs every command
// line and exits with scripted statuses, so the exact commands, their order and the
// handling of every exit status can be checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
        // Writable for a caller that dropped root, too.
        if (chmod(dir_.c_str(), 0777) != 0) return false;
        std::string script = dir_ + "/tc";
        std::error_code ec;
        std::filesystem::copy_file(LUMEK_SOURCE_DIR "/tests/fixtures/nic/recording_tc.sh", script, ec);
        if (ec || chmod(script.c_str(), 0755) != 0 || !write_file(dir_ + "/log", "", 0666)) return false;
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

    static bool write_file(const std::string &path, const std::string &text, mode_t mode) {
        return bool(std::ofstream(path, std::ios::trunc) << text) && chmod(path.c_str(), mode) == 0;
    }
};

// Runs @body in a child with a private mount namespace and the recording tc installed.
// Skips when namespaces are refused.
#define WITH_RECORDING_TC(tc, ...)                                 \
    do {                                                           \
        int st_ = lumek_test::run_in_namespaces(CLONE_NEWNS, [&] { \
            RecordingTc tc;                                        \
            if (!tc.install()) return 1;                           \
            [&] { __VA_ARGS__; }();                                \
            return 0;                                              \
        });                                                        \
        LUMEK_SKIP_IF_REFUSED(st_);                                \
        EXPECT_EQ(st_, 0);                                         \
    } while (0)

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

// Runs @fn as uid/gid 65534 in a forked child; returns the child's exit status.
int as_nobody(const std::function<void()> &fn) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(3);
        fn();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128;
}

// What the recording tc echoes on standard error for @lines: only adds' output may show.
std::string echoes(const Lines &lines) {
    std::string out;
    for (const auto &l : lines) out += "recorded-tc: " + l + "\n";
    return out;
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
               const Lines &tc_calls, const char *err = nullptr) {
    WITH_RECORDING_TC(tc, {
        SCOPED_TRACE(what);
        tc.set_statuses(statuses);
        std::string out = stderr_of([&] {
            for (const Call &call : calls) EXPECT_EQ(call.run(), rc);
        });
        EXPECT_EQ(tc.calls(), tc_calls);
        if (err) {
            EXPECT_EQ(out, err);
        }
    });
}

}  // namespace

TEST(NicRecorded, CommandLinesOrderAndExitStatuses) {
    const std::string n15(15, 'n');
    const Lines send10 = htb_adds("v0", "80kbit"), recv10 = police_adds("v0", "80kbit");
    const Lines both125 = cat({police_adds("eth1", "1000kbit"), htb_adds("eth1", "1000kbit")});
    const char *no_dev = "Cannot find device nosuch0\n";
    expect_tc("send limit: delete root, then htb with both filters", {}, {{kSet, "v0", kSend, 1}}, 0,
              cat({{del_root("v0")}, htb_adds("v0", "8kbit")}));
    expect_tc("receive limit: delete ingress, then police", {}, {{kSet, "v0", kRecv, 100}}, 0,
              cat({{del_ingress("v0")}, police_adds("v0", "800kbit")}));
    expect_tc("both: clear both, ingress before root; adds keep their error output, deletes lose it", {},
              {{kSet, "eth1", kBoth, 125}}, 0, cat({{del_root("eth1"), del_ingress("eth1")}, both125}),
              echoes(both125).c_str());
    expect_tc("a second limit deletes before adding", {}, {{kSet, "v0", kSend, 10}, {kSet, "v0", kSend, 20}},
              0, cat({{del_root("v0")}, send10, {del_root("v0")}, htb_adds("v0", "160kbit")}));
    expect_tc("maximum speed is eight times it in kbit", {}, {{kSet, "v0", kSend, LUMEK_NIC_SPEED_MAX}}, 0,
              cat({{del_root("v0")}, htb_adds("v0", "31457280kbit")}));
    expect_tc("a 15-byte name is passed unchanged", {}, {{kClear, n15.c_str(), kSend}}, 0, {del_root(n15)});
    expect_tc("missing device stops a send limit before any add", {"1"}, {{kSet, "nosuch0", kSend, 10}}, -1,
              {del_root("nosuch0")}, no_dev);
    expect_tc("missing device stops a receive limit", {"1"}, {{kSet, "nosuch0", kRecv, 10}}, -1,
              {del_ingress("nosuch0")}, no_dev);
    expect_tc("two-way: no ingress delete once root found no device", {"1"}, {{kSet, "nosuch0", kBoth, 10}},
              -1, {del_root("nosuch0")}, no_dev);
    expect_tc("two-way clear does not examine the ingress delete", {"2", "1"}, {{kClear, "v0", kBoth}}, 0,
              {del_root("v0"), del_ingress("v0")}, "");
    expect_tc("clearing with nothing installed succeeds quietly", {"2", "2", "2", "2"},
              {{kClear, "v0", kSend}, {kClear, "v0", kRecv}, {kClear, "v0", kBoth}}, 0,
              {del_root("v0"), del_ingress("v0"), del_root("v0"), del_ingress("v0")}, "");
    expect_tc("a refused class add takes the send limit off again", {"0", "0", "2"},
              {{kSet, "v0", kSend, 10}}, -1, {del_root("v0"), send10[0], send10[1], del_root("v0")});
    expect_tc("a refused IPv6 filter fails the send limit", {"0", "0", "0", "0", "2"},
              {{kSet, "v0", kSend, 10}}, -1, cat({{del_root("v0")}, send10, {del_root("v0")}}));
    expect_tc("refused police in a two-way limit clears both and adds no htb", {"2", "2", "0", "2"},
              {{kSet, "v0", kBoth, 10}}, -1,
              cat({{del_root("v0"), del_ingress("v0")}, recv10, {del_root("v0"), del_ingress("v0")}}));
    expect_tc("an add killed by a signal fails the limit", {"0", "KILL"}, {{kSet, "v0", kRecv, 10}}, -1,
              {del_ingress("v0"), recv10[0], del_ingress("v0")});
    // A delete that could not execute fails clearing and setting; its own output went to
    // /dev/null, and the library adds nothing.
    for (const char *status : {"127", "126", "KILL"}) {
        expect_tc(status, {status}, {{kClear, "v0", kBoth}}, -1, {del_root("v0")}, "");
        expect_tc(status, {status}, {{kSet, "v0", kSend, 10}}, -1, {del_root("v0")}, "");
    }
}

// ---------------------------------------------------------------- refused arguments

// Arguments refused with their message and -1, before tc ever runs.
TEST(NicRecorded, RefusedArgumentsRunNothing) {
    WITH_RECORDING_TC(tc, {
        struct Refusal {
            std::function<int32_t()> call;
            std::string err;
        };
        std::vector<Refusal> refusals;
        // The speed is checked first, even with a bad netmode and name.
        for (int64_t speed : {int64_t{0}, int64_t{-1}, int64_t{3932161}, INT64_MIN, INT64_MAX})
            refusals.push_back(
                {[speed] { return lumek_nic_speedctl("a b", 4, speed); }, "speed out of range\n"});
        refusals.push_back({[] { return lumek_nic_speedctl(nullptr, 4, 0); }, "NIC can't be NULL\n"});
        refusals.push_back({[] { return lumek_nic_speedclr(nullptr, 4); }, "NIC can't be NULL\n"});
        for (int32_t mode : {4, 0, -1, INT32_MAX}) {
            refusals.push_back({[mode] { return lumek_nic_speedctl("v0", mode, 10); }, "Netmode error\n"});
            refusals.push_back({[mode] { return lumek_nic_speedclr("v0", mode); }, "Netmode error\n"});
        }
        const std::string planted = tc.dir() + "/p";
        for (const std::string name : {"lo;touch " + planted, std::string(16, 'x'), std::string(".."),
                                       std::string("."), std::string("a b"), std::string(""),
                                       std::string("eth0:1"), std::string("a/b"), std::string("a\nb")}) {
            for (int32_t mode : {1, 2, 3}) {
                std::string want = "Cannot find device " + name + "\n";
                refusals.push_back({[name, mode] { return lumek_nic_speedclr(name.c_str(), mode); }, want});
                refusals.push_back(
                    {[name, mode] { return lumek_nic_speedctl(name.c_str(), mode, 10); }, want});
            }
        }
        for (size_t i = 0; i < refusals.size(); ++i) {
            int32_t rc = 0;
            EXPECT_EQ(stderr_of([&] { rc = refusals[i].call(); }), refusals[i].err) << i;
            EXPECT_EQ(rc, -1) << i;
        }
        EXPECT_EQ(tc.calls(), Lines{});
        EXPECT_NE(access(planted.c_str(), F_OK), 0);
    });
}

// Only a two-way limit needs root; one-way ones leave privilege to tc.
TEST(NicRecorded, TwoWayLimitNeedsRootOneWayLeavesPrivilegeToTc) {
    WITH_RECORDING_TC(tc, {
        int st = as_nobody([] {
            int32_t set_rc = 0, clr_rc = 0;
            EXPECT_EQ(stderr_of([&] { set_rc = lumek_nic_speedctl("v0", LUMEK_NIC_NETMODE_BOTH, 10); }),
                      "Operation not permitted\n");
            EXPECT_EQ(stderr_of([&] { clr_rc = lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_BOTH); }),
                      "Operation not permitted\n");
            EXPECT_EQ(set_rc, -1);
            EXPECT_EQ(clr_rc, -1);
            EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_SEND), 0);
            EXPECT_EQ(lumek_nic_speedclr("v0", LUMEK_NIC_NETMODE_RECV), 0);
        });
        EXPECT_EQ(st, 0);
        EXPECT_EQ(tc.calls(), (Lines{del_root("v0"), del_ingress("v0")}));
    });
}

TEST(NicRecorded, TcThatIsNotExecutableFailsEverything) {
    WITH_RECORDING_TC(tc, {
        const std::string plain = tc.dir() + "/not-executable";
        std::ofstream(plain) << "#!/bin/sh\nexit 0\n";
        ASSERT_EQ(chmod(plain.c_str(), 0644), 0);
        ASSERT_TRUE(lumek_test::bind_mount(plain.c_str(), kTcPath));
        for (int32_t mode : {1, 2, 3}) {
            int32_t clr_rc = 0, set_rc = 0;
            std::string err = stderr_of([&] {
                clr_rc = lumek_nic_speedclr("v0", mode);
                set_rc = lumek_nic_speedctl("v0", mode, 10);
            });
            EXPECT_EQ(clr_rc, -1) << mode;
            EXPECT_EQ(set_rc, -1) << mode;
            EXPECT_EQ(err, "") << mode;
        }
    });
}

// ---------------------------------------------------------------- lumekctl nic

namespace {

// What `lumekctl nic` with @args runs against tc exiting with @statuses, whether it succeeds,
// and what it prints (out/err checked when given).
void expect_tool(const Lines &args, const Lines &statuses, bool ok, const Lines &calls,
                 const char *out = nullptr, const char *err = nullptr) {
    WITH_RECORDING_TC(tc, {
        std::string cmd;
        for (const auto &a : args) cmd += a + " ";
        SCOPED_TRACE(cmd);
        tc.set_statuses(statuses);
        lumek_test::Run r = lumek_test::lumekctl(args);
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

}  // namespace

TEST(NicTool, CommandsRunTheRightLimits) {
    // Equal speeds: one two-way limit.
    expect_tool(
        {"nic", "limit", "v0", "--send", "10", "--recv", "10"}, {}, true,
        cat({{del_root("v0"), del_ingress("v0")}, police_adds("v0", "80kbit"), htb_adds("v0", "80kbit")}),
        "v0: limited: send 10 KB/s, receive 10 KB/s\n");
    // Different speeds: send first, then receive; a refused police takes the send side back.
    expect_tool(
        {"nic", "limit", "v0", "--send", "10", "--recv", "20"}, {}, true,
        cat({{del_root("v0")}, htb_adds("v0", "80kbit"), {del_ingress("v0")}, police_adds("v0", "160kbit")}));
    expect_tool({"nic", "limit", "v0", "--send", "10", "--recv", "20"},
                {"2", "0", "0", "0", "0", "2", "0", "2"}, false,
                cat({{del_root("v0")},
                     htb_adds("v0", "80kbit"),
                     {del_ingress("v0")},
                     police_adds("v0", "160kbit"),
                     {del_ingress("v0"), del_root("v0")}}));
    expect_tool({"nic", "limit", "v0", "--recv", "5"}, {}, true,
                cat({{del_ingress("v0")}, police_adds("v0", "40kbit")}));
    expect_tool({"nic", "limit", "v0", "--send", "5"}, {}, true,
                cat({{del_root("v0")}, htb_adds("v0", "40kbit")}));
    expect_tool({"nic", "clear", "v0"}, {}, true, {del_root("v0"), del_ingress("v0")});
    expect_tool({"nic", "clear", "v0", "--send"}, {}, true, {del_root("v0")});
    expect_tool({"nic", "clear", "v0", "--recv"}, {}, true, {del_ingress("v0")});
    expect_tool({"nic", "clear", "nosuch0"}, {"1"}, false, {del_root("nosuch0")}, "",
                "lumekctl: nic clear nosuch0: Cannot find device nosuch0\n");
    expect_tool({"nic", "limit", "v0", "--send", "0"}, {}, false, {}, "",
                "lumekctl: nic limit v0: speed out of range\n");
    expect_tool({"nic", "limit", "v0"}, {}, false, {});  // no direction: a usage error
    expect_tool({"--json", "nic", "limit", "v0", "--send", "10"}, {}, true,
                cat({{del_root("v0")}, htb_adds("v0", "80kbit")}),
                "{\n  \"device\": \"v0\",\n  \"result\": 0\n}\n");
    expect_tool({"--json", "nic", "clear", "nosuch0", "--send"}, {"1"}, false, {del_root("nosuch0")},
                "{\n  \"device\": \"nosuch0\",\n  \"message\": \"Cannot find device nosuch0\",\n  "
                "\"result\": -1\n}\n");
}
