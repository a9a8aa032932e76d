// lumek-standin: look into and steer the framework stand-in's state from the shell.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include <CLI/CLI.hpp>

#include "standin_control.h"

namespace {

int print_text(char *text, const char *missing) {
    if (!text) {
        fprintf(stderr, "%s\n", missing);
        return 1;
    }
    printf("%s\n", text);
    free(text);
    return 0;
}

int print_lines(char **lines, int count) {
    if (!lines) {
        fprintf(stderr, "cannot read the stand-in state\n");
        return 1;
    }
    for (int i = 0; i < count; ++i) printf("%s\n", lines[i]);
    lumek_standin_free_lines(lines, count);
    return 0;
}

// "41424300" -> bytes; false on odd length or a non-hex digit.
bool decode_hex(const std::string &hex, char *out, size_t cap) {
    if (hex.size() % 2 || hex.size() / 2 > cap) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        char pair[3] = {hex[i], hex[i + 1], 0};
        char *end = nullptr;
        long v = strtol(pair, &end, 16);
        if (*end || !isxdigit(static_cast<unsigned char>(pair[0]))) return false;
        out[i / 2] = static_cast<char>(v);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"Inspect and steer the lumek framework stand-in (state: $LUMEK_STANDIN_DIR)."};
    app.require_subcommand(1);
    int rc = 0;

    auto *dir = app.add_subcommand("dir", "Print the state directory");
    dir->callback([&] { rc = print_text(lumek_standin_state_dir(), "no state directory"); });

    auto *reset = app.add_subcommand("reset", "Forget all state, faults, calls and log lines");
    reset->callback([&] {
        if (lumek_standin_reset() != 0) {
            fprintf(stderr, "cannot reset the stand-in state\n");
            rc = 1;
        }
    });

    std::string path, text;
    bool sm = false;
    auto *label = app.add_subcommand("label", "Print a path's exectl label");
    label->add_option("path", path)->required();
    label->add_option("--set", text, "Record this label instead (no call-log entry)");
    label->callback([&] {
        if (!text.empty()) {
            rc = lumek_standin_set_label(path.c_str(), text.c_str()) == 0 ? 0 : 1;
            return;
        }
        rc = print_text(lumek_standin_label(path.c_str()), "no label");
    });

    auto *protect = app.add_subcommand("protect", "Print a path's protection text");
    protect->add_option("path", path)->required();
    protect->add_flag("--sm", sm, "The _sm setters' store");
    protect->add_option("--set", text, "Record this protection text instead (no call-log entry)");
    protect->callback([&] {
        if (!text.empty()) {
            rc = lumek_standin_set_protection(path.c_str(), text.c_str(), sm) == 0 ? 0 : 1;
            return;
        }
        rc = print_text(lumek_standin_protection(path.c_str(), sm), "no protection");
    });

    std::string name;
    auto *kmod = app.add_subcommand("kmod", "Tell whether a kernel module is protected");
    kmod->add_option("name", name)->required();
    kmod->add_flag("--sm", sm, "The _sm set");
    kmod->callback([&] {
        int r = lumek_standin_kmod_protected(name.c_str(), sm);
        if (r < 0) {
            fprintf(stderr, "cannot read the stand-in state\n");
            rc = 2;
            return;
        }
        printf("%s\n", r ? "protected" : "not protected");
        rc = r ? 0 : 1;
    });

    std::string func;
    auto *calls = app.add_subcommand("calls", "List recorded framework calls in order");
    calls->add_option("func", func, "Only this function's calls");
    bool count_only = false;
    calls->add_flag("--count", count_only, "Print only how many");
    calls->callback([&] {
        const char *f = func.empty() ? nullptr : func.c_str();
        if (count_only) {
            int n = lumek_standin_call_count(f);
            printf("%d\n", n);
            rc = n < 0;
            return;
        }
        int n = 0;
        char **lines = lumek_standin_calls(f, &n);
        rc = print_lines(lines, n);
    });

    auto *log = app.add_subcommand("log", "Print the framework log");
    log->callback([&] {
        int n = 0;
        char **lines = lumek_standin_log_lines(&n);
        rc = print_lines(lines, n);
    });

