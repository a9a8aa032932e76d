// The reference daemon on the sandbox's private system bus, called with GDBus directly:
// wire signatures, answers from served data, injected errors and replies, the call record.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "daemon_control.h"

namespace {

const char kBus[] = "com.vorda.lumek";
const char kPath[] = "/whlist";
const char kIface[] = "com.vorda.lumek.whlist";
const char *const kTestIface = lumek_test::kDaemonControlInterface;

// Every error name the daemon raises.
constexpr const char *kErrorNames[] = {
    "VORDA.LUMEK.OK",
    "VORDA.LUMEK.AUTH.FAILED",
    "VORDA.LUMEK.CANCEL.AUTH",
    "VORDA.LUMEK.DISABLED",
    "VORDA.LUMEK.DATABASE.ERR",
    "VORDA.LUMEK.LABEL.GET.ERR",
    "VORDA.LUMEK.LABEL.SET.ERR",
    "VORDA.LUMEK.INVALID.ARG",
    "VORDA.LUMEK.EXTRACT.LIST.ERR",
    "VORDA.LUMEK.FILE.ATTR.ERR",
};

// The wire table: method, a valid argument tuple (text form, "" for none), reply type.
struct WireMethod {
    const char *name;
    const char *args;
    const char *in_sig;
    const char *reply;
};
constexpr WireMethod kMethods[] = {
    {"lumek_whlist_load", "(0, '')", "is", "(a(sssssii))"},
    {"lumek_whlist_load_sm", "(0, '')", "is", "(a(sssssii))"},
    {"lumek_whlist_load_all", "", "", "(a(sssssii))"},
    {"lumek_whlist_load_by_obj_type", "(0, 'program', '')", "iss", "(a(sssssii))"},
    {"lumek_whlist_get_count_by_obj_type", "(0, 'program', '')", "iss", "(i)"},
    {"lumek_whlist_load_by_path", "('/usr/bin/ls',)", "s", "((sssssii))"},
    {"lumek_whlist_get_hash_by_path", "('/usr/bin/ls',)", "s", "(s)"},
    {"lumek_whlist_import", "(1, '/tmp/in')", "is", "(i)"},
    {"lumek_whlist_export", "(1, '/tmp/out')", "is", "(i)"},
    {"lumek_whlist_protect_set_for_dpkg", "", "", "(i)"},
    {"lumek_whlist_script_set_for_dpkg", "", "", "(i)"},
    {"lumek_kmod_whlist_load", "('',)", "s", "(a(si))"},
    {"lumek_kmod_whlist_load_sm", "('',)", "s", "(a(si))"},
    {"lumek_bgset_set", "('background',)", "s", "(i)"},
    {"lumek_bgset_unset", "", "", "(i)"},
    {"lumek_memdb_whlist_exectl_load", "", "", "(a(sssssii))"},
};

const char kThreeEntries[] =
    "[('/usr/bin/ls', 'h-ls', 'program', 'trusted', 'readonly', 1, 2),"
    " ('/usr/lib/x86_64-linux-gnu/libz.so.1', 'h-z', 'library', 'verified', 'none', 0, 0),"
    " ('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4)]";

GVariant *parse(const char *type, const char *text) {
    GError *err = nullptr;
    GVariant *v = g_variant_parse(type ? G_VARIANT_TYPE(type) : nullptr, text, nullptr, nullptr, &err);
    if (!v) {
        ADD_FAILURE() << "cannot parse " << text << ": " << err->message;
        g_error_free(err);
    }
    return v;
}

std::string print(GVariant *v) {
    gchar *s = g_variant_print(v, FALSE);
    std::string out = s;
    g_free(s);
    return out;
}

class DaemonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *in_sandbox = getenv("LUMEK_SANDBOX");
        if (!in_sandbox || strcmp(in_sandbox, "1") != 0)
            GTEST_SKIP() << "*** SKIPPED: run inside lumek-sandbox (never against the machine's bus) ***";
        GError *err = nullptr;
        gchar *address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
        ASSERT_TRUE(address) << err->message;
        conn_ = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &err);
        g_free(address);
        ASSERT_TRUE(conn_) << err->message;
        control("Reset", nullptr);
    }
    void TearDown() override {
        if (conn_) {
            g_dbus_connection_close_sync(conn_, nullptr, nullptr);
            g_object_unref(conn_);
        }
    }

    // Calls a whlist method; returns the reply or null with *err set.
    GVariant *call(const char *method, GVariant *params, GError **err) {
        return g_dbus_connection_call_sync(conn_, kBus, kPath, kIface, method, params, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, err);
    }
    GVariant *call_text(const char *method, const char *args, GError **err) {
        return call(method, args && *args ? parse(nullptr, args) : nullptr, err);
    }
    // Calls a whlist method that must succeed; returns its printed reply.
    std::string ok(const char *method, const char *args) {
        GError *err = nullptr;
        GVariant *r = call_text(method, args, &err);
        if (!r) {
            ADD_FAILURE() << method << ": " << err->message;
            g_error_free(err);
            return {};
        }
        std::string out = print(r);
        g_variant_unref(r);
        return out;
    }
    // Calls a whlist method that must fail; returns its error.
    GError *fails(const char *method, const char *args) {
        GError *err = nullptr;
        GVariant *r = call_text(method, args, &err);
        if (r) {
            ADD_FAILURE() << method << " answered " << print(r);
            g_variant_unref(r);
        }
        return err;
    }
    GVariant *control(const char *method, GVariant *params) {
        return lumek_test::daemon_control(method, params);
    }
    void control_unref(const char *method, GVariant *params) {
        lumek_test::daemon_control_unref(method, params);
    }
    void serve(const char *method, const char *entries) {
        control_unref("ServeEntries", g_variant_new("(s@a(sssssii))", method, parse("a(sssssii)", entries)));
    }
    void inject_error(const char *method, const char *name, const char *message, bool with_body, int times) {
        lumek_test::daemon_inject_error(method, name, message, with_body, times);
    }
    // @body_text is the body itself (or a single value), not a variant holding it.
    void inject_reply(const char *method, const char *body_text, int times) {
        control_unref("InjectReply", g_variant_new("(svi)", method, parse(nullptr, body_text), times));
    }
    std::string calls() {
        GVariant *r = control("GetCalls", nullptr);
        if (!r) return {};
        std::string out = print(r);
        g_variant_unref(r);
        return out;
    }

    GDBusConnection *conn_ = nullptr;
};

