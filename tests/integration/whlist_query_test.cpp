// Whitelist queries and commands through the public ABI, against the reference daemon on
// the sandbox's private bus and the stand-in's state.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "standin_state.h"

namespace {

using lumek_test::daemon_control;
using lumek_test::daemon_control_unref;

std::string printed(GVariant *v) {
    if (!v) return "";
    gchar *s = g_variant_print(v, FALSE);
    std::string out = s;
    g_free(s);
    g_variant_unref(v);
    return out;
}

// The daemon's call record, printed.
std::string calls() {
    return printed(daemon_control("GetCalls", nullptr));
}

using lumek_test::daemon_inject_reply;
using lumek_test::daemon_serve_entries;

std::string paths(const WhlistObject *l) {
    std::string out;
    for (; l; l = l->next) out += std::string(l->path) + ";";
    return out;
}

class WhlistQuery : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!getenv("LUMEK_SANDBOX")) GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox ***";
        daemon_control_unref("Reset", nullptr);
        lumek_standin_reset();
    }
};

TEST_F(WhlistQuery, ListsComeBackReversedFieldsMappedAndEmptyIsNull) {
    daemon_serve_entries(
        "lumek_whlist_load_all",
        "[('/a', 'h1', 'program', 'trusted', 'readonly', 7, 8), ('/b', 'h2', 'link', 'Verified', 'none', "
        "0, 0),"
        " ('/c', 'h3', 'kmodule', 'script', 'readonly ', -1, -2)]");
    WhlistObject *head = reinterpret_cast<WhlistObject *>(1);
    ASSERT_EQ(lumek_whlist_load_all(&head), 0);
    EXPECT_EQ(paths(head), "/c;/b;/a;");
    const WhlistObject *c = head, *b = c->next, *a = b->next;
    EXPECT_EQ(std::vector<int>({a->obj_type, a->exectl_type, a->writable, a->extra1, a->extra2}),
              std::vector<int>({0, 3, 0, 7, 8}));
    EXPECT_EQ(std::vector<int>({b->obj_type, b->exectl_type, b->writable}), std::vector<int>({4, 4, 1}));
    EXPECT_EQ(std::vector<int>({c->obj_type, c->exectl_type, c->writable, c->extra2}),
              std::vector<int>({3, 6, 1, -2}));
    EXPECT_STREQ(c->hash, "h3");
    lumek_whlist_objects_free(&head);
    EXPECT_EQ(head, nullptr);

    daemon_serve_entries("lumek_whlist_load_all", "@a(sssssii) []");
    head = reinterpret_cast<WhlistObject *>(1);
    EXPECT_EQ(lumek_whlist_load_all(&head), 0);
    EXPECT_EQ(head, nullptr);
    daemon_control_unref("ServeModules", g_variant_new_parsed("([('ext4', 1), ('nfs', 5)],)"));
    KmodObject *mods = nullptr;
    ASSERT_EQ(lumek_kmod_whlist_load(nullptr, &mods), 0);
    ASSERT_TRUE(mods && mods->next);
    EXPECT_STREQ(mods->name, "nfs");
    EXPECT_EQ(mods->next->value, 1);
    lumek_kmod_whlist_objects_free(&mods);
}

