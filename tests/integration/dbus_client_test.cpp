// The daemon client against a real private bus and the reference daemon (each test process
// runs inside lumek-sandbox). Daemon misbehaviour is arranged through the daemon's test
// control interface.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "standin_state.h"

namespace {

using lumek_test::daemon_control;
using lumek_test::daemon_control_unref;
using lumek_test::daemon_inject_error;
using lumek_test::log_lines;

void set_buffer(const char *text) {
    // The only public writer of the buffer is a failing call; an unknown remote error with a
    // known message puts a marker there.
    daemon_inject_error("lumek_bgset_unset", "test.Marker", text);
    int32_t rc = 0;
    ASSERT_EQ(lumek_whlist_process_dbus_method("lumek_bgset_unset", nullptr, &rc), nullptr);
    ASSERT_STREQ(lumek_whlist_last_err(), text);
    daemon_control_unref("Reset", nullptr);
}

// Points the system bus somewhere else for one test and back again afterwards.
class BusAddress {
  public:
    explicit BusAddress(const char *address) {
        if (const char *old = getenv(kVar)) old_ = old;
        setenv(kVar, address, 1);
    }
    ~BusAddress() {
        if (old_.empty())
            unsetenv(kVar);
        else
            setenv(kVar, old_.c_str(), 1);
    }
    BusAddress(const BusAddress &) = delete;
    BusAddress &operator=(const BusAddress &) = delete;

  private:
    static constexpr const char kVar[] = "DBUS_SYSTEM_BUS_ADDRESS";
    std::string old_;
};

class DbusClient : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!getenv("LUMEK_SANDBOX"))
            GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox (private bus and daemon) ***";
    }
};

TEST_F(DbusClient, SuccessReturnsTheReplyLeavesResultAndSendsArgumentsUnchanged) {
    int32_t rc = 12345;
    GVariant *reply =
        lumek_whlist_process_dbus_method("lumek_whlist_load", g_variant_new("(is)", -3, "/usr/lib"), &rc);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(rc, 12345);
    g_variant_unref(reply);

    GVariant *calls = daemon_control("GetCalls", nullptr);
    ASSERT_NE(calls, nullptr);
    gchar *text = g_variant_print(calls, FALSE);
    EXPECT_STREQ(text, "([('lumek_whlist_load', <(-3, '/usr/lib')>)],)");
    g_free(text);
    g_variant_unref(calls);
}

TEST_F(DbusClient, DisabledGivesNullAndMinus1003AndLogsNameAndMessage) {
    daemon_inject_error("lumek_whlist_load_all", "VORDA.LUMEK.DISABLED", "lumek is disabled");
    size_t before = log_lines().size();
    int32_t rc = 0;
    EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load_all", nullptr, &rc), nullptr);
    EXPECT_EQ(rc, -1003);
    EXPECT_STREQ(lumek_whlist_last_err(), "lumek is disabled");
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back(), "2|0|\\N|VORDA.LUMEK.DISABLED: lumek is disabled\\n");

    // The invalid-argument report logs its text the same way.
    EXPECT_EQ(lumek_whlist_process_dbus_method("bad name", nullptr, &rc), nullptr);
    EXPECT_EQ(rc, -1007);
    lines = log_lines();
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines.back(), std::string("2|0|\\N|") + strerror(EINVAL));
}

TEST_F(DbusClient, ErrorWithoutMessageMapsTheCodeAndKeepsTheBuffer) {
    set_buffer("earlier text");
    size_t logged = log_lines().size();
    for (bool with_body : {false, true}) {  // no body at all, and an empty message
        daemon_inject_error("lumek_whlist_export", "VORDA.LUMEK.DATABASE.ERR", "", with_body);
        int32_t rc = 0;
        EXPECT_EQ(
            lumek_whlist_process_dbus_method("lumek_whlist_export", g_variant_new("(is)", 0, "/tmp/y"), &rc),
            nullptr);
        EXPECT_EQ(rc, -1004);
        EXPECT_STREQ(lumek_whlist_last_err(), "earlier text");
        EXPECT_EQ(log_lines().size(), logged);
    }
}