std::string remote_name(GError *err) {
    gchar *n = g_dbus_error_get_remote_error(err);
    std::string out = n ? n : "";
    g_free(n);
    return out;
}

std::string stripped_message(GError *err) {
    g_dbus_error_strip_remote_error(err);
    return err->message;
}

// ---------------------------------------------------------------------------------------
// Wire

TEST_F(DaemonTest, EveryMethodAnswersWithItsReplySignature) {
    serve("*", kThreeEntries);
    for (const WireMethod &m : kMethods) {
        GError *err = nullptr;
        GVariant *r = call_text(m.name, m.args, &err);
        ASSERT_TRUE(r) << m.name << ": " << err->message;
        EXPECT_STREQ(g_variant_get_type_string(r), m.reply) << m.name;
        g_variant_unref(r);
    }
}

TEST_F(DaemonTest, IntrospectionPublishesBothInterfacesWithExactSignatures) {
    GError *err = nullptr;
    GVariant *r = g_dbus_connection_call_sync(conn_, kBus, kPath, "org.freedesktop.DBus.Introspectable",
                                              "Introspect", nullptr, G_VARIANT_TYPE("(s)"),
                                              G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
    ASSERT_TRUE(r) << err->message;
    const char *xml;
    g_variant_get(r, "(&s)", &xml);
    GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(xml, &err);
    ASSERT_TRUE(node) << err->message;
    GDBusInterfaceInfo *iface = g_dbus_node_info_lookup_interface(node, kIface);
    ASSERT_TRUE(iface);
    int n_methods = 0;
    for (GDBusMethodInfo **mi = iface->methods; mi && *mi; ++mi) ++n_methods;
    EXPECT_EQ(n_methods, static_cast<int>(G_N_ELEMENTS(kMethods)));
    for (const WireMethod &m : kMethods) {
        GDBusMethodInfo *mi = g_dbus_interface_info_lookup_method(iface, m.name);
        ASSERT_TRUE(mi) << m.name;
        std::string in, out = "(";
        for (GDBusArgInfo **a = mi->in_args; a && *a; ++a) in += (*a)->signature;
        for (GDBusArgInfo **a = mi->out_args; a && *a; ++a) out += (*a)->signature;
        out += ")";
        EXPECT_EQ(in, m.in_sig) << m.name;
        EXPECT_EQ(out, m.reply) << m.name;
    }
    GDBusInterfaceInfo *test = g_dbus_node_info_lookup_interface(node, kTestIface);
    ASSERT_TRUE(test);
    for (const char *name :
         {"InjectError", "InjectReply", "ServeEntries", "ServeModules", "GetCalls", "Reset"})
        EXPECT_TRUE(g_dbus_interface_info_lookup_method(test, name)) << name;
    g_dbus_node_info_unref(node);
    g_variant_unref(r);
}

// ---------------------------------------------------------------------------------------
// Answers from served data

TEST_F(DaemonTest, NothingServedGivesEmptyAnswers) {
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "([],)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, '', '')"), "(0,)");
    EXPECT_EQ(ok("lumek_whlist_get_hash_by_path", "('/usr/bin/ls',)"), "('',)");
    EXPECT_EQ(ok("lumek_kmod_whlist_load", "('',)"), "([],)");
}

