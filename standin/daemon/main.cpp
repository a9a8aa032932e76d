// lumek-whlistd-ref: the reference whitelist daemon. Owns "com.vorda.lumek" on the system
// bus and serves the whitelist interface (plus a test-control interface) at "/whlist".
#include <errno.h>
#include <glib-unix.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "daemon_internal.h"

namespace {

constexpr const char kUsage[] =
    "Usage: lumek-whlistd-ref [--ready-fd=FD]\n"
    "\n"
    "Reference whitelist daemon: owns \"com.vorda.lumek\" on the system bus (the bus named by\n"
    "DBUS_SYSTEM_BUS_ADDRESS, else the standard one) and serves \"com.vorda.lumek.whlist\" and\n"
    "the test-control interface \"com.vorda.lumek.whlist.Test\" at \"/whlist\".\n"
    "\n"
    "Entries are the files the framework stand-in ($LUMEK_STANDIN_DIR) labels or protects,\n"
    "modules its removal-protected set, bgset its named text \"bgset\". Arguments:\n"
    "  selector  0 labelled non-modules, 1 protected entries, 2 labelled modules, other: all\n"
    "  filter    path prefix (\"\" all); obj_type: type text (\"\" all); module: exact name\n"
    "  import/export FILE: lines LABEL<tab>PROTECTION<tab>PATH, each text escaped (\\\\, \\n,\n"
    "            \\t, \\xNN for other control bytes and bytes that are not UTF-8); the answer\n"
    "            is the number of entries (import: labels for selector 0, protections for 1,\n"
    "            else both). Import reads a regular file of at most 256 MiB and applies all\n"
    "            lines or, naming the first bad line, none; export writes a new file and\n"
    "            renames it over the name, which must not be a link, FIFO, device or directory\n"
    "\n"
    "  --ready-fd=FD  write one line to FD and close it once the name is owned"
    "\n"
    "  --help         show this text\n"
    "\n"
    "Exits 0 on SIGTERM or SIGINT, 1 when the bus or the name cannot be had, 2 on bad usage.\n";

struct Daemon {
    GMainLoop *loop = nullptr;
    whlistd::State state;
    GDBusNodeInfo *node = nullptr;
    guint registrations[2] = {0, 0};
    int ready_fd = -1;
    int exit_code = 0;
};

const GDBusInterfaceVTable kWhlistVtable = {whlistd::handle_whlist_call, nullptr, nullptr, {}};
const GDBusInterfaceVTable kTestVtable = {whlistd::handle_test_call, nullptr, nullptr, {}};

void fail(Daemon *d, const char *what, const char *detail) {
    fprintf(stderr, "lumek-whlistd-ref: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    d->exit_code = 1;
    g_main_loop_quit(d->loop);
}

void on_bus_acquired(GDBusConnection *conn, const gchar *, gpointer user_data) {
    auto *d = static_cast<Daemon *>(user_data);
    const char *ifaces[2] = {whlistd::kWhlistInterface, whlistd::kTestInterface};
    const GDBusInterfaceVTable *vtables[2] = {&kWhlistVtable, &kTestVtable};
    for (int i = 0; i < 2; ++i) {
        GError *err = nullptr;
        GDBusInterfaceInfo *info = g_dbus_node_info_lookup_interface(d->node, ifaces[i]);
        d->registrations[i] = g_dbus_connection_register_object(conn, whlistd::kObjectPath, info, vtables[i],
                                                                &d->state, nullptr, &err);
        if (!d->registrations[i]) {
            fail(d, "cannot register /whlist", err->message);
            g_error_free(err);
            return;
        }
    }
}

void on_name_acquired(GDBusConnection *, const gchar *, gpointer user_data) {
    auto *d = static_cast<Daemon *>(user_data);
    if (d->ready_fd >= 0) {
        static const char kReady[] = "ready\n";
        ssize_t n;
        do n = write(d->ready_fd, kReady, sizeof kReady - 1);
        while (n < 0 && errno == EINTR);
        close(d->ready_fd);
        d->ready_fd = -1;
    }
}

void on_name_lost(GDBusConnection *conn, const gchar *name, gpointer user_data) {
    auto *d = static_cast<Daemon *>(user_data);
    if (!conn)
        fail(d, "cannot connect to the system bus", nullptr);
    else
        fail(d, "cannot own the bus name", name);
}

gboolean on_quit_signal(gpointer user_data) {
    g_main_loop_quit(static_cast<Daemon *>(user_data)->loop);
    return G_SOURCE_CONTINUE;
}

bool parse_fd(const char *text, int *out) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno || end == text || *end != '\0' || v < 0 || v > 65535) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Daemon d;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strncmp(a, "--ready-fd=", 11) == 0 && parse_fd(a + 11, &d.ready_fd)) continue;
        if (strcmp(a, "--ready-fd") == 0 && i + 1 < argc && parse_fd(argv[i + 1], &d.ready_fd)) {
            ++i;
            continue;
        }
        fprintf(stderr, "lumek-whlistd-ref: unknown argument: %s\n%s", a, kUsage);
        return 2;
    }

    GError *err = nullptr;
    d.node = g_dbus_node_info_new_for_xml(whlistd::kIntrospectionXml, &err);
    if (!d.node) {
        fprintf(stderr, "lumek-whlistd-ref: bad introspection data: %s\n", err->message);
        g_error_free(err);
        return 1;
    }

    d.loop = g_main_loop_new(nullptr, FALSE);
    guint term = g_unix_signal_add(SIGTERM, on_quit_signal, &d);
    guint intr = g_unix_signal_add(SIGINT, on_quit_signal, &d);
    // Without DO_NOT_QUEUE a taken name would leave us waiting in the queue instead of failing.
    guint owner = g_bus_own_name(G_BUS_TYPE_SYSTEM, whlistd::kBusName, G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                 on_bus_acquired, on_name_acquired, on_name_lost, &d, nullptr);
    g_main_loop_run(d.loop);

    g_bus_unown_name(owner);
    g_source_remove(term);
    g_source_remove(intr);
    if (d.ready_fd >= 0) close(d.ready_fd);
    g_main_loop_unref(d.loop);
    g_dbus_node_info_unref(d.node);
    return d.exit_code;
}
