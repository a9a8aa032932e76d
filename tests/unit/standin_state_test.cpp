// The stand-in's own state as the library relies on it: the memdb under the rtdb (typed values,
// the three operators, delete by leading columns, copies on store, errno, one store for every
// process), and fault injection and the framework log, also from lumek-standin.
#include <errno.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/spawn.h"
#include "core/framework.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

constexpr int kKey = 4242;

// An int32 or a text column: rows read as {0, "/a", "trusted", 5}.
struct Value {
    Value(int32_t v) : is_int(true), n(v) {}
    Value(const char *v) : s(v) {}
    int32_t type() const { return is_int ? LUMEK_MEMDB_TYPE_INT32 : LUMEK_MEMDB_TYPE_STRING; }
    void *ptr() { return is_int ? static_cast<void *>(&n) : &s[0]; }
    bool is_int = false;
    int32_t n = 0;
    std::string s;
};
using Row = std::vector<Value>;
struct Cond {
    int op, col;
    Value v;
};

// Records and queries point into the Values, which outlive the call.
MemdbRecord record_of(Row &vals) {
    MemdbRecord r;
    memset(&r, 0, sizeof r);
    r.count = static_cast<int32_t>(vals.size());
    for (size_t i = 0; i < vals.size(); ++i) r.columns[i] = {vals[i].type(), 0, vals[i].ptr()};
    return r;
}

int collect(const MemdbRecord *r, void *ud) {
    std::string line;
    for (int i = 0; i < r->count; ++i) {
        const MemdbColumn &c = r->columns[i];
        line += (i ? "," : "") + (c.type == LUMEK_MEMDB_TYPE_INT32
                                      ? std::to_string(*static_cast<int32_t *>(c.value))
                                      : "'" + std::string(static_cast<char *>(c.value)) + "'");
    }
    static_cast<std::vector<std::string> *>(ud)->push_back(line);
    return 0;
}

std::vector<std::string> find(MemdbHandle *h, std::vector<Cond> conds) {
    MemdbQuery q;
    memset(&q, 0, sizeof q);
    q.count = static_cast<int32_t>(conds.size());
    for (size_t j = 0; j < conds.size(); ++j)
        q.conditions[j] = {conds[j].op, conds[j].col, conds[j].v.type(), 0, conds[j].v.ptr()};
    std::vector<std::string> out;
    EXPECT_EQ(lumek_memdb_retrive(h, collect, &out, q), 0);
    return out;
}

class Memdb : public ::testing::Test {
  protected:
    void SetUp() override {
        h_ = lumek_memdb_create_database(kKey, 500);
        ASSERT_NE(h_, nullptr);
        for (Row vals : std::vector<Row>{
                 {0, "/a", "trusted", 5}, {0, "/b", "verified", 9}, {9999, 77}, {0, "9999", "unknown", "x"}})
            ASSERT_EQ(lumek_memdb_create_record(h_, record_of(vals)), 0);
    }
    void TearDown() override {
        if (h_) lumek_memdb_disconnect_database(h_);
    }
    lumek_test::ScratchDir scratch_;
    MemdbHandle *h_ = nullptr;
};

TEST_F(Memdb, ConditionsCompareTypeAndValue) {
    struct Case {
        std::vector<Cond> conds;
        std::vector<std::string> want;
    } cases[] = {
        {{{1, 0, 9999}}, {"9999,77"}},
        {{{1, 1, "9999"}}, {"0,'9999','unknown','x'"}},  // the text, not the integer record
        {{{1, 0, 0}, {2, 2, "verified"}, {2, 2, "unknown"}}, {"0,'/a','trusted',5"}},
        {{{8, 3, 5}}, {"0,'/b','verified',9"}},  // a text in column 3 is not greater
        {{{2, 3, 5}, {1, 0, 0}}, {"0,'/b','verified',9", "0,'9999','unknown','x'"}},
        {{}, {"0,'/a','trusted',5", "0,'/b','verified',9", "9999,77", "0,'9999','unknown','x'"}},
    };
    for (auto &c : cases) EXPECT_EQ(find(h_, c.conds), c.want);
}

TEST_F(Memdb, DeleteByLeadingColumnsAndCopiesOnStore) {
    Row again{0, "/a", "parent", 1}, sel{0, "/a"};
    ASSERT_EQ(lumek_memdb_create_record(h_, record_of(again)), 0);
    again[1].s[1] = 'z';  // the stored copy keeps "/a"
    EXPECT_EQ(find(h_, {{1, 1, "/a"}}).size(), 2u);
    EXPECT_EQ(lumek_memdb_delete_record(h_, record_of(sel)), 0);
    EXPECT_EQ(lumek_memdb_delete_record(h_, record_of(sel)), 0);  // nothing left to match
    EXPECT_TRUE(find(h_, {{1, 1, "/a"}}).empty());
    EXPECT_EQ(find(h_, {}).size(), 3u);
}