TEST_F(DaemonTest, ListMethodsFilterByPathPrefixAndObjectType) {
    serve("*", kThreeEntries);
    // Served order is kept.
    EXPECT_EQ(ok("lumek_whlist_load_all", ""),
              "([('/usr/bin/ls', 'h-ls', 'program', 'trusted', 'readonly', 1, 2), "
              "('/usr/lib/x86_64-linux-gnu/libz.so.1', 'h-z', 'library', 'verified', 'none', 0, 0), "
              "('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4)],)");
    EXPECT_EQ(ok("lumek_memdb_whlist_exectl_load", ""), ok("lumek_whlist_load_all", ""));
    EXPECT_EQ(ok("lumek_whlist_load", "(0, '')"), ok("lumek_whlist_load_all", ""));
    EXPECT_EQ(ok("lumek_whlist_load", "(0, '/usr/bin')"),
              "([('/usr/bin/ls', 'h-ls', 'program', 'trusted', 'readonly', 1, 2)],)");
    EXPECT_EQ(ok("lumek_whlist_load_sm", "(7, '/usr/sbin/')"),
              "([('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4)],)");
    EXPECT_EQ(ok("lumek_whlist_load", "(0, '/opt')"), "([],)");
    EXPECT_EQ(ok("lumek_whlist_load_by_obj_type", "(0, 'library', '')"),
              "([('/usr/lib/x86_64-linux-gnu/libz.so.1', 'h-z', 'library', 'verified', 'none', 0, 0)],)");
    EXPECT_EQ(ok("lumek_whlist_load_by_obj_type", "(0, 'program', '/usr/sbin')"), "([],)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, '', '')"), "(3,)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, '', '/usr/')"), "(3,)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, 'script', '')"), "(1,)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, 'kmodule', '')"), "(0,)");
}

TEST_F(DaemonTest, EntriesServedForAMethodWinOverTheDefault) {
    serve("*", kThreeEntries);
    serve("lumek_whlist_load_all", "[('/only/here', 'h', 'other', 'unknown', 'none', 0, 0)]");
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "([('/only/here', 'h', 'other', 'unknown', 'none', 0, 0)],)");
    EXPECT_EQ(ok("lumek_whlist_get_count_by_obj_type", "(0, '', '')"), "(3,)");
    // An empty list served for a method is an answer too, not "nothing served".
    serve("lumek_whlist_load_all", "@a(sssssii) []");
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "([],)");
}