// Calls that must not reach the daemon, with the code and message they must give.
TEST_F(WhlistQuery, RefusedArgumentsNeverReachTheBus) {
    const std::string einval = strerror(EINVAL);
    WhlistObject entry{};
    struct Case {
        const char *what;
        std::function<int32_t()> call;
        int32_t code;
        bool message;
    } cases[] = {
        {"load null head", [] { return lumek_whlist_load(0, "", nullptr); }, -1007, false},
        {"load_all null head", [] { return lumek_whlist_load_all(nullptr); }, -1007, false},
        {"kmod null head", [] { return lumek_kmod_whlist_load_sm("", nullptr); }, -1007, false},
        {"by type null type",
         [] {
             WhlistObject *h = nullptr;
             return lumek_whlist_load_by_obj_type(0, nullptr, "", &h);
         },
         -1007, true},
        {"count null type", [] { return lumek_whlist_get_count_by_obj_type(0, nullptr, ""); }, 0, true},
        {"count non-UTF-8", [] { return lumek_whlist_get_count_by_obj_type(0, "program", "/caf\xe9"); }, 0,
         true},
        {"by path null entry", [] { return lumek_whlist_load_by_path("/bin/sh", nullptr); }, -1007, true},
        {"by path non-UTF-8", [&] { return lumek_whlist_load_by_path("/tmp/caf\xe9", &entry); }, -1007, true},
        {"hash non-UTF-8", [] { return lumek_whlist_get_hash_by_path("/tmp/caf\xe9") ? 1 : 0; }, 0, true},
        {"hash null", [] { return lumek_whlist_get_hash_by_path(nullptr) ? 1 : 0; }, 0, true},
        {"bgset null", [] { return lumek_bgset_set(nullptr); }, -1007, true},
        {"import null", [] { return lumek_whlist_import(0, nullptr); }, -1007, true},
        {"export non-UTF-8", [] { return lumek_whlist_export(0, "\xff"); }, -1007, true},
        {"load non-UTF-8 filter",
         [] {
             WhlistObject *h = reinterpret_cast<WhlistObject *>(1);  // reset before the check
             int32_t rc = lumek_whlist_load_sm(0, "\xc3(", &h);
             return h ? 1 : rc;
         },
         -1007, true},
    };
    for (const Case &c : cases) {
        daemon_inject_reply("lumek_bgset_unset", "'marker'");
        lumek_bgset_unset();  // a -1011 that leaves a known text
        std::string before = lumek_whlist_last_err();
        daemon_control_unref("Reset", nullptr);
        EXPECT_EQ(c.call(), c.code) << c.what;
        EXPECT_EQ(lumek_whlist_last_err(), c.message ? einval : before) << c.what;
        EXPECT_EQ(calls(), "([],)") << c.what;
    }
    EXPECT_EQ(entry.path, nullptr);
}

TEST_F(WhlistQuery, OptionalTextsTravelAsEmptyAndCommandsReturnTheDaemonsInteger) {
    WhlistObject *h = nullptr;
    KmodObject *k = nullptr;
    EXPECT_EQ(lumek_whlist_load(-4, nullptr, &h), 0);
    EXPECT_EQ(lumek_whlist_load_by_obj_type(2, "kmodule", nullptr, &h), 0);
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(1, "other", nullptr), 0);
    EXPECT_EQ(lumek_kmod_whlist_load(nullptr, &k), 0);
    EXPECT_EQ(
        calls(),
        "([('lumek_whlist_load', <(-4, '')>), ('lumek_whlist_load_by_obj_type', <(2, 'kmodule', '')>), "
        "('lumek_whlist_get_count_by_obj_type', <(1, 'other', '')>), ('lumek_kmod_whlist_load', <('',)>)],)");
    daemon_inject_reply("*", "(-77,)");
    EXPECT_EQ(lumek_whlist_import(3, "/x"), -77);
    EXPECT_EQ(lumek_whlist_export(3, "/x"), -77);
    EXPECT_EQ(lumek_bgset_set("b"), -77);
    EXPECT_EQ(lumek_bgset_unset(), -77);
    EXPECT_EQ(lumek_whlist_protect_set_for_dpkg(), -77);
    EXPECT_EQ(lumek_whlist_script_set_for_dpkg(), -77);
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(0, "", ""), -77);
}

TEST_F(WhlistQuery, CountIsZeroForAnEmptyClass) {
    daemon_serve_entries("*", "[('/a', 'h', 'program', 'verified', 'none', 0, 0)]");
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(0, "program", ""), 1);
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(0, "library", ""), 0);
}