// A memdb failure sets errno; @call must say it failed.
#define EXPECT_FAILS_WITH(call, err)    \
    do {                                \
        errno = 0;                      \
        EXPECT_TRUE(call) << #call;     \
        EXPECT_EQ(errno, err) << #call; \
    } while (0)

TEST_F(Memdb, FailuresSetErrno) {
    Row ok{1};
    MemdbRecord bad = record_of(ok);
    bad.columns[0].type = 4;
    EXPECT_FAILS_WITH(lumek_memdb_create_database(kKey, 500) == nullptr, EEXIST);
    EXPECT_FAILS_WITH(lumek_memdb_connect_database(kKey + 1) == nullptr, ENOENT);
    EXPECT_FAILS_WITH(lumek_memdb_create_record(h_, bad) != 0, EINVAL);
    EXPECT_FAILS_WITH(lumek_memdb_create_t_tree_index(h_, 16) != 0, EINVAL);
    EXPECT_FAILS_WITH(lumek_memdb_delete_database(kKey + 1) != 0, ENOENT);
}

TEST_F(Memdb, SharedByProcessesListedAndDeleted) {
    ASSERT_EQ(lumek_memdb_create_t_tree_index(h_, 1), 0);
    ASSERT_EQ(lumek_memdb_create_t_tree_index(h_, 0), 0);
    pid_t pid = fork();
    if (pid == 0) {
        MemdbHandle *c = lumek_memdb_connect_database(kKey);
        Row v{0, "/child"};
        _exit(c && lumek_memdb_create_record(c, record_of(v)) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(find(h_, {{1, 1, "/child"}}).size(), 1u);
    EXPECT_EQ(lumek_memdb_delete_database(kKey), 0);
    Row ok{1};
    EXPECT_EQ(lumek_memdb_create_record(h_, record_of(ok)), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(lumek_test::take_lines(lumek_standin_memdb_databases(nullptr)).empty());
}

// Runs lumek-standin with @args; returns its standard output, "<exit N>" on failure.
std::string standin(std::vector<std::string> args) {
    args.insert(args.begin(), LUMEK_BIN_DIR "/lumek-standin");
    lumek::SpawnOptions opts;
    opts.capture_stdout = true;
    auto r = lumek::run_command(args, opts);
    return r.exited_with(0) ? r.out : "<exit " + std::to_string(r.wait_status >> 8) + ">";
}

TEST(StandinControl, FaultsFromAnotherProcessHitTheNextCalls) {
    lumek_test::ScratchDir scratch;
    ASSERT_EQ(standin({"fault", "lumek_set_func_status", "--times", "2", "--ret", "-7", "--errno", "5"}), "");
    for (int i = 0; i < 2; ++i) {
        errno = 0;
        EXPECT_EQ(lumek_set_func_status(1, 1), -7);
        EXPECT_EQ(errno, 5);
    }
    EXPECT_EQ(lumek_set_func_status(1, 1), 0);  // spent
    EXPECT_EQ(lumek_get_func_status(1), 1);     // and other functions were never affected
    ASSERT_EQ(standin({"fault", "lumek_getstatus", "--always", "--ret", "0"}), "");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lumek_getstatus(), 0);
    ASSERT_EQ(standin({"clear-faults"}), "");
    EXPECT_EQ(lumek_getstatus(), 1);  // enabled by default

    // Calls that return pointers give NULL. (The library's fault sweep fails every memdb call.)
    LumekStandinFault f{};
    f.times = 1;
    f.err = ENOMEM;
    ASSERT_EQ(lumek_standin_fault_set("get_absolute_path", &f), 0);
    errno = 0;
    EXPECT_EQ(get_absolute_path("/usr"), nullptr);
    EXPECT_EQ(errno, ENOMEM);
}

TEST(StandinControl, LogKeepsEveryTextRecoverable) {
    lumek_test::ScratchDir scratch;
    lumek_log(2, 0, "/nonexistent/%n%n", "faile to get absolute path: %s", "No such file");
    lumek_log(16, 7, nullptr, "a\nb\\c|d\n");
    lumek_log(2, 0, "tag|with\nbreak", "%d%%", 5);
    const std::vector<std::string> want{
        "2|0|/nonexistent/%n%n|faile to get absolute path: No such file",
        "16|7|\\N|a\\nb\\\\c|d\\n",
        "2|0|tag\\|with\\nbreak|5%",
    };
    EXPECT_EQ(lumek_test::log_lines(), want);
    EXPECT_EQ(standin({"log"}), want[0] + "\n" + want[1] + "\n" + want[2] + "\n");
}

}  // namespace
