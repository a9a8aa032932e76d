// lumekctl list|count|show|hash|import|export|module|framework|feature|bgset: the whitelist
// queries and commands of the library, with tables for people and --json for programs.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

constexpr const char kSelectorHelp[] =
    "Selector, passed to the daemon; the reference daemon reads 0 as labelled non-modules, 1 as "
    "protected entries, 2 as labelled modules and any other value as every entry";
constexpr const char kFilterHelp[] =
    "Filter text, passed to the daemon (the reference daemon: a path prefix)";

// The library's reason for the last failure, without its trailing newline.
std::string last_error() {
    std::string text = lumek_whlist_last_err();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Reports a failing result; true when @rc is a failure.
bool failed(const std::string &what, int32_t rc) {
    if (rc == 0) return false;
    std::string text = last_error();
    fail(what, "result " + std::to_string(rc) + (text.empty() ? "" : ": " + text));
    return true;
}

nlohmann::json entry_json(const WhlistObject &e) {
    return {{"path", e.path ? e.path : ""},
            {"hash", e.hash ? e.hash : ""},
            {"type", type_name(e.obj_type)},
            {"label", label_name(e.exectl_type)},
            {"writable", e.writable},
            {"extra1", e.extra1},
            {"status", e.extra2}};
}

void print_entries(const Options &opts, const WhlistObject *list) {
    nlohmann::json arr = nlohmann::json::array();
    for (const WhlistObject *e = list; e; e = e->next) arr.push_back(entry_json(*e));
    if (opts.json) {
        print_json(arr);
        return;
    }
    if (arr.empty()) {
        std::cout << "no entries\n";
        return;
    }
    printf("%-8s %-9s %-8s %6s %6s  %-32s  %s\n", "TYPE", "LABEL", "WRITABLE", "EXTRA1", "STATUS", "HASH",
           "PATH");
    for (const auto &j : arr)
        printf("%-8s %-9s %-8s %6d %6d  %-32s  %s\n", j["type"].get<std::string>().c_str(),
               j["label"].get<std::string>().c_str(), j["writable"].get<int>() ? "yes" : "no",
               j["extra1"].get<int>(), j["status"].get<int>(), j["hash"].get<std::string>().c_str(),
               j["path"].get<std::string>().c_str());
}

// Prints one named integer result.
void print_value(const Options &opts, const char *key, int64_t value) {
    if (opts.json)
        print_json({{key, value}});
    else
        std::cout << key << ": " << value << '\n';
}

struct ListArgs {
    int32_t selector = -1;
    std::string filter, type;
    bool sm = false;
};

void run_list(const Options &opts, const ListArgs &a, bool filtered, bool typed) {
    WhlistObject *list = nullptr;
    int32_t rc;
    if (typed)
        rc = lumek_whlist_load_by_obj_type(a.selector, a.type.c_str(), a.filter.c_str(), &list);
    else if (filtered || a.sm)
        rc = a.sm ? lumek_whlist_load_sm(a.selector, a.filter.c_str(), &list)
                  : lumek_whlist_load(a.selector, a.filter.c_str(), &list);
    else
        rc = lumek_whlist_load_all(&list);
    if (!failed("list", rc)) print_entries(opts, list);
    lumek_whlist_objects_free(&list);
}

void add_list(CLI::App &app, const Options &opts) {
    auto a = std::make_shared<ListArgs>();
    auto *cmd = app.add_subcommand("list", "List whitelist entries: all, by selector and filter, or by type");
    auto *sel = cmd->add_option("--selector", a->selector, kSelectorHelp);
    auto *flt = cmd->add_option("--filter", a->filter, kFilterHelp);
    auto *typ =
        cmd->add_option("--type", a->type, "Object type: program, library, script, kmodule, other, link")
            ->check(type_text());
    cmd->add_flag("--sm", a->sm, "Ask the daemon's _sm list (not with --type)")->excludes(typ);
    cmd->callback(needs_daemon([&opts, a, sel, flt, typ] {
        run_list(opts, *a, sel->count() + flt->count() > 0, typ->count() > 0);
    }));

    auto c = std::make_shared<ListArgs>();
    auto *count = app.add_subcommand("count", "Count the entries of one object type");
    count->add_option("TYPE", c->type, "Object type (\"\" for every type)")
        ->required()
        ->check(type_text(true));
    count->add_option("--selector", c->selector, kSelectorHelp);
    count->add_option("--filter", c->filter, kFilterHelp);
    count->callback(needs_daemon([&opts, c] {
        int32_t n = lumek_whlist_get_count_by_obj_type(c->selector, c->type.c_str(), c->filter.c_str());
        // The count is 0 on failure too; only the reason left behind tells them apart (this
        // process has made no other call).
        std::string text = last_error();
        if (n == 0 && !text.empty())
            fail("count", text);
        else
            print_value(opts, "count", n);
    }));

    auto path = std::make_shared<std::string>();
    auto *show = app.add_subcommand("show", "Show the whitelist entry of one path");
    show->add_option("PATH", *path)->required();
    show->callback(needs_daemon([&opts, path] {
        WhlistObject e{};
        int32_t rc = lumek_whlist_load_by_path(path->c_str(), &e);
        if (failed("show", rc)) return;
        if (!e.path) {
            fail("show", "no reply: the system bus could not be reached");
            return;
        }
        print_entries(opts, &e);
        free(e.path);
        free(e.hash);
    }));

    auto *hash = app.add_subcommand("hash", "Print the daemon's hash of one path");
    hash->add_option("PATH", *path)->required();
    hash->callback(needs_daemon([&opts, path] {
        char *h = lumek_whlist_get_hash_by_path(path->c_str());
        if (!h) {
            std::string text = last_error();
            fail("hash", text.empty() ? "no hash (no reply from the daemon)" : text);
            return;
        }
        if (opts.json)
            print_json({{"path", *path}, {"hash", h}});
        else
            std::cout << (*h ? h : "(no hash)") << '\n';
        free(h);
    }));
}

void add_transfer(CLI::App &app, const Options &opts) {
    for (bool import : {true, false}) {
        auto file = std::make_shared<std::string>();
        auto selector = std::make_shared<int32_t>(-1);
        auto *cmd = app.add_subcommand(import ? "import" : "export",
                                       import ? "Have the daemon import a whitelist file"
                                              : "Have the daemon export the whitelist to a file");
        cmd->add_option("FILE", *file, "File name, passed to the daemon")->required();
        cmd->add_option("--selector", *selector, kSelectorHelp);
        cmd->callback(needs_daemon([&opts, file, selector, import] {
            int32_t rc = import ? lumek_whlist_import(*selector, file->c_str())
                                : lumek_whlist_export(*selector, file->c_str());
            if (rc < 0)
                failed(import ? "import" : "export", rc);
            else
                print_value(opts, "entries", rc);
        }));
    }
}

void add_modules(CLI::App &app, const Options &opts) {
    auto *mod = app.add_subcommand("module", "Kernel-module whitelist and removal protection");
    mod->require_subcommand(1);
    auto name = std::make_shared<std::string>();
    auto sm = std::make_shared<bool>(false);
    auto *list = mod->add_subcommand("list", "List whitelisted modules");
    list->add_option("NAME", *name, "Only this module");
    list->add_flag("--sm", *sm, "Ask the daemon's _sm list");
    list->callback(needs_daemon([&opts, name, sm] {
        KmodObject *mods = nullptr;
        int32_t rc = *sm ? lumek_kmod_whlist_load_sm(name->c_str(), &mods)
                         : lumek_kmod_whlist_load(name->c_str(), &mods);
        if (!failed("module list", rc)) {
            nlohmann::json arr = nlohmann::json::array();
            for (KmodObject *m = mods; m; m = m->next)
                arr.push_back({{"name", m->name ? m->name : ""}, {"value", m->value}});
            if (opts.json) {
                print_json(arr);
            } else if (arr.empty()) {
                std::cout << "no modules\n";
            } else {
                printf("%-24s %s\n", "MODULE", "VALUE");
                for (const auto &j : arr)
                    printf("%-24s %d\n", j["name"].get<std::string>().c_str(), j["value"].get<int>());
            }
        }
        lumek_kmod_whlist_objects_free(&mods);
    }));

    auto state = std::make_shared<std::string>();
    auto *prot = mod->add_subcommand("protect", "Turn a module's removal protection on or off");
    prot->add_option("NAME", *name)->required();
    prot->add_option("STATE", *state)->required()->check(CLI::IsMember({"on", "off"}));
    prot->add_flag("--sm", *sm, "The _sm protection");
    prot->callback([&opts, name, state, sm] {
        int32_t flag = *state == "on" ? 1 : 0;
        int32_t rc = *sm ? lumek_whlist_update_rmmodpro_sm(flag, name->c_str())
                         : lumek_whlist_update_rmmodpro(flag, name->c_str());
        if (!failed("module protect", rc)) print_value(opts, "result", rc);
    });
}

void add_switches(CLI::App &app, const Options &opts) {
    auto value = std::make_shared<int>(0);
    auto *fw = app.add_subcommand("framework", "The framework's on/off status");
    fw->require_subcommand(1);
    auto *fst = fw->add_subcommand("status", "Print the status (0 disabled), or set it with --set");
    auto *fset = fst->add_option("--set", *value, "New status");
    fst->callback([&opts, value, fset] {
        if (fset->count()) {
            int rc = lumek_whlist_setstatus(*value);
            if (rc != 0)
                fail("framework status", "the framework refused the status, result " + std::to_string(rc));
            else
                print_value(opts, "result", rc);
        } else {
            print_value(opts, "status", lumek_whlist_getstatus());
        }
    });

    auto func = std::make_shared<int>(0);
    auto *feat = app.add_subcommand("feature", "The framework's feature switches");
    feat->require_subcommand(1);
    auto *st = feat->add_subcommand("status", "Print a feature's status, or set it with --set");
    st->add_option("FUNC", *func, "Feature number")->required();
    auto *sset = st->add_option("--set", *value, "New value");
    st->callback([&opts, func, value, sset] {
        int rc =
            sset->count() ? lumek_whlist_set_func_status(*func, *value) : lumek_whlist_get_func_status(*func);
        if (rc < 0 || (sset->count() && rc != 0))
            fail("feature status", "the framework answered " + std::to_string(rc));
        else
            print_value(opts, sset->count() ? "result" : "status", rc);
    });

    auto text = std::make_shared<std::string>();
    auto *bg = app.add_subcommand("bgset", "The daemon's bgset text");
    bg->require_subcommand(1);
    auto *set = bg->add_subcommand("set", "Set the text");
    set->add_option("TEXT", *text)->required();
    set->callback(needs_daemon([&opts, text] {
        int32_t rc = lumek_bgset_set(text->c_str());
        if (!failed("bgset set", rc)) print_value(opts, "result", rc);
    }));
    auto *unset = bg->add_subcommand("unset", "Clear the text");
    unset->callback(needs_daemon([&opts] {
        int32_t rc = lumek_bgset_unset();
        if (!failed("bgset unset", rc)) print_value(opts, "result", rc);
    }));
}

}  // namespace

void add_whlist_commands(CLI::App &app, const Options &opts) {
    add_list(app, opts);
    add_transfer(app, opts);
    add_modules(app, opts);
    add_switches(app, opts);
}

}  // namespace lumekctl
