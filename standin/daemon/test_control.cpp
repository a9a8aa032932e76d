// Interface "com.vorda.lumek.whlist.Test": lets tests script the daemon's answers and read
// back what it was asked.
#include <string.h>

#include "daemon_internal.h"

namespace whlistd {

namespace {

void bad_request(GDBusMethodInvocation *invocation, const char *format, const char *arg) {
    gchar *msg = g_strdup_printf(format, arg);
    g_dbus_method_invocation_return_dbus_error(invocation, kErrBadRequest, msg);
    g_free(msg);
}

// A misspelt method would otherwise make an injection that silently never fires.
bool method_ok(GDBusMethodInvocation *invocation, const char *method) {
    if (strcmp(method, kAnyMethod) == 0 || is_whlist_method(method)) return true;
    bad_request(invocation, kMsgUnknownMethod, method);
    return false;
}

void inject_error(State &st, GVariant *p, GDBusMethodInvocation *invocation) {
    const char *method, *name, *message;
    gboolean with_body;
    gint32 times;
    g_variant_get(p, "(&s&s&sbi)", &method, &name, &message, &with_body, &times);
    if (!method_ok(invocation, method)) return;
    // An invalid name would make GDBus refuse (or abort on) the error reply later.
    if (!g_dbus_is_interface_name(name)) {
        bad_request(invocation, kMsgBadErrorName, name);
        return;
    }
    ErrorInjection inj;
    inj.name = name;
    inj.message = message;
    inj.with_body = with_body;
    inj.times = times;
    st.inject_error(method, std::move(inj));
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void inject_reply(State &st, GVariant *p, GDBusMethodInvocation *invocation) {
    const char *method;
    GVariant *body;
    gint32 times;
    g_variant_get(p, "(&svi)", &method, &body, &times);
    if (!method_ok(invocation, method)) {
        g_variant_unref(body);
        return;
    }
    GVariant *tuple = body;
    if (!g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE)) {
        tuple = g_variant_new_tuple(&body, 1);
        g_variant_unref(body);
    }
    st.inject_reply(method, tuple, times);
    if (tuple == body) g_variant_unref(body);  // inject_reply took its own reference
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

}  // namespace

void handle_test_call(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                      const gchar *method_name, GVariant *parameters, GDBusMethodInvocation *invocation,
                      gpointer user_data) {
    State &st = *static_cast<State *>(user_data);
    if (strcmp(method_name, "InjectError") == 0) {
        inject_error(st, parameters, invocation);
    } else if (strcmp(method_name, "InjectReply") == 0) {
        inject_reply(st, parameters, invocation);
    } else if (strcmp(method_name, "InjectEmptyReply") == 0) {
        // A reply without a body: "()" cannot travel inside InjectReply's variant.
        const char *method;
        gint32 times;
        g_variant_get(parameters, "(&si)", &method, &times);
        if (method_ok(invocation, method)) {
            st.inject_reply(method, g_variant_new_tuple(nullptr, 0), times);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    } else if (strcmp(method_name, "ServeEntries") == 0) {
        const char *method;
        GVariant *entries;
        g_variant_get(parameters, "(&s@a(sssssii))", &method, &entries);
        if (method_ok(invocation, method)) {
            st.serve_entries(method, entries);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
        g_variant_unref(entries);
    } else if (strcmp(method_name, "ServeModules") == 0) {
        GVariant *modules;
        g_variant_get(parameters, "(@a(si))", &modules);
        st.serve_modules(modules);
        g_variant_unref(modules);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (strcmp(method_name, "Skip") == 0) {
        const char *method;
        gint32 calls;
        g_variant_get(parameters, "(&si)", &method, &calls);
        if (method_ok(invocation, method)) {
            st.skip_calls(method, calls);
            g_dbus_method_invocation_return_value(invocation, nullptr);
        }
    } else if (strcmp(method_name, "GetCalls") == 0) {
        GVariant *calls = st.calls();
        g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&calls, 1));
    } else if (strcmp(method_name, "Reset") == 0) {
        st.reset();
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
        bad_request(invocation, kMsgUnknownTestMethod, method_name);
    }
}

}  // namespace whlistd
