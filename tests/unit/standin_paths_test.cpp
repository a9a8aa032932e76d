// Path probes, lexical absolute paths and directory listings of the stand-in, on a real
// tree with links.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/spawn.h"
#include "core/framework.h"
#include "scratch.h"

namespace {

class Paths : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = scratch_.path(); }

    std::string p(const std::string &rel) const { return dir_ + "/" + rel; }
    void file(const std::string &rel) const { std::ofstream(p(rel)) << "x"; }
    void mkdirs(const std::string &rel) const { ASSERT_EQ(mkdir(p(rel).c_str(), 0755), 0); }

    // A tree: t/{b.txt, a/{z, y}, link-to-a -> a, link-to-file -> b.txt, empty/}
    std::string tree() {
        mkdirs("t");
        mkdirs("t/a");
        mkdirs("t/empty");
        file("t/b.txt");
        file("t/a/z");
        file("t/a/y");
        EXPECT_EQ(symlink("a", p("t/link-to-a").c_str()), 0);
        EXPECT_EQ(symlink("b.txt", p("t/link-to-file").c_str()), 0);
        return p("t");
    }

    static std::vector<std::string> take(char **arr, int n) {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) {
            out.push_back(arr[i]);
            free(arr[i]);
        }
        free(arr);
        return out;
    }

    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

std::string absolute(const char *in) {
    char *out = get_absolute_path(in);
    if (!out) return "<null>";
    std::string s = out;
    free(out);
    return s;
}

TEST_F(Paths, AbsolutePathIsLexicalAndKeepsLinks) {
    EXPECT_EQ(absolute("/usr//lib/./x/../y"), "/usr/lib/y");
    EXPECT_EQ(absolute("/../.."), "/");
    EXPECT_EQ(absolute("/a/b/"), "/a/b");
    EXPECT_EQ(absolute("/nonexistent/dir/../file"), "/nonexistent/file");  // missing is fine

    ASSERT_EQ(symlink("/usr", p("l").c_str()), 0);
    EXPECT_EQ(absolute(p("l/bin").c_str()), p("l/bin"));  // links are not resolved

    ASSERT_EQ(chdir(dir_.c_str()), 0);
    EXPECT_EQ(absolute("x/./y"), p("x/y"));
    EXPECT_EQ(absolute("./q"), p("q"));
    EXPECT_EQ(absolute("q/../../r"), dir_.substr(0, dir_.rfind('/')) + "/r");
}

TEST_F(Paths, AbsolutePathRefusesNullAndEmpty) {
    errno = 0;
    EXPECT_EQ(get_absolute_path(nullptr), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(get_absolute_path(""), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(Paths, ProbesAnswerNullSafely) {
    EXPECT_LT(path_is_exist(nullptr), 0);
    EXPECT_EQ(path_is_dir(nullptr), 0);
    EXPECT_EQ(path_is_link(nullptr), 0);
    EXPECT_EQ(path_is_reg(nullptr), 0);
    EXPECT_EQ(path_is_same(nullptr, "/"), 0);
}

TEST_F(Paths, ProbesOnARealTree) {
    std::string t = tree();
    ASSERT_EQ(symlink("/nonexistent", p("t/dangling").c_str()), 0);

    EXPECT_EQ(path_is_exist(p("t/b.txt").c_str()), 1);
    EXPECT_EQ(path_is_exist(p("t/dangling").c_str()), 1);  // the link itself exists
    EXPECT_LT(path_is_exist(p("t/missing").c_str()), 0);

    EXPECT_EQ(path_is_dir(t.c_str()), 1);
    EXPECT_EQ(path_is_dir(p("t/b.txt").c_str()), 0);
    EXPECT_EQ(path_is_dir(p("t/missing").c_str()), 0);  // callers treat non-zero as "dir"

    EXPECT_NE(path_is_link(p("t/link-to-a").c_str()), 0);
    EXPECT_EQ(path_is_link(p("t/a").c_str()), 0);
    EXPECT_EQ(path_is_link(p("t/missing").c_str()), 0);

    EXPECT_EQ(path_is_reg(p("t/b.txt").c_str()), 1);
    EXPECT_EQ(path_is_reg(p("t/a").c_str()), 0);
}

TEST_F(Paths, SameFileByDeviceAndInode) {
    std::string t = tree();
    ASSERT_EQ(link(p("t/b.txt").c_str(), p("t/hard").c_str()), 0);
    EXPECT_EQ(path_is_same(p("t/b.txt").c_str(), p("t/hard").c_str()), 1);
    EXPECT_EQ(path_is_same(p("t/a").c_str(), p("t/link-to-a").c_str()), 1);
    EXPECT_EQ(path_is_same(p("t/a/z").c_str(), p("t/a/y").c_str()), 0);
    EXPECT_EQ(path_is_same(p("t/a/z").c_str(), p("t/missing").c_str()), 0);
}

TEST_F(Paths, FileListHoldsRegularFilesBelowSorted) {
    std::string t = tree();
    int n = -1;
    char **arr = get_file_list_from_dir(t.c_str(), &n);
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(take(arr, n), (std::vector<std::string>{p("t/a/y"), p("t/a/z"), p("t/b.txt")}));
}

TEST_F(Paths, DirListHoldsOneLevelAsFullPaths) {
    std::string t = tree();
    int n = -1;
    char **arr = get_dir_list((t + "/").c_str(), &n);
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(take(arr, n), (std::vector<std::string>{p("t/a"), p("t/b.txt"), p("t/empty"), p("t/link-to-a"),
                                                      p("t/link-to-file")}));
}

TEST_F(Paths, PathListHoldsEverythingBelowWithoutFollowingLinks) {
    std::string t = tree();
    int n = -1;
    char **arr = get_path_list_from_dir(t.c_str(), &n);
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(take(arr, n), (std::vector<std::string>{p("t/a"), p("t/a/y"), p("t/a/z"), p("t/b.txt"),
                                                      p("t/empty"), p("t/link-to-a"), p("t/link-to-file")}));
}

TEST_F(Paths, ListingsOfEmptyMissingAndNonDirectories) {
    tree();
    int n = -1;
    char **arr = get_path_list_from_dir(p("t/empty").c_str(), &n);
    ASSERT_NE(arr, nullptr);  // an empty directory is a successful empty list
    EXPECT_EQ(n, 0);
    free(arr);

    n = 7;
    EXPECT_EQ(get_dir_list(p("t/missing").c_str(), &n), nullptr);
    EXPECT_EQ(get_file_list_from_dir(p("t/b.txt").c_str(), &n), nullptr);
    EXPECT_EQ(n, 7);  // untouched on failure
    EXPECT_EQ(get_dir_list(nullptr, &n), nullptr);
    EXPECT_EQ(get_dir_list(p("t").c_str(), nullptr), nullptr);
}

}  // namespace
