// Shared resources, users' private directories, application lists and kid network control
// against the stand-in, with fixture users, homes on a tmpfs and a fixture package database.
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "namespaces.h"
#include "scratch.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using namespace lumek_test;
using Lines = std::vector<std::string>;

namespace {

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

bool has(const Lines &lines, const std::string &text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class KidRes : public ::testing::Test {
  protected:
    void SetUp() override {
        w_ = scratch_.path();
        fs::create_directories(w_ + "/dpkg/info");
        fs::create_directories(w_ + "/dir/sub");
        fs::copy_file("/bin/true", w_ + "/netprog");
        fs::copy_file("/bin/true", w_ + "/otherprog");
        write_file(w_ + "/dir/sub/f", "x");
        write_file(w_ + "/notes", "text");
        std::string st;
        for (const char *p : {"demo-app", "net-app", "text-app"})
            st += std::string("Package: ") + p +
                  "\nStatus: install ok installed\nMaintainer: t\nArchitecture: all\nVersion: "
                  "1\nDescription: d\n\n";
        write_file(w_ + "/dpkg/status", st);
        write_file(w_ + "/dpkg/info/net-app.list", w_ + "/netprog\n" + w_ + "/notes\n" + w_ + "/otherprog\n");
        write_file(w_ + "/dpkg/info/text-app.list", w_ + "/notes\n");
        write_file(w_ + "/passwd",
                   "root:x:0:0::/root:/bin/sh\nalice:x:1234:1234::/home/alice:/bin/sh\n"
                   "eve:x:1300:1300::/home/linked:/bin/sh\nal:x:1400:1400::/home/al:/bin/sh\n");
    }

    // @fn runs with fixture users, homes on a tmpfs and the fixture package database.
    void with_fixtures(const std::function<void()> &fn) {
        int st = run_in_namespaces(CLONE_NEWNS, [&] {
            if (mount("tmpfs", "/home", "tmpfs", 0, "mode=755") != 0 ||
                !bind_mount((w_ + "/dpkg").c_str(), "/var/lib/dpkg") ||
                !bind_mount((w_ + "/passwd").c_str(), "/etc/passwd"))
                return 2;
            for (const char *d : {"/home/alice/docs/sub", "/home/alice/music", "/home/alice/pics",
                                  "/home/bob/x", "/home/al/docs"})
                fs::create_directories(d);
            write_file("/home/alice/docs/a.txt", "a");
            write_file("/home/alice/file.txt", "f");
            write_file("/home/alice/pics/p", "p");
            fs::create_symlink("/etc", "/home/alice/etc");
            fs::create_symlink("/etc", "/home/linked");
            fs::create_symlink(w_ + "/dir", "/home/alice/docs/out");  // never walked, not even
            fs::create_symlink(w_ + "/dir", "/home/alice/outlink");   // when it carries the kid
            fn();
            return 0;
        });
        LUMEK_SKIP_IF_REFUSED(st);
        EXPECT_EQ(st, 0);
    }

    ScratchDir scratch_;
    std::string w_;
};

TEST_F(KidRes, SharedResourcesAndTheirList) {
    const std::string dir = w_ + "/dir";
    EXPECT_EQ(lumek_kid_whlist_add_res(0, 7, (dir + "/./").c_str()), 0);
    EXPECT_EQ(list_entries("kid_res"), Lines{"999 2 " + dir});
    EXPECT_EQ(list_entries("kid_file"), Lines{"999 " + dir});  // the directory only
    EXPECT_EQ(lumek_kid_whlist_remove_res(0, 0, dir.c_str()), 0);
    EXPECT_EQ(list_entries("kid_res"), Lines{});
    EXPECT_EQ(list_entries("kid_file"), Lines{});

    ASSERT_EQ(lumek_standin_reset(), 0);
    EXPECT_EQ(lumek_kid_whlist_add_res(3, 0, "rel"), -1007);
    EXPECT_EQ(log_lines(), Lines{"2|0|lumek_kid_whlist_add_res|kid_type = 3, type = 0, path = rel"});
    EXPECT_EQ(lumek_standin_call_count("get_absolute_path"), 1);
    ASSERT_EQ(lumek_standin_reset(), 0);
    EXPECT_EQ(lumek_kid_whlist_remove_res(3, 0, "rel"), -1007);
    EXPECT_EQ(framework_calls(), Lines{});

    ASSERT_EQ(lumek_standin_kid_add_res(500, 1, "/odd", nullptr), 0);  // resource type 1: never listed
    ASSERT_EQ(lumek_standin_kid_add_res(20000, 2, dir.c_str(), nullptr), 0);
    ASSERT_EQ(lumek_kid_whlist_add_res(1, 0, (w_ + "/missing").c_str()), 0);  // recorded, no kid
    KidResEntry *items = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(lumek_kid_whlist_load_res_list_v2(5, 0, &items, &n), 0);
    Lines got;
    for (uint32_t i = 0; i < n; ++i)
        got.push_back(std::to_string(items[i].kid_type) + " " + std::to_string(items[i].res_type) + " " +
                      items[i].path);
    free(items);
    EXPECT_EQ(got, (Lines{"5 0 " + w_ + "/missing", "5 2 " + dir}));
}

TEST_F(KidRes, PrivateDirectoriesComeAndGo) {
    with_fixtures([&] {
        ASSERT_EQ(lumek_standin_kid_add_info(10001, "viewer", "demo-app", 3), 0);
        ASSERT_EQ(lumek_standin_kid_add_info(10002, "player", "demo-app", 3), 0);
        // Refused before any change: a file, two levels down, no such user, and every way
        // of naming a place outside a home.
        for (const char *p :
             {"/home/alice/file.txt", "/home/alice/docs/sub", "/home/bob/x", "/home/alice/docs/",
              "/home/alice/..", "/root/..", "/home/alice/etc", "/home/linked/ssl", "/etc/x"}) {
            SCOPED_TRACE(p);
            EXPECT_EQ(lumek_kid_whlist_add_user_privacy_res(p), -1007);
            EXPECT_EQ(lumek_kid_whlist_remove_user_privcay_res(p), -1007);
        }
        EXPECT_EQ(list_entries("kid_res"), Lines{});
        // bob's, and the registration of the link (no privacy directory)
        EXPECT_EQ(lumek_standin_call_count("lumek_kid_load_kid_res_list_by_kid_range"), 3);
        ASSERT_EQ(fault("lumek_kid_load_kid_res_list_by_kid_range", -1), 0);  // no -2 as a kid
        EXPECT_EQ(lumek_kid_whlist_add_user_privacy_res("/home/alice/docs"), -1007);
        EXPECT_EQ(list_entries("kid_res"), Lines{});

        ASSERT_EQ(lumek_kid_whlist_add_user_privacy_res("/home/alice/docs"), 0);
        EXPECT_EQ(list_entries("kid_res"), Lines{"1 2 /home/alice/docs"});
        EXPECT_EQ(list_entries("kid_priv"), (Lines{"10001 1 1234 0", "10002 1 1234 0"}));
        EXPECT_EQ(list_entries("kid_file"), (Lines{"1 /home/alice/docs/a.txt", "1 /home/alice/docs/sub"}));

        pid_t child = fork();
        if (child == 0) {
            pause();
            _exit(0);
        }
        lumek_standin_kid_set_pid(child, "10002");
        // Never private: registered under 999, no policy touched, processes refreshed.
        EXPECT_EQ(lumek_kid_whlist_remove_user_privcay_res("/home/alice/music"), 0);
        EXPECT_TRUE(has(log_lines(), "2|0|lumek_kid_whlist_remove_user_privcay_res|privacy kid = 0"));
        EXPECT_EQ(list_entries("kid_res"), (Lines{"1 2 /home/alice/docs", "999 2 /home/alice/music"}));
        EXPECT_EQ(list_entries("kid_priv").size(), 2u);
        EXPECT_EQ(kernel_commands("kid"), Lines{"kid 22 " + std::to_string(child) + " 4"});

        // Private: a sibling still carrying the kid is reset, one with another kid is not.
        lumek_standin_kid_set_path("/home/alice/pics", "1");
        lumek_standin_kid_set_path("/home/alice/music", "2");
        lumek_standin_kid_set_path("/home/alice/outlink", "1");
        EXPECT_EQ(lumek_kid_whlist_remove_user_privacy_res("/home/alice/docs"), 0);
        EXPECT_EQ(framework_calls("lumek_kid_remove_kid_privilege").back(),
                  "lumek_kid_remove_kid_privilege(2, {10001, 1, 1234, 0, 0}, {10002, 1, 1234, 0, 0})");
        EXPECT_EQ(list_entries("kid_priv"), Lines{});
        Lines files = list_entries("kid_file");
        EXPECT_TRUE(has(files, "999 /home/alice/pics/p") && has(files, "2 /home/alice/music") &&
                    has(files, "999 /home/alice/docs/a.txt"));
        EXPECT_TRUE(has(list_entries("kid_res"), "999 2 /home/alice/pics"));
        EXPECT_FALSE(has(list_entries("kid_res"), "999 2 /home/alice/outlink"));
        EXPECT_FALSE(has(files, "999 " + w_ + "/dir/sub/f") || has(files, "999 /home/alice/outlink/sub"));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        // A home that only begins another's name ("/home/al" in "/home/alice/docs") still
        // keeps the privacy kid of that directory from being shared.
        ASSERT_EQ(lumek_kid_whlist_add_user_privacy_res("/home/alice/docs"), 0);
        ASSERT_EQ(lumek_kid_whlist_add_user_privacy_res("/home/al/docs"), 0);
        EXPECT_TRUE(has(list_entries("kid_res"), "2 2 /home/al/docs"));
    });
}

TEST_F(KidRes, SwappedDirectoriesAreNeverWalked) {
    const std::string outside = w_ + "/dir";  // sub, sub/f
    const std::string docs = "/home/alice/docs", swap = "/home/alice/swap";
    with_fixtures([&] {
        // Private, then replaced by a link: made public again without walking the link.
        ASSERT_EQ(lumek_standin_kid_add_info(10001, "viewer", "demo-app", 3), 0);
        ASSERT_EQ(lumek_kid_whlist_add_user_privacy_res(docs.c_str()), 0);
        ASSERT_EQ(list_entries("kid_priv"), Lines{"10001 1 1234 0"});
        fs::rename(docs, swap);
        fs::create_symlink(outside, docs);
        Lines files = list_entries("kid_file");
        EXPECT_EQ(lumek_kid_whlist_remove_user_privcay_res(docs.c_str()), 0);
        EXPECT_EQ(list_entries("kid_file"), files);
        EXPECT_EQ(list_entries("kid_priv"), Lines{});
        EXPECT_EQ(list_entries("kid_res"), Lines{"999 2 " + docs});
        fs::remove(docs);
        fs::rename(swap, docs);

        // The owner swaps the directory with a link to elsewhere in a loop while it is made
        // private: no path outside the home ever gets the kid, and a walk that saw the swap
        // says so.
        fs::create_symlink(outside, swap);
        pid_t swapper = fork();
        if (swapper == 0)
            for (;;) {  // paced, so that some calls pass the checks before the walk
                renameat2(AT_FDCWD, docs.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
                usleep(300);
            }
        for (int i = 0; i < 300; ++i) lumek_kid_whlist_add_user_privacy_res(docs.c_str());
        kill(swapper, SIGKILL);
        waitpid(swapper, nullptr, 0);
        for (const std::string &e : list_entries("kid_file"))
            EXPECT_TRUE(has({"1 " + docs + "/a.txt", "1 " + docs + "/sub"}, e)) << e;
        EXPECT_TRUE(has(log_lines(),
                        "2|0|set_kid_under_dir|res changed during the walk, res = " + docs + ", kid = 1"));
    });
}

TEST_F(KidRes, ApplicationListsByRangeAndInstalledPackage) {
    const std::pair<uint32_t, const char *> apps[] = {{1999, "demo-app"},
                                                      {9999, "demo-app"},
                                                      {10001, "demo-app"},
                                                      {10002, "not-installed"},
                                                      {10003, "Demo-App"}};
    for (const auto &[kid, pkg] : apps)
        ASSERT_EQ(lumek_standin_kid_add_info(kid, ("k" + std::to_string(kid)).c_str(), pkg, 3), 0);
    using Load = int32_t (*)(KidAppEntry **, uint32_t *);
    const std::pair<Load, Lines> cases[] = {
        {lumek_kid_whlist_load_app_list_v2, {"k10003", "k10002", "k10001", "k9999"}},
        {lumek_kid_whlist_load_third_app_list_v2, {"k10003", "k10002", "k10001"}},
        {lumek_kid_whlist_load_installed_app_list_v2, {"k9999", "k10001"}},
        {lumek_kid_whlist_load_installed_third_app_list_v2, {"k10001"}},
    };
    with_fixtures([&] {
        for (const auto &[load, want] : cases) {
            KidAppEntry *items = nullptr;
            uint32_t n = 0;
            ASSERT_EQ(load(&items, &n), 0);
            Lines got;
            for (uint32_t i = 0; i < n; ++i) got.push_back(items[i].app_name);
            free(items);
            EXPECT_EQ(got, want);
        }
    });
}

TEST_F(KidRes, NetworkControlByKid) {
    const std::string prog = w_ + "/netprog", other = w_ + "/otherprog";
    with_fixtures([&] {
        ASSERT_EQ(lumek_standin_kid_add_info(10001, "net-app", "net-app", 3), 0);
        ASSERT_EQ(lumek_standin_kid_add_info(10002, "text-app", "text-app", 3), 0);
        ASSERT_EQ(lumek_standin_kid_add_info(10003, "gone-app", "gone-app", 3), 0);
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(0, "text-app"), 0);
        EXPECT_EQ(framework_calls("lumek_kid_create_kid_netctl"), Lines{"lumek_kid_create_kid_netctl(0)"});
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(0, "nobody"), -1021);
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(0, "gone-app"), -1011);
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(2, "net-app"), -1007);
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(0, "net-app"), 0);  // the two programs only
        EXPECT_EQ(list_entries("kid_netctl"), (Lines{"10001 1 " + prog, "10001 1 " + other}));

