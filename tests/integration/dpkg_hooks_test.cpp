// The package manager's hooks against the stand-in and its memdb, with real files of every
// type and real data lists in a private mount namespace (on /mnt: "/tmp/" paths are never
// labelled by the package manager's tools).
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "namespaces.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;  // framework calls
using lumek_test::framework_calls;

namespace {

const std::string kBin = "/mnt/dh/bin/";

void write(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

bool build_tree() {
    if (mount("tmpfs", "/mnt", "tmpfs", 0, nullptr) != 0) return false;
    write(kBin + "run.sh", "#!/bin/sh\n");
    write(kBin + "notes", "plain\n");
    write(kBin + "README.md", "# readme\n");
    write("/mnt/dh/m.c", "int init_module(void){return 0;}\n");
    if (system(("cp /usr/bin/true " + kBin + "prog && cp /usr/bin/true " + kBin +
                "tool.c && cc -shared -fPIC -o " + kBin + "lib.so /mnt/dh/m.c && cc -c -o " + kBin +
                "mod.ko /mnt/dh/m.c && ln -s prog " + kBin + "link")
                   .c_str()) != 0)
        return false;
    write("/mnt/dh/data/trust_list", kBin + "lib.so\n" + kBin + "mod.ko\n");
    write("/mnt/dh/data/script_list", kBin + "run.sh\n");
    write("/mnt/dh/data/readonly_pkg_list", "\ndemo-ro\n");
    return lumek_test::bind_mount("/mnt/dh/data", "/usr/share/lumek-utils/data");
}

// The rtdb is made before the fork: a child must not share the parent's bus connection.
void in_tree(const std::function<void()> &fn) {
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    lumek_test::in_private_tree(build_tree, fn);
}

// The framework error the next call of @func fails with, returning @ret.
void fail_next(const char *func, int32_t code, int ret = -1) {
    LumekStandinFault f{1, ret, 0, 1, code, "obj", "refused"};
    lumek_standin_fault_set(func, &f);
}

// Files of the tree by name, and the array the hooks take.
struct Files {
    explicit Files(std::initializer_list<const char *> names) {
        for (auto n : names) full.push_back(kBin + n);
        for (auto &f : full) paths.push_back(f.c_str());
    }
    std::vector<std::string> full;
    std::vector<const char *> paths;
};

// A label record stored as it is, duplicates included.
void store_special(std::string path, std::string label) {
    LumekStandinMemdbRecord r{7, {3, 5, 5, 5, 3, 5, 3}, {0, 0, 0, 0, 0, 0, 1}, {}};
    r.text[1] = &path[0];
    r.text[2] = &label[0];
    r.text[3] = const_cast<char *>("other");
    r.text[5] = const_cast<char *>("H");
    EXPECT_EQ(lumek_standin_memdb_insert(10000, &r), 0);
}

std::string rec(const std::string &name, const char *label, int type = -1) {
    return "{\"" + kBin + name + "\", \"" + label + "\"" + (type < 0 ? "" : ", " + std::to_string(type)) +
           "}";
}

}  // namespace

TEST(DpkgHooks, SingleFile) {
    in_tree([] {
        // Other files and links are admitted "verified" as they are.
        for (auto [name, result, label] : {std::tuple{"README.md", 0, ""},
                                           {"notes", 0, "verified"},
                                           {"link", 0, "verified"},
                                           {"mod.ko", 0, "trusted"},
                                           {"gone", -2, ""}}) {
            EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg((kBin + name).c_str()), result) << name;
            EXPECT_EQ(lumek_test::take_text(lumek_standin_label((kBin + name).c_str())), label) << name;
        }
        // A plain data file goes through the single setter, not a batch.
        EXPECT_EQ(framework_calls("lumek_exectl_set")[0],
                  "lumek_exectl_set(\"" + kBin + "notes\", \"verified\")");
        EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg(nullptr), -2);
        ASSERT_EQ(lumek_test::fault("path_is_exist", 0), 0);  // only a negative answer means missing
        EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg((kBin + "notes").c_str()), 0);
        // The setter's own result is mapped, not its error record's code; the buffer stays.
        for (auto [ret, code, result] : {std::tuple{-1, -1002, -1}, {-1002, 0, 1}, {-1001, -1006, 1}}) {
            fail_next("lumek_exectl_set", code, ret);
            EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg((kBin + "notes").c_str()), result) << ret;
        }
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
    });
}

