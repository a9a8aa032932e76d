// The stand-in's files: labels and protection kept by path in the shared state
// (read back by other processes, batches read at their exact stride), path probes, lexical
// absolute paths, listings and file classification on a real tree with links. ELF files are
// classified in the library's dpkg-hook and labelling tests, hostile headers by the fuzz target.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/framework.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

class Files : public ::testing::Test {
  protected:
    // prog, lib and a tree: t/{b.txt, a/{z, y}, link-to-a -> a, link-to-file -> b.txt, empty/}
    void SetUp() override {
        dir_ = scratch_.path();
        for (const char *d : {"t", "t/a", "t/empty"}) ASSERT_EQ(mkdir(p(d).c_str(), 0755), 0);
        for (const char *f : {"prog", "lib", "t/b.txt", "t/a/z", "t/a/y"}) std::ofstream(p(f)) << "x";
        ASSERT_EQ(symlink("a", p("t/link-to-a").c_str()), 0);
        ASSERT_EQ(symlink("b.txt", p("t/link-to-file").c_str()), 0);
    }
    std::string p(const std::string &rel) const { return dir_ + "/" + rel; }
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

TEST_F(Files, LabelsAreKeptByLexicalPathAndInvalidTextStoresNothing) {
    char *l = nullptr;
    EXPECT_EQ(lumek_exectl_get(p("prog").c_str(), &l), -1);                 // unlabelled
    ASSERT_EQ(lumek_exectl_set(p("gone/../later").c_str(), "unknown"), 0);  // missing is fine
    EXPECT_EQ(label_of(p("later")), "unknown");
    ASSERT_EQ(lumek_exectl_set(p("prog").c_str(), "vordsw"), 0);
    ASSERT_EQ(lumek_exectl_get(p("prog").c_str(), &l), 0);
    EXPECT_EQ(lumek_test::take_text(l), "vordsw");

    EXPECT_EQ(lumek_exectl_set(p("lib").c_str(), "Verified"), -1006);
    LumekErrorRecord *e = lumek_get_error();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->code, -1006);
    EXPECT_EQ(std::string(e->object), p("lib"));
    EXPECT_STRNE(e->message, "");
    EXPECT_EQ(label_of(p("lib")), "");
    EXPECT_EQ(lumek_protect_set(p("prog").c_str(), "verified"), -1006);  // not a protection text
}

TEST_F(Files, ConcurrentProcessesShareTheStateAndLoseNoWrite) {
    ASSERT_EQ(lumek_exectl_set(p("lib").c_str(), "verified"), 0);  // the parent's store is open before fork
    constexpr int kProcs = 4, kEach = 50;
    std::vector<pid_t> kids;
    for (int k = 0; k < kProcs; ++k) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int i = 0; i < kEach; ++i)
                bad += lumek_exectl_set(p("c" + std::to_string(k) + "-" + std::to_string(i)).c_str(),
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
    for (const char *name : {"c0-0", "c1-0", "c2-0", "c3-49"})
        EXPECT_EQ(label_of(p(name)), "trusted") << name;
}

TEST_F(Files, BatchesAreReadAtTheirStrideAllOrNothing) {
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
    EXPECT_EQ(label_of(p("a")) + label_of(p("c")), "");
    // A label that fills its 32 bytes with no NUL is read bounded, never past the field.
    memset(recs[0].label, 'v', sizeof recs[0].label);
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 1), -1006);
    EXPECT_EQ(lumek_exectl_multi_set(recs.data(), 0), 0);
}

TEST_F(Files, ProtectionIsSeparateForSm) {
    ASSERT_EQ(lumek_protect_set(p("prog").c_str(), "readonly"), 0);
    ASSERT_EQ(lumek_protect_set_sm(p("prog").c_str(), "none"), 0);
    MarkRecord r;
    fill(r, p("lib"), "readonly");
    EXPECT_EQ(lumek_protect_multi_set_sm(&r, 1), 1);
    EXPECT_EQ(protection_of(p("prog"), 0) + "," + protection_of(p("prog"), 1), "readonly,none");
    EXPECT_EQ(protection_of(p("lib"), 0) + "," + protection_of(p("lib"), 1), ",readonly");
}

std::string absolute(const char *in) {
    char *out = get_absolute_path(in);
    if (!out) return "<null, errno " + std::to_string(errno) + ">";
    std::string s = out;
    free(out);
    return s;
}

