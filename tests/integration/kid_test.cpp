// Application identities against the stand-in, with the real dpkg-query answering from a
// fixture database, a fixture password database and /home, and real child processes.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "namespaces.h"
#include "scratch.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using lumek_test::fault;
using lumek_test::framework_calls;
using lumek_test::kernel_commands;
using lumek_test::list_entries;
using lumek_test::log_lines;
using Lines = std::vector<std::string>;

namespace {

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

// Names of the framework calls made, in order, without the path probes and the /proc walk.
Lines call_names() {
    Lines out;
    for (const std::string &c : framework_calls()) {
        std::string name = c.substr(0, c.find('('));
        if (name.rfind("path_is_", 0) != 0 && name != "lumek_kid_get_by_pid" && name != "get_dir_list")
            out.push_back(name);
    }
    return out;
}

// Children that sleep until the scope ends, however it ends.
struct Sleepers {
    explicit Sleepers(int n) {
        for (int i = 0; i < n; ++i) {
            pid_t p = fork();
            if (p == 0) {
                pause();
                _exit(0);
            }
            pids.push_back(p);
        }
    }
    ~Sleepers() {
        for (pid_t p : pids)
            if (p > 0 && kill(p, SIGKILL) == 0) waitpid(p, nullptr, 0);
    }
    std::vector<pid_t> pids;
};

class Kid : public ::testing::Test {
  protected:
    void SetUp() override {
        w_ = scratch_.path();
        fs::create_directories(w_ + "/dpkg/info");
        fs::create_directories(w_ + "/pkgdir");
        write_file(w_ + "/prog", "#!/bin/sh\n");
        fs::create_symlink(w_ + "/prog", w_ + "/link");
        // Removed, without a status line, installed, held behind a field line of 1023
        // characters, and a last stanza cut short right after an installed one.
        const std::string f = "Maintainer: t\nArchitecture: all\nVersion: 1\nDescription: d\n\n";
        write_file(w_ + "/dpkg/status", "Package: gone-app\nStatus: deinstall ok config-files\n" + f +
                                            "Package: bare-app\n" + f +
                                            "Package: demo-app\nStatus: install ok installed\n" + f +
                                            "Package: held-app\nX-Long: " + std::string(1015, 'x') +
                                            "\nStatus: hold ok installed\n" + f + "Package: ghost\n");
        write_file(w_ + "/dpkg/info/demo-app.list",
                   "/.\n" + w_ + "/pkgdir\n" + w_ + "/prog\n" + w_ + "/link\n" + w_ + "/missing\n");
        write_file(w_ + "/dpkg/info/held-app.list", w_ + "/prog\n");
        fs::create_directories(w_ + "/home/alice/docs");
        write_file(w_ + "/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1234:1234::/home/alice:/bin/sh\n");
    }

    // Runs @fn with the fixture package database, /home and password database in place.
    void with_fixtures(const std::function<void()> &fn) {
        int st = lumek_test::run_in_namespaces(CLONE_NEWNS, [&] {
            if (!lumek_test::bind_mount((w_ + "/dpkg").c_str(), "/var/lib/dpkg") ||
                !lumek_test::bind_mount((w_ + "/home").c_str(), "/home") ||
                !lumek_test::bind_mount((w_ + "/passwd").c_str(), "/etc/passwd"))
                return 2;
            fn();
            return 0;
        });
        LUMEK_SKIP_IF_REFUSED(st);
        EXPECT_EQ(st, 0);
    }

