// The reference daemon on the sandbox's private system bus, called with GDBus directly: what
// the library's tests arrange through it (served data, injected errors and replies) and
// what they read back (the call record).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "daemon_control.h"

namespace {

using lumek_test::daemon_control_unref;
using lumek_test::kDaemonBusName;
using lumek_test::kDaemonPath;
const char kIface[] = "com.vorda.lumek.whlist";

// The wire table: method, a valid argument tuple (text form, "" for none), reply type.
constexpr const char *kMethods[][3] = {
    {"lumek_whlist_load", "(0, '')", "(a(sssssii))"},
    {"lumek_whlist_load_sm", "(0, '')", "(a(sssssii))"},
    {"lumek_whlist_load_all", "", "(a(sssssii))"},
    {"lumek_whlist_load_by_obj_type", "(0, 'program', '')", "(a(sssssii))"},
    {"lumek_whlist_get_count_by_obj_type", "(0, 'program', '')", "(i)"},
    {"lumek_whlist_load_by_path", "('/usr/bin/ls',)", "((sssssii))"},
    {"lumek_whlist_get_hash_by_path", "('/usr/bin/ls',)", "(s)"},
    {"lumek_whlist_import", "(1, '/dev/null')", "(i)"},
    {"lumek_whlist_export", "(1, '/dev/null')", "(i)"},
    {"lumek_whlist_protect_set_for_dpkg", "", "(i)"},
    {"lumek_whlist_script_set_for_dpkg", "", "(i)"},
    {"lumek_kmod_whlist_load", "('',)", "(a(si))"},
    {"lumek_kmod_whlist_load_sm", "('',)", "(a(si))"},
    {"lumek_bgset_set", "('background',)", "(i)"},
    {"lumek_bgset_unset", "", "(i)"},
    {"lumek_memdb_whlist_exectl_load", "", "(a(sssssii))"},
};

const char kServed[] =
    "[('/usr/bin/ls', 'h-ls', 'program', 'trusted', 'readonly', 1, 2),"
    " ('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4)]";

using lumek_test::parse_variant;

std::string print(GVariant *v) {
    gchar *s = g_variant_print(v, FALSE);
    std::string out = s;
    g_free(s);
    return out;
}

// What a call got back: the printed reply and its type, or "!" and the error's name as the
// type with the error's own message.
struct Answer {
    std::string reply, type, message;
};

class DaemonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!getenv("LUMEK_SANDBOX"))
            GTEST_SKIP() << "*** SKIPPED: run inside lumek-sandbox (never against the machine's bus) ***";
        daemon_control_unref("Reset", nullptr);
    }

    Answer call(const char *method, const char *args = "") {
        GError *err = nullptr;
        GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        GVariant *r = g_dbus_connection_call_sync(conn, kDaemonBusName, kDaemonPath, kIface, method,
                                                  *args ? parse_variant(nullptr, args) : nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
        g_object_unref(conn);
        Answer a;
        if (r) {
            a.reply = print(r);
            a.type = g_variant_get_type_string(r);
            g_variant_unref(r);
        } else {
            gchar *name = g_dbus_error_get_remote_error(err);
            a.type = std::string("!") + (name ? name : "");
            g_free(name);
            g_dbus_error_strip_remote_error(err);
            a.message = err->message;
            g_error_free(err);
        }
        return a;
    }
    void serve(const char *method, const char *entries) { lumek_test::daemon_serve_entries(method, entries); }
    void inject_error(const char *method, const char *name, int times) {
        lumek_test::daemon_inject_error(method, name, "injected", true, times);
    }
    // @body_text is the body itself (or a single value), not a variant holding it.
    void inject_reply(const char *method, const char *body_text, int times) {
        lumek_test::daemon_inject_reply(method, body_text, times);
    }
    std::string calls() {
        GVariant *r = lumek_test::daemon_control("GetCalls", nullptr);
        if (!r) return {};
        std::string out = print(r);
        g_variant_unref(r);
        return out;
    }
};