TEST_F(DaemonTest, LoadByPathFindsTheEntryOrRaisesInvalidArg) {
    serve("*", kThreeEntries);
    EXPECT_EQ(ok("lumek_whlist_load_by_path", "('/usr/sbin/adduser',)"),
              "(('/usr/sbin/adduser', 'h-add', 'script', 'script', 'none', 3, 4),)");
    EXPECT_EQ(ok("lumek_whlist_get_hash_by_path", "('/usr/bin/ls',)"), "('h-ls',)");
    // A prefix of a served path is not that path.
    EXPECT_EQ(ok("lumek_whlist_get_hash_by_path", "('/usr/bin/l',)"), "('',)");
    GError *err = fails("lumek_whlist_load_by_path", "('/usr/bin/l',)");
    ASSERT_TRUE(err);
    EXPECT_EQ(remote_name(err), "VORDA.LUMEK.INVALID.ARG");
    EXPECT_NE(stripped_message(err).find("/usr/bin/l"), std::string::npos) << err->message;
    g_error_free(err);
}

TEST_F(DaemonTest, ModulesAreFilteredByExactName) {
    control_unref("ServeModules",
                  g_variant_new("(@a(si))", parse("a(si)", "[('ext4', 1), ('ext', 2), ('nfs', 0)]")));
    EXPECT_EQ(ok("lumek_kmod_whlist_load", "('',)"), "([('ext4', 1), ('ext', 2), ('nfs', 0)],)");
    EXPECT_EQ(ok("lumek_kmod_whlist_load_sm", "('ext',)"), "([('ext', 2)],)");
    EXPECT_EQ(ok("lumek_kmod_whlist_load", "('xfs',)"), "([],)");
}

TEST_F(DaemonTest, CommandsAnswerZero) {
    for (const char *m :
         {"lumek_whlist_protect_set_for_dpkg", "lumek_whlist_script_set_for_dpkg", "lumek_bgset_unset"})
        EXPECT_EQ(ok(m, ""), "(0,)") << m;
    EXPECT_EQ(ok("lumek_whlist_import", "(0, '/tmp/x')"), "(0,)");
    EXPECT_EQ(ok("lumek_whlist_export", "(0, '/tmp/x')"), "(0,)");
    EXPECT_EQ(ok("lumek_bgset_set", "('text',)"), "(0,)");
}

// ---------------------------------------------------------------------------------------
// Injected errors

TEST_F(DaemonTest, InjectedErrorWithBodyReachesTheCallerForEveryName) {
    std::vector<std::string> names(std::begin(kErrorNames), std::end(kErrorNames));
    names.push_back("org.example.Lumek.Other");
    for (const std::string &name : names) {
        std::string message = "message for " + name;
        inject_error("lumek_whlist_load_all", name.c_str(), message.c_str(), true, 1);
        GError *err = fails("lumek_whlist_load_all", "");
        ASSERT_TRUE(err) << name;
        EXPECT_TRUE(g_dbus_error_is_remote_error(err));
        EXPECT_EQ(remote_name(err), name);
        EXPECT_EQ(stripped_message(err), message);
        g_error_free(err);
    }
}