    lumek_test::ScratchDir scratch_;
    std::string w_;
};

TEST_F(Kid, KidTypesByRangeAndStrictKidTexts) {
    const std::string file = w_ + "/prog";
    const std::pair<const char *, int> cases[] = {
        {"1", 0},      {"1000", 0},           {"1001", 1},   {"2000", 1},    {"2001", 2},
        {"10000", 2},  {"10001", 3},          {"500000", 3}, {"500001", 4},  {"1000000", 4},
        {"0", -1021},  {"1000001", -1021},    {"-5", -1021}, {"12x", -1021}, {"4294968296", -1021},
        {" 7", -1021}, {"4294967295", -1021},
    };
    for (const auto &[text, want] : cases) {
        SCOPED_TRACE(text);
        ASSERT_EQ(lumek_standin_kid_set_path(file.c_str(), text), 0);
        uint32_t type = 77;
        int rc = lumek_kid_whlist_get_app_or_file_kid_type(1, file.c_str(), &type);
        EXPECT_EQ(want < 0 ? rc : static_cast<int>(type), want);
        if (want < 0) {
            EXPECT_EQ(type, 77u);
        }
    }
    ASSERT_EQ(lumek_standin_kid_add_info(1999, "raised", "raised", 1), 0);
    uint32_t type = 0;
    EXPECT_EQ(lumek_kid_whlist_get_app_or_file_kid_type(0, "raised", &type), 0);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(lumek_kid_whlist_get_app_or_file_kid_type(0, "nobody", &type), -1021);
    EXPECT_EQ(lumek_kid_whlist_get_app_or_file_kid_type(2, "raised", &type), -1007);
}

TEST_F(Kid, ArraysFollowListOrder) {
    KidAppEntry *apps = reinterpret_cast<KidAppEntry *>(1);
    uint32_t n = 9;
    EXPECT_EQ(lumek_kid_whlist_load_third_app_list_v2(&apps, &n), 0);
    EXPECT_EQ(apps, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(lumek_kid_whlist_load_app_list_v2(nullptr, &n), -1007);

    for (uint32_t k : {10001u, 10002u, 10003u, 9999u, 1999u})
        lumek_standin_kid_add_info(k, ("app" + std::to_string(k)).c_str(), "pkg", k == 9999 ? 2 : 3);
    KidAppItem *list = nullptr;
    ASSERT_EQ(lumek_kid_whlist_load_app_list(&list), 0);
    ASSERT_EQ(lumek_kid_whlist_load_app_list_v2(&apps, &n), 0);
    Lines from_list, from_array;
    for (KidAppItem *p = list; p; p = p->next) from_list.push_back(p->app_name);
    for (uint32_t i = 0; i < n; ++i) from_array.push_back(apps[i].app_name);
    EXPECT_EQ(from_list, (Lines{"app9999", "app10003", "app10002", "app10001"}));
    EXPECT_EQ(from_array, from_list);
    free(apps);
    lumek_kid_whlist_free_app_list(&list);
    EXPECT_EQ(list, nullptr);

    ASSERT_EQ(fault("lumek_kid_load_kid_info_list_by_kid_range", -9), 0);
    EXPECT_EQ(lumek_kid_whlist_load_third_app_list_v2(&apps, &n), -9);
}

TEST_F(Kid, CreateChecksTheInstalledPackagesFirst) {
    struct Case {
        const char *app, *pkg;
        bool caller_files;
        int count, kid_fault;
        int want;
        Lines calls;
        Lines files;  // "KID PATH" afterwards
    };
    const std::string prog = w_ + "/prog";
    const Lines full = {"lumek_kid_apply_for_kid", "lumek_kid_create_kid_data", "lumek_kid_multi_set"};
    const Case cases[] = {
        {"demo", "demo-app", false, 0, 1, 0, full, {"10001 " + prog}},
        {"held", "held-app", false, 0, 1, 0, full, {"10001 " + prog}},
        {"gone", "gone-app", false, 0, 1, -1007, {}, {}},
        {"bare", "bare-app", false, 0, 1, -1007, {}, {}},
        {"ghost", "ghost", false, 0, 1, -1007, {}, {}},
        {"none", "no-such-pkg", false, 0, 1, -1007, {}, {}},
        {"empty", "demo-app", true, 0, 1, 0, {"lumek_kid_apply_for_kid"}, {}},
        {"negative", "demo-app", true, -1, 1, -1007, {}, {}},
        {"zero", "demo-app", false, 0, 0, 0, full, {}},  // kid 0 goes on and clears the kid
    };
    with_fixtures([&] {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.app);
            ASSERT_EQ(lumek_standin_reset(), 0);
            if (c.kid_fault == 0) fault("lumek_kid_apply_for_kid", 0);
            char *files[] = {const_cast<char *>(prog.c_str())};
            EXPECT_EQ(lumek_kid_whlist_create_kid(c.app, c.pkg, c.caller_files ? files : nullptr, c.count),
                      c.want);
            EXPECT_EQ(call_names(), c.calls);
            EXPECT_EQ(list_entries("kid_file"), c.files);
        }
        // Only a status file that is not there skips the check: one that cannot be opened
        // or read refuses before any framework call.
        const std::string status = w_ + "/dpkg/status";
        const std::pair<std::function<void()>, int> status_cases[] = {
            {[&] { fs::create_directory(status); }, -1007},          // read fails (EISDIR)
            {[&] { fs::create_symlink("status", status); }, -1007},  // open fails (ELOOP)
            {[] {}, 0},
        };
        for (const auto &[make, want] : status_cases) {
            SCOPED_TRACE(want);
            ASSERT_EQ(lumek_standin_reset(), 0);
            fs::remove(status);
            make();
            char *files[] = {const_cast<char *>(prog.c_str())};
            EXPECT_EQ(lumek_kid_whlist_create_kid("none", "no-such-pkg", files, 1), want);
            EXPECT_EQ(call_names().empty(), want != 0);
        }
        char *with_null[] = {nullptr};
        EXPECT_EQ(lumek_kid_whlist_create_kid("a", "demo-app", with_null, 1), -1007);
        EXPECT_EQ(lumek_kid_whlist_create_kid(nullptr, "demo-app", nullptr, 0), -1007);
        // A caller path of 4096 characters would name another file once cut to its record:
        // refused before any call. One of 4095 goes whole.
        ASSERT_EQ(lumek_standin_reset(), 0);
        std::string wide;
        while (wide.size() < 4096) wide += "/" + std::string(63, 'w');
        char *wide_files[] = {wide.data()};
        EXPECT_EQ(lumek_kid_whlist_create_kid("wide", "demo-app", wide_files, 1), -1007);
        EXPECT_EQ(call_names(), Lines{});
        wide.pop_back();
        EXPECT_EQ(lumek_kid_whlist_create_kid("wide", "demo-app", wide_files, 1), 0);
        EXPECT_EQ(framework_calls("lumek_kid_multi_set"),
                  Lines{"lumek_kid_multi_set(1, {\"" + wide + "\", \"10001\"})"});
    });
}