    LumekStandinFault fault{};
    fault.times = 1;
    bool always = false;
    std::string object, object_hex, message;
    bool has_code = false;
    auto *fset = app.add_subcommand("fault", "Make the next calls of a function fail");
    fset->add_option("func", func)->required();
    fset->add_option("--times", fault.times, "How many calls (default 1)");
    fset->add_flag("--always", always, "Every call until cleared");
    fset->add_option("--ret", fault.ret, "Value returned (default -1)");
    fset->add_option("--errno", fault.err, "errno left behind");
    auto *code_opt = fset->add_option("--code", fault.code, "Error record code");
    fset->add_option("--object", object, "Error record object text");
    fset->add_option("--object-hex", object_hex, "Error record object, raw bytes in hex (256 max)");
    fset->add_option("--message", message, "Error record message");
    fault.ret = -1;
    fset->callback([&] {
        has_code = code_opt->count() > 0;
        if (always) fault.times = -1;
        if (has_code || !object.empty() || !object_hex.empty() || !message.empty()) fault.set_error = 1;
        if (!object_hex.empty()) {
            if (!decode_hex(object_hex, fault.object, sizeof fault.object)) {
                fprintf(stderr, "--object-hex: at most 256 bytes as hex digit pairs\n");
                rc = 2;
                return;
            }
        } else {
            // Exactly 256 characters leave no NUL, on purpose.
            memcpy(fault.object, object.data(), std::min(object.size(), sizeof fault.object));
        }
        strncpy(fault.message, message.c_str(), sizeof fault.message - 1);
        if (lumek_standin_fault_set(func.c_str(), &fault) != 0) {
            fprintf(stderr, "cannot set the fault of %s\n", func.c_str());
            rc = 1;
        }
    });

    auto *fclear = app.add_subcommand("clear-faults", "Clear one function's fault, or all");
    fclear->add_option("func", func);
    fclear->callback(
        [&] { rc = lumek_standin_fault_clear(func.empty() ? nullptr : func.c_str()) == 0 ? 0 : 1; });

    // The whitelist as the reference daemon serves it: labelled or protected files, the
    // protected modules, and named texts such as "bgset".
    auto *entries =
        app.add_subcommand("entries", "List labelled or protected files (label, protection, path)");
    entries->add_flag("--sm", sm, "Protection texts of the _sm store");
    entries->callback([&] {
        int n = 0;
        LumekStandinEntry *e = lumek_standin_entries(sm, &n);
        if (!e) {
            fprintf(stderr, "cannot read the stand-in state\n");
            rc = 1;
            return;
        }
        for (int i = 0; i < n; ++i)
            printf("%-9s %-9s %s\n", e[i].label ? e[i].label : "-", e[i].protect ? e[i].protect : "-",
                   e[i].path);
        lumek_standin_free_entries(e, n);
    });

    auto *kmods = app.add_subcommand("kmods", "List the protected kernel modules");
    kmods->add_flag("--sm", sm, "The _sm set");
    kmods->callback([&] {
        int n = 0;
        char **lines = lumek_standin_kmods(sm, &n);
        rc = print_lines(lines, n);
    });

    std::string key;
    auto *textc = app.add_subcommand("text", "Print a named text (for example bgset)");
    textc->add_option("key", key)->required();
    textc->callback([&] { rc = print_text(lumek_standin_text(key.c_str()), "unset"); });

    int64_t value = 0;
    auto *status = app.add_subcommand("status", "Set the framework status (0 disabled)");
    status->add_option("value", value)->required();
    status->callback([&] { rc = lumek_standin_set_flag("status", value) == 0 ? 0 : 1; });

    std::string role;
    auto *roles = app.add_subcommand("role", "Set the secadm or auditadm answer");
    roles->add_option("role", role)->required()->check(CLI::IsMember({"secadm", "auditadm"}));
    roles->add_option("value", value)->required();
    roles->callback([&] { rc = lumek_standin_set_flag(role.c_str(), value) == 0 ? 0 : 1; });