TEST_F(DaemonTest, InjectedErrorWithoutBodySendsNoBodyAtAll) {
    inject_error("lumek_whlist_get_hash_by_path", "VORDA.LUMEK.DISABLED", "must not be sent", false, 1);
    GDBusMessage *msg = g_dbus_message_new_method_call(kBus, kPath, kIface, "lumek_whlist_get_hash_by_path");
    g_dbus_message_set_body(msg, g_variant_new("(s)", "/usr/bin/ls"));
    GError *err = nullptr;
    GDBusMessage *reply = g_dbus_connection_send_message_with_reply_sync(
        conn_, msg, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr, &err);
    ASSERT_TRUE(reply) << err->message;
    EXPECT_EQ(g_dbus_message_get_message_type(reply), G_DBUS_MESSAGE_TYPE_ERROR);
    EXPECT_STREQ(g_dbus_message_get_error_name(reply), "VORDA.LUMEK.DISABLED");
    EXPECT_EQ(g_dbus_message_get_body(reply), nullptr);
    EXPECT_EQ(g_dbus_message_get_signature(reply), std::string());
    g_object_unref(reply);
    g_object_unref(msg);

    // Through a normal call the name still arrives; the message is only what GDBus makes up.
    inject_error("lumek_whlist_get_hash_by_path", "VORDA.LUMEK.DISABLED", "must not be sent", false, 1);
    err = fails("lumek_whlist_get_hash_by_path", "('/usr/bin/ls',)");
    ASSERT_TRUE(err);
    EXPECT_EQ(remote_name(err), "VORDA.LUMEK.DISABLED");
    EXPECT_EQ(stripped_message(err).find("must not be sent"), std::string::npos) << err->message;
    g_error_free(err);
}

TEST_F(DaemonTest, InjectionCountsDownAndStarAppliesToEveryMethod) {
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.AUTH.FAILED", "twice", true, 2);
    for (int i = 0; i < 2; ++i) {
        GError *err = fails("lumek_bgset_unset", "");
        ASSERT_TRUE(err) << "call " << i;
        g_error_free(err);
    }
    EXPECT_EQ(ok("lumek_bgset_unset", ""), "(0,)");

    inject_error("*", "VORDA.LUMEK.DATABASE.ERR", "always", true, -1);
    for (int i = 0; i < 3; ++i) {
        for (const char *m : {"lumek_whlist_load_all", "lumek_bgset_unset"}) {
            GError *err = fails(m, "");
            ASSERT_TRUE(err) << m;
            EXPECT_EQ(remote_name(err), "VORDA.LUMEK.DATABASE.ERR");
            g_error_free(err);
        }
    }
    // A method's own injection goes first; when spent, "*" applies again.
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.CANCEL.AUTH", "own", true, 1);
    GError *err = fails("lumek_bgset_unset", "");
    ASSERT_TRUE(err);
    EXPECT_EQ(remote_name(err), "VORDA.LUMEK.CANCEL.AUTH");
    g_error_free(err);
    err = fails("lumek_bgset_unset", "");
    ASSERT_TRUE(err);
    EXPECT_EQ(remote_name(err), "VORDA.LUMEK.DATABASE.ERR");
    g_error_free(err);

    // Test-control calls are never affected.
    EXPECT_NE(calls(), "");
    control_unref("Reset", nullptr);
    EXPECT_EQ(ok("lumek_bgset_unset", ""), "(0,)");
}

TEST_F(DaemonTest, MalformedControlRequestsAreRefusedAndDaemonKeepsServing) {
    struct Bad {
        const char *method;
        GVariant *params;
    } bad[] = {
        {"InjectError", g_variant_new("(sssbi)", "*", "not a name", "m", TRUE, -1)},
        {"InjectError", g_variant_new("(sssbi)", "*", "", "m", TRUE, -1)},
        // A misspelt method name would make an injection that never fires.
        {"InjectError", g_variant_new("(sssbi)", "lumek_whlist_loadall", "VORDA.LUMEK.OK", "m", TRUE, -1)},
        {"InjectReply", g_variant_new("(svi)", "lumek_whlist_loadall", g_variant_new_int32(1), -1)},
        {"ServeEntries", g_variant_new("(s@a(sssssii))", "load_all", parse("a(sssssii)", kThreeEntries))},
    };
    for (const Bad &b : bad) {
        GError *err = nullptr;
        GVariant *r = g_dbus_connection_call_sync(conn_, kBus, kPath, kTestIface, b.method, b.params, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
        ASSERT_FALSE(r) << b.method << " accepted";
        EXPECT_EQ(remote_name(err), "org.freedesktop.DBus.Error.InvalidArgs") << b.method;
        g_error_free(err);
    }
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "([],)");
}

