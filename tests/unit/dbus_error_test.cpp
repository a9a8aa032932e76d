// Mapping of daemon error names to result codes, message stripping and the last-error
// buffer. GLib builds remote errors locally exactly as it does from a bus reply, so the
// whole table runs here without a bus; the bus path is covered by the integration tests.
#include <string.h>

#include <string>
#include <thread>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "core/last_error.h"
#include "core/result_codes.h"
#include "lumekwhlist.h"

namespace {

struct ErrorFree {
    void operator()(GError *e) const { g_error_free(e); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

Error remote(const char *name, const char *message) {
    return Error(g_dbus_error_new_for_dbus_error(name, message));
}

void set_buffer(const char *text) {
    snprintf(lumek::last_error_buffer(), lumek::kLastErrorSize, "%s", text);
}

TEST(DbusErrorMapping, EveryTableNameMapsToItsCodeAndWritesTheStrippedMessage) {
    const std::pair<const char *, int32_t> table[] = {
        {"VORDA.LUMEK.OK", 0},
        {"VORDA.LUMEK.AUTH.FAILED", -1001},
        {"VORDA.LUMEK.CANCEL.AUTH", -1002},
        {"VORDA.LUMEK.DISABLED", -1003},
        {"VORDA.LUMEK.DATABASE.ERR", -1004},
        {"VORDA.LUMEK.LABEL.GET.ERR", -1005},
        {"VORDA.LUMEK.LABEL.SET.ERR", -1006},
        {"VORDA.LUMEK.INVALID.ARG", -1007},
        {"VORDA.LUMEK.EXTRACT.LIST.ERR", -1008},
        {"VORDA.LUMEK.FILE.ATTR.ERR", -1009},
    };
    for (const auto &[name, code] : table) {
        // Colons and format characters are copied verbatim.
        std::string msg = std::string("user: %s%n%x: ") + name;
        Error e = remote(name, msg.c_str());
        EXPECT_EQ(lumek_whlist_handling_dbus_error(e.get()), code) << name;
        EXPECT_EQ(std::string(lumek_whlist_last_err()), msg) << name;
        // The caller's own message is stripped, so the same error maps to nothing again.
        EXPECT_EQ(std::string(e->message), msg) << name;
        set_buffer("after");
        EXPECT_EQ(lumek_whlist_handling_dbus_error(e.get()), 0) << name;
        EXPECT_STREQ(lumek_whlist_last_err(), "after") << name;
    }
}

TEST(DbusErrorMapping, NamesThatOnlyResembleTableEntriesAreUnknown) {
    for (const char *name :
         {"vorda.lumek.disabled", "VORDA.LUMEK.DISABLED.X", "VORDA.LUMEK.DISABLE", "VORDA.LUMEK.Disabled",
          "VORDA.LUMEK.OK.", "org.freedesktop.DBus.Error.ServiceUnknown", "VORDA.LUMEK.ERR"}) {
        Error e = remote(name, "x");
        EXPECT_EQ(lumek_whlist_handling_dbus_error(e.get()), -1011) << name;
    }
}

TEST(DbusErrorMapping, NoMessageLocalFailuresAndNullKeepTheBuffer) {
    set_buffer("previous failure");
    EXPECT_EQ(lumek_whlist_handling_dbus_error(remote("VORDA.LUMEK.DISABLED", "").get()), -1003);
    EXPECT_EQ(lumek_whlist_handling_dbus_error(nullptr), 0);
    Error local(g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Could not connect: No such file"));
    EXPECT_EQ(lumek_whlist_handling_dbus_error(local.get()), 0);
    // A local error whose text merely looks remote-ish is still local.
    Error tricky(g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, "VORDA.LUMEK.DISABLED: no"));
    EXPECT_EQ(lumek_whlist_handling_dbus_error(tricky.get()), 0);
    EXPECT_STREQ(lumek_whlist_last_err(), "previous failure");
}

TEST(DbusErrorMapping, LongMessageIsCutAt4095AndTerminatedAndLeavesNoTail) {
    std::string msg(5000, 'm');
    msg[4094] = 'E';  // last byte that fits
    msg[4095] = 'X';  // first byte that does not
    Error e = remote("VORDA.LUMEK.DATABASE.ERR", msg.c_str());
    EXPECT_EQ(lumek_whlist_handling_dbus_error(e.get()), -1004);
    const char *buf = lumek_whlist_last_err();
    EXPECT_EQ(strlen(buf), 4095u);
    EXPECT_EQ(buf[4094], 'E');
    EXPECT_EQ(buf[4095], '\0');
    // A shorter message then leaves no tail of the longer one.
    lumek_whlist_handling_dbus_error(remote("VORDA.LUMEK.DATABASE.ERR", "short").get());
    EXPECT_STREQ(buf, "short");
    for (unsigned i = 5; i < lumek::kLastErrorSize; ++i) ASSERT_EQ(buf[i], '\0') << i;
}

TEST(LastError, EmptyBeforeAnyFailureAndPerThread) {
    // A fresh thread has never failed, whatever earlier tests left in this thread's buffer,
    // and its failure leaves this thread's text alone.
    set_buffer("main thread text");
    std::string other_thread_seen;
    std::thread t([&] {
        other_thread_seen = lumek_whlist_last_err();
        Error e = remote("VORDA.LUMEK.AUTH.FAILED", "thread text");
        lumek_whlist_handling_dbus_error(e.get());
    });
    t.join();
    EXPECT_EQ(other_thread_seen, "");
    EXPECT_STREQ(lumek_whlist_last_err(), "main thread text");
}

TEST(DbusClient, RefusesBadMethodNamesAndNonTupleParametersWithoutTouchingTheBus) {
    // No bus anywhere: a refusal must come before any connection attempt.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    int32_t result = 1;
    EXPECT_EQ(lumek_whlist_process_dbus_method(nullptr, nullptr, &result), nullptr);
    EXPECT_EQ(result, -1007);
    result = 1;
    EXPECT_EQ(lumek_whlist_process_dbus_method("bad name", nullptr, &result), nullptr);
    EXPECT_EQ(result, -1007);
    result = 1;
    // A floating non-tuple is consumed (the leak checker would see it otherwise).
    EXPECT_EQ(lumek_whlist_process_dbus_method("lumek_whlist_load_all", g_variant_new_int32(3), &result),
              nullptr);
    EXPECT_EQ(result, -1007);
    EXPECT_STREQ(lumek_whlist_last_err(), strerror(EINVAL));
}

}  // namespace