// Replies of the wrong type give -1011 (no data) and a message, never a crash.
TEST_F(WhlistQuery, WronglyTypedRepliesAreRefused) {
    for (const char *body :
         {"(7,)", "()", "@a(ss) []", "('x', 'y')", "([('/a', 'h', 'program', 'x', 'y', 1)],)"}) {
        daemon_inject_reply("*", body);
        WhlistObject *h = nullptr;
        KmodObject *k = nullptr;
        WhlistObject entry{};
        EXPECT_EQ(lumek_whlist_load_all(&h), -1011) << body;
        EXPECT_NE(strstr(lumek_whlist_last_err(), "lumek_whlist_load_all: the daemon's reply has type"),
                  nullptr);
        EXPECT_EQ(lumek_whlist_load(0, "", &h), -1011) << body;
        EXPECT_EQ(lumek_kmod_whlist_load("", &k), -1011) << body;
        EXPECT_EQ(lumek_whlist_load_by_path("/a", &entry), -1011) << body;
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(k, nullptr);
        EXPECT_EQ(entry.path, nullptr);
        EXPECT_EQ(lumek_whlist_get_hash_by_path("/a"), nullptr) << body;
        EXPECT_EQ(lumek_whlist_get_count_by_obj_type(0, "", ""), strcmp(body, "(7,)") == 0 ? 7 : 0) << body;
        EXPECT_EQ(lumek_bgset_unset(), strcmp(body, "(7,)") == 0 ? 7 : -1011) << body;
    }
}

TEST_F(WhlistQuery, DataPathsAreShortenedOnlyWhenPathIsSameSaysSo) {
    struct Case {
        const char *path;
        int same;
        const char *sent;
    } cases[] = {
        {"/data/home/al/f", 1, "/home/al/f"},  {"/data/home/al/f", 0, "/data/home/al/f"},
        {"/data/root/x", 1, "/root/x"},        {"/data/homework/x", 1, "/homework/x"},
        {"/data/other/x", 1, "/data/other/x"}, {"/data/hom", 1, "/data/hom"},
    };
    for (const Case &c : cases) {
        daemon_control_unref("Reset", nullptr);
        lumek_standin_reset();
        lumek_test::fault("path_is_same", c.same);
        free(lumek_whlist_get_hash_by_path(c.path));
        EXPECT_EQ(calls(), std::string("([('lumek_whlist_get_hash_by_path', <('") + c.sent + "',)>)],)")
            << c.path;
    }
}

TEST_F(WhlistQuery, DpkgCommandsStayOffTheBusWhileTheFrameworkIsDisabled) {
    lumek_standin_set_flag("status", 0);
    EXPECT_EQ(lumek_whlist_protect_set_for_dpkg(), 0);
    EXPECT_EQ(lumek_whlist_script_set_for_dpkg(), 0);
    EXPECT_EQ(calls(), "([],)");
    lumek_standin_set_flag("status", 1);
    EXPECT_EQ(lumek_whlist_protect_set_for_dpkg(), 0);
    EXPECT_EQ(calls(), "([('lumek_whlist_protect_set_for_dpkg', <@av []>)],)");
}

// Each pass-through reaches its framework call with the same arguments and hands back the
// framework's answer (scripted through a stand-in fault).
TEST_F(WhlistQuery, PassThroughsForwardArgumentsAndResults) {
    struct Case {
        const char *func;
        std::function<int()> call;
        const char *logged;
    } cases[] = {
        {"is_secadm", [] { return lumek_whlist_is_secadm(); }, "is_secadm()"},
        {"is_auditadm", [] { return lumek_whlist_is_auditadm(); }, "is_auditadm()"},
        {"lumek_getstatus", [] { return lumek_whlist_getstatus(); }, "lumek_getstatus()"},
        {"lumek_setstatus", [] { return lumek_whlist_setstatus(-9); }, "lumek_setstatus(-9)"},
        {"lumek_get_func_status", [] { return lumek_whlist_get_func_status(11); },
         "lumek_get_func_status(11)"},
        {"lumek_set_func_status", [] { return lumek_whlist_set_func_status(5, 3); },
         "lumek_set_func_status(5, 3)"},
        {"remove_from_kmod_protect", [] { return lumek_whlist_update_rmmodpro(0, "ext4"); },
         "remove_from_kmod_protect(\"ext4\")"},
        {"add_to_kmod_protect", [] { return lumek_whlist_update_rmmodpro(-2, "ext4"); },
         "add_to_kmod_protect(\"ext4\")"},
        {"remove_from_kmod_protect_sm", [] { return lumek_whlist_update_rmmodpro_sm(0, "nfs"); },
         "remove_from_kmod_protect_sm(\"nfs\")"},
        {"add_to_kmod_protect_sm", [] { return lumek_whlist_update_rmmodpro_sm(1, "nfs"); },
         "add_to_kmod_protect_sm(\"nfs\")"},
    };
    for (const Case &c : cases) {
        lumek_standin_reset();
        lumek_test::fault(c.func, 4242);
        EXPECT_EQ(c.call(), 4242) << c.func;
        EXPECT_EQ(lumek_test::take_lines(lumek_standin_calls(nullptr, nullptr)),
                  std::vector<std::string>{c.logged})
            << c.func;
    }
    lumek_standin_reset();
    EXPECT_EQ(lumek_whlist_update_rmmodpro(1, nullptr), -1007);
    EXPECT_EQ(lumek_whlist_update_rmmodpro_sm(0, nullptr), -1007);
    EXPECT_STREQ(lumek_whlist_last_err(), strerror(EINVAL));
    EXPECT_EQ(lumek_standin_call_count(nullptr), 2);  // the two log lines only
}

