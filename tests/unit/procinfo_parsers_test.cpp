// The /proc text parsers and the field arithmetic, fed real-looking and hostile text.
#include <time.h>

#include <climits>
#include <string>
#include <unordered_set>

#include <gtest/gtest.h>

#include "procinfo/procinfo_internal.h"

using namespace lumek::procinfo;

namespace {

// A stat line as the kernel writes it, with the fields that matter settable.
std::string stat_line(const std::string &name, const std::string &tty = "34817",
                      const std::string &utime = "250", const std::string &stime = "130",
                      const std::string &start = "987654") {
    return "4242 (" + name + ") S 1 4242 4242 " + tty + " 4242 4194560 1000 0 0 0 " + utime + " " + stime +
           " 7 9 20 0 3 0 " + start +
           " 123456789 2000 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

const char kStatus[] =
    "Name:\tworker\n"
    "State:\tS (sleeping)\n"
    "Tgid:\t4242\n"
    "Pid:\t4242\n"
    "PPid:\t17\n"
    "TracerPid:\t0\n"
    "Uid:\t1000\t0\t0\t0\n"
    "Gid:\t1000\t1000\t1000\t1000\n"
    "VmPeak:\t   10000 kB\n"
    "VmRSS:\t    2048 kB\n"
    "Threads:\t4\n";

const char kTcpHeader[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string tcp_line(const std::string &local, const std::string &inode) {
    return "   0: " + local + " 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 " +
           inode + " 1 0000000000000000 100 0 0 10 0\n";
}

}  // namespace

// ---- stat ------------------------------------------------------------------------------------

TEST(ProcStat, OrdinaryLineGivesEveryField) {
    StatFields st;
    ASSERT_TRUE(parse_stat(stat_line("bash"), &st));
    EXPECT_EQ(st.name, "bash");
    EXPECT_EQ(st.tty_scan, Scan::Ok);
    EXPECT_EQ(st.tty_nr, 34817);
    EXPECT_EQ(st.start_scan, Scan::Ok);
    EXPECT_EQ(st.start_ticks, 987654u);
    EXPECT_EQ(st.time_scan, Scan::Ok);
    EXPECT_EQ(st.utime, 250u);
    EXPECT_EQ(st.stime, 130u);
    EXPECT_EQ(st.usage_scan, Scan::Ok);
    EXPECT_EQ(st.usage_utime, 250u);
    EXPECT_EQ(st.usage_stime, 130u);
    EXPECT_EQ(st.cutime, 7u);
    EXPECT_EQ(st.cstime, 9u);
    EXPECT_EQ(st.usage_start_ticks, 987654u);
}

TEST(ProcStat, NameKeepsInnerParenthesesAndBlanksWithoutShiftingFields) {
    for (const char *name :
         {"we)ird", "a b", "x) R 1 1 1 1 9", "((", ") )", "tab\there", "hid\nden", "x)\n1 (y) R 2", "\n"}) {
        SCOPED_TRACE(name);
        StatFields st;
        ASSERT_TRUE(parse_stat(stat_line(name), &st));
        EXPECT_EQ(st.name, name);
        EXPECT_EQ(st.tty_nr, 34817);
        EXPECT_EQ(st.start_ticks, 987654u);
        EXPECT_EQ(st.utime, 250u);
        EXPECT_EQ(st.stime, 130u);
    }
}

TEST(ProcStat, LineWithoutUsableParenthesesIsRefused) {
    StatFields st;
    EXPECT_FALSE(parse_stat("", &st));
    EXPECT_FALSE(parse_stat("\n", &st));
    EXPECT_FALSE(parse_stat("12 bash S 1 1 1 0 1\n", &st));
    EXPECT_FALSE(parse_stat("12 (bash S 1 1 1 0 1\n", &st));
    EXPECT_FALSE(parse_stat("12 bash) S 1 1 1 0 1\n", &st));
    EXPECT_FALSE(parse_stat("12 )bash( S 1 1 1 0 1\n", &st));
    // The name is looked for in the first 127 bytes only.
    EXPECT_FALSE(parse_stat(std::string(130, 'x') + "(late) S 1 1 1 0\n", &st));
    EXPECT_FALSE(parse_stat(stat_line(std::string(300, 'n')), &st));
    ASSERT_TRUE(parse_stat(stat_line(std::string(120, 'n')), &st));  // the last name that fits
    EXPECT_EQ(st.name, std::string(120, 'n'));
}

TEST(ProcStat, TruncatedLinesEndEachScanAtTheRightPoint) {
    StatFields st;
    // Cut right after the name.
    ASSERT_TRUE(parse_stat("12 (bash)", &st));
    EXPECT_EQ(st.name, "bash");
    EXPECT_EQ(st.tty_scan, Scan::Eof);
    EXPECT_EQ(st.start_scan, Scan::Eof);
    EXPECT_EQ(st.time_scan, Scan::Eof);
    EXPECT_EQ(st.usage_scan, Scan::Eof);
    // Cut after tty_nr: tty is there, the start ticks are not.
    ASSERT_TRUE(parse_stat("12 (x) S 1 1 1 5\n", &st));
    EXPECT_EQ(st.tty_scan, Scan::Ok);
    EXPECT_EQ(st.tty_nr, 5);
    EXPECT_EQ(st.start_scan, Scan::Eof);
    EXPECT_EQ(st.time_scan, Scan::Eof);
    // Cut after stime: the CPU time is complete, the usage scan misses its later fields.
    ASSERT_TRUE(parse_stat("12 (x) S 1 1 1 5 1 0 0 0 0 0 300 200", &st));
    EXPECT_EQ(st.time_scan, Scan::Ok);
    EXPECT_EQ(st.utime, 300u);
    EXPECT_EQ(st.stime, 200u);
    EXPECT_EQ(st.usage_scan, Scan::Partial);
    // Nothing stored before the text ran out: the start scan hit its end.
    EXPECT_EQ(st.start_scan, Scan::Eof);
    // An embedded NUL ends the fields.
    ASSERT_TRUE(parse_stat(std::string("12 (x) S 1 1 1 7\0 1 0 0 0 0 0 300 200\n", 38), &st));
    EXPECT_EQ(st.tty_nr, 7);
    EXPECT_EQ(st.time_scan, Scan::Eof);
}

TEST(ProcStat, TextWhereANumberIsDueStopsTheScanWithZeros) {
    StatFields st;
    ASSERT_TRUE(parse_stat("12 (x) S 1 1 1 tty 1 0 0 0 0 0 300 200 0 0 20 0 1 0 55\n", &st));
    EXPECT_EQ(st.tty_scan, Scan::Partial);
    EXPECT_EQ(st.tty_nr, 0);
    EXPECT_EQ(st.start_scan, Scan::Partial);
    EXPECT_EQ(st.start_ticks, 0u);
    EXPECT_EQ(st.time_scan, Scan::Partial);
    EXPECT_EQ(st.utime, 0u);
}

TEST(ProcStat, HugeNumbersAreBoundedNotOverflowed) {
    StatFields st;
    std::string huge(40, '9');
    ASSERT_TRUE(parse_stat(stat_line("x", "1234567890123", huge, huge, huge), &st));
    EXPECT_EQ(st.tty_nr, 123456789);  // nine digits at most
    EXPECT_EQ(st.utime, ULONG_MAX);
    EXPECT_EQ(st.start_ticks, 9999999999999999999ull);  // nineteen digits at most
}

// ---- status ----------------------------------------------------------------------------------

TEST(ProcStatus, OrdinaryText) {
    StatusFields s;
    parse_status(kStatus, &s);
    ASSERT_TRUE(s.has_state);
    EXPECT_EQ(s.state_letter, 'S');
    EXPECT_EQ(s.ppid, 17);
    EXPECT_EQ(s.uid, 1000);
    EXPECT_EQ(s.threads, 4);
    EXPECT_EQ(s.vm_rss_kb, 2048u);
}

TEST(ProcStatus, StateLettersMapToTheirCodes) {
    const std::pair<char, int> table[] = {{'R', 0}, {'T', 1}, {'S', 2}, {'Z', 3},
                                          {'t', 4}, {'D', 5}, {'X', 6}};
    for (auto [letter, code] : table) {
        StatusFields s;
        parse_status(std::string("State:\t") + letter + " (whatever)\n", &s);
        ASSERT_TRUE(s.has_state);
        EXPECT_EQ(state_code(s.state_letter), code) << letter;
    }
    for (char other : {'I', 'P', 'W', 'K', 'x', ' ', '\n', '\0'})
        EXPECT_EQ(state_code(other), -1) << int(other);
}

TEST(ProcStatus, MissingOrShortLinesLeaveZerosAndNoState) {
    StatusFields s;
    parse_status("Name:\tx\nVmPeak:\t1 kB\n", &s);
    EXPECT_FALSE(s.has_state);
    EXPECT_EQ(s.ppid, 0);
    EXPECT_EQ(s.uid, 0);
    EXPECT_EQ(s.threads, 0);
    EXPECT_EQ(s.vm_rss_kb, 0u);
    parse_status("", &s);
    EXPECT_FALSE(s.has_state);
    // A state line too short has no letter.
    parse_status("State:\n", &s);
    EXPECT_FALSE(s.has_state);
    parse_status("State:", &s);
    EXPECT_FALSE(s.has_state);
    // The letter is the 8th character whatever stands before it.
    parse_status("State:xR\n", &s);
    ASSERT_TRUE(s.has_state);
    EXPECT_EQ(s.state_letter, 'R');
}

TEST(ProcStatus, FirstMatchingLineWinsAndKeysNeedTheirColon) {
    StatusFields s;
    parse_status("PPidx:\t5\nPPid 6\nPPid:\t7\nPPid:\t8\nUids:\t9\nUid:\t10\t11\nThreads:\t2\nThreads:\t3\n",
                 &s);
    EXPECT_EQ(s.ppid, 7);
    EXPECT_EQ(s.uid, 10);
    EXPECT_EQ(s.threads, 2);
    // A key in the middle of a line is no key.
    parse_status("Name:\tState:\tR\n", &s);
    EXPECT_FALSE(s.has_state);
}

TEST(ProcStatus, HostileValues) {
    StatusFields s;
    parse_status(
        "PPid:\t12345678901234567890\nThreads:\t-3\nUid:\tabc\nVmRSS:\t99999999999999999999999999 kB\n", &s);
    EXPECT_EQ(s.ppid, 123456789);  // nine characters at most
    EXPECT_EQ(s.threads, -3);
    EXPECT_EQ(s.uid, 0);
    EXPECT_EQ(s.vm_rss_kb, ULONG_MAX);
    // An endless line must be bounded, and a NUL inside a line ends it.
    std::string long_line = "PPid:\t4" + std::string(5000, '2') + "\n";
    parse_status(long_line, &s);
    EXPECT_EQ(s.ppid, 422222222);
    parse_status(std::string("Uid:\t1\0\t5\n", 10), &s);
    EXPECT_EQ(s.uid, 1);
}

// ---- meminfo ---------------------------------------------------------------------------------

TEST(ProcMeminfo, TotalAndItsFallbacks) {
    EXPECT_EQ(parse_meminfo_total("MemTotal:       16303112 kB\nMemFree:  1 kB\n"), 16303112);
    EXPECT_EQ(parse_meminfo_total("MemFree:  1 kB\nMemTotal: 8 kB\n"), 8);
    EXPECT_EQ(parse_meminfo_total(""), 1);
    EXPECT_EQ(parse_meminfo_total("MemFree: 5 kB\n"), 1);
    EXPECT_EQ(parse_meminfo_total("MemTotal: kB\n"), 1);
    // A zero or negative total must not turn percentages into infinities.
    EXPECT_EQ(parse_meminfo_total("MemTotal: 0 kB\n"), 1);
    EXPECT_EQ(parse_meminfo_total("MemTotal: -40 kB\n"), 1);
    EXPECT_EQ(parse_meminfo_total("MemTotal: 4 kB\nMemTotal: 9 kB\n"), 4);
}

// ---- socket tables ---------------------------------------------------------------------------

TEST(ProcNetTable, InodeColumnIsMatchedExactly) {
    std::unordered_set<uint64_t> inodes;
    // Port 0x1234 and inode 51234 both hold "1234" as text; only the inode column counts.
    parse_net_table(
        std::string(kTcpHeader) + tcp_line("0100007F:1234", "51234") + tcp_line("00000000:0016", "12"),
        &inodes);
    EXPECT_EQ(inodes, (std::unordered_set<uint64_t>{51234, 12}));
    EXPECT_EQ(inodes.count(1234), 0u);
    EXPECT_EQ(inodes.count(5123), 0u);
    EXPECT_EQ(inodes.count(1), 0u);
}

TEST(ProcNetTable, HeaderShortAndBrokenLinesAreSkipped) {
    std::unordered_set<uint64_t> inodes;
    parse_net_table(kTcpHeader, &inodes);
    EXPECT_TRUE(inodes.empty());
    // A data line as the first line is taken for the header, as the kernel always writes one.
    parse_net_table(tcp_line("0100007F:0016", "77"), &inodes);
    EXPECT_TRUE(inodes.empty());
    parse_net_table(std::string(kTcpHeader) + "   0: 1 2 3 4 5 6 7 8\n" + "\n" + tcp_line("0:0", "12x") +
                        tcp_line("0:0", "-5") + tcp_line("0:0", "123456789012345678901234") +
                        tcp_line("0:0", "18446744073709551616") + tcp_line("0:0", "18446744073709551615") +
                        "   1: a\tb c d e f\rg\vh\f99",  // last line without newline; any blank separates
                    &inodes);
    EXPECT_EQ(inodes, (std::unordered_set<uint64_t>{18446744073709551615ull, 99}));
}

TEST(ProcNetTable, SocketTargets) {
    uint64_t inode = 0;
    EXPECT_TRUE(is_socket_target("socket:[1234]"));
    ASSERT_TRUE(socket_inode("socket:[1234]", &inode));
    EXPECT_EQ(inode, 1234u);
    EXPECT_TRUE(is_socket_target("socket:[]"));
    EXPECT_FALSE(socket_inode("socket:[]", &inode));
    EXPECT_FALSE(socket_inode("socket:]12[", &inode));
    EXPECT_FALSE(socket_inode("socket:[12", &inode));
    EXPECT_FALSE(socket_inode("socket:[1 2]", &inode));
    EXPECT_FALSE(socket_inode("socket:[" + std::string(32, '1') + "]", &inode));
    // A file whose path mentions a socket is a file.
    EXPECT_FALSE(is_socket_target("/tmp/socket:[1234]"));
    EXPECT_FALSE(socket_inode("/tmp/socket:[1234]", &inode));
    EXPECT_FALSE(is_socket_target("anon_inode:[eventpoll]"));
    EXPECT_FALSE(is_socket_target("pipe:[1234]"));
}

// ---- arithmetic ------------------------------------------------------------------------------

TEST(ProcArithmetic, WholeSecondsAtOneHundredTicksAndMemoryShareWithFractions) {
    EXPECT_EQ(cpu_seconds(0, 0), 0);
    EXPECT_EQ(cpu_seconds(199, 0), 1);
    EXPECT_EQ(cpu_seconds(150, 150), 3);
    // 50 CPU-seconds over 200 seconds of life.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(3000, 2000, 100 * 1000, 1200), 25.0);
    // 1.99 CPU-seconds count as 1 against 1 second of life.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(199, 0, 1000, 11), 100.0);
    // 3 seconds over 7: whole percent, remainder dropped.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(300, 0, 0, 7), 42.0);
    // Several busy cores exceed 100.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(400, 0, 0, 2), 200.0);
    // No life yet means no usage.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, 1099, 10), 0.0);  // started this very second
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, 5000, 10), 0.0);  // start after "now"
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, ULLONG_MAX, 10), 0.0);
    // The memory share keeps fractions.
    EXPECT_DOUBLE_EQ(mem_usage_percent(3, 8), 37.5);
    EXPECT_DOUBLE_EQ(mem_usage_percent(0, 8), 0.0);
    EXPECT_DOUBLE_EQ(mem_usage_percent(2048, 1), 204800.0);
}

TEST(ProcArithmetic, StartTimeIsCtimeOfTheStartInstant) {
    char out[128];
    start_time_text(12345 * 100 + 99, 1700000000, 20000, out);
    time_t expect = 12345 + 1700000000 - 20000;
    char want[64];
    ASSERT_NE(ctime_r(&expect, want), nullptr);
    EXPECT_STREQ(out, want);
    EXPECT_EQ(out[strlen(out) - 1], '\n');
    // A start no calendar can hold gives an empty text, not garbage.
    memset(out, 'z', sizeof out);
    start_time_text(ULLONG_MAX, 1700000000, 20000, out);
    EXPECT_STREQ(out, "");
}
