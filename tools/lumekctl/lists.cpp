// lumekctl netctl|ppro|pblk: switch the kernel-enforced lists on and off, and fill, read
// and empty them.
#include <stdlib.h>

#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

// What the list functions' results mean; the details are in the framework log.
const std::map<int, std::string> kCommonResults = {{-1, "invalid arguments"}, {-2, "lumek is disabled"}};
const std::map<std::string, std::map<int, std::string>> kResults = {
    {"on", {{1, "switched on now, but not made permanent"}, {-3, "the framework refused the switch"}}},
    {"off", {{1, "switched off now, but not made permanent"}, {-3, "the framework refused the switch"}}},
    {"add",
     {{-3, "not a program file"},
      {-4, "already listed, or the store refused the entry"},
      {-5, "no path hash (the entry is stored)"},
      {-6, "the kernel refused the entry (it is stored)"}}},
    {"del",
     {{-3, "the store refused the removal"},
      {-4, "no path hash (the entry is removed from the store)"},
      {-5, "the kernel refused the removal"},
      {-7, "the kernel refused the running process"}}},
};

std::string meaning(const std::string &op, int result) {
    auto ops = kResults.find(op);
    if (ops != kResults.end()) {
        auto it = ops->second.find(result);
        if (it != ops->second.end()) return it->second;
    }
    auto it = kCommonResults.find(result);
    return it != kCommonResults.end() ? it->second : "failed";
}

// Reports one change: a line or a JSON document, and the failure on standard error.
void report(const Options &opts, const std::string &list, const std::string &op, const std::string &what,
            int result) {
    if (opts.json) {
        nlohmann::json doc = {{"list", list}, {"op", op}, {"result", result}};
        if (!what.empty()) doc["target"] = what;
        if (result != 0) doc["message"] = meaning(op, result);
        print_json(doc);
    } else if (result == 0) {
        std::cout << list << ": " << op << (what.empty() ? "" : " " + escaped(what)) << ": done\n";
    }
    if (result != 0) fail(list + " " + op, meaning(op, result) + " (result " + std::to_string(result) + ")");
}

// Takes the library's array of @count texts (no terminator), freeing it.
std::vector<std::string> take(char **texts, int count) {
    std::vector<std::string> out;
    for (int i = 0; texts && i < count; ++i) {
        out.emplace_back(texts[i]);
        free(texts[i]);
    }
    free(texts);
    return out;
}

// Reads a list through @get, which sets the count it is given.
template <typename Get>
std::vector<std::string> read_list(Get get) {
    int n = 0;
    char **texts = get(&n);
    return take(texts, n);
}

// A removal: a list read the same before and after it removed nothing, which is said as such
// and is no failure (the library answers 0 either way).
void report_del(const Options &opts, const std::string &list, const std::string &what,
                const std::function<std::vector<std::string>()> &read, const std::function<int()> &del) {
    std::vector<std::string> before = read();
    int result = del();
    if (result != 0 || read() != before) return report(opts, list, "del", what, result);
    // A list read that fails reads empty, as an empty list does: then nothing can be told.
    bool empty = before.empty();
    if (opts.json)
        print_json({{"list", list},
                    {"op", "del"},
                    {"target", what},
                    {"result", 0},
                    {"removed", empty ? nlohmann::json() : nlohmann::json(false)}});
    else
        std::cout << list << ": del " << escaped(what)
                  << (empty ? ": result 0; the list reads empty, so whether it was listed cannot be told\n"
                            : ": not listed\n");
}

struct Row {
    int mode;  // 0 when the list has none
    std::string text;
};

void print_rows(const Options &opts, const std::string &list, const char *column,
                const std::vector<Row> &rows, bool with_mode, nlohmann::json extra) {
    if (opts.json) {
        nlohmann::json entries = nlohmann::json::array();
        for (const Row &r : rows) {
            nlohmann::json e = {{column, r.text}};
            if (with_mode) e["mode"] = r.mode;
            entries.push_back(e);
        }
        extra["list"] = list;
        extra["entries"] = entries;
        print_json(extra);
        return;
    }
    std::string head = column;
    for (char &c : head) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    Table table(with_mode ? std::vector<Table::Column>{{"MODE", 0, true}, {head, 0}}
                          : std::vector<Table::Column>{{head, 0}});
    for (const Row &r : rows)
        table.add(with_mode ? std::vector<std::string>{std::to_string(r.mode), r.text}
                            : std::vector<std::string>{r.text});
    table.print(std::cout);
    std::cout << "(" << rows.size() << " " << (rows.size() == 1 ? "entry" : "entries") << ")\n";
}

