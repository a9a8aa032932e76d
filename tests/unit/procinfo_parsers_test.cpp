// The /proc text parsers and the field arithmetic, fed real-looking and hostile text.
#include <time.h>

#include <climits>
#include <sstream>
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

// Everything parse_stat makes of @line in one text: the name, then each scan's outcome
// (Eof, Partial, Ok) with the values it stores; "refused" when it gives no record.
std::string stat_of(const std::string &line) {
    StatFields st;
    if (!parse_stat(line, &st)) return "refused";
    auto scan = [](Scan s) { return s == Scan::Ok ? "O " : s == Scan::Partial ? "P " : "E "; };
    std::ostringstream o;
    o << st.name << "|" << scan(st.tty_scan) << st.tty_nr << "|" << scan(st.start_scan) << st.start_ticks
      << "|" << scan(st.time_scan) << st.utime << " " << st.stime << "|" << scan(st.usage_scan)
      << st.usage_utime << " " << st.usage_stime << " " << st.cutime << " " << st.cstime << " "
      << st.usage_start_ticks;
    return o.str();
}

// Everything parse_status makes of @text: the state letter ("-" for none), ppid, uid,
// threads and VmRSS.
std::string status_of(const std::string &text) {
    StatusFields s;
    parse_status(text, &s);
    std::ostringstream o;
    o << (s.has_state ? s.state_letter : '-') << " " << s.ppid << " " << s.uid << " " << s.threads << " "
      << s.vm_rss_kb;
    return o.str();
}

const char kTcpHeader[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string tcp_line(const std::string &local, const std::string &inode) {
    return "   0: " + local + " 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 " +
           inode + " 1 0000000000000000 100 0 0 10 0\n";
}

}  // namespace

// ---- stat ------------------------------------------------------------------------------------

TEST(ProcStat, FieldsComeFromBehindTheLastParenthesisAndEachScanEndsWhereItShould) {
    const std::string all = "|O 34817|O 987654|O 250 130|O 250 130 7 9 987654",
                      none = "|E 0|E 0|E 0 0|E 0 0 0 0 0";
    const std::string huge(40, '9'), max = std::to_string(ULONG_MAX);
    const std::pair<std::string, std::string> cases[] = {
        {stat_line("bash"), "bash" + all},
        // Cut after the name; after tty_nr; after stime (the usage scan misses its later
        // fields and the start scan stored nothing); at an embedded NUL.
        {"12 (bash)", "bash" + none},
        {"12 (x) S 1 1 1 5\n", "x|O 5|E 0|E 0 0|E 0 0 0 0 0"},
        {"12 (x) S 1 1 1 5 1 0 0 0 0 0 300 200", "x|O 5|E 0|O 300 200|P 300 200 0 0 0"},
        {std::string("12 (x) S 1 1 1 7\0 1 0 0 0 0 0 300 200\n", 38), "x|O 7|E 0|E 0 0|E 0 0 0 0 0"},
        // Text where a number is due stops every scan with zeros.
        {"12 (x) S 1 1 1 tty 1 0 0 0 0 0 300 200 0 0 20 0 1 0 55\n", "x|P 0|P 0|P 0 0|P 0 0 0 0 0"},
        // Huge numbers are bounded (tty nine digits, start ticks nineteen), not overflowed.
        {stat_line("x", "1234567890123", huge, huge, huge), "x|O 123456789|O 9999999999999999999|O " + max +
                                                                " " + max + "|O " + max + " " + max +
                                                                " 7 9 " + std::to_string(ULLONG_MAX)},
        {stat_line(std::string(120, 'n')), std::string(120, 'n') + all},  // the last name that fits
    };
    for (const auto &[line, want] : cases) EXPECT_EQ(stat_of(line), want) << line;
    // No usable parentheses; the name is looked for in the first 127 bytes only.
    for (const std::string line : {"", "\n", "12 bash S 1 1 1 0 1\n", "12 (bash S 1 1 1 0 1\n",
                                   "12 bash) S 1 1 1 0 1\n", "12 )bash( S 1 1 1 0 1\n"})
        EXPECT_EQ(stat_of(line), "refused") << line;
    EXPECT_EQ(stat_of(std::string(130, 'x') + "(late) S 1 1 1 0\n"), "refused");
    EXPECT_EQ(stat_of(stat_line(std::string(300, 'n'))), "refused");
    // The name keeps inner parentheses, blanks and newlines without shifting the fields.
    for (const char *name :
         {"we)ird", "a b", "x) R 1 1 1 1 9", "((", ") )", "tab\there", "hid\nden", "x)\n1 (y) R 2", "\n"})
        EXPECT_EQ(stat_of(stat_line(name)), name + all);
}

