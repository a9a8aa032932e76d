// Labels, protection and module sets of the stand-in: kept by path in the shared state,
// read back by other processes, batches read at their exact stride.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/framework.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

class Labels : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = scratch_.path();
        std::ofstream(p("prog")) << "x";
        std::ofstream(p("lib")) << "x";
    }

    std::string p(const char *rel) const { return dir_ + "/" + rel; }

    static std::string label_of(const std::string &path) {
        return lumek_test::take_text(lumek_standin_label(path.c_str()));
    }
    static std::string protection_of(const std::string &path, int sm) {
        return lumek_test::take_text(lumek_standin_protection(path.c_str(), sm));
    }

    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

void fill(MarkRecord &r, const std::string &path, const char *label) {
    memset(&r, 0, sizeof r);
    strncpy(r.path, path.c_str(), sizeof r.path - 1);
    strncpy(r.label, label, sizeof r.label - 1);
}

TEST_F(Labels, GetTellsMissingFromUnlabelled) {
    char *l = nullptr;
    errno = 0;
    EXPECT_EQ(lumek_exectl_get(p("missing").c_str(), &l), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(lumek_exectl_get(p("prog").c_str(), &l), -1);
    EXPECT_EQ(errno, ENODATA);
    ASSERT_EQ(lumek_exectl_set(p("prog").c_str(), "trusted"), 0);
    ASSERT_EQ(lumek_exectl_get(p("prog").c_str(), &l), 0);
    EXPECT_EQ(lumek_test::take_text(l), "trusted");
}

TEST_F(Labels, MissingPathsCanBeLabelledAndAreKeyedLexically) {
    ASSERT_EQ(lumek_exectl_set(p("gone/../later").c_str(), "unknown"), 0);
    EXPECT_EQ(label_of(p("later")), "unknown");
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(lumek_exectl_set("./prog", "vordsw"), 0);
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(label_of(p("prog")), "vordsw");
}

TEST_F(Labels, ConcurrentProcessesShareTheStateAndLoseNoWrite) {
    ASSERT_EQ(lumek_exectl_set(p("lib").c_str(), "verified"), 0);  // the parent's store is open before fork
    constexpr int kProcs = 4, kEach = 50;
    std::vector<pid_t> kids;
    for (int k = 0; k < kProcs; ++k) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int i = 0; i < kEach; ++i)
                bad +=
                    lumek_exectl_set(p(("c" + std::to_string(k) + "-" + std::to_string(i)).c_str()).c_str(),
                                     "trusted") != 0;
            _exit(bad ? 1 : 0);
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int st = 0;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    EXPECT_EQ(lumek_standin_call_count("lumek_exectl_set"), 1 + kProcs * kEach);
    for (int k = 0; k < kProcs; ++k)
        EXPECT_EQ(label_of(p(("c" + std::to_string(k) + "-0").c_str())), "trusted");
    EXPECT_EQ(label_of(p("c3-49")), "trusted");
}

TEST_F(Labels, InvalidTextSetsTheErrorRecordAndStoresNothing) {
    EXPECT_EQ(lumek_exectl_set(p("prog").c_str(), "Verified"), -1006);
    LumekErrorRecord *e = lumek_get_error();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->code, -1006);
    EXPECT_EQ(std::string(e->object), p("prog"));
    EXPECT_STRNE(e->message, "");
    EXPECT_EQ(label_of(p("prog")), "");
    EXPECT_EQ(lumek_protect_set(p("prog").c_str(), "verified"), -1006);  // not a protection text
    EXPECT_EQ(lumek_get_error()->code, -1006);
}

TEST_F(Labels, BatchesAreReadAtTheirStrideAllOrNothing) {
    std::vector<MarkRecord> recs(3);
    fill(recs[0], p("prog"), "trusted");
    fill(recs[1], "", "verified");  // an all-empty path is skipped
    fill(recs[2], p("lib"), "verified");
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 3), 2);  // positive: records applied
    EXPECT_EQ(label_of(p("prog")), "trusted");
    EXPECT_EQ(label_of(p("lib")), "verified");

    fill(recs[0], p("a"), "trusted");
    fill(recs[1], p("b"), "bogus");
    fill(recs[2], p("c"), "verified");
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 3), -1006);
    EXPECT_EQ(std::string(lumek_get_error()->object), p("b"));
    EXPECT_EQ(label_of(p("a")), "");
    EXPECT_EQ(label_of(p("c")), "");
    // A label that fills its 32 bytes with no NUL is read bounded, never past the field.
    memset(recs[0].label, 'v', sizeof recs[0].label);
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 1), -1006);
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 0), 0);
    EXPECT_LT(lumek_exectl_multi_set(recs.data(), -1), 0);
    EXPECT_LT(lumek_exectl_multi_set(nullptr, 2), 0);

    std::vector<TypedMarkRecord> typed(3);
    memset(typed.data(), 0, typed.size() * sizeof typed[0]);
    const char *names[] = {"prog", "lib", "missing"}, *labels[] = {"verified", "original", "script"};
    for (int i = 0; i < 3; ++i) {
        strcpy(typed[i].path, p(names[i]).c_str());
        strcpy(typed[i].label, labels[i]);
        typed[i].file_type = i;
    }
    EXPECT_EQ(lumek_exectl_multi_set_for_dpkg(typed.data(), 3), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(label_of(p(names[i])), labels[i]);
    auto calls = lumek_test::framework_calls("lumek_exectl_multi_set_for_dpkg");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find("\"original\", 1}"), std::string::npos) << calls[0];
}

TEST_F(Labels, ProtectionAndModuleSetsAreSeparateForSm) {
    ASSERT_EQ(lumek_protect_set(p("prog").c_str(), "readonly"), 0);
    ASSERT_EQ(lumek_protect_set_sm(p("prog").c_str(), "none"), 0);
    MarkRecord r;
    fill(r, p("lib"), "readonly");
    EXPECT_EQ(lumek_protect_multi_set_sm(&r, 1), 1);
    EXPECT_EQ(protection_of(p("prog"), 0), "readonly");
    EXPECT_EQ(protection_of(p("prog"), 1), "none");
    EXPECT_EQ(protection_of(p("lib"), 1), "readonly");
    EXPECT_EQ(protection_of(p("lib"), 0), "");

    EXPECT_EQ(add_to_kmod_protect("ext4"), 0);
    EXPECT_EQ(add_to_kmod_protect("ext4"), 0);
    EXPECT_EQ(add_to_kmod_protect_sm("nfs"), 0);
    EXPECT_EQ(lumek_standin_kmod_protected("ext4", 0), 1);
    EXPECT_EQ(lumek_standin_kmod_protected("ext4", 1), 0);
    EXPECT_EQ(lumek_standin_kmod_protected("nfs", 1), 1);
    EXPECT_EQ(remove_from_kmod_protect("ext4"), 0);
    EXPECT_EQ(remove_from_kmod_protect("never-added"), 0);
    EXPECT_EQ(lumek_standin_kmod_protected("ext4", 0), 0);
}

}  // namespace
