// lumekctl: one file per family of subcommands; each adds its subcommands to the app.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "output.h"

namespace lumekctl {

// What lumekctl exits with; the top-level help lists them.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailed = 1,       // the operation failed or found drift
    kExitUsage = 2,        // bad command line (CLI11's parse errors included)
    kExitUnreachable = 3,  // the whitelist daemon or the system bus cannot be reached
};

inline constexpr const char kUnreachable[] = "the whitelist daemon is not reachable on the system bus";

// The object types and labels, by their numbers.
inline constexpr const char *kTypeNames[] = {"program", "library", "script", "kmodule", "other", "link"};
inline constexpr const char *kLabelNames[] = {"verified", "original", "vordsw", "trusted",
                                              "unknown",  "parent",   "script"};

inline const char *type_name(int32_t t) {
    return t >= 0 && t < 6 ? kTypeNames[t] : "?";
}
inline const char *label_name(int32_t l) {
    return l >= 0 && l < 7 ? kLabelNames[l] : "?";
}
inline std::vector<std::string> type_names() {
    return {std::begin(kTypeNames), std::end(kTypeNames)};
}
inline std::vector<std::string> label_names() {
    return {std::begin(kLabelNames), std::end(kLabelNames)};
}

// Refusals of option values, as usage errors: a whole number that fits int64_t, a label of
// the table (at most 31 bytes, the records' room), an object type of the table
// (or "" for every type when @or_empty).
CLI::Validator whole_number();
CLI::Validator label_text();
CLI::Validator type_text(bool or_empty = false);

struct Options {
    bool json = false;     // machine-readable output
    bool verbose = false;  // every item, not only a summary
};

// The status lumekctl exits with; subcommand callbacks set it.
void set_exit_status(int status);
int exit_status();

// Prints "lumekctl: WHAT: MESSAGE" (escaped) on standard error and sets a failing exit status.
void fail(const std::string &what, const std::string &message);

// Whether some process owns the whitelist daemon's name on the system bus. @why says what
// is missing when not.
bool daemon_reachable(std::string *why);

// A daemon-backed command's callback: @run runs only when the daemon is reachable, since the
// library answers an empty list or 0 without it. Otherwise it says so and exits 3.
std::function<void()> needs_daemon(std::function<void()> run);

// Prints a JSON document on standard output, every byte of its texts kept (see lossless).
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
// lumekctl completion bash: a completion script read off the command tree @root.
void add_completion_commands(CLI::App &app);
void add_package_protect_commands(CLI::App &app);  // package protect|unprotect|forget, after label

}  // namespace lumekctl
