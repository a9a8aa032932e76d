// Calls per second of lumek_whlist_process_dbus_method against the reference daemon, beside
// (a) a bare g_dbus_connection_call_sync on a connection opened once, the floor for any
// synchronous call, and (b) a call through a fresh GDBusProxy without flags, the way a
// proxy-per-call client would do it (property fetch and match rule on every call).
// Run inside lumek-sandbox, which provides the bus and the daemon.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <functional>

#include <gio/gio.h>

#include "lumekwhlist.h"

namespace {

constexpr const char kName[] = "com.vorda.lumek";
constexpr const char kPath[] = "/whlist";
constexpr const char kIface[] = "com.vorda.lumek.whlist";
constexpr const char kMethod[] = "lumek_whlist_get_count_by_obj_type";

GVariant *args() {
    return g_variant_new("(iss)", 0, "program", "");
}

// Runs fn repeatedly for about @seconds and returns calls per second.
double rate(const char *label, double seconds, const std::function<bool()> &fn) {
    using clock = std::chrono::steady_clock;
    for (int i = 0; i < 20; ++i)
        if (!fn()) {
            fprintf(stderr, "%s: call failed\n", label);
            exit(1);
        }
    long n = 0;
    auto start = clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 50; ++i) fn();
        n += 50;
        elapsed = std::chrono::duration<double>(clock::now() - start).count();
    } while (elapsed < seconds);
    double r = n / elapsed;
    printf("%-44s %10.0f calls/s  %8.1f us/call\n", label, r, 1e6 / r);
    return r;
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    if (!g_getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        fprintf(stderr, "run inside lumek-sandbox (no private bus address set)\n");
        return 1;
    }
    double ours = rate("lumek_whlist_process_dbus_method", seconds, [] {
        int32_t rc = 0;
        GVariant *r = lumek_whlist_process_dbus_method(kMethod, args(), &rc);
        if (!r) return false;
        g_variant_unref(r);
        return true;
    });

    double proxy = rate("fresh GDBusProxy (flags none) per call", seconds, [] {
        GDBusProxy *p = g_dbus_proxy_new_for_bus_sync(G_BUS_TYPE_SYSTEM, G_DBUS_PROXY_FLAGS_NONE, nullptr,
                                                      kName, kPath, kIface, nullptr, nullptr);
        if (!p) return false;
        GVariant *r =
            g_dbus_proxy_call_sync(p, kMethod, args(), G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, nullptr);
        g_object_unref(p);
        if (!r) return false;
        g_variant_unref(r);
        return true;
    });

    // Only now take GIO's shared connection: held open, it would also serve the proxies above.
    GError *err = nullptr;
    GDBusConnection *open_conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &err);
    if (!open_conn) {
        fprintf(stderr, "no system bus (run inside lumek-sandbox): %s\n", err->message);
        return 1;
    }
    double bare = rate("bare call_sync on an open connection", seconds, [open_conn] {
        GVariant *r = g_dbus_connection_call_sync(open_conn, kName, kPath, kIface, kMethod, args(), nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, nullptr);
        if (!r) return false;
        g_variant_unref(r);
        return true;
    });

    printf("\nratio bare / lumek_whlist_process_dbus_method: %.2f\n", bare / ours);
    printf("ratio lumek_whlist_process_dbus_method / proxy-per-call: %.2f\n", ours / proxy);
    g_object_unref(open_conn);
    return 0;
}
