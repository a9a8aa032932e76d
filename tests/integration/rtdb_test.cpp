// The rtdb through the public ABI, against the stand-in's memdb and the reference daemon:
// the conditions each load sends, replacement, the sync time, creation and its failures,
// and the status refresh.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "standin_control.h"
#include "standin_state.h"

namespace {

using lumek_test::framework_calls;
using lumek_test::log_lines;

constexpr int kRtdb = 10000;

// The rtdb's records as "kind path label type status hash" (integers bare), and their times.
std::vector<std::string> records(std::vector<int> *times = nullptr) {
    std::vector<std::string> out;
    int n = 0;
    LumekStandinMemdbRecord *r = lumek_standin_memdb_records(kRtdb, &n);
    for (int i = 0; i < n; ++i) {
        std::string line;
        for (int c = 0; c < r[i].count && c < 6; ++c)
            line += (c ? " " : "") +
                    (r[i].type[c] == 3 ? std::to_string(r[i].number[c]) : std::string(r[i].text[c]));
        if (times && r[i].count == 7) times->push_back(r[i].number[6]);
        out.push_back(line);
    }
    lumek_standin_memdb_free_records(r, n);
    return out;
}

std::string paths(WhlistObject *l) {
    std::string out;
    for (WhlistObject *o = l; o; o = o->next)
        out += std::string(o->path) + ":" + std::to_string(o->extra2) + ";";
    lumek_whlist_objects_free(&l);
    return out;
}

std::string md5_of(const std::string &path) {
    char *h = lumek_memdb_whlist_calc_md5_for_file(path.c_str());
    std::string out = h ? h : "";
    free(h);
    return out;
}

WhlistObjectEntry entry(const std::string &path, int32_t type, int32_t label, int32_t status = 0) {
    static std::list<std::string> keep;  // texts outlive the entries
    keep.push_back(path);
    return {&keep.back()[0], const_cast<char *>("H"), type, label, 1, 1, status};
}

class Rtdb : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!getenv("LUMEK_SANDBOX")) GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox ***";
        lumek_test::daemon_control_unref("Reset", nullptr);
        lumek_standin_reset();
        char tmpl[] = "/tmp/rtdb-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    std::string file(const char *name, const char *text, const char *label) {
        std::string p = dir_ + "/" + name;
        std::ofstream(p) << text;
        if (label) lumek_standin_set_label(p.c_str(), label);
        return p;
    }
    std::string dir_;
};

TEST_F(Rtdb, LoadsSendTheirConditionsInColumnOrder) {
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    WhlistObject *l = nullptr;
    lumek_memdb_whlist_exectl_load("/p", nullptr, "trusted", nullptr, -1, &l);
    lumek_memdb_whlist_exectl_load("/p", "program", "trusted", "H", 0, &l);
    lumek_memdb_whlist_exectl_load_special(&l);
    lumek_memdb_whlist_exectl_load_after_time(5, &l);
    lumek_memdb_whlist_exectl_get_lasted_sync_time();
    EXPECT_EQ(
        framework_calls("lumek_memdb_retrive"),
        (std::vector<std::string>{
            "lumek_memdb_retrive(10000, [c0 = 0, c1 = \"/p\", c2 = \"trusted\"])",
            "lumek_memdb_retrive(10000, [c0 = 0, c1 = \"/p\", c2 = \"trusted\", c3 = \"program\", c4 = 0, c5 "
            "= "
            "\"H\"])",
            "lumek_memdb_retrive(10000, [c0 = 0, c2 != \"verified\", c2 != \"original\", c2 != \"unknown\"])",
            "lumek_memdb_retrive(10000, [c0 = 0, c6 > 5])",
            "lumek_memdb_retrive(10000, [c0 = 9999])",
        }));
    EXPECT_EQ(l, nullptr);
}

