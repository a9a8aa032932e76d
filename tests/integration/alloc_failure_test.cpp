// Every list and array builder run again and again with its first, second, ... allocation
// failing, until a run completes: each failed run gives a documented failure code and hands
// out nothing its free call cannot release, and leaves no block of the library behind.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "alloc_shim.h"
#include "daemon_control.h"
#include "lumekwhlist.h"
#include "scratch.h"
#include "standin_state.h"

namespace {

struct Row {
    const char *name;
    std::function<int()> call;  // the call and its free call; gives the call's result
    std::vector<int> failed;    // results allowed when an allocation failed
    int ok = 0;                 // the result when none failed
};

char g_dir[256];  // a program and a library
const char *g_files[] = {"/usr/bin/true", "/usr/lib/x86_64-linux-gnu/libc.so.6", "/usr/bin/ldd",
                         "/etc/passwd"};
const char kEntry[] = "create_object_list_entry", kKmod[] = "create_kmod_object_list_entry";

// A list call and its free call. A failed call hands out nothing or, with @partial, a list
// the free call takes all the same, whose message names @partial when it is not empty.
template <typename Node, typename Load>
auto list(Load load, void (*release)(Node **), const char *partial = nullptr) {
    return [=] {
        Node *l = nullptr;
        int rc = load(&l);
        EXPECT_TRUE(rc == 0 || partial || !l);
        if (rc == LUMEK_WHLIST_ERR_NO_MEMORY && partial && *partial) {
            EXPECT_EQ(lumek_whlist_last_err(), std::string(partial) + ": the parameter is NULL\n");
        }
        release(&l);
        return rc;
    };
}
// An array call: a failed one hands out nothing.
template <typename Entry, typename Count>
auto array(int32_t (*load)(Entry **, Count *)) {
    return [=] {
        Entry *a = nullptr;
        Count n = 0;
        int rc = load(&a, &n);
        EXPECT_TRUE(rc == 0 || (!a && n == 0));
        free(a);
        return rc;
    };
}
// A call giving @n malloc'd texts (or NULL): gives @n, or -1 for none.
template <typename Get>
auto texts(Get get) {
    return [=] {
        int n = -1;
        char **t = get(&n);
        for (int i = 0; t && i < n; ++i) free(t[i]);
        free(t);
        return t ? n : -1;
    };
}
auto kmods = [](KmodObject **l) { return lumek_kmod_whlist_load(nullptr, l); };
auto by_daemon = [](WhlistObject **l) { return lumek_memdb_whlist_exectl_load_by_daemon(0, 0, 0, 0, -1, l); };
auto res_list = [](KidResItem **l) { return lumek_kid_whlist_load_res_list(0, 0, l); };
auto plan = [](LumekPlanItem **a, int32_t *n) {
    return lumek_whlist_plan_by_dir(LUMEK_OP_ADD, LUMEK_KIND_EXECTL, nullptr, g_dir, a, n);
};
auto ldd = [] {  // one block
    int32_t n = 0;
    MarkRecord *r = lumek_whlist_get_ldd_list(g_files[0], "verified", &n);
    free(r);
    return r ? n : -1;
};

#define KID(what) list(lumek_kid_whlist_load_##what##_list, lumek_kid_whlist_free_##what##_list)
#define V2(what)  array(lumek_kid_whlist_load_##what##_list_v2)
const Row kRows[] = {
    {"whlist_load_all", list(lumek_whlist_load_all, lumek_whlist_objects_free, kEntry), {-3, 0}},
    {"kmod_whlist_load", list(kmods, lumek_kmod_whlist_objects_free, kKmod), {-3, 0}},
    {"rtdb_create", [] { return lumek_memdb_whlist_delete(), lumek_memdb_whlist_create(); }, {0, -1}},
    {"rtdb_load_special", list(lumek_memdb_whlist_exectl_load_special, lumek_whlist_objects_free, ""), {-3}},
    {"rtdb_load_by_daemon", list(by_daemon, lumek_whlist_objects_free, ""), {-3, 0}},
    {"kid_res_list", list(res_list, lumek_kid_whlist_free_res_list), {-3}},
    {"kid_app_list", KID(app), {-3}},
    {"kid_policy_list", KID(policy), {-3}},
    {"kid_third_app_list_v2", V2(third_app), {-3}},
    {"kid_policy_list_v2", V2(policy), {-3}},
    {"kid_netctl_list_v2", V2(netctl), {-3}},
    {"netctl_list_get", texts([](int *n) { return vorda_netctl_list_get(1, n); }), {-1}, 2},
    {"netctl_pkg_get", texts([](int *n) { return vorda_netctl_pkg_list_get(1, n); }), {-1}, 1},
    {"ppro_list_get", texts(vorda_ppro_list_get), {-1}, 1},
    {"pblk_list_get", texts(vorda_pblk_list_get), {-1}, 1},
    {"add_by_dir", [] { return lumek_whlist_add_by_dir(LUMEK_KIND_EXECTL, nullptr, g_dir); }, {-1008}, 2},
    {"plan_by_dir", array(+plan), {-1008}},
    {"add_by_package", [] { return lumek_whlist_add_by_package("dash"); }, {-1008}, 1},
    {"get_ldd_list", ldd, {-1, 2}, 2},  // the ELF reader falls back to objdump
    {"dpkg_add_one", [] { return lumek_whlist_exectl_add_for_dpkg(g_files[0]); }, {-1, 0}},  // the same
    {"dpkg_multi_add", [] { return lumek_whlist_exectl_multi_add_for_dpkg(g_files, 4); }, {-1, -3}, 4},
    {"dpkg_protect", [] { return lumek_whlist_protect_set_by_name_for_dpkg("bash", g_files, 4); }, {-3}, 2},
};

class AllocFailure : public ::testing::TestWithParam<Row> {};

TEST_P(AllocFailure, EachAllocationFailsCleanly) {
    const Row &row = GetParam();
    lumek_test::ScratchDir scratch;
    snprintf(g_dir, sizeof g_dir, "%s", scratch.path().c_str());
    std::filesystem::copy_file(g_files[0], scratch.path() + "/prog");
    std::filesystem::copy_file(g_files[1], scratch.path() + "/lib.so");
    // Entries for every list: whitelist, modules, rtdb, kids, netctl, ppro and pblk.
    lumek_test::daemon_serve_entries("*",
                                     "[('/usr/bin/ls', 'h1', 'program', 'trusted', 'readonly', 1, 2),"
                                     " ('/usr/bin/cat', 'h2', 'library', 'vordsw', '', 0, 0)]");
    lumek_test::daemon_control_unref("ServeModules", g_variant_new_parsed("([('ext4', 1), ('nfs', 5)],)"));
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    for (const char *f : {g_files[0], g_files[1]}) ASSERT_EQ(lumek_standin_set_label(f, "unknown"), 0);
    ASSERT_EQ(lumek_standin_kid_add_info(10001, "bash", "bash", 3), 0);
    ASSERT_EQ(lumek_standin_kid_add_info(10002, "gone", "gone", 3), 0);
    ASSERT_EQ(lumek_standin_kid_add_res(999, 0, "/usr/bin/true", nullptr), 0);
    ASSERT_EQ(lumek_standin_kid_add_res(999, 2, "/usr/share", nullptr), 0);
    ASSERT_EQ(lumek_standin_kid_add_policy(10001, 999, 0, 6), 0);
    ASSERT_EQ(lumek_standin_kid_add_netctl(10001, 1, "/usr/bin/bash"), 0);
    ASSERT_EQ(lumek_standin_kid_add_netctl(10002, 0, "/usr/bin/true"), 0);
    for (const char *p : {"/usr/bin/true", "/usr/bin/cat"}) ASSERT_EQ(vorda_netctl_list_add(1, p), 0);
    ASSERT_EQ(vorda_netctl_pkg_list_add(1, "bash"), 0);
    ASSERT_EQ(vorda_ppro_list_add("/usr/bin/true", 1), 0);
    ASSERT_EQ(vorda_pblk_list_add("/usr/bin/true"), 0);

    // Run 0 fails nothing: what the library builds once on first use is built before counting.
    long points = 0, clean = 0;
    for (long n = 0; n <= points + 1; ++n) {  // until a run fails none
        lumek_test::alloc::arm(n);
        int rc = row.call();
        auto t = lumek_test::alloc::disarm();
        bool failed = n > 0 && t.count >= n;
        bool ok =
            t.live == 0 && (failed ? std::count(row.failed.begin(), row.failed.end(), rc) > 0 : rc == row.ok);
        EXPECT_TRUE(ok) << "failing allocation " << n << " (0: none): result " << rc << ", kept " << t.live;
        points += failed;
        clean += failed && ok;
    }
    printf("%s: %ld allocation points failed in turn, %ld of them cleanly\n", row.name, points, clean);
}

INSTANTIATE_TEST_SUITE_P(Builders, AllocFailure, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