TEST_F(Kid, RemoveAndImproveKeepTheirOrder) {
    const std::string prog = w_ + "/prog";
    with_fixtures([&] {
        ASSERT_EQ(lumek_kid_whlist_create_kid("demo-app", "demo-app", nullptr, 0), 0);
        EXPECT_EQ(lumek_kid_whlist_remove_kid("demo-app"), 0);
        EXPECT_EQ(list_entries("kid_res"), Lines{});
        EXPECT_EQ(list_entries("kid_file"), Lines{});
        EXPECT_EQ(lumek_kid_whlist_remove_kid("demo-app"), 0);  // no resources left

        ASSERT_EQ(lumek_standin_reset(), 0);
        ASSERT_EQ(lumek_kid_whlist_create_kid("demo-app", "demo-app", nullptr, 0), 0);
        EXPECT_EQ(lumek_kid_whlist_improve_kid(1, "demo-app"), 0);
        EXPECT_EQ(list_entries("kid_file"), Lines{"1999 " + prog});
        EXPECT_EQ(list_entries("kid_info"), Lines{"1999 1 demo-app demo-app"});
        EXPECT_EQ(lumek_kid_whlist_remove_kid("demo-app"), -1007);  // raised: kid 1999
        EXPECT_EQ(lumek_kid_whlist_improve_kid(2, "demo-app"), -1007);

        // To level 2: the resources go first, then the data is raised and the files follow.
        ASSERT_EQ(lumek_standin_reset(), 0);
        ASSERT_EQ(lumek_kid_whlist_create_kid("demo-app", "demo-app", nullptr, 0), 0);
        size_t before = call_names().size();
        EXPECT_EQ(lumek_kid_whlist_improve_kid(2, "demo-app"), 0);
        Lines names = call_names();
        EXPECT_EQ(Lines(names.begin() + before, names.end()),
                  (Lines{"lumek_kid_get_kid_by_app_name", "lumek_kid_get_kid_by_app_name",
                         "lumek_kid_load_kid_res_list", "lumek_kid_remove_kid_res_list",
                         "lumek_kid_multi_set", "lumek_kid_improve_kid_data", "lumek_kid_multi_set"}));
        EXPECT_EQ(list_entries("kid_info"), Lines{"9999 2 demo-app demo-app"});
        // A removal that fails stops the improvement with its code.
        ASSERT_EQ(lumek_standin_reset(), 0);
        ASSERT_EQ(lumek_kid_whlist_create_kid("demo-app", "demo-app", nullptr, 0), 0);
        ASSERT_EQ(fault("lumek_kid_remove_kid_res_list", -1005), 0);
        EXPECT_EQ(lumek_kid_whlist_improve_kid(1, "demo-app"), -1005);
        EXPECT_EQ(framework_calls("lumek_kid_improve_kid_data"), Lines{});

        // Type 0: one log line, nothing asked.
        ASSERT_EQ(lumek_standin_reset(), 0);
        EXPECT_EQ(lumek_kid_whlist_improve_kid(0, "demo-app"), -1007);
        EXPECT_EQ(log_lines(), Lines{"2|0|lumek_kid_whlist_improve_kid|type = 0"});
        EXPECT_EQ(call_names(), Lines{});

        // A name that is no package: resources go, nothing is raised. A hostile name never
        // reaches a shell or dpkg-query.
        for (const char *app : {"no-such-pkg", "x;touch pwned", "--admindir=/tmp"}) {
            SCOPED_TRACE(app);
            ASSERT_EQ(lumek_standin_reset(), 0);
            ASSERT_EQ(lumek_standin_kid_add_info(10005, app, app, 3), 0);
            ASSERT_EQ(lumek_kid_whlist_create_kid(app, "demo-app", nullptr, 0), 0);
            EXPECT_EQ(lumek_kid_whlist_improve_kid(2, app), 0);
            EXPECT_EQ(list_entries("kid_res"), Lines{});
            EXPECT_EQ(list_entries("kid_info"), Lines{std::string("10005 3 ") + app + " demo-app"});
            EXPECT_FALSE(fs::exists("pwned"));
        }
    });
}

