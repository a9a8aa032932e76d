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

// Reports a failing result with its reason; true when @rc is a failure. @before is the
// last-error text read before the call, so that a stale text is not given as the reason.
bool failed(const std::string &what, int32_t rc, const std::string &before) {
    if (rc == 0) return false;
    fail(what, reason(rc, before));
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
    Table table(
        {{"TYPE"}, {"LABEL"}, {"WRITABLE"}, {"EXTRA1", 0, true}, {"STATUS", 0, true}, {"HASH"}, {"PATH"}});
    for (const WhlistObject *e = list; e; e = e->next)
        table.add({type_name(e->obj_type), label_name(e->exectl_type), e->writable ? "yes" : "no",
                   std::to_string(e->extra1), std::to_string(e->extra2), e->hash ? e->hash : "",
                   e->path ? e->path : ""});
    table.print(std::cout);
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
    std::string before = last_error();
    int32_t rc;
    if (typed)
        rc = lumek_whlist_load_by_obj_type(a.selector, a.type.c_str(), a.filter.c_str(), &list);
    else if (filtered || a.sm)
        rc = a.sm ? lumek_whlist_load_sm(a.selector, a.filter.c_str(), &list)
                  : lumek_whlist_load(a.selector, a.filter.c_str(), &list);
    else
        rc = lumek_whlist_load_all(&list);
    if (!failed("list", rc, before)) print_entries(opts, list);
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
    show->add_option("PATH", *path)->required()->transform(absolute_path());
    show->callback(needs_daemon([&opts, path] {
        WhlistObject e{};
        std::string before = last_error();
        int32_t rc = lumek_whlist_load_by_path(path->c_str(), &e);
        if (failed("show", rc, before)) return;
        if (!e.path) {
            fail("show", "no reply: the system bus could not be reached");
            return;
        }
        print_entries(opts, &e);
        free(e.path);
        free(e.hash);
    }));

    auto *hash = app.add_subcommand("hash", "Print the daemon's hash of one path");
    hash->add_option("PATH", *path)->required()->transform(absolute_path());
    hash->callback(needs_daemon([&opts, path] {
        std::string before = last_error();
        char *h = lumek_whlist_get_hash_by_path(path->c_str());
        if (!h) {
            std::string text = last_error();
            fail("hash", text.empty() || text == before ? "no hash (no reply from the daemon)" : text);
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
        cmd->add_option("FILE", *file, "File name, made absolute and passed to the daemon")
            ->required()
            ->transform(absolute_path());
        cmd->add_option("--selector", *selector, kSelectorHelp);
        cmd->callback(needs_daemon([&opts, file, selector, import] {
            std::string before = last_error();
            int32_t rc = import ? lumek_whlist_import(*selector, file->c_str())
                                : lumek_whlist_export(*selector, file->c_str());
            if (rc < 0)
                failed(import ? "import" : "export", rc, before);
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
        std::string before = last_error();
        int32_t rc = *sm ? lumek_kmod_whlist_load_sm(name->c_str(), &mods)
                         : lumek_kmod_whlist_load(name->c_str(), &mods);
        if (!failed("module list", rc, before)) {
            nlohmann::json arr = nlohmann::json::array();
            Table table({{"MODULE"}, {"VALUE", 0, true}});
            for (KmodObject *m = mods; m; m = m->next) {
                arr.push_back({{"name", m->name ? m->name : ""}, {"value", m->value}});
                table.add({m->name ? m->name : "", std::to_string(m->value)});
            }
            if (opts.json)
                print_json(arr);
            else if (arr.empty())
                std::cout << "no modules\n";
            else
                table.print(std::cout);
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
        std::string before = last_error();
        int32_t rc = *sm ? lumek_whlist_update_rmmodpro_sm(flag, name->c_str())
                         : lumek_whlist_update_rmmodpro(flag, name->c_str());
        if (!failed("module protect", rc, before)) print_value(opts, "result", rc);
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
    st->add_option("FUNC", *func,
                   "Feature number: 1 netctl, 5 ppro, 10 kid identities, 11 pblk (the framework's "
                   "feature table)")
        ->required();
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
        std::string before = last_error();
        int32_t rc = lumek_bgset_set(text->c_str());
        if (!failed("bgset set", rc, before)) print_value(opts, "result", rc);
    }));
    auto *unset = bg->add_subcommand("unset", "Clear the text");
    unset->callback(needs_daemon([&opts] {
        std::string before = last_error();
        int32_t rc = lumek_bgset_unset();
        if (!failed("bgset unset", rc, before)) print_value(opts, "result", rc);
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
