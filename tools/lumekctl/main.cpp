// lumekctl: administration of the lumek security framework through liblumekwhlist.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>

#include "commands.h"
#include "common/raii.h"
#include "core/dbus_client.h"

namespace lumekctl {

namespace {
int g_exit_status = kExitOk;
constexpr int kBusTimeoutMs = 5000;
}  // namespace

void set_exit_status(int status) {
    g_exit_status = status;
}
int exit_status() {
    return g_exit_status;
}

void fail(const std::string &what, const std::string &message) {
    std::cerr << "lumekctl: " << escaped(what) << ": " << escaped(message) << '\n';
    g_exit_status = kExitFailed;
}

// Whether some process owns the daemon's name, asked on a private connection so that the
// library's own bus connection is left alone. The library's load cannot tell: without a bus
// it gives an empty whitelist and success. @why says what is missing.
bool daemon_reachable(std::string *why) {
    lumek::GErrorHolder err;
    lumek::GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, err.out()));
    lumek::GObjectPtr<GDBusConnection> bus(
        address ? g_dbus_connection_new_for_address_sync(
                      address.get(),
                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                      nullptr, nullptr, err.out())
                : nullptr);
    lumek::GVariantPtr reply(bus ? g_dbus_connection_call_sync(
                                       bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "NameHasOwner",
                                       g_variant_new("(s)", lumek::daemon::kBusName), G_VARIANT_TYPE("(b)"),
                                       G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, err.out())
                                 : nullptr);
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply.get(), "(b)", &owned);
    if (bus) g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
    if (owned) return true;
    *why = err ? err.get()->message : std::string("no owner of ") + lumek::daemon::kBusName;
    return false;
}

std::function<void()> needs_daemon(std::function<void()> run) {
    return [run = std::move(run)] {
        std::string why;
        if (daemon_reachable(&why)) return run();
        std::cerr << "lumekctl: " << kUnreachable << " (" << why << ")\n";
        g_exit_status = kExitUnreachable;
    };
}

namespace {
constexpr size_t kLabelMax = 31;  // a record's label room, less its terminator

std::string one_of(const std::vector<std::string> &names) {
    std::string out;
    for (const auto &n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}
}  // namespace

CLI::Validator whole_number() {
    return CLI::Validator(
        [](std::string &text) -> std::string {
            // CLI11 would saturate a 64-bit number that does not fit.
            errno = 0;
            char *end = nullptr;
            strtoll(text.c_str(), &end, 0);
            if (text.empty() || *end || errno == ERANGE)
                return "'" + text +
                       "' is not a whole number from -9223372036854775808 to 9223372036854775807";
            return "";
        },
        "INT64");
}

CLI::Validator label_text() {
    return CLI::Validator(
        [](std::string &text) -> std::string {
            if (text.size() > kLabelMax)
                return "label '" + text + "' is longer than " + std::to_string(kLabelMax) + " bytes";
            for (const auto &n : label_names())
                if (text == n) return "";
            return "no label '" + text + "'; labels: " + one_of(label_names());
        },
        "LABEL");
}

CLI::Validator type_text(bool or_empty) {
    return CLI::Validator(
        [or_empty](std::string &text) -> std::string {
            if (or_empty && text.empty()) return "";
            for (const auto &n : type_names())
                if (text == n) return "";
            return "no object type '" + text + "'; types: " + one_of(type_names());
        },
        "TYPE");
}

void print_json(const nlohmann::json &doc) {
    // The operation has run: its result is printed even if a text slipped past lossless().
    std::cout << lossless(doc).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace lumekctl

namespace {

constexpr const char kExitHelp[] =
    "Exit status: 0 success; 1 the operation failed or found drift; 2 a usage error;\n"
    "3 the whitelist daemon or the system bus cannot be reached.";

int run(int argc, char **argv) {
    CLI::App app{
        "Administer the lumek security framework. Families: call (one raw daemon call); list, count, "
        "show, hash, import, export, module, framework, feature and bgset (the whitelist daemon and "
        "switches); label, package, dir and deps (labelling files); rtdb (the runtime label "
        "database and its drift check); kid (application identities); netctl, ppro and pblk (the "
        "kernel-enforced lists); udeb (the udeb list); nic (NIC speed limits); ps (process "
        "snapshots); dpkg-hook (for the package manager); completion (shell completion)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "lumekctl " LUMEKCTL_VERSION " (library " LUMEKCTL_SONAME ")");
    // Subcommands inherit this: a global option such as --json works after them too.
    app.fallthrough();
    lumekctl::Options opts;
    app.add_flag("--json", opts.json,
                 "Print results as JSON; a byte that is not UTF-8 is written as \\xNN and a backslash "
                 "doubled, so every text reads back to its bytes");
    app.add_flag("--verbose", opts.verbose, "List every item (for example each skipped file of a plan)");

    lumekctl::add_call_commands(app, opts);
    lumekctl::add_ps_commands(app, opts);
    lumekctl::add_nic_commands(app, opts);
    lumekctl::add_whlist_commands(app, opts);
    lumekctl::add_list_commands(app, opts);
    lumekctl::add_udeb_commands(app, opts);
    lumekctl::add_kid_commands(app, opts);
    lumekctl::add_rtdb_commands(app, opts);
    lumekctl::add_label_commands(app, opts);
    lumekctl::add_dpkg_hook_commands(app, opts);
    lumekctl::add_completion_commands(app);
    lumekctl::add_package_protect_commands(app);

    app.footer(kExitHelp);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // Help is a success; every other parse error is a usage error, whatever CLI11's number.
        return app.exit(e) == 0 ? lumekctl::kExitOk : lumekctl::kExitUsage;
    }
    std::cout.flush();
    return lumekctl::exit_status();
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "lumekctl: " << e.what() << '\n';
        return lumekctl::kExitFailed;
    }
}