// ---- status ----------------------------------------------------------------------------------

TEST(ProcStatus, FirstLineOfEachKeyAtItsOffsetBoundedValuesAndStateCodes) {
    const std::pair<std::string, std::string> cases[] = {
        {"Name:\tworker\nState:\tS (sleeping)\nTgid:\t4242\nPid:\t4242\nPPid:\t17\nTracerPid:\t0\n"
         "Uid:\t1000\t0\t0\t0\nGid:\t1000\t1000\t1000\t1000\nVmPeak:\t   10000 kB\nVmRSS:\t    2048 kB\n"
         "Threads:\t4\n",
         "S 17 1000 4 2048"},
        {"State:xR\n", "R 0 0 0 0"},  // the letter is the 8th character
        // The first matching line wins; a key needs its colon and the start of a line.
        {"PPidx:\t5\nPPid 6\nPPid:\t7\nPPid:\t8\nUids:\t9\nUid:\t10\t11\nThreads:\t2\nThreads:\t3\n",
         "- 7 10 2 0"},
        // Hostile values: nine characters at most, an endless line bounded, a NUL ends a line.
        {"PPid:\t12345678901234567890\nThreads:\t-3\nUid:\tabc\nVmRSS:\t99999999999999999999999999 kB\n",
         "- 123456789 0 -3 " + std::to_string(ULONG_MAX)},
        {"PPid:\t4" + std::string(5000, '2') + "\n", "- 422222222 0 0 0"},
        {std::string("Uid:\t1\0\t5\n", 10), "- 0 1 0 0"},
    };
    for (const auto &[text, want] : cases) EXPECT_EQ(status_of(text), want) << text;
    // Missing, short or misplaced lines leave zeros and no state.
    for (const char *text : {"", "Name:\tx\nVmPeak:\t1 kB\n", "State:\n", "State:", "Name:\tState:\tR\n"})
        EXPECT_EQ(status_of(text), "- 0 0 0 0") << text;
    // State letters and their codes.
    const std::string letters = "RTSZtDX";  // codes 0 to 6
    for (int code = 0; code < 7; ++code) {
        EXPECT_EQ(status_of("State:\t" + letters.substr(code, 1) + " (whatever)\n")[0], letters[code]);
        EXPECT_EQ(state_code(letters[code]), code) << letters[code];
    }
    for (char other : {'I', 'P', 'W', 'K', 'x', ' ', '\n', '\0'})
        EXPECT_EQ(state_code(other), -1) << int(other);
}

// ---- meminfo ---------------------------------------------------------------------------------

TEST(ProcMeminfo, TotalAndItsFallbacks) {
    EXPECT_EQ(parse_meminfo_total("MemTotal:       16303112 kB\nMemFree:  1 kB\n"), 16303112);
    EXPECT_EQ(parse_meminfo_total("MemFree:  1 kB\nMemTotal: 8 kB\n"), 8);
    // No line or no number gives 1, and so does a zero or negative total, which would turn
    // percentages into infinities.
    for (const char *text :
         {"", "MemFree: 5 kB\n", "MemTotal: kB\n", "MemTotal: 0 kB\n", "MemTotal: -40 kB\n"})
        EXPECT_EQ(parse_meminfo_total(text), 1) << text;
    EXPECT_EQ(parse_meminfo_total("MemTotal: 4 kB\nMemTotal: 9 kB\n"), 4);
}