TEST(DpkgHooks, BatchKeepsTheRtdbSpecialLabels) {
    in_tree([] {
        // The trust list beats the rtdb; only "verified" records take the rtdb's label.
        store_special(kBin + "prog", "vordsw");
        store_special(kBin + "lib.so", "script");
        // Of two records for one path, the first in the loaded list (the last stored) counts.
        store_special(kBin + "notes", "parent");
        store_special(kBin + "notes", "vordsw");
        Files f{"README.md", "prog", "lib.so", "notes", "link", "mod.ko", "gone", "run.sh"};
        std::vector<const char *> &paths = f.paths;
        paths.insert(paths.begin() + 3, nullptr);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), static_cast<int32_t>(paths.size())),
                  6);
        EXPECT_EQ(framework_calls("lumek_exectl_multi_set_for_dpkg"),
                  Lines{"lumek_exectl_multi_set_for_dpkg(6, " + rec("prog", "vordsw", 0) + ", " +
                        rec("lib.so", "trusted", 1) + ", " + rec("notes", "vordsw", 4) + ", " +
                        rec("link", "verified", 5) + ", " + rec("mod.ko", "trusted", 3) + ", " +
                        rec("run.sh", "script", 2) + ")"});
        // The absolute path is asked once for the directory, and for the link on its own.
        EXPECT_EQ(framework_calls("get_absolute_path").size(), 2u);

        // Nothing left to label, or a count that is not above 0: no setter call.
        const char *skipped[] = {paths[0], paths[7], nullptr};
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(skipped, 3), 0);
        for (int32_t n : {0, -1, INT32_MIN})
            EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), n), -2);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(nullptr, 1), -2);
        for (auto [code, result] : {std::pair{-1001, -1}, {-1006, -3}}) {
            fail_next("lumek_exectl_multi_set_for_dpkg", code);
            EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), 2), result);
            EXPECT_STREQ(lumek_whlist_last_err(), "obj: refused\n");
        }
        // Without an rtdb nothing is labelled.
        ASSERT_EQ(lumek_memdb_whlist_delete(), 0);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), 2), -1);
        EXPECT_EQ(framework_calls("lumek_exectl_multi_set_for_dpkg").size(), 3u);
        EXPECT_EQ(lumek_test::log_lines().back(), "2|0|\\N|load whlist objects failed");
    });
}

TEST(DpkgHooks, ProtectionByPackageName) {
    in_tree([] {
        Files f{"prog", "lib.so", "run.sh", "mod.ko", "notes", "link", "README.md", "tool.c"};
        std::vector<const char *> &paths = f.paths;
        const int32_t n = static_cast<int32_t>(paths.size());
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro:amd64", paths.data(), n), 3);
        EXPECT_EQ(framework_calls("lumek_protect_multi_set"),
                  Lines{"lumek_protect_multi_set(3, " + rec("prog", "readonly") + ", " +
                        rec("lib.so", "readonly") + ", " + rec("mod.ko", "readonly") + ")"});
        fail_next("lumek_protect_multi_set", -1006);
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro", paths.data(), n), -3);
        EXPECT_STREQ(lumek_whlist_last_err(), "obj: refused\n");
        EXPECT_EQ(lumek_test::log_lines().back(), "2|0|\\N|obj: refused\\n");
        // Unlisted: -2 and the buffer as it was.
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg(nullptr, paths.data(), n), -1);
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
        for (const char *other : {"demo", "demo-ro-x", "", "x:demo-ro"})
            EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg(other, paths.data(), n), -2) << other;
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
        // Scripts only: no batch.
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro", &paths[2], 1), 0);
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro", paths.data(), -5), -1);
        EXPECT_EQ(framework_calls("lumek_protect_multi_set").size(), 2u);

        // Disabled: every hook succeeds without touching anything.
        lumek_standin_set_flag("status", 0);
        EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg(nullptr) +
                      lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), -1) +
                      lumek_whlist_protect_set_by_name_for_dpkg(nullptr, nullptr, 0),
                  0);
        EXPECT_EQ(framework_calls().back(), "lumek_getstatus()");
    });
}