struct ListArgs {
    std::string target;
    int mode = 1;
    int type = 1;
    int level = 1;
    int64_t uid = -1;  // -1: leave _uid as it is (0)
    bool pkg = false;
    std::vector<int> modes;
};

void apply_uid(const ListArgs &a) {
    if (a.uid >= 0) _uid = static_cast<uint32_t>(a.uid);
}

void status_line(const Options &opts, const std::string &list, int status) {
    if (opts.json) {
        nlohmann::json doc = {{"list", list}, {"status", status}};
        print_json(doc);
    } else if (status >= 0) {
        std::cout << list << ": " << (status == 0 ? "off" : "on") << " (" << status << ")\n";
    }
    if (status < 0)
        fail(list + " status", status == -2 && list == "netctl" ? "the framework reports its warning state"
                                                                : "cannot read the switch");
}

// on/off/status, the same for every list.
void add_switch_commands(CLI::App *cmd, const Options &opts, const std::string &list, int (*set)(int),
                         int (*get)(), std::shared_ptr<ListArgs> a) {
    auto *on = cmd->add_subcommand("on", "Switch the list on, now and permanently");
    if (list == "netctl")
        on->add_option("--level", a->level, "netctl status 1 or 2")->check(CLI::Range(1, 2));
    on->callback(
        [&opts, list, set, a] { report(opts, list, "on", "", set(list == "netctl" ? a->level : 1)); });
    cmd->add_subcommand("off", "Switch the list off, now and permanently")->callback([&opts, list, set] {
        report(opts, list, "off", "", set(0));
    });
    cmd->add_subcommand("status", "Print the list's switch")->callback([&opts, list, get] {
        status_line(opts, list, get());
    });
}

void add_netctl(CLI::App &app, const Options &opts) {
    auto a = std::make_shared<ListArgs>();
    auto *cmd = app.add_subcommand("netctl", "Network control of programs and packages, per user");
    cmd->require_subcommand(1);
    add_switch_commands(cmd, opts, "netctl", vorda_netctl_status_set, vorda_netctl_status_get, a);

    auto common = [&](CLI::App *sub, bool target) {
        if (target)
            sub->add_option("TARGET", a->target, "Program path, or package name with --pkg")->required();
        sub->add_option("--uid", a->uid, "The user whose list it is (default 0)")
            ->check(CLI::Range(0LL, 4294967295LL));
        sub->add_flag("--pkg", a->pkg, "The package list instead of the program list");
    };
    auto *add = cmd->add_subcommand("add", "Put a program (or package) on the list, or change its mode");
    common(add, true);
    add->add_option("--mode", a->mode, "Mode 1 or 2 (default 1)")->check(CLI::Range(1, 2));
    add->callback([&opts, a] {
        apply_uid(*a);
        if (!a->pkg) a->target = absolute(a->target);
        int r = a->pkg ? vorda_netctl_pkg_list_add(a->mode, a->target.c_str())
                       : vorda_netctl_list_add(a->mode, a->target.c_str());
        report(opts, a->pkg ? "netctl-pkg" : "netctl", "add", a->target, r);
    });
    auto *del = cmd->add_subcommand("del", "Take a program (or package) off the list of a mode");
    common(del, true);
    del->add_option("--mode", a->mode, "Mode 1 or 2 (default 1)")->check(CLI::Range(1, 2));
    del->callback([&opts, a] {
        apply_uid(*a);
        if (!a->pkg) a->target = absolute(a->target);
        auto read = [a] {
            return read_list([a](int *n) {
                return a->pkg ? vorda_netctl_pkg_list_get(a->mode, n) : vorda_netctl_list_get(a->mode, n);
            });
        };
        report_del(opts, a->pkg ? "netctl-pkg" : "netctl", a->target, read, [a] {
            return a->pkg ? vorda_netctl_pkg_list_del(a->mode, a->target.c_str())
                          : vorda_netctl_list_del(a->mode, a->target.c_str());
        });
    });
    auto *list = cmd->add_subcommand("list", "Print a user's list (both modes unless one is chosen)");
    common(list, false);
    list->add_option("--mode", a->modes, "Only this mode")->check(CLI::Range(1, 2));
    list->callback([&opts, a] {
        apply_uid(*a);
        std::vector<Row> rows;
        for (int mode : a->modes.empty() ? std::vector<int>{1, 2} : a->modes) {
            int n = 0;
            char **texts = a->pkg ? vorda_netctl_pkg_list_get(mode, &n) : vorda_netctl_list_get(mode, &n);
            for (auto &t : take(texts, n)) rows.push_back({mode, t});
        }
        print_rows(opts, a->pkg ? "netctl-pkg" : "netctl", a->pkg ? "package" : "path", rows, true,
                   {{"uid", _uid}});
    });
}

