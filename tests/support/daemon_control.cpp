#include "daemon_control.h"

#include <gtest/gtest.h>

namespace lumek_test {

GVariant *daemon_control(const char *method, GVariant *params) {
    GError *err = nullptr;
    GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
    if (!conn) {
        ADD_FAILURE() << "no system bus: " << err->message;
        g_error_free(err);
        if (params) g_variant_unref(g_variant_ref_sink(params));
        return nullptr;
    }
    GVariant *r =
        g_dbus_connection_call_sync(conn, kDaemonBusName, kDaemonPath, kDaemonControlInterface, method,
                                    params, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
    g_object_unref(conn);
    if (!r) {
        ADD_FAILURE() << method << ": " << err->message;
        g_error_free(err);
    }
    return r;
}

void daemon_control_unref(const char *method, GVariant *params) {
    if (GVariant *r = daemon_control(method, params)) g_variant_unref(r);
}

void daemon_inject_error(const char *method, const char *name, const char *message, bool with_body,
                         int times) {
    daemon_control_unref("InjectError", g_variant_new("(sssbi)", method, name, message, with_body, times));
}

GVariant *parse_variant(const char *type, const char *text) {
    GError *err = nullptr;
    GVariant *v = g_variant_parse(type ? G_VARIANT_TYPE(type) : nullptr, text, nullptr, nullptr, &err);
    if (!v) {
        ADD_FAILURE() << "cannot parse " << text << ": " << err->message;
        g_error_free(err);
        return nullptr;
    }
    // The parser hands out a full reference; wrap it so that the consumer owns the only one.
    return g_variant_new_from_data(g_variant_get_type(v), g_variant_get_data(v), g_variant_get_size(v), TRUE,
                                   reinterpret_cast<GDestroyNotify>(g_variant_unref), v);
}

void daemon_serve_entries(const char *method, const char *entries_text) {
    if (GVariant *entries = parse_variant("a(sssssii)", entries_text))
        daemon_control_unref("ServeEntries", g_variant_new("(s@a(sssssii))", method, entries));
}

void daemon_inject_reply(const char *method, const char *body_text, int times) {
    GVariant *body = parse_variant(nullptr, body_text);
    if (body && g_variant_is_of_type(body, G_VARIANT_TYPE_UNIT)) {
        g_variant_unref(g_variant_ref_sink(body));
        daemon_control_unref("InjectEmptyReply", g_variant_new("(si)", method, times));
    } else if (body) {
        daemon_control_unref("InjectReply", g_variant_new("(svi)", method, body, times));
    }
}

}  // namespace lumek_test