// ---- socket tables ---------------------------------------------------------------------------

TEST(ProcNetTable, OnlyTheInodeColumnOfDataLinesCounts) {
    std::unordered_set<uint64_t> inodes;
    // A data line as the first line is taken for the header, as the kernel always writes one.
    parse_net_table(tcp_line("0100007F:0016", "77"), &inodes);
    EXPECT_TRUE(inodes.empty());
    // Port 0x1234 and inode 51234 both hold "1234" as text; only the inode column counts.
    // Short lines and inodes that are no 64-bit decimal number are passed over.
    parse_net_table(std::string(kTcpHeader) + tcp_line("0100007F:1234", "51234") +
                        tcp_line("00000000:0016", "12") + "   0: 1 2 3 4 5 6 7 8\n" + "\n" +
                        tcp_line("0:0", "12x") + tcp_line("0:0", "-5") +
                        tcp_line("0:0", "123456789012345678901234") +
                        tcp_line("0:0", "18446744073709551616") + tcp_line("0:0", "18446744073709551615") +
                        "   1: a\tb c d e f\rg\vh\f99",  // last line without newline; any blank separates
                    &inodes);
    EXPECT_EQ(inodes, (std::unordered_set<uint64_t>{51234, 12, 18446744073709551615ull, 99}));
}

// A target is a socket when it begins with "socket:"; its inode is the number in brackets.
TEST(ProcNetTable, SocketTargets) {
    for (const char *file : {"/tmp/socket:[1234]", "anon_inode:[eventpoll]", "pipe:[1234]"})
        EXPECT_FALSE(is_socket_target(file)) << file;
    EXPECT_TRUE(is_socket_target("socket:[]"));
    uint64_t inode = 0;
    ASSERT_TRUE(socket_inode("socket:[1234]", &inode));
    EXPECT_EQ(inode, 1234u);
    for (const char *t : {"socket:[]", "socket:]12[", "socket:[12", "socket:[1 2]", "/tmp/socket:[1234]",
                          "socket:[11111111111111111111111111111111]"})  // 32 digits
        EXPECT_FALSE(socket_inode(t, &inode)) << t;
}

// ---- arithmetic ------------------------------------------------------------------------------

TEST(ProcArithmetic, WholeSecondsAtOneHundredTicksMemoryShareWithFractionsAndStartTime) {
    EXPECT_EQ(cpu_seconds(0, 0), 0);
    EXPECT_EQ(cpu_seconds(199, 0), 1);
    EXPECT_EQ(cpu_seconds(150, 150), 3);
    EXPECT_DOUBLE_EQ(cpu_usage_percent(3000, 2000, 100 * 1000, 1200), 25.0);  // 50 CPU-s over 200 s of life
    EXPECT_DOUBLE_EQ(cpu_usage_percent(199, 0, 1000, 11), 100.0);  // 1.99 CPU-s count as 1, over 1 s
    EXPECT_DOUBLE_EQ(cpu_usage_percent(300, 0, 0, 7), 42.0);       // whole percent, remainder dropped
    EXPECT_DOUBLE_EQ(cpu_usage_percent(400, 0, 0, 2), 200.0);      // several busy cores exceed 100
    // No life yet means no usage.
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, 1099, 10), 0.0);  // started this very second
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, 5000, 10), 0.0);  // start after "now"
    EXPECT_DOUBLE_EQ(cpu_usage_percent(500, 0, ULLONG_MAX, 10), 0.0);
    // The memory share keeps fractions.
    EXPECT_DOUBLE_EQ(mem_usage_percent(3, 8), 37.5);
    EXPECT_DOUBLE_EQ(mem_usage_percent(0, 8), 0.0);
    EXPECT_DOUBLE_EQ(mem_usage_percent(2048, 1), 204800.0);
    // The start time is the ctime() text of the start instant.
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