// The documented blind spot: without a system bus a query reports success and no data.
TEST_F(WhlistQuery, WithoutASystemBusQueriesSucceedEmpty) {
    std::string saved = getenv("DBUS_SYSTEM_BUS_ADDRESS");
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    std::string before = lumek_whlist_last_err();
    WhlistObject *h = reinterpret_cast<WhlistObject *>(1);
    EXPECT_EQ(lumek_whlist_load_all(&h), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(0, "program", ""), 0);
    EXPECT_EQ(lumek_whlist_get_hash_by_path("/bin/sh"), nullptr);
    EXPECT_EQ(lumek_whlist_last_err(), before);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
}

// What the library relies on from the reference daemon's real state.
TEST_F(WhlistQuery, RealStateEntriesImportExportModulesAndBgset) {
    char dir[] = "/tmp/whlist-q-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string file = std::string(dir) + "/f", list = std::string(dir) + "/list";
    FILE *fp = fopen(file.c_str(), "w");
    fputs("abc", fp);
    fclose(fp);
    lumek_standin_set_label(file.c_str(), "trusted");
    lumek_standin_set_protection(file.c_str(), "readonly", 0);
    WhlistObject e{};
    ASSERT_EQ(lumek_whlist_load_by_path(file.c_str(), &e), 0);
    EXPECT_STREQ(e.hash, "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(std::vector<int>({e.obj_type, e.exectl_type, e.writable, e.extra1}),
              std::vector<int>({4, 3, 0, 1}));
    free(e.path);
    free(e.hash);
    EXPECT_EQ(lumek_whlist_export(-1, list.c_str()), 1);
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(-1, "", ""), 1);
    lumek_standin_reset();
    EXPECT_EQ(lumek_whlist_get_count_by_obj_type(-1, "", ""), 0);
    EXPECT_EQ(lumek_whlist_import(0, list.c_str()), 1);
    char *label = lumek_standin_label(file.c_str());
    EXPECT_STREQ(label, "trusted");
    free(label);
    EXPECT_EQ(lumek_standin_protection(file.c_str(), 0), nullptr) << "selector 0 imports labels only";

    EXPECT_EQ(lumek_whlist_update_rmmodpro_sm(1, "nfs"), 0);
    KmodObject *k = nullptr;
    EXPECT_EQ(lumek_kmod_whlist_load_sm("", &k), 0);
    ASSERT_TRUE(k);
    EXPECT_STREQ(k->name, "nfs");
    lumek_kmod_whlist_objects_free(&k);
    EXPECT_EQ(lumek_kmod_whlist_load("", &k), 0);
    EXPECT_EQ(k, nullptr);

    EXPECT_EQ(lumek_bgset_set("night"), 0);
    char *text = lumek_standin_text("bgset");
    EXPECT_STREQ(text, "night");
    free(text);
    unlink(file.c_str());
    unlink(list.c_str());
    rmdir(dir);
}

}  // namespace