TEST_F(Rtdb, RecordsAreReplacedLoadedAndTheSyncTimeKept) {
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_get_lasted_sync_time(), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_add(entry("/a", 0, 3)), 0);
    std::vector<int> t1, t2;
    records(&t1);
    EXPECT_EQ(lumek_memdb_whlist_exectl_add(entry("/a", 2, 6, 3)), 0);
    for (auto [p, label] :
         std::vector<std::pair<const char *, int>>{{"/b", 0}, {"/c", 4}, {"/d", 2}, {"/e", 1}})
        EXPECT_EQ(lumek_memdb_whlist_exectl_add(entry(p, 1, label)), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_update_lasted_sync_time(1234), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_update_lasted_sync_time(4321), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_get_lasted_sync_time(), 4321);
    EXPECT_EQ(records(&t2)[0], "0 /a script script 3 H");
    EXPECT_GE(t2[0], t1[0]);

    // A refused entry keeps the old record.
    EXPECT_EQ(lumek_memdb_whlist_exectl_add(entry("/b", 0, 7)), -3);
    EXPECT_EQ(log_lines().back(),
              "2|0|lumek_memdb_whlist_exectl_add|add data to rtdb failed: Invalid argument\\n");

    WhlistObject *l = nullptr;
    EXPECT_EQ(lumek_memdb_whlist_exectl_load(nullptr, nullptr, nullptr, nullptr, -1, &l), 0);
    EXPECT_EQ(paths(l), "/e:0;/d:0;/c:0;/b:0;/a:3;");
    EXPECT_EQ(lumek_memdb_whlist_exectl_load_special(&l), 0);
    EXPECT_EQ(paths(l), "/d:0;/a:3;");
    EXPECT_EQ(lumek_memdb_whlist_exectl_load(nullptr, "script", nullptr, nullptr, 3, &l), 0);
    EXPECT_EQ(paths(l), "/a:3;");
    EXPECT_EQ(lumek_memdb_whlist_exectl_load_after_time(t2[0] + 100000, &l), 0);
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(lumek_memdb_whlist_exectl_remove("/a"), 0);
    EXPECT_EQ(lumek_memdb_whlist_exectl_remove("/a"), 0);
    EXPECT_EQ(records().size(), 5u);  // four labels and the sync time

    EXPECT_EQ(
        std::vector<int>(
            {lumek_memdb_whlist_exectl_remove(nullptr), lumek_memdb_whlist_exectl_load_special(nullptr),
             lumek_memdb_whlist_exectl_load_after_time(0, nullptr),
             lumek_memdb_whlist_exectl_load(nullptr, nullptr, nullptr, nullptr, -1, nullptr),
             lumek_memdb_whlist_exectl_load_by_daemon(nullptr, nullptr, nullptr, nullptr, -1, nullptr)}),
        std::vector<int>(5, -1));
}

