// netctl program and package lists against the stand-in, with real files classified by
// the real libmagic.
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "scratch.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using lumek_test::fault;
using lumek_test::framework_calls;
using lumek_test::kernel_commands;
using lumek_test::list_entries;
using lumek_test::log_lines;
using lumek_test::take_texts;
using Lines = std::vector<std::string>;

namespace {

std::string find_libz() {
    glob_t g{};
    std::string found;
    if (glob("/usr/lib/*/libz.so.1", 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
    globfree(&g);
    return found;
}

class Netctl : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = scratch_.path();
        _uid = 0;
        std::string libz = find_libz();
        if (libz.empty()) GTEST_SKIP() << "no libz.so.1 to classify";
        fs::create_directories(p("tool.so.d"));
        fs::create_directories(p("lib"));
        for (const char *name : {"prog", "tool.so.d/prog", "tool.la"})
            fs::copy_file("/usr/bin/true", p(name));
        for (const char *name : {"lib/libz.so.1", "lib/libz.so", "plugin"}) fs::copy_file(libz, p(name));
        std::ofstream(p("script.sh")) << "#!/bin/sh\necho hi\n";
        chmod(p("script.sh").c_str(), 0755);
    }
    void TearDown() override { _uid = 0; }
    std::string p(const char *rel) const { return dir_ + "/" + rel; }

    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

TEST_F(Netctl, ProgramFileCheck) {
    struct Case {
        const char *rel;  // nullptr: the bare name "prog" from the working directory
        int result;
    } const cases[] = {
        {"prog", 0},                                    // a position-independent executable
        {"plugin", 0},                                  // a shared object whose name is not a library's
        {"lib/libz.so.1", -3},                          // versioned shared library
        {"lib/libz.so", -3},   {"tool.so.d/prog", -3},  // ".so." in a directory part
        {"tool.so.d", -3},                              // a directory
        {"tool.la", -3},       {"script.sh", -3},      {nullptr, 0},  // no "/": the whole path is the name
    };
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    for (const Case &c : cases) {
        std::string path = c.rel ? p(c.rel) : "prog";
        SCOPED_TRACE(path);
        ASSERT_EQ(lumek_standin_reset(), 0);
        EXPECT_EQ(vorda_netctl_list_add(1, path.c_str()), c.result);
        if (c.result == 0) {
            std::string name = path.substr(path.rfind('/') + 1);
            EXPECT_EQ(framework_calls("lumek_netctl_add"),
                      Lines{"lumek_netctl_add(0, \"" + path + "\", 1, \"" + name + "\", 0, 0)"});
            EXPECT_EQ(list_entries("netctl"), Lines{"0 1 " + path});
            EXPECT_EQ(kernel_commands().size(), 1u);
        } else {
            EXPECT_EQ(framework_calls(), Lines{"lumek_getstatus()"});  // the store is never asked
            EXPECT_EQ(log_lines(), Lines{"16|0|vorda_netctl_list_add|" + path + ": invalid file type\\n"});
        }
    }
    // libmagic reads its own MAGIC variable: a database that does not exist refuses every file.
    ASSERT_EQ(lumek_standin_reset(), 0);
    setenv("MAGIC", p("none.mgc").c_str(), 1);
    EXPECT_EQ(vorda_netctl_list_add(1, p("prog").c_str()), -3);
    unsetenv("MAGIC");
    Lines log = log_lines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("16|0|is_program_file|magic_load failed: ", 0), 0u) << log[0];
}

// The cookie a thread keeps is loaded again once its database file is replaced.
TEST_F(Netctl, ReplacedMagicDatabaseIsPickedUp) {
    const std::string db = p("magic"), prog = p("lumekprog");
    std::ofstream(prog) << "LUMEK-PROG\n";
    setenv("MAGIC", (p("none") + ":" + db).c_str(), 1);  // a missing entry first: the next one counts
    for (auto [mime, result] : {std::pair{"application/x-executable", 0},
                                {"text/x-lumek", -3},
                                {"application/x-pie-executable", 0}}) {
        SCOPED_TRACE(mime);
        std::ofstream(db + ".new") << "0\tstring\tLUMEK-PROG\tlumek test\n!:mime\t" << mime << "\n";
        fs::rename(db + ".new", db);
        EXPECT_EQ(vorda_netctl_list_add(1, prog.c_str()), result);
    }
    unsetenv("MAGIC");
    EXPECT_EQ(vorda_netctl_list_add(1, prog.c_str()), -3);  // the default database again
}

TEST_F(Netctl, ProgramListLifecycle) {
    const std::string prog = p("prog");
    int n = 77;
    // Nothing stored: NULL, the count untouched.
    EXPECT_EQ(vorda_netctl_list_get(1, &n), nullptr);
    EXPECT_EQ(n, 77);
    EXPECT_EQ(log_lines(), Lines{"16|0|vorda_netctl_list_get|netctl list[1] is null\\n"});

    // _uid never set: user 0. Adding again updates, with the kernel told both times.
    ASSERT_EQ(vorda_netctl_list_add(1, prog.c_str()), 0);
    ASSERT_EQ(vorda_netctl_list_add(2, prog.c_str()), 0);
    EXPECT_EQ(framework_calls("lumek_netctl_update"),
              Lines{"lumek_netctl_update(0, \"" + prog + "\", 2, \"prog\", 0, 0)"});
    Lines kernel = kernel_commands();
    ASSERT_EQ(kernel.size(), 2u);
    EXPECT_EQ(kernel[0].substr(0, 9), "netctl 1 ");
    EXPECT_EQ(kernel[1], kernel[0].substr(0, kernel[0].size() - 1) + "2");

    // Deleting in the other mode leaves the entry; reading the other mode finds nothing.
    EXPECT_EQ(vorda_netctl_list_del(1, prog.c_str()), 0);
    EXPECT_EQ(list_entries("netctl"), Lines{"0 2 " + prog});
    EXPECT_EQ(take_texts(vorda_netctl_list_get(1, &n), n), Lines{});
    EXPECT_EQ(n, 0);
    n = 77;
    EXPECT_EQ(vorda_netctl_list_get(3, &n), nullptr);
    EXPECT_EQ(n, 77);
    EXPECT_EQ(take_texts(vorda_netctl_list_get(2, &n), n), Lines{prog});

    ASSERT_EQ(vorda_netctl_list_del(2, prog.c_str()), 0);
    EXPECT_EQ(list_entries("netctl"), Lines{});
    EXPECT_EQ(kernel_commands().back(), "netctl 2 " + kernel[1].substr(9));

    // Another user's list.
    _uid = 1000;
    ASSERT_EQ(vorda_netctl_list_add(1, prog.c_str()), 0);
    EXPECT_EQ(list_entries("netctl"), Lines{"1000 1 " + prog});

    // A NULL count is refused before the framework is asked.
    ASSERT_EQ(lumek_standin_reset(), 0);
    EXPECT_EQ(vorda_netctl_list_get(1, nullptr), nullptr);
    EXPECT_EQ(framework_calls(), Lines{});
    EXPECT_EQ(log_lines(), Lines{"16|0|vorda_netctl_list_get|invalid parameters\\n"});
}

TEST_F(Netctl, PackageList) {
    const std::string full(128, 'a'), longer(200, 'b');
    int n = 0;
    ASSERT_EQ(vorda_netctl_pkg_list_add(1, ""), 0);  // passed to the framework as it is
    ASSERT_EQ(vorda_netctl_pkg_list_add(2, full.c_str()), 0);
    ASSERT_EQ(vorda_netctl_pkg_list_add(2, longer.c_str()), 0);
    ASSERT_EQ(vorda_netctl_pkg_list_add(1, longer.c_str()), 0);  // update
    // Names that fill the 128-byte field come back bounded.
    EXPECT_EQ(take_texts(vorda_netctl_pkg_list_get(1, &n), n), (Lines{"", longer.substr(0, 128)}));
    EXPECT_EQ(take_texts(vorda_netctl_pkg_list_get(2, &n), n), Lines{full});
    EXPECT_EQ(vorda_netctl_pkg_list_del(1, full.c_str()), 0);  // other mode: stays
    EXPECT_EQ(vorda_netctl_pkg_list_del(2, full.c_str()), 0);
    EXPECT_EQ(list_entries("netctl_pkg"), (Lines{"0 1 ", "0 1 " + longer}));
    EXPECT_EQ(kernel_commands(), Lines{});
    EXPECT_EQ(vorda_netctl_pkg_list_get(1, nullptr), nullptr);
    EXPECT_EQ(vorda_netctl_pkg_list_del(2, full.c_str()), 0);
    EXPECT_EQ(log_lines(),
              (Lines{"16|0|vorda_netctl_pkg_list_get|invalid parameters\\n",
                     "16|0|vorda_netctl_pkg_list_del|" + full + ": cannot find netctl data\\n"}));
    ASSERT_EQ(fault("lumek_netctl_pkg_remove", -8), 0);
    EXPECT_EQ(vorda_netctl_pkg_list_del(1, longer.c_str()), -3);
    EXPECT_EQ(log_lines().back(),
              "16|0|vorda_netctl_pkg_list_del|remove netctl data failed, uid = 0, pkg = " + longer +
                  ", mode = 1, ret = -8\\n");
    // A failed read with a count left behind is an empty list, count untouched.
    ASSERT_EQ(lumek_standin_reset(), 0);
    for (const char *f : {"lumek_netctl_pkg_read_all_data_with_uid", "lumek_netctl_read_all_data_with_uid"})
        ASSERT_EQ(fault(f, 2), 0);
    n = 9;
    EXPECT_EQ(vorda_netctl_pkg_list_get(2, &n), nullptr);
    EXPECT_EQ(vorda_netctl_list_get(1, &n), nullptr);
    EXPECT_EQ(n, 9);
    EXPECT_EQ(log_lines(), (Lines{"16|0|vorda_netctl_pkg_list_get|netctl list[2] is null\\n",
                                  "16|0|vorda_netctl_list_get|netctl list[1] is null\\n"}));
}

}  // namespace
