// The one way into the whitelist daemon: a synchronous method call on the system bus.
//
// Each call opens its own connection to the bus and closes it before returning, so no
// connection outlives a call, a bus restart can never terminate the host process (GIO's
// shared system-bus connection exits the process when the bus goes away), and calls from
// several threads share nothing. The method call itself goes straight onto the connection
// rather than through a GDBusProxy: a proxy without flags would first fetch every property
// of the object and install a signal match rule, two extra round trips the daemon's
// answers never depend on.
#include <gio/gio.h>

#include "common/raii.h"
#include "core/dbus_client.h"
#include "core/last_error.h"
#include "lumekwhlist.h"

namespace {

constexpr GDBusConnectionFlags kConnectionFlags = static_cast<GDBusConnectionFlags>(
    G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);

// The code of an error reply: its name, and its text when the body carries one.
int32_t map_error_reply(GDBusMessage *reply) {
    using namespace lumek;
    const char *name = g_dbus_message_get_error_name(reply);
    GVariant *body = g_dbus_message_get_body(reply);
    const char *text = "";
    if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) g_variant_get(body, "(&s)", &text);
    GErrorPtr error(g_dbus_error_new_for_dbus_error(name ? name : "", text));
    return lumek_whlist_handling_dbus_error(error.get());
}

GVariant *call_daemon(const char *method, GVariant *params, int32_t *result_out) {
    using namespace lumek;
    GErrorHolder err;
    GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, err.out()));
    GObjectPtr<GDBusConnection> conn;
    if (address)
        conn.reset(g_dbus_connection_new_for_address_sync(address.get(), kConnectionFlags, nullptr, nullptr,
                                                          err.out()));
    if (!conn) {
        int32_t code = lumek_whlist_handling_dbus_error(err.get());
        if (result_out) *result_out = code;
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(conn.get(), FALSE);

    // The message is sent as g_dbus_connection_call_sync would send it; the reply is taken
    // raw so that an error reply without a body stays an error without a message, instead of
    // the text GLib makes up for it.
    GObjectPtr<GDBusMessage> call(
        g_dbus_message_new_method_call(daemon::kBusName, daemon::kObjectPath, daemon::kInterface, method));
    if (params) g_dbus_message_set_body(call.get(), params);
    GObjectPtr<GDBusMessage> reply(g_dbus_connection_send_message_with_reply_sync(
        conn.get(), call.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, G_MAXINT, nullptr, nullptr, err.out()));
    g_dbus_connection_close_sync(conn.get(), nullptr, nullptr);
    if (!reply) {
        int32_t code = lumek_whlist_handling_dbus_error(err.get());
        if (result_out) *result_out = code;
        return nullptr;
    }
    if (g_dbus_message_get_message_type(reply.get()) == G_DBUS_MESSAGE_TYPE_ERROR) {
        int32_t code = map_error_reply(reply.get());
        if (result_out) *result_out = code;
        return nullptr;
    }
    GVariant *body = g_dbus_message_get_body(reply.get());
    return body ? g_variant_ref(body) : g_variant_ref_sink(g_variant_new_tuple(nullptr, 0));
}

}  // namespace

extern "C" LUMEKWHLIST_PUBLIC GVariant *lumek_whlist_process_dbus_method(const char *method_name,
                                                                         GVariant *parameters,
                                                                         int32_t *result_out) {
    using namespace lumek;
    // Take the caller's floating reference at once, so that every path below releases it.
    GVariantPtr params(parameters ? g_variant_ref_sink(parameters) : nullptr);
    try {
        if (!method_name || !g_dbus_is_member_name(method_name) ||
            (params && !g_variant_is_of_type(params.get(), G_VARIANT_TYPE_TUPLE))) {
            int32_t code = report_invalid_argument();
            if (result_out) *result_out = code;
            return nullptr;
        }
        return call_daemon(method_name, params.get(), result_out);
    } catch (...) {
        return nullptr;
    }
}
