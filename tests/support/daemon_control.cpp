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

}  // namespace lumek_test