        const std::string unresolved = w_ + "/./notes";
        lumek_standin_kid_set_path(unresolved.c_str(), "2500");
        EXPECT_EQ(lumek_kid_whlist_add_kid_netctl(1, unresolved.c_str()), 0);
        EXPECT_TRUE(has(list_entries("kid_netctl"), "2500 1 " + unresolved));
        EXPECT_EQ(lumek_kid_whlist_remove_kid_netctl(1, unresolved.c_str()), 0);

        // Kid 9999: a named resource, one left unnamed; records of other kids in between.
        ASSERT_EQ(lumek_standin_kid_add_res(9999, 0, prog.c_str(), "raised"), 0);
        ASSERT_EQ(lumek_standin_kid_add_res(9999, 0, other.c_str(), nullptr), 0);
        for (const auto &[kid, path] :
             std::vector<std::pair<uint32_t, std::string>>{{9999, prog},
                                                           {9999, w_ + "/dir/sub/f"},
                                                           {2500, w_ + "/notes"},
                                                           {9999, other},
                                                           {2600, w_ + "/gone"}})
            ASSERT_EQ(lumek_standin_kid_add_netctl(kid, 1, path.c_str()), 0);
        int loads = lumek_standin_call_count("lumek_kid_load_kid_res_list");
        KidNetctlEntry *items = nullptr;
        uint32_t n = 0;
        ASSERT_EQ(lumek_kid_whlist_load_netctl_list_v2(&items, &n), 0);
        Lines got;
        for (uint32_t i = 0; i < n; ++i) got.push_back(std::to_string(items[i].type) + " " + items[i].name);
        free(items);
        EXPECT_EQ(got, (Lines{"1 " + other, "1 " + w_ + "/notes", "0 raised", "0 net-app"}));
        EXPECT_EQ(lumek_standin_call_count("lumek_kid_load_kid_res_list"), loads + 1);
    });
}

}  // namespace