TEST_F(DaemonTest, EveryMethodAnswersWithItsReplySignature) {
    serve("*", kServed);  // so that the lookups by path find something
    for (const auto &m : kMethods) {
        Answer a = call(m[0], m[1]);
        EXPECT_EQ(a.type, m[2]) << m[0] << ": " << a.message;
    }
}

TEST_F(DaemonTest, EntriesServedForAMethodAreItsAnswer) {
    serve("*", kServed);
    serve("lumek_whlist_load_all", "[('/only/here', 'h', 'other', 'unknown', 'none', 0, 0)]");
    EXPECT_EQ(call("lumek_whlist_load_all").reply,
              "([('/only/here', 'h', 'other', 'unknown', 'none', 0, 0)],)");
    // Served order is kept.
    EXPECT_EQ(call("lumek_memdb_whlist_exectl_load").reply,
              "([('/usr/bin/ls', 'h-ls', 'program', 'trusted', 'readonly', 1, 2), "
              "('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4)],)");
    // An empty list served for a method is an answer too, not "nothing served".
    serve("lumek_whlist_load_all", "@a(sssssii) []");
    EXPECT_EQ(call("lumek_whlist_load_all").reply, "([],)");
}

TEST_F(DaemonTest, InjectedErrorWithBodyReachesTheCallerForEveryName) {
    // Every name the daemon raises, and one it does not know.
    for (std::string name :
         {"VORDA.LUMEK.OK", "VORDA.LUMEK.AUTH.FAILED", "VORDA.LUMEK.CANCEL.AUTH", "VORDA.LUMEK.DISABLED",
          "VORDA.LUMEK.DATABASE.ERR", "VORDA.LUMEK.LABEL.GET.ERR", "VORDA.LUMEK.LABEL.SET.ERR",
          "VORDA.LUMEK.INVALID.ARG", "VORDA.LUMEK.EXTRACT.LIST.ERR", "VORDA.LUMEK.FILE.ATTR.ERR",
          "org.example.Lumek.Other"}) {
        std::string message = "message for " + name;
        lumek_test::daemon_inject_error("lumek_whlist_load_all", name.c_str(), message.c_str(), true, 1);
        Answer a = call("lumek_whlist_load_all");
        EXPECT_EQ(a.type, "!" + name);
        EXPECT_EQ(a.message, message);
    }
}

TEST_F(DaemonTest, InjectedErrorWithoutBodySendsNoBodyAtAll) {
    lumek_test::daemon_inject_error("lumek_whlist_get_hash_by_path", "VORDA.LUMEK.DISABLED",
                                    "must not be sent", false, 1);
    GDBusMessage *msg =
        g_dbus_message_new_method_call(kDaemonBusName, kDaemonPath, kIface, "lumek_whlist_get_hash_by_path");
    g_dbus_message_set_body(msg, g_variant_new("(s)", "/usr/bin/ls"));
    GError *err = nullptr;
    GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    GDBusMessage *reply = g_dbus_connection_send_message_with_reply_sync(
        conn, msg, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr, &err);
    ASSERT_TRUE(reply) << err->message;
    EXPECT_EQ(g_dbus_message_get_message_type(reply), G_DBUS_MESSAGE_TYPE_ERROR);
    EXPECT_STREQ(g_dbus_message_get_error_name(reply), "VORDA.LUMEK.DISABLED");
    EXPECT_EQ(g_dbus_message_get_body(reply), nullptr);
    EXPECT_EQ(g_dbus_message_get_signature(reply), std::string());
    g_object_unref(reply);
    g_object_unref(msg);
    g_object_unref(conn);
}