TEST_F(Kid, PoliciesResolveKidsAndRefreshProcesses) {
    const std::string file = w_ + "/prog";
    with_fixtures([&] {
        ASSERT_EQ(lumek_standin_kid_add_info(10001, "viewer", "viewer-pkg", 3), 0);
        ASSERT_EQ(lumek_standin_kid_add_info(1999, "raised", "raised", 1), 0);
        ASSERT_EQ(lumek_standin_kid_set_path(file.c_str(), "2500"), 0);
        // Real processes: one of the subject's kid, one of another kid.
        Sleepers kids(2);
        const pid_t mine = kids.pids[0], other = kids.pids[1];
        lumek_standin_kid_set_pid(mine, "10001");
        lumek_standin_kid_set_pid(other, "10002");

        EXPECT_EQ(lumek_kid_whlist_add_kid_policy(0, "viewer", file.c_str(), 7), 0);
        EXPECT_EQ(list_entries("kid_res"), Lines{"2500 0 " + file});  // registered first
        EXPECT_EQ(list_entries("kid_priv"), Lines{"10001 2500 0 7"});
        EXPECT_EQ(kernel_commands("kid"), Lines{"kid 22 " + std::to_string(mine) + " 4"});

        // A level-1 subject: no refresh at all.
        EXPECT_EQ(lumek_kid_whlist_add_kid_policy(0, "raised", file.c_str(), 1), 0);
        EXPECT_EQ(kernel_commands("kid").size(), 1u);

        // Update on a user directory that does not exist yet: privacy kid and owner uid.
        EXPECT_EQ(lumek_kid_whlist_update_kid_policy(0, "viewer", "/home/alice/private", 5), 0);
        EXPECT_EQ(list_entries("kid_priv").back(), "10001 1 1234 5");
        ASSERT_EQ(fault("lumek_kid_load_kid_res_list_by_kid_range", -1), 0);  // no -2 as a kid
        EXPECT_EQ(lumek_kid_whlist_update_kid_policy(0, "viewer", "/home/alice/other", 5), -1021);

        const std::pair<std::string, int> refused[] = {
            {w_ + "/missing", -1021}, {w_ + "/link", -1021}, {"/home/alice/x/y", -1021}};
        for (const auto &[object, want] : refused) {
            SCOPED_TRACE(object);
            EXPECT_EQ(lumek_kid_whlist_remove_kid_policy(0, "viewer", object.c_str()), want);
        }
        EXPECT_EQ(lumek_kid_whlist_add_kid_policy(2, "viewer", file.c_str(), 1), -1007);
        lumek_standin_kid_set_path((w_ + "/link").c_str(), "-5");
        EXPECT_EQ(lumek_kid_whlist_add_kid_policy(1, (w_ + "/link").c_str(), file.c_str(), 1), -1021);
    });
}

