// lumek_whlist_load_all of 1,000, 10,000 and 100,000 entries served by the reference daemon,
// beside the floor: the same method called on an open connection and its reply decoded
// with GVariant alone (borrowed strings, nothing kept). Also the decode on its own.
// Run inside lumek-sandbox, which provides the bus and the daemon.
#include <stdio.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include <gio/gio.h>

#include "lumekwhlist.h"

namespace {

constexpr const char kName[] = "com.vorda.lumek";
constexpr const char kPath[] = "/whlist";
constexpr const char kIface[] = "com.vorda.lumek.whlist";
constexpr const char kMethod[] = "lumek_whlist_load_all";

double seconds_of(const std::function<void()> &fn) {
    auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of @runs, after one warm-up run.
double best(int runs, const std::function<void()> &fn) {
    fn();
    double b = 1e30;
    for (int i = 0; i < runs; ++i) b = std::min(b, seconds_of(fn));
    return b;
}

long peak_rss_kib() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

void serve(GDBusConnection *conn, int n) {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a(sssssii)"));
    for (int i = 0; i < n; ++i) {
        char path[64];
        snprintf(path, sizeof path, "/usr/lib/x86_64-linux-gnu/bench/lib%07d.so.1", i);
        g_variant_builder_add(&b, "(sssssii)", path, "D41D8CD98F00B204E9800998ECF8427E", "library",
                              "verified", i % 3 ? "none" : "readonly", i, 0);
    }
    GVariant *r =
        g_dbus_connection_call_sync(conn, kName, kPath, "com.vorda.lumek.whlist.Test", "ServeEntries",
                                    g_variant_new("(s@a(sssssii))", kMethod, g_variant_builder_end(&b)),
                                    nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (r) g_variant_unref(r);
}

// GVariant alone: every field read, strings borrowed.
size_t gvariant_decode(GVariant *reply) {
    GVariant *arr = g_variant_get_child_value(reply, 0);
    GVariantIter it;
    g_variant_iter_init(&it, arr);
    const char *p, *h, *t, *l, *w;
    gint32 a, b;
    size_t sum = 0;
    while (g_variant_iter_next(&it, "(&s&s&s&s&sii)", &p, &h, &t, &l, &w, &a, &b)) sum += p[0] + h[0] + a + b;
    g_variant_unref(arr);
    return sum;
}

}  // namespace

int main() {
    if (!g_getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        fprintf(stderr, "run inside lumek-sandbox (no private bus address set)\n");
        return 1;
    }
    GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!conn) {
        fprintf(stderr, "no system bus\n");
        return 1;
    }
    printf("%9s %12s %14s %12s %12s %8s %14s %10s\n", "entries", "load_all s", "entries/s", "floor s",
           "decode s", "ratio", "decode ratio", "peak RSS");
    volatile size_t sink = 0;
    for (int n : {1000, 10000, 100000}) {
        serve(conn, n);
        int runs = n >= 100000 ? 3 : 10;
        size_t got = 0;
        double ours = best(runs, [&] {
            WhlistObject *list = nullptr;
            if (lumek_whlist_load_all(&list) != 0)
                fprintf(stderr, "load_all failed: %s\n", lumek_whlist_last_err());
            got = 0;
            for (WhlistObject *e = list; e; e = e->next) ++got;
            lumek_whlist_objects_free(&list);
        });
        if (got != static_cast<size_t>(n)) fprintf(stderr, "got %zu entries, expected %d\n", got, n);
        double floor = best(runs, [&] {
            GVariant *r = g_dbus_connection_call_sync(conn, kName, kPath, kIface, kMethod, nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, nullptr);
            if (r) {
                sink = sink + gvariant_decode(r);
                g_variant_unref(r);
            }
        });
        GVariant *reply = g_dbus_connection_call_sync(conn, kName, kPath, kIface, kMethod, nullptr, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, nullptr);
        double decode = best(runs, [&] { sink = sink + gvariant_decode(reply); });
        // The library's own decode of a reply in hand: the same walk plus the entries kept.
        double ours_decode = best(runs, [&] {
            WhlistObject *list = nullptr;
            GVariant *arr = g_variant_get_child_value(reply, 0);
            GVariantIter it;
            g_variant_iter_init(&it, arr);
            const char *p, *h, *t, *l, *w;
            gint32 a, b;
            while (g_variant_iter_next(&it, "(&s&s&s&s&sii)", &p, &h, &t, &l, &w, &a, &b))
                create_object_list_entry(&list, p, h, t, l, w, a, b);
            g_variant_unref(arr);
            lumek_whlist_objects_free(&list);
        });
        g_variant_unref(reply);
        printf("%9d %12.4f %14.0f %12.4f %12.4f %8.2f %14.2f %7ld KiB\n", n, ours, n / ours, floor, decode,
               ours / floor, ours_decode / decode, peak_rss_kib());
    }
    printf(
        "\nratio: load_all / floor (call on an open connection + GVariant decode); target <= 2 at 100000\n");
    printf("decode ratio: decode building the entries / GVariant decode alone, same reply in hand\n");
    g_object_unref(conn);
    return 0;
}