    // Kernel-enforced lists: what is stored, and what the kernel was told.
    std::string list;
    auto *lists =
        app.add_subcommand("lists", "Print the kernel-enforced lists, the udeb list and the switches");
    lists->add_option("list", list, "Only this list")
        ->check(CLI::IsMember({"netctl", "netctl_pkg", "ppro", "pblk", "udeb"}));
    lists->callback([&] {
        for (const char *l : {"netctl", "netctl_pkg", "ppro", "pblk", "udeb"}) {
            if (!list.empty() && list != l) continue;
            int n = 0;
            char **lines = lumek_standin_list_entries(l, &n);
            if (list.empty()) printf("[%s]\n", l);
            rc |= print_lines(lines, n);
        }
        if (!list.empty()) return;
        printf("[switches]\n");
        int n = 0;
        char **features = lumek_standin_list_entries("func_status", &n);
        for (int i = 0; features && i < n; ++i) printf("feature %s\n", features[i]);
        lumek_standin_free_lines(features, n);
        for (const char *key : {"lumek_netctl", "lumek_ppro", "lumek_pblk"}) {
            int v = 0;
            if (lumek_standin_conf_value(key, &v) == 0) printf("%s=%d\n", key, v);
        }
    });

    auto *kernel = app.add_subcommand("kernel", "List the commands the kernel got, in order");
    kernel->add_option("list", list, "Only this list")->check(CLI::IsMember({"netctl", "ppro", "pblk"}));
    kernel->callback([&] {
        int n = 0;
        char **lines = lumek_standin_kernel_commands(list.empty() ? nullptr : list.c_str(), &n);
        rc = print_lines(lines, n);
    });

    auto *ro = app.add_subcommand("readonly-ppro", "Set whether the kernel supports read-only ppro (1 yes)");
    ro->add_option("value", value)->required();
    ro->callback([&] { rc = lumek_standin_set_flag("ppro_readonly", value) == 0 ? 0 : 1; });

    std::string kid_list;
    auto *kids =
        app.add_subcommand("kids", "Print the application identities, resources, policies and kid texts");
    const std::vector<std::string> kid_lists = {"kid_info",   "kid_res",  "kid_priv",
                                                "kid_netctl", "kid_file", "kid_pid"};
    kids->add_option("list", kid_list, "Only this list")->check(CLI::IsMember(kid_lists));
    kids->callback([&] {
        for (const std::string &l : kid_lists) {
            if (!kid_list.empty() && kid_list != l) continue;
            int n = 0;
            char **lines = lumek_standin_list_entries(l.c_str(), &n);
            if (kid_list.empty()) printf("[%s]\n", l.c_str());
            rc |= print_lines(lines, n);
        }
    });

    int kid_pid = 0;
    std::string kid_text;
    auto *pidkid = app.add_subcommand("pid-kid", "Give a process a kid text (empty: none)");
    pidkid->add_option("pid", kid_pid)->required();
    pidkid->add_option("kid", kid_text);
    pidkid->callback([&] {
        rc = lumek_standin_kid_set_pid(kid_pid, kid_text.empty() ? nullptr : kid_text.c_str()) == 0 ? 0 : 1;
    });

    // memdb: the databases, and one database's records in the order they were stored.
    int memdb_key = 0;
    auto *memdb = app.add_subcommand(
        "memdb", "List the memdb's databases (KEY SIZE RECORDS INDEXED), or one's records");
    memdb->add_option("key", memdb_key,
                      "Print this database's records, one per line (integers bare, texts quoted)");
    memdb->callback([&] {
        if (memdb_key == 0) {
            int n = 0;
            char **lines = lumek_standin_memdb_databases(&n);
            rc = print_lines(lines, n);
            return;
        }
        int n = 0;
        LumekStandinMemdbRecord *recs = lumek_standin_memdb_records(memdb_key, &n);
        if (!recs) {
            fprintf(stderr, "no memdb database %d\n", memdb_key);
            rc = 1;
            return;
        }
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < recs[i].count; ++c) {
                if (c) fputc('\t', stdout);
                if (recs[i].type[c] == 3)
                    printf("%d", recs[i].number[c]);
                else
                    printf("\"%s\"", recs[i].text[c]);
            }
            fputc('\n', stdout);
        }
        lumek_standin_memdb_free_records(recs, n);
    });

    CLI11_PARSE(app, argc, argv);
    return rc;
}
