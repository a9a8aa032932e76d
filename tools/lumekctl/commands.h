// lumekctl: one file per family of subcommands; each adds its subcommands to the app.
#pragma once

#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace lumekctl {

struct Options {
    bool json = false;  // machine-readable output
};

// The status lumekctl exits with; subcommand callbacks set it.
void set_exit_status(int status);
int exit_status();

// Prints "lumekctl: WHAT: MESSAGE" on standard error and sets a failing exit status.
void fail(const std::string &what, const std::string &message);

// Prints a JSON document on standard output.
void print_json(const nlohmann::json &doc);

void add_call_commands(CLI::App &app, const Options &opts);
void add_ps_commands(CLI::App &app, const Options &opts);
void add_nic_commands(CLI::App &app, const Options &opts);
void add_whlist_commands(CLI::App &app, const Options &opts);
void add_list_commands(CLI::App &app, const Options &opts);  // netctl, ppro, pblk
void add_udeb_commands(CLI::App &app, const Options &opts);
void add_kid_commands(CLI::App &app, const Options &opts);
void add_rtdb_commands(CLI::App &app, const Options &opts);   // rtdb, and its drift check
void add_label_commands(CLI::App &app, const Options &opts);  // label, package, dir, deps
void add_dpkg_hook_commands(CLI::App &app, const Options &opts);

}  // namespace lumekctl