void add_ppro(CLI::App &app, const Options &opts) {
    auto a = std::make_shared<ListArgs>();
    auto *cmd = app.add_subcommand("ppro", "Process protection of programs");
    cmd->require_subcommand(1);
    add_switch_commands(cmd, opts, "ppro", vorda_ppro_status_set, vorda_ppro_status_get, a);
    auto *add = cmd->add_subcommand("add", "Protect a program's processes, or change the protection type");
    add->add_option("PATH", a->target)->required()->transform(absolute_path());
    add->add_option("--type", a->type, "Protection type 1 or 2 (default 1)")->check(CLI::Range(1, 2));
    add->callback([&opts, a] {
        report(opts, "ppro", "add", a->target, vorda_ppro_list_add(a->target.c_str(), a->type));
    });
    auto *del = cmd->add_subcommand("del", "Release a program from protection");
    del->add_option("PATH", a->target)->required()->transform(absolute_path());
    del->callback([&opts, a] {
        report_del(
            opts, "ppro", a->target, [] { return read_list(vorda_ppro_list_get); },
            [a] { return vorda_ppro_list_del(a->target.c_str()); });
    });
    cmd->add_subcommand("list", "Print every protected path")->callback([&opts] {
        // The library answers NULL both for an empty list and for a failed read, leaves no
        // last-error text, and writes the count (0) only when the framework gave an array with a
        // negative count: that is the one failure that can be told; a count left at -1 reads as
        // an empty list.
        int n = -1;
        char **texts = vorda_ppro_list_get(&n);
        if (!texts && n == 0)
            return fail("ppro list", "the framework could not read the list; " + std::string(kSeeLog));
        std::vector<Row> rows;
        for (auto &t : take(texts, n)) rows.push_back({0, t});
        print_rows(opts, "ppro", "path", rows, false, nlohmann::json::object());
    });
}

void add_pblk(CLI::App &app, const Options &opts) {
    auto a = std::make_shared<ListArgs>();
    auto *cmd = app.add_subcommand("pblk", "The pblk list of paths");
    cmd->require_subcommand(1);
    add_switch_commands(cmd, opts, "pblk", vorda_pblk_status_set, vorda_pblk_status_get, a);
    auto *add = cmd->add_subcommand("add", "Put a path on the list");
    add->add_option("PATH", a->target)->required()->transform(absolute_path());
    add->callback(
        [&opts, a] { report(opts, "pblk", "add", a->target, vorda_pblk_list_add(a->target.c_str())); });
    auto *del = cmd->add_subcommand("del", "Take a path off the list");
    del->add_option("PATH", a->target)->required()->transform(absolute_path());
    del->callback([&opts, a] {
        report_del(
            opts, "pblk", a->target, [] { return read_list(vorda_pblk_list_get); },
            [a] { return vorda_pblk_list_del(a->target.c_str()); });
    });
    cmd->add_subcommand("list", "Print every listed path")->callback([&opts] {
        int n = 0;
        char **texts = vorda_pblk_list_get(&n);
        std::vector<Row> rows;
        for (auto &t : take(texts, n)) rows.push_back({0, t});
        print_rows(opts, "pblk", "path", rows, false, nlohmann::json::object());
    });
}

}  // namespace

void add_list_commands(CLI::App &app, const Options &opts) {
    add_netctl(app, opts);
    add_ppro(app, opts);
    add_pblk(app, opts);
}

}  // namespace lumekctl