// ---------------------------------------------------------------------------------------
// Injected replies

TEST_F(DaemonTest, InjectedReplyMayHaveTheWrongType) {
    // A single value is wrapped into a 1-tuple; a tuple is sent as it is.
    inject_reply("lumek_whlist_load_all", "'wrong'", 1);
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "('wrong',)");
    EXPECT_EQ(ok("lumek_whlist_load_all", ""), "([],)") << "used once only";

    inject_reply("lumek_whlist_get_count_by_obj_type", "(int32 1, 'two', uint64 3)", -1);
    for (int i = 0; i < 2; ++i) {
        GError *err = nullptr;
        GVariant *r = call_text("lumek_whlist_get_count_by_obj_type", "(0, '', '')", &err);
        ASSERT_TRUE(r) << err->message;
        EXPECT_STREQ(g_variant_get_type_string(r), "(ist)");
        EXPECT_EQ(print(r), "(1, 'two', 3)");
        g_variant_unref(r);
    }

    inject_reply("lumek_whlist_load_by_path", "@a(si) [('m', 1)]", 1);
    EXPECT_EQ(ok("lumek_whlist_load_by_path", "('/x',)"), "([('m', 1)],)");

    // An injected error wins over an injected reply.
    inject_reply("lumek_bgset_unset", "'reply'", -1);
    inject_error("lumek_bgset_unset", "VORDA.LUMEK.DISABLED", "error", true, 1);
    GError *err = fails("lumek_bgset_unset", "");
    ASSERT_TRUE(err);
    g_error_free(err);
    EXPECT_EQ(ok("lumek_bgset_unset", ""), "('reply',)");
}

// ---------------------------------------------------------------------------------------
// Call record and reset

TEST_F(DaemonTest, GetCallsRecordsMethodsAndArgumentsInOrder) {
    EXPECT_EQ(calls(), "([],)");
    ok("lumek_whlist_load", "(3, '/usr/bin')");
    ok("lumek_bgset_unset", "");
    inject_error("lumek_whlist_import", "VORDA.LUMEK.DISABLED", "x", true, 1);
    GError *err = fails("lumek_whlist_import", "(-1, 'caf\u00e9')");
    g_error_free(err);
    ok("lumek_whlist_get_count_by_obj_type", "(2, 'library', '/lib')");
    serve("*", kThreeEntries);  // test-control calls are not recorded
    EXPECT_EQ(calls(),
              "([('lumek_whlist_load', <(3, '/usr/bin')>), ('lumek_bgset_unset', <@av []>), "
              "('lumek_whlist_import', <(-1, 'caf\u00e9')>), "
              "('lumek_whlist_get_count_by_obj_type', <(2, 'library', '/lib')>)],)");
}

TEST_F(DaemonTest, ResetDropsInjectionsServedDataAndCalls) {
    serve("*", kThreeEntries);
    control_unref("ServeModules", g_variant_new("(@a(si))", parse("a(si)", "[('ext4', 1)]")));
    inject_error("lumek_whlist_load", "VORDA.LUMEK.DISABLED", "x", true, -1);
    inject_reply("lumek_whlist_load_sm", "'wrong'", -1);
    ok("lumek_whlist_load_all", "");
    control_unref("Reset", nullptr);
    EXPECT_EQ(calls(), "([],)");
    EXPECT_EQ(ok("lumek_whlist_load", "(0, '')"), "([],)");
    EXPECT_EQ(ok("lumek_whlist_load_sm", "(0, '')"), "([],)");
    EXPECT_EQ(ok("lumek_kmod_whlist_load", "('',)"), "([],)");
    EXPECT_EQ(calls(),
              "([('lumek_whlist_load', <(0, '')>), ('lumek_whlist_load_sm', <(0, '')>), "
              "('lumek_kmod_whlist_load', <('',)>)],)");
}

}  // namespace
