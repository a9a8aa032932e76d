// lumekctl rtdb create|delete|add|remove|load|special|after|sync|status: the runtime label
// database, with tables for people and --json for programs. The rtdb family reports through
// the framework log only, so failures here name the code's meaning and point to the log.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "lumekwhlist.h"
#include "rtdb_views.h"

namespace lumekctl {

namespace {

// What the rtdb family's results mean (its texts go only to the framework log).
std::string rtdb_meaning(const std::string &what, int32_t rc) {
    if (what == "rtdb create" && rc == -1) return "the daemon's whitelist could not be loaded";
    if (what == "rtdb create" && rc == -2)
        return "the database could not be created; if an rtdb exists already, run \"lumekctl rtdb "
               "delete\" first (or \"rtdb create --force\" to replace it)";
    if (what == "rtdb delete") return "the database could not be deleted (is there an rtdb?)";
    if (rc == -1) return "cannot connect to the rtdb (none yet? \"lumekctl rtdb create\" makes it)";
    if (rc == -2) return "removing the old record failed";
    if (rc == -3) return "storing the record failed";
    return "";
}

bool failed(const std::string &what, int32_t rc) {
    if (rc == 0) return false;
    std::string meaning = rtdb_meaning(what, rc);
    fail(what, (meaning.empty() ? "" : meaning + "; ") + kSeeLog + " (result " + std::to_string(rc) + ")");
    return true;
}

// The number of records in @list, which it frees.
size_t count_of(WhlistObject *list) {
    size_t n = 0;
    for (const WhlistObject *e = list; e; e = e->next) ++n;
    lumek_whlist_objects_free(&list);
    return n;
}

void print_records(const Options &opts, WhlistObject *list) {
    nlohmann::json arr = nlohmann::json::array();
    for (const WhlistObject *e = list; e; e = e->next)
        arr.push_back({{"path", e->path ? e->path : ""},
                       {"hash", e->hash ? e->hash : ""},
                       {"type", type_name(e->obj_type)},
                       {"label", label_name(e->exectl_type)},
                       {"status", e->extra2}});
    lumek_whlist_objects_free(&list);
    if (opts.json) {
        print_json(arr);
        return;
    }
    if (arr.empty()) {
        std::cout << "no records\n";
        return;
    }
    Table table({{"TYPE"}, {"LABEL"}, {"STATUS", 0, true}, {"HASH"}, {"PATH"}});
    for (const auto &j : arr)
        table.add({j["type"].get<std::string>(), j["label"].get<std::string>(),
                   std::to_string(j["status"].get<int>()), j["hash"].get<std::string>(),
                   j["path"].get<std::string>()});
    table.print(std::cout);
}

void print_done(const Options &opts, const char *what) {
    if (opts.json)
        print_json({{"result", 0}});
    else
        std::cout << what << '\n';
}

struct Filters {
    std::string path, type, label, hash;
    int32_t status = -1;
    bool daemon = false;
};

const char *opt(const CLI::Option *o, const std::string &v) {
    return o->count() ? v.c_str() : nullptr;
}

int32_t number_of(const char *const *table, int n, const std::string &name) {
    for (int i = 0; i < n; ++i)
        if (name == table[i]) return i;
    return -1;
}

void add_load(CLI::App &rtdb, const Options &opts) {
    auto f = std::make_shared<Filters>();
    auto *load = rtdb.add_subcommand("load", "List label records matching every given filter");
    auto *p = load->add_option("--path", f->path, "Exact path")->transform(absolute_path());
    auto *t =
        load->add_option("--type", f->type, "Object type: program, library, script, kmodule, other or link")
            ->check(type_text());
    auto *l =
        load->add_option("--label", f->label, "Label: verified, original, vordsw, trusted, unknown, ...")
            ->check(label_text());
    auto *h = load->add_option("--hash", f->hash, "Exact hash");
    load->add_option("--status", f->status, "Status (-1: any)");
    load->add_flag("--daemon", f->daemon, "Ask the whitelist daemon instead of reading the rtdb");
    load->callback([&opts, f, p, t, l, h] {
        WhlistObject *list = nullptr;
        auto fn = f->daemon ? lumek_memdb_whlist_exectl_load_by_daemon : lumek_memdb_whlist_exectl_load;
        int32_t rc =
            fn(opt(p, f->path), opt(t, f->type), opt(l, f->label), opt(h, f->hash), f->status, &list);
        if (failed("rtdb load", rc)) {
            lumek_whlist_objects_free(&list);
            return;
        }
        print_records(opts, list);
    });

    auto *special = rtdb.add_subcommand("special", "List records labelled vordsw, trusted, parent or script");
    special->callback([&opts] {
        WhlistObject *list = nullptr;
        if (!failed("rtdb special", lumek_memdb_whlist_exectl_load_special(&list)))
            print_records(opts, list);
        else
            lumek_whlist_objects_free(&list);
    });

    auto time = std::make_shared<int32_t>(0);
    auto *after = rtdb.add_subcommand("after", "List records written after TIME (seconds since the Epoch)");
    after->add_option("TIME", *time)->required();
    after->callback([&opts, time] {
        WhlistObject *list = nullptr;
        if (!failed("rtdb after", lumek_memdb_whlist_exectl_load_after_time(*time, &list)))
            print_records(opts, list);
        else
            lumek_whlist_objects_free(&list);
    });
}

// An existing rtdb is replaced only with --force, and one that would lose more than half of
// its records (a daemon that answers with a short list) is refused without it.
void create_rtdb(const Options &opts, bool force) {
    WhlistObject *list = nullptr;
    bool exists = lumek_memdb_whlist_exectl_load(nullptr, nullptr, nullptr, nullptr, -1, &list) == 0;
    size_t old_count = count_of(list);
    if (exists) {
        list = nullptr;
        int32_t rc = lumek_whlist_load_all(&list);
        size_t new_count = count_of(list);
        if (rc == 0 && new_count * 2 < old_count && !force)
            return fail("rtdb create", "the rtdb holds " + std::to_string(old_count) +
                                           " records and the daemon's whitelist only " +
                                           std::to_string(new_count) +
                                           ": refusing to replace it with fewer than half (--force does)");
        if (force && failed("rtdb delete", lumek_memdb_whlist_delete())) return;
    }
    if (!failed("rtdb create", lumek_memdb_whlist_create()))
        print_done(opts, exists && force ? "rtdb replaced" : "rtdb created");
}

void add_writers(CLI::App &rtdb, const Options &opts) {
    auto force = std::make_shared<bool>(false);
    auto *create = rtdb.add_subcommand("create", "Create the rtdb from the daemon's whole whitelist");
    create->add_flag("--force", *force,
                     "Replace an existing rtdb, even with one holding fewer than half of its records");
    create->callback(needs_daemon([&opts, force] { create_rtdb(opts, *force); }));
    rtdb.add_subcommand("delete", "Delete the rtdb")->callback([&opts] {
        if (!failed("rtdb delete", lumek_memdb_whlist_delete())) print_done(opts, "rtdb deleted");
    });

    struct AddArgs {
        std::string path, label, type, hash;
        int32_t status = 0;
    };
    auto a = std::make_shared<AddArgs>();
    auto *add = rtdb.add_subcommand("add", "Record (replace) one file's label");
    add->add_option("PATH", a->path)->required()->transform(absolute_path());
    add->add_option("LABEL", a->label)->required()->check(CLI::IsMember(label_names()));
    add->add_option("TYPE", a->type)->required()->check(CLI::IsMember(type_names()));
    auto *h = add->add_option("--hash", a->hash, "Hash to record (default: the file's MD5)");
    add->add_option("--status", a->status, "Status (default 0)");
    add->callback([&opts, a, h] {
        std::unique_ptr<char, decltype(&free)> md5(
            h->count() ? nullptr : lumek_memdb_whlist_calc_md5_for_file(a->path.c_str()), free);
        if (!h->count() && !md5) {
            fail("rtdb add", a->path + ": cannot hash the file (give --hash)");
            return;
        }
        WhlistObjectEntry e{&a->path[0],
                            h->count() ? &a->hash[0] : md5.get(),
                            number_of(kTypeNames, 6, a->type),
                            number_of(kLabelNames, 7, a->label),
                            0,
                            0,
                            a->status};
        if (!failed("rtdb add", lumek_memdb_whlist_exectl_add(e))) print_done(opts, "recorded");
    });

    auto path = std::make_shared<std::string>();
    auto *rm = rtdb.add_subcommand("remove", "Delete every record of one path");
    rm->add_option("PATH", *path)->required()->transform(absolute_path());
    rm->callback([&opts, path] {
        if (!failed("rtdb remove", lumek_memdb_whlist_exectl_remove(path->c_str())))
            print_done(opts, "removed");
    });

    auto status = std::make_shared<int32_t>(0);
    auto *st =
        rtdb.add_subcommand("status", "Set one file's status (recording the file when it has no record)");
    st->add_option("PATH", *path)->required()->transform(absolute_path());
    st->add_option("N", *status)->required();
    st->callback([&opts, path, status] {
        if (failed("rtdb status", lumek_memdb_whlist_exectl_update_status(path->c_str(), *status))) return;
        // The library succeeds without a change when there is nothing to record: say so.
        WhlistObject *list = nullptr;
        int32_t rc = lumek_memdb_whlist_exectl_load(path->c_str(), nullptr, nullptr, nullptr, -1, &list);
        bool recorded = rc == 0 && list;
        lumek_whlist_objects_free(&list);
        if (recorded)
            print_done(opts, "status set");
        else
            fail("rtdb status",
                 *path + ": not recorded, nothing changed (the file is missing, unlabelled or 'unknown')");
    });

    auto *sync = rtdb.add_subcommand("sync", "The last synchronisation time");
    sync->require_subcommand(1);
    sync->add_subcommand("get", "Print it (0: never set)")->callback([&opts] {
        int32_t t = lumek_memdb_whlist_exectl_get_lasted_sync_time();
        if (t < 0) {
            failed("rtdb sync get", t);
            return;
        }
        if (opts.json)
            print_json({{"sync_time", t}});
        else
            std::cout << "sync time: " << t << '\n';
    });
    auto time = std::make_shared<int32_t>(0);
    auto *set = sync->add_subcommand("set", "Replace it");
    set->add_option("TIME", *time)->required();
    set->callback([&opts, time] {
        if (!failed("rtdb sync set", lumek_memdb_whlist_exectl_update_lasted_sync_time(*time)))
            print_done(opts, "sync time set");
    });
}

}  // namespace

void add_rtdb_commands(CLI::App &app, const Options &opts) {
    auto *rtdb = app.add_subcommand("rtdb", "The runtime label database");
    rtdb->require_subcommand(1);
    add_writers(*rtdb, opts);
    add_load(*rtdb, opts);
    add_rtdb_check(*rtdb, opts);
}

}  // namespace lumekctl
