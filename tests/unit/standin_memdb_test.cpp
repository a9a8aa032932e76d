// The stand-in's memdb as the rtdb relies on it: typed values, the three operators, delete
// by leading columns, copies on store, errno on failure, one store for every process.
#include <errno.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/framework.h"
#include "scratch.h"
#include "standin_control.h"
#include "standin_state.h"

namespace {

constexpr int kKey = 4242;

struct Value {
    bool is_int;
    int32_t n;
    std::string s;
};
Value I(int32_t n) {
    return {true, n, ""};
}
Value S(const char *s) {
    return {false, 0, s};
}

// Records and queries point into the Values, which outlive the call.
MemdbRecord record_of(std::vector<Value> &vals) {
    MemdbRecord r;
    memset(&r, 0, sizeof r);
    r.count = static_cast<int32_t>(vals.size());
    for (size_t i = 0; i < vals.size(); ++i) {
        r.columns[i].type = vals[i].is_int ? LUMEK_MEMDB_TYPE_INT32 : LUMEK_MEMDB_TYPE_STRING;
        r.columns[i].value = vals[i].is_int ? static_cast<void *>(&vals[i].n) : &vals[i].s[0];
    }
    return r;
}

struct Cond {
    int op, col;
    Value v;
};

int collect(const MemdbRecord *r, void *ud) {
    std::string line;
    for (int i = 0; i < r->count; ++i) {
        if (i) line += ",";
        line += r->columns[i].type == LUMEK_MEMDB_TYPE_INT32
                    ? std::to_string(*static_cast<int32_t *>(r->columns[i].value))
                    : "'" + std::string(static_cast<char *>(r->columns[i].value)) + "'";
    }
    static_cast<std::vector<std::string> *>(ud)->push_back(line);
    return 0;
}

std::vector<std::string> find(MemdbHandle *h, std::vector<Cond> conds) {
    MemdbQuery q;
    memset(&q, 0, sizeof q);
    q.count = static_cast<int32_t>(conds.size());
    for (size_t j = 0; j < conds.size(); ++j) {
        Value &v = conds[j].v;
        q.conditions[j] = {conds[j].op, conds[j].col,
                           v.is_int ? LUMEK_MEMDB_TYPE_INT32 : LUMEK_MEMDB_TYPE_STRING, 0,
                           v.is_int ? static_cast<void *>(&v.n) : &v.s[0]};
    }
    std::vector<std::string> out;
    EXPECT_EQ(lumek_memdb_retrive(h, collect, &out, q), 0);
    return out;
}

class Memdb : public ::testing::Test {
  protected:
    void SetUp() override {
        h_ = lumek_memdb_create_database(kKey, 500);
        ASSERT_NE(h_, nullptr);
        for (auto vals : std::vector<std::vector<Value>>{{I(0), S("/a"), S("trusted"), I(5)},
                                                         {I(0), S("/b"), S("verified"), I(9)},
                                                         {I(9999), I(77)},
                                                         {I(0), S("9999"), S("unknown"), S("x")}}) {
            ASSERT_EQ(lumek_memdb_create_record(h_, record_of(vals)), 0);
        }
    }
    void TearDown() override {
        if (h_) lumek_memdb_disconnect_database(h_);
    }
    lumek_test::ScratchDir scratch_;
    MemdbHandle *h_ = nullptr;
    std::vector<Value> ok_{I(1)};
};

TEST_F(Memdb, ConditionsCompareTypeAndValue) {
    struct Case {
        std::vector<Cond> conds;
        std::vector<std::string> want;
    } cases[] = {
        {{{1, 0, I(9999)}}, {"9999,77"}},
        {{{1, 1, S("9999")}}, {"0,'9999','unknown','x'"}},  // the text, not the integer record
        {{{1, 0, I(0)}, {2, 2, S("verified")}, {2, 2, S("unknown")}}, {"0,'/a','trusted',5"}},
        {{{8, 3, I(5)}}, {"0,'/b','verified',9"}},  // a text in column 3 is not greater
        {{{2, 3, I(5)}, {1, 0, I(0)}}, {"0,'/b','verified',9", "0,'9999','unknown','x'"}},
        {{}, {"0,'/a','trusted',5", "0,'/b','verified',9", "9999,77", "0,'9999','unknown','x'"}},
    };
    for (auto &c : cases) EXPECT_EQ(find(h_, c.conds), c.want);
}

TEST_F(Memdb, DeleteByLeadingColumnsAndCopiesOnStore) {
    std::vector<Value> again{I(0), S("/a"), S("parent"), I(1)};
    ASSERT_EQ(lumek_memdb_create_record(h_, record_of(again)), 0);
    again[1].s[1] = 'z';  // the stored copy keeps "/a"
    EXPECT_EQ(find(h_, {{1, 1, S("/a")}}).size(), 2u);
    std::vector<Value> sel{I(0), S("/a")};
    EXPECT_EQ(lumek_memdb_delete_record(h_, record_of(sel)), 0);
    EXPECT_EQ(lumek_memdb_delete_record(h_, record_of(sel)), 0);  // nothing left to match
    EXPECT_TRUE(find(h_, {{1, 1, S("/a")}}).empty());
    EXPECT_EQ(find(h_, {}).size(), 3u);
}

TEST_F(Memdb, FailuresSetErrnoAndFaultsApply) {
    std::vector<Value> ok{I(1)};
    MemdbRecord bad = record_of(ok);
    bad.columns[0].type = 4;
    struct Case {
        const char *what;
        int err;
        std::function<bool()> fails;
    } cases[] = {
        {"create twice", EEXIST, [] { return lumek_memdb_create_database(kKey, 500) == nullptr; }},
        {"connect missing", ENOENT, [] { return lumek_memdb_connect_database(kKey + 1) == nullptr; }},
        {"bad type", EINVAL, [&] { return lumek_memdb_create_record(h_, bad) != 0; }},
        {"index column 16", EINVAL, [&] { return lumek_memdb_create_t_tree_index(h_, 16) != 0; }},
        {"delete missing", ENOENT, [] { return lumek_memdb_delete_database(kKey + 1) != 0; }},
    };
    for (auto &c : cases) {
        errno = 0;
        EXPECT_TRUE(c.fails()) << c.what;
        EXPECT_EQ(errno, c.err) << c.what;
    }

    LumekStandinFault f{};
    f.times = 1;
    f.ret = -7;
    f.err = EIO;
    ASSERT_EQ(lumek_standin_fault_set("lumek_memdb_create_record", &f), 0);
    EXPECT_EQ(lumek_memdb_create_record(h_, record_of(ok)), -7);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(find(h_, {{1, 0, I(1)}}).size(), 0u);
}

TEST_F(Memdb, SharedByProcessesListedAndDeleted) {
    ASSERT_EQ(lumek_memdb_create_t_tree_index(h_, 1), 0);
    ASSERT_EQ(lumek_memdb_create_t_tree_index(h_, 0), 0);
    pid_t pid = fork();
    if (pid == 0) {
        MemdbHandle *c = lumek_memdb_connect_database(kKey);
        std::vector<Value> v{I(0), S("/child")};
        _exit(c && lumek_memdb_create_record(c, record_of(v)) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(find(h_, {{1, 1, S("/child")}}).size(), 1u);
    EXPECT_EQ(lumek_test::take_lines(lumek_standin_memdb_databases(nullptr)),
              std::vector<std::string>{"4242 500 5 0,1"});
    EXPECT_EQ(lumek_memdb_delete_database(kKey), 0);
    EXPECT_EQ(lumek_memdb_create_record(h_, record_of(ok_)), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(lumek_test::take_lines(lumek_standin_memdb_databases(nullptr)).empty());
}

}  // namespace
