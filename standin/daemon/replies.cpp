// Sending replies by hand: bodies of any type (GDBus would refuse a body that does not
// match the declared reply type, and tests need exactly that) and errors without a body.
#include <stdio.h>

#include "daemon_internal.h"

namespace whlistd {

namespace {

bool reply_expected(GDBusMethodInvocation *invocation) {
    GDBusMessage *req = g_dbus_method_invocation_get_message(invocation);
    return !(g_dbus_message_get_flags(req) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
}

void send_and_release(GDBusMethodInvocation *invocation, GDBusMessage *reply) {
    GError *err = nullptr;
    if (!g_dbus_connection_send_message(g_dbus_method_invocation_get_connection(invocation), reply,
                                        G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, &err)) {
        fprintf(stderr, "lumek-whlistd-ref: sending a reply failed: %s\n", err->message);
        g_error_free(err);
    }
    g_object_unref(reply);
    // Nobody else returns this invocation, so the reference handed to the handler ends here.
    g_object_unref(invocation);
}

}  // namespace

void send_raw_reply(GDBusMethodInvocation *invocation, GVariant *body) {
    if (!reply_expected(invocation)) {
        g_object_unref(invocation);
        return;
    }
    GDBusMessage *reply = g_dbus_message_new_method_reply(g_dbus_method_invocation_get_message(invocation));
    g_dbus_message_set_body(reply, body);
    send_and_release(invocation, reply);
}

void send_error(GDBusMethodInvocation *invocation, const ErrorInjection &err) {
    if (err.with_body) {
        g_dbus_method_invocation_return_dbus_error(invocation, err.name.c_str(), err.message.c_str());
        return;
    }
    if (!reply_expected(invocation)) {
        g_object_unref(invocation);
        return;
    }
    GDBusMessage *reply = g_dbus_message_new_method_reply(g_dbus_method_invocation_get_message(invocation));
    g_dbus_message_set_message_type(reply, G_DBUS_MESSAGE_TYPE_ERROR);
    g_dbus_message_set_error_name(reply, err.name.c_str());
    send_and_release(invocation, reply);
}

}  // namespace whlistd