TEST_F(DaemonTest, InjectionCountsDownAndStarAppliesToEveryMethod) {
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.AUTH.FAILED", 2);
    EXPECT_EQ(call("lumek_bgset_unset").type, "!VORDA.LUMEK.AUTH.FAILED");
    EXPECT_EQ(call("lumek_bgset_unset").type, "!VORDA.LUMEK.AUTH.FAILED");
    EXPECT_EQ(call("lumek_bgset_unset").type, "(i)") << "spent after two calls";

    inject_error("*", "VORDA.LUMEK.DATABASE.ERR", -1);
    for (int i = 0; i < 3; ++i)
        for (const char *m : {"lumek_whlist_load_all", "lumek_bgset_unset"})
            EXPECT_EQ(call(m).type, "!VORDA.LUMEK.DATABASE.ERR") << m << " call " << i;
    // A method's own injection goes first; when spent, "*" applies again.
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.CANCEL.AUTH", 1);
    EXPECT_EQ(call("lumek_bgset_unset").type, "!VORDA.LUMEK.CANCEL.AUTH");
    EXPECT_EQ(call("lumek_bgset_unset").type, "!VORDA.LUMEK.DATABASE.ERR");
    // Test-control calls are never affected.
    EXPECT_NE(calls(), "");
}

TEST_F(DaemonTest, InjectedReplyMayHaveTheWrongType) {
    // A single value is wrapped into a 1-tuple, used once only.
    inject_reply("lumek_whlist_load_all", "'wrong'", 1);
    EXPECT_EQ(call("lumek_whlist_load_all").reply, "('wrong',)");
    EXPECT_EQ(call("lumek_whlist_load_all").type, "(a(sssssii))");
    // A tuple is sent as it is, until Reset.
    inject_reply("lumek_whlist_get_count_by_obj_type", "(int32 1, 'two', uint64 3)", -1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(call("lumek_whlist_get_count_by_obj_type", "(0, '', '')").reply, "(1, 'two', 3)");
    // An injected error wins over an injected reply.
    inject_reply("lumek_bgset_unset", "'reply'", -1);
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.DISABLED", 1);
    EXPECT_EQ(call("lumek_bgset_unset").type, "!VORDA.LUMEK.DISABLED");
    EXPECT_EQ(call("lumek_bgset_unset").reply, "('reply',)");
}

TEST_F(DaemonTest, GetCallsRecordsMethodsAndArgumentsInOrder) {
    EXPECT_EQ(calls(), "([],)");
    call("lumek_whlist_load", "(3, '/usr/bin')");
    call("lumek_bgset_unset");
    inject_error("lumek_whlist_import", "VORDA.LUMEK.DISABLED", 1);
    call("lumek_whlist_import", "(-1, 'caf\u00e9')");  // failed calls are recorded too
    call("lumek_whlist_get_count_by_obj_type", "(2, 'library', '/lib')");
    serve("*", kServed);  // test-control calls are not recorded
    EXPECT_EQ(calls(),
              "([('lumek_whlist_load', <(3, '/usr/bin')>), ('lumek_bgset_unset', <@av []>), "
              "('lumek_whlist_import', <(-1, 'caf\u00e9')>), "
              "('lumek_whlist_get_count_by_obj_type', <(2, 'library', '/lib')>)],)");
}

TEST_F(DaemonTest, ResetDropsInjectionsServedDataAndCalls) {
    serve("lumek_whlist_load_all", "[('/served/before/reset', 'h', 'other', 'unknown', 'none', 0, 0)]");
    inject_error("lumek_whlist_load", "VORDA.LUMEK.DISABLED", -1);
    inject_error("*", "VORDA.LUMEK.DATABASE.ERR", -1);
    inject_reply("lumek_whlist_load_sm", "'wrong'", -1);
    call("lumek_bgset_unset");
    daemon_control_unref("Reset", nullptr);
    EXPECT_EQ(calls(), "([],)");
    EXPECT_EQ(call("lumek_whlist_load", "(0, '')").type, "(a(sssssii))");
    EXPECT_EQ(call("lumek_whlist_load_sm", "(0, '')").type, "(a(sssssii))");
    Answer all = call("lumek_whlist_load_all");
    EXPECT_EQ(all.type, "(a(sssssii))");
    EXPECT_EQ(all.reply.find("/served/before/reset"), std::string::npos) << all.reply;
    EXPECT_EQ(calls(),
              "([('lumek_whlist_load', <(0, '')>), ('lumek_whlist_load_sm', <(0, '')>), "
              "('lumek_whlist_load_all', <@av []>)],)");
}

}  // namespace
