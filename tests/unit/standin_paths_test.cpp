// Path probes, lexical absolute paths and directory listings of the stand-in, on a real
// tree with links.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/framework.h"
#include "scratch.h"

namespace {

class Paths : public ::testing::Test {
  protected:
    // A tree: t/{b.txt, a/{z, y}, link-to-a -> a, link-to-file -> b.txt, empty/}
    void SetUp() override {
        dir_ = scratch_.path();
        for (const char *d : {"t", "t/a", "t/empty"}) ASSERT_EQ(mkdir(p(d).c_str(), 0755), 0);
        for (const char *f : {"t/b.txt", "t/a/z", "t/a/y"}) std::ofstream(p(f)) << "x";
        ASSERT_EQ(symlink("a", p("t/link-to-a").c_str()), 0);
        ASSERT_EQ(symlink("b.txt", p("t/link-to-file").c_str()), 0);
    }

    std::string p(const std::string &rel) const { return dir_ + "/" + rel; }
    const char *c(const std::string &rel) {
        held_ = p(rel);
        return held_.c_str();
    }

    // A listing of @rel, each entry relative to "t/" (a full path must start with it), joined
    // by spaces; on failure, what is left in the count.
    std::string list(char **(*fn)(const char *, int *), const std::string &rel) {
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
    }

    lumek_test::ScratchDir scratch_;
    std::string dir_, held_;
};

std::string absolute(const char *in) {
    char *out = get_absolute_path(in);
    if (!out) return "<null, errno " + std::to_string(errno) + ">";
    std::string s = out;
    free(out);
    return s;
}

TEST_F(Paths, AbsolutePathIsLexicalAndKeepsLinks) {
    ASSERT_EQ(symlink("/usr", p("l").c_str()), 0);
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
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
        {"", "<null, errno " + std::to_string(EINVAL) + ">"},
        {nullptr, "<null, errno " + std::to_string(EINVAL) + ">"},
    };
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_EQ(absolute(c.in), c.out) << (c.in ? c.in : "NULL");
    }
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
}

TEST_F(Paths, ProbesOnARealTree) {
    ASSERT_EQ(symlink("/nonexistent", p("t/dangling").c_str()), 0);
    ASSERT_EQ(link(p("t/b.txt").c_str(), p("t/hard").c_str()), 0);
    EXPECT_EQ(path_is_exist(c("t/b.txt")), 1);
    EXPECT_EQ(path_is_exist(c("t/dangling")), 1);  // the link itself exists
    EXPECT_LT(path_is_exist(c("t/missing")), 0);
    EXPECT_EQ(path_is_dir(c("t")), 1);
    EXPECT_EQ(path_is_dir(c("t/b.txt")), 0);
    EXPECT_EQ(path_is_dir(c("t/missing")), 0);  // callers treat non-zero as "dir"
    EXPECT_NE(path_is_link(c("t/link-to-a")), 0);
    EXPECT_EQ(path_is_link(c("t/a")), 0);
    EXPECT_EQ(path_is_link(c("t/missing")), 0);
    EXPECT_EQ(path_is_reg(c("t/b.txt")), 1);
    EXPECT_EQ(path_is_reg(c("t/a")), 0);
    std::string b = p("t/b.txt"), z = p("t/a/z");
    EXPECT_EQ(path_is_same(b.c_str(), c("t/hard")), 1);  // by device and inode
    EXPECT_EQ(path_is_same(c("t/link-to-a"), p("t/a").c_str()), 1);
    EXPECT_EQ(path_is_same(z.c_str(), c("t/a/y")), 0);
    EXPECT_EQ(path_is_same(z.c_str(), c("t/missing")), 0);

    EXPECT_LT(path_is_exist(nullptr), 0);
    EXPECT_EQ(path_is_dir(nullptr) | path_is_link(nullptr) | path_is_reg(nullptr), 0);
    EXPECT_EQ(path_is_same(nullptr, "/"), 0);
}

TEST_F(Paths, ListingsAreSortedFullPathsWithoutFollowingLinks) {
    EXPECT_EQ(list(get_file_list_from_dir, "t"), "a/y a/z b.txt");  // regular files below
    EXPECT_EQ(list(get_dir_list, "t/"), "a b.txt empty link-to-a link-to-file");
    EXPECT_EQ(list(get_path_list_from_dir, "t"), "a a/y a/z b.txt empty link-to-a link-to-file");
    EXPECT_EQ(list(get_path_list_from_dir, "t/empty"), "");  // a successful empty list
    EXPECT_EQ(list(get_dir_list, "t/missing"), "<null, count 7>");
    EXPECT_EQ(list(get_file_list_from_dir, "t/b.txt"), "<null, count 7>");
    int n = 7;
    EXPECT_EQ(get_dir_list(nullptr, &n), nullptr);
    EXPECT_EQ(get_dir_list(p("t").c_str(), nullptr), nullptr);
}

}  // namespace
