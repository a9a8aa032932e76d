// lumekctl: administration of the lumek security framework through liblumekwhlist.
#include <stdio.h>

#include <iostream>

#include "commands.h"

namespace lumekctl {

namespace {
int g_exit_status = 0;
}

void set_exit_status(int status) {
    g_exit_status = status;
}
int exit_status() {
    return g_exit_status;
}

void fail(const std::string &what, const std::string &message) {
    std::cerr << "lumekctl: " << what << ": " << message << '\n';
    g_exit_status = 1;
}

void print_json(const nlohmann::json &doc) {
    std::cout << doc.dump(2) << '\n';
}

}  // namespace lumekctl

namespace {

int run(int argc, char **argv) {
    CLI::App app{
        "Administer the lumek security framework: whitelist daemon calls, process "
        "snapshots, NIC speed limits, the netctl, ppro and pblk lists, the udeb list."};
    app.require_subcommand(1);
    lumekctl::Options opts;
    app.add_flag("--json", opts.json, "Print results as JSON");

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

    CLI11_PARSE(app, argc, argv);
    std::cout.flush();
    return lumekctl::exit_status();
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::cerr << "lumekctl: " << e.what() << '\n';
        return 1;
    }
}