TEST_F(Files, AbsolutePathIsLexicalAndKeepsLinks) {
    ASSERT_EQ(symlink("/usr", p("l").c_str()), 0);
    const std::string einval = "<null, errno " + std::to_string(EINVAL) + ">";
    const struct {
        const char *in;
        std::string out;
    } cases[] = {
        {"/usr//lib/./x/../y", "/usr/lib/y"},
        {"/../..", "/"},
        {"/a/b/", "/a/b"},
        {"/nonexistent/dir/../file", "/nonexistent/file"},  // missing is fine
        {"l/bin", p("l/bin")},                              // links are not resolved
        {"x/./y", p("x/y")},
        {"q/../../r", dir_.substr(0, dir_.rfind('/')) + "/r"},
        {"", einval},
        {nullptr, einval},
    };
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_EQ(absolute(c.in), c.out) << (c.in ? c.in : "NULL");
    }
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
}

TEST_F(Files, ProbesAndTypesOnARealTree) {
    std::ofstream(p("t/run.sh")) << "#!/bin/sh\necho hi\n";
    std::ofstream(p("t/zero"));
    std::ofstream(p("t/fake.so")) << "\x7f"
                                     "ELF";  // magic only: a truncated header
    ASSERT_EQ(mkfifo(p("t/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/nonexistent", p("t/dangling").c_str()), 0);
    ASSERT_EQ(link(p("t/b.txt").c_str(), p("t/hard").c_str()), 0);
    // exist, dir, link (0/1), reg, the last two following links as callers expect; then the
    // file type: 2 script, 4 other, 5 link (never followed), -1 any failure (a FIFO must not block).
    const struct {
        const char *rel, *want;
    } cases[] = {
        {"t/b.txt", "1 0 0 1 4"},     {"t/run.sh", "1 0 0 1 2"},    {"t/zero", "1 0 0 1 4"},
        {"t/fake.so", "1 0 0 1 4"},   {"t/link-to-a", "1 1 1 0 5"}, {"t/link-to-file", "1 0 1 1 5"},
        {"t/dangling", "1 0 1 0 5"},  {"t", "1 1 0 0 -1"},          {"t/fifo", "1 0 0 0 -1"},
        {"t/missing", "-1 0 0 0 -1"},
    };
    auto sign = [](int v) { return std::to_string(v < 0 ? -1 : v); };
    for (const auto &c : cases) {
        std::string s = p(c.rel);
        const char *f = s.c_str();
        EXPECT_EQ(sign(path_is_exist(f)) + " " + sign(path_is_dir(f)) + " " + sign(path_is_link(f) != 0) +
                      " " + sign(path_is_reg(f)) + " " + sign(parse_file_type(f)),
                  c.want)
            << c.rel;
    }
    std::string b = p("t/b.txt"), z = p("t/a/z");
    EXPECT_EQ(path_is_same(b.c_str(), p("t/hard").c_str()), 1);  // by device and inode
    EXPECT_EQ(path_is_same(p("t/link-to-a").c_str(), p("t/a").c_str()), 1);
    EXPECT_EQ(path_is_same(z.c_str(), p("t/a/y").c_str()), 0);
    EXPECT_EQ(path_is_same(z.c_str(), p("t/missing").c_str()), 0);
    EXPECT_LT(path_is_exist(nullptr), 0);
    EXPECT_LT(parse_file_type(nullptr), 0);
    EXPECT_EQ(
        path_is_dir(nullptr) | path_is_link(nullptr) | path_is_reg(nullptr) | path_is_same(nullptr, "/"), 0);
    const char *names[] = {"program", "library", "script", "kmodule", "other", "link"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(trans_type_str_2_type(names[i]), i) << names[i];
    for (const char *bad : {"Program", "programs", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(trans_type_str_2_type(bad), -1) << (bad ? bad : "NULL");
}
TEST_F(Files, ListingsAreSortedFullPathsWithoutFollowingLinks) {
    // Entries relative to "t/" (a full path must start with it); on failure, the count left.
    auto list = [&](char **(*fn)(const char *, int *), const std::string &rel) {
        int n = 7;
        char **arr = fn(p(rel).c_str(), &n);
        if (!arr) return "<null, count " + std::to_string(n) + ">";
        std::string out, prefix = p("t/");
        for (int i = 0; i < n; ++i) {
            std::string e = arr[i];
            out += (i ? " " : "") + (e.rfind(prefix, 0) == 0 ? e.substr(prefix.size()) : e);
            free(arr[i]);
        }
        free(arr);
        return out;
    };
    EXPECT_EQ(list(get_file_list_from_dir, "t"), "a/y a/z b.txt");  // regular files below
    EXPECT_EQ(list(get_dir_list, "t/"), "a b.txt empty link-to-a link-to-file");
    EXPECT_EQ(list(get_path_list_from_dir, "t"), "a a/y a/z b.txt empty link-to-a link-to-file");
    EXPECT_EQ(list(get_path_list_from_dir, "t/empty"), "");  // a successful empty list
    EXPECT_EQ(list(get_dir_list, "t/missing"), "<null, count 7>");
    EXPECT_EQ(list(get_file_list_from_dir, "t/b.txt"), "<null, count 7>");
}

}  // namespace