TEST_F(DbusClient, UnreachableBusGivesNullAndZeroWithTheBufferUnchangedAndNoLog) {
    set_buffer("still here");
    size_t logged = log_lines().size();
    BusAddress nowhere("unix:path=/nonexistent/lumek-test-bus");
    int32_t rc = 5;
    EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load", g_variant_new("(is)", 1, "x"), &rc),
              nullptr);
    EXPECT_EQ(rc, 0);
    EXPECT_STREQ(lumek_whlist_last_err(), "still here");
    EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load_all", nullptr, nullptr), nullptr);
    EXPECT_EQ(log_lines().size(), logged);  // a local failure makes no framework call
}

// Takes every method call for the daemon's name and never answers it.
GDBusMessage *swallow_calls(GDBusConnection *, GDBusMessage *message, gboolean incoming, gpointer seen) {
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL ||
        g_strcmp0(g_dbus_message_get_interface(message), "com.vorda.lumek.whlist") != 0)
        return message;
    static_cast<std::atomic<bool> *>(seen)->store(true);
    g_object_unref(message);
    return nullptr;
}

// The bus goes away while a call waits for its answer: the host process lives on, the call
// and the next one report no bus.
TEST_F(DbusClient, BusGoingAwayDuringACallLeavesTheProcessAlive) {
    GTestDBus *bus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus);
    BusAddress private_bus(g_test_dbus_get_bus_address(bus));

    GError *err = nullptr;
    GDBusConnection *peer = g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &err);
    ASSERT_NE(peer, nullptr) << err->message;
    std::atomic<bool> seen{false};
    g_dbus_connection_add_filter(peer, swallow_calls, &seen, nullptr);
    GVariant *owned = g_dbus_connection_call_sync(
        peer, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "com.vorda.lumek", 0u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &err);
    ASSERT_NE(owned, nullptr) << err->message;
    g_variant_unref(owned);

    int32_t rc = 5;
    GVariant *reply = reinterpret_cast<GVariant *>(1);
    std::thread caller(
        [&] { reply = lumek_whlist_process_dbus_method("lumek_whlist_load_all", nullptr, &rc); });
    for (int i = 0; i < 5000 && !seen.load(); ++i) usleep(1000);
    EXPECT_TRUE(seen.load());
    g_test_dbus_stop(bus);
    caller.join();
    // A host with a main loop runs the closed handlers GLib queued for the lost connection.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(rc, 0);

    rc = 5;
    EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load_all", nullptr, &rc), nullptr);
    EXPECT_EQ(rc, 0);
    g_object_unref(peer);
    g_object_unref(bus);
}

// A bus on which nobody owns the daemon's name: run this test again inside a sandbox
// started without the daemon.
TEST(DbusClientNoOwner, BusAnswersWithItsOwnErrorWhichIsUnknown) {
    if (getenv("LUMEK_TEST_NO_OWNER")) {
        int32_t rc = 0;
        EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load_all", nullptr, &rc), nullptr);
        EXPECT_EQ(rc, -1011);
        EXPECT_NE(strstr(lumek_whlist_last_err(), "com.vorda.lumek"), nullptr) << lumek_whlist_last_err();
        return;
    }
    // The program's own path: under valgrind, /proc/PID/exe is valgrind's tool, which cannot
    // be started alone (readlink of /proc/self/exe gives the program's).
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string cmd = std::string("LUMEK_TEST_NO_OWNER=1 ") + LUMEK_BIN_DIR +
                      "/lumek-sandbox --no-daemon -- " + exe + " --gtest_filter=DbusClientNoOwner.*";
    if (access(LUMEK_BIN_DIR "/lumek-sandbox", X_OK) != 0)
        GTEST_SKIP() << "*** SKIPPED: no lumek-sandbox ***";
    EXPECT_EQ(system(cmd.c_str()), 0);
}

}  // namespace