TEST_F(Rtdb, CreatedFromTheDaemonOrNotAtAll) {
    std::string prog = file("prog", "#!/bin/sh\n", "trusted"), other = file("other", "x", "verified");
    lumek_standin_set_protection(prog.c_str(), "readonly", 0);
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    auto recs = records();
    std::sort(recs.begin(), recs.end());
    EXPECT_EQ(recs, (std::vector<std::string>{"0 " + other + " verified other 0 " + md5_of(other),
                                              "0 " + prog + " trusted script 0 " + md5_of(prog)}));
    // The daemon answers the same records; the filters are applied here.
    WhlistObject *l = nullptr;
    EXPECT_EQ(lumek_memdb_whlist_exectl_load_by_daemon(nullptr, "script", "trusted", nullptr, 0, &l), 0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(std::vector<int>({l->writable, l->extra1, l->next == nullptr}), std::vector<int>({0, 1, 1}));
    lumek_whlist_objects_free(&l);

    ASSERT_EQ(lumek_memdb_whlist_delete(), 0);

    // Without a system bus the whitelist loads empty: an empty rtdb, not a failure.
    std::string saved = getenv("DBUS_SYSTEM_BUS_ADDRESS");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_EQ(lumek_memdb_whlist_create(), 0);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    EXPECT_EQ(lumek_test::take_lines(lumek_standin_memdb_databases(nullptr)),
              std::vector<std::string>{"10000 500 0 0,1,2,3,4,5,6"});
}

// A reply of another type from whoever owns the daemon's name.
TEST_F(Rtdb, WronglyTypedDaemonReplyIsRefused) {
    WhlistObject *l = nullptr;
    lumek_test::daemon_inject_reply("lumek_memdb_whlist_exectl_load", "(7,)");
    EXPECT_EQ(lumek_memdb_whlist_exectl_load_by_daemon(nullptr, nullptr, nullptr, nullptr, -1, &l), -1011);
    EXPECT_EQ(log_lines().back(),
              "2|0|lumek_memdb_whlist_exectl_load_by_daemon|lumek_memdb_whlist_exectl_load: the "
              "daemon's reply has type (i), not (a(sssssii))\\n");
    EXPECT_EQ(l, nullptr);
}

TEST_F(Rtdb, StatusRefresh) {
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    std::string gone = dir_ + "/gone", unknown = file("unknown", "x", "unknown"), sub = dir_ + "/sub";
    std::string trusted = file("trusted", "#!/bin/sh\n", "trusted");
    mkdir(sub.c_str(), 0755);
    lumek_standin_set_label(sub.c_str(), "trusted");
    ASSERT_EQ(lumek_memdb_whlist_exectl_add(entry("/one", 0, 2, 1)), 0);
    ASSERT_EQ(lumek_memdb_whlist_exectl_add(entry("/two", 0, 2, 1)), 0);
    // A duplicate of "/two" and a record whose type name the framework does not know.
    char *dup[] = {nullptr,
                   const_cast<char *>("/two"),
                   const_cast<char *>("parent"),
                   const_cast<char *>("library"),
                   nullptr,
                   const_cast<char *>("H2"),
                   nullptr};
    char *odd[] = {nullptr,
                   const_cast<char *>("/odd"),
                   const_cast<char *>("vordsw"),
                   const_cast<char *>("gadget"),
                   nullptr,
                   const_cast<char *>("H"),
                   nullptr};
    for (char **texts : {dup, odd}) {
        LumekStandinMemdbRecord r{7, {3, 5, 5, 5, 3, 5, 3}, {0, 0, 0, 0, 9, 0, 5}, {}};
        for (int c = 0; c < 7; ++c) r.text[c] = texts[c];
        ASSERT_EQ(lumek_standin_memdb_insert(kRtdb, &r), 0);
    }
    struct Case {
        std::string path;
        int want;
        std::string record;  // of the path afterwards ("" none)
    } cases[] = {
        {"/one", 0, "0 /one vordsw program 7 H"},
        {"/two", 0, "0 /two vordsw program 7 H"},  // the first delivered, once
        {"/odd", -2, "0 /odd vordsw gadget 9 H"},  // left as it was
        {gone, 0, ""},
        {unknown, 0, ""},
        {sub, 0, ""},
        {trusted, 0, "0 " + trusted + " trusted script 7 " + md5_of(trusted)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(lumek_memdb_whlist_exectl_update_status(c.path.c_str(), 7), c.want) << c.path;
        std::vector<std::string> mine;
        for (auto &r : records())
            if (r.rfind("0 " + c.path + " ", 0) == 0) mine.push_back(r);
        if (c.record.empty())
            EXPECT_TRUE(mine.empty()) << c.path;
        else
            EXPECT_EQ(mine, std::vector<std::string>{c.record}) << c.path;
    }
    // The record that cannot be rewritten and the directory that cannot be hashed say why.
    std::vector<std::string> said;
    for (auto &l : log_lines())
        if (l.find("|lumek_memdb_whlist_exectl_update_status|") != std::string::npos) said.push_back(l);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0],
              "2|0|lumek_memdb_whlist_exectl_update_status|/odd: add to rtdb failed: Invalid argument\\n");
    EXPECT_NE(said[1].find(sub + ": get file hash value failed: "), std::string::npos);
    EXPECT_EQ(lumek_memdb_whlist_exectl_update_status(nullptr, 1), -1);
}

}  // namespace