TEST_F(Kid, PolicyListsNameSubjectsAndSkipOtherOwners) {
    const std::string file = w_ + "/prog", docs = "/home/alice/docs";
    with_fixtures([&] {
        ASSERT_EQ(lumek_standin_kid_add_info(10001, "viewer", "viewer-pkg", 3), 0);
        ASSERT_EQ(lumek_standin_kid_set_path(file.c_str(), "2500"), 0);
        ASSERT_EQ(lumek_standin_kid_set_path(docs.c_str(), "7"), 0);
        ASSERT_EQ(lumek_kid_whlist_add_kid_policy(0, "viewer", file.c_str(), 3), 0);
        ASSERT_EQ(lumek_kid_whlist_add_kid_policy(0, "viewer", docs.c_str(), 4), 0);  // uid 1234
        ASSERT_EQ(lumek_standin_kid_add_policy(10001, 7, 4321, 6), 0);                // another owner's

        KidPolicyEntry *all = nullptr;
        uint32_t n = 0;
        ASSERT_EQ(lumek_kid_whlist_load_policy_list_v2(&all, &n), 0);
        Lines got;
        for (uint32_t i = 0; i < n; ++i)
            got.push_back(std::to_string(all[i].sub_type) + " " + all[i].subject + " " + all[i].object + " " +
                          std::to_string(all[i].perm));
        free(all);
        EXPECT_EQ(got, (Lines{"0 viewer-pkg " + docs + " 6", "0 viewer-pkg " + docs + " 4",
                              "0 viewer-pkg " + file + " 3"}));

        KidPolicyItem *mine = nullptr;
        ASSERT_EQ(lumek_kid_whlist_load_policy_list_by_subject(0, "viewer", &mine), 0);
        got.clear();
        for (KidPolicyItem *p = mine; p; p = p->next)
            got.push_back(std::string(p->object) + " " + std::to_string(p->perm));
        lumek_kid_whlist_free_policy_list(&mine);
        EXPECT_EQ(got, (Lines{docs + " 4", file + " 3"}));
        EXPECT_EQ(lumek_kid_whlist_load_policy_list_by_subject(0, "nobody", &mine), -1021);
        EXPECT_EQ(lumek_kid_whlist_load_policy_list(nullptr), -1007);
    });
}

}  // namespace
