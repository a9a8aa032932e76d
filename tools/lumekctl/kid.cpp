// lumekctl kid: the kid feature switch, package identities and application lists, kid
// policies and kid types, shared resources, private user directories and kid network control.
#include <ctype.h>
#include <stdlib.h>

#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <glib.h>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

const std::map<int, std::string> kKidResults = {
    {-1007, "invalid argument, not installed, or not a third app"},
    {-1011, "no file list for the package"},
    {-1021, "the kid of the subject or object cannot be determined"},
    {LUMEK_WHLIST_ERR_NO_MEMORY, "out of memory"},
};

// @refusal, when given, says what -1007 means for this command.
void report(const Options &opts, const std::string &op, const std::string &target, int result,
            const char *refusal = nullptr) {
    if (opts.json) {
        nlohmann::json doc = {{"kid", op}, {"target", target}, {"result", result}};
        print_json(doc);
    } else if (result == 0) {
        std::cout << "kid " << op << " " << escaped(target) << ": done\n";
    }
    if (result != 0) {
        auto it = kKidResults.find(result);
        if (refusal && result == -1007)
            return fail("kid " + op, std::string(refusal) + " (result " + std::to_string(result) + ")");
        std::string meaning = it != kKidResults.end() ? it->second : code_meaning(result);
        fail("kid " + op, (meaning.empty() ? "the framework refused; " + std::string(kSeeLog) : meaning) +
                              " (result " + std::to_string(result) + ")");
    }
}

// Whether dpkg lists files of @package, as the framework reads them for an improvement.
bool installed_package(const std::string &package) {
    const gchar *argv[] = {"/usr/bin/dpkg-query", "-L", "--", package.c_str(), nullptr};
    gchar *out = nullptr;
    gint status = 1;
    bool ok = g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr,
                           nullptr, &out, nullptr, &status, nullptr) &&
              g_spawn_check_wait_status(status, nullptr) && out && *out;
    g_free(out);
    return ok;
}

uint32_t subject_type(bool file) {
    return file ? LUMEK_KID_SUBJECT_FILE : LUMEK_KID_SUBJECT_APP;
}

void print_policies(const Options &opts, KidPolicyEntry *items, uint32_t n) {
    if (opts.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (uint32_t i = 0; i < n; ++i)
            rows.push_back({{"subject_type", items[i].sub_type == LUMEK_KID_SUBJECT_APP ? "app" : "file"},
                            {"subject", items[i].subject},
                            {"object", items[i].object},
                            {"perm", items[i].perm}});
        print_json({{"policies", rows}});
    } else {
        Table table({{"TYPE"}, {"PERM"}, {"SUBJECT"}, {"OBJECT", 0}});
        for (uint32_t i = 0; i < n; ++i) {
            char perm[16];
            snprintf(perm, sizeof perm, "%.8x", items[i].perm);
            table.add({items[i].sub_type == LUMEK_KID_SUBJECT_APP ? "app" : "file", perm, items[i].subject,
                       items[i].object});
        }
        table.print(std::cout);
        std::cout << "(" << n << (n == 1 ? " policy" : " policies") << ")\n";
    }
    free(items);
}

const char *subject_word(uint32_t type) {
    return type == LUMEK_KID_SUBJECT_APP ? "app" : "file";
}

const char *res_word(uint32_t res_type) {
    return res_type == LUMEK_KID_RES_DIRECTORY ? "dir" : "file";
}

// Prints the rows of a _v2 array as a table or under @key in JSON, then frees the array.
template <typename Entry>
void print_rows(const Options &opts, const char *key, const char *noun, Entry *items, uint32_t n,
                const std::vector<std::pair<std::string, int>> &columns,
                const std::function<std::vector<nlohmann::json>(const Entry &)> &row) {
    if (opts.json) {
        nlohmann::json rows = nlohmann::json::array();
        for (uint32_t i = 0; i < n; ++i) {
            std::vector<nlohmann::json> cells = row(items[i]);
            nlohmann::json obj;
            for (size_t c = 0; c < columns.size(); ++c) obj[columns[c].first] = cells[c];
            rows.push_back(obj);
        }
        print_json({{key, rows}});
    } else {
        std::vector<Table::Column> heads;
        for (const auto &[name, width] : columns) {
            std::string head = name;
            for (char &ch : head) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            heads.push_back({head, static_cast<size_t>(width)});
        }
        Table table(heads);
        for (uint32_t i = 0; i < n; ++i) {
            std::vector<std::string> texts;
            for (const auto &cell : row(items[i]))
                texts.push_back(cell.is_string() ? cell.template get<std::string>() : cell.dump());
            table.add(texts);
        }
        table.print(std::cout);
        std::cout << "(" << n << " " << noun << ")\n";
    }
    free(items);
}

struct KidArgs {
    std::string app, pkg, subject, object, name;
    std::vector<std::string> files;
    int level = 1;
    uint32_t perm = 0, kid_type = 0;
    bool file = false, force = false;
    std::string which = "all";
};

// kid resource, kid privacy, kid app list and kid netctl.
void add_kid_list_commands(CLI::App &kid, CLI::App &appcmd, const Options &opts, KidArgs &a) {
    auto *res = kid.add_subcommand("resource", "Shared resources of kid types 0-2 (kids 999, 1999, 9999)");
    res->require_subcommand(1);
    for (const char *op : {"add", "remove"}) {
        auto *sub = res->add_subcommand(op, std::string(op) + " a path as a shared resource");
        sub->add_option("path", a.name)->required()->transform(absolute_path());
        sub->add_option("--kid-type", a.kid_type, "0, 1 or 2 (default 0)")->check(CLI::Range(0, 2));
        sub->callback([&opts, &a, op = std::string(op)] {
            int rc = op == "add" ? lumek_kid_whlist_add_res(a.kid_type, 0, a.name.c_str())
                                 : lumek_kid_whlist_remove_res(a.kid_type, 0, a.name.c_str());
            report(opts, "resource " + op, a.name, rc);
        });
    }
    auto *rlist = res->add_subcommand("list", "Resources of every kid of one kid type (default: kid type 0)");
    rlist->add_option("--kid-type", a.kid_type, "0-4, or 5 for all (default 0)")->check(CLI::Range(0, 5));
    rlist->callback([&opts, &a] {
        KidResEntry *items = nullptr;
        uint32_t n = 0;
        int rc = lumek_kid_whlist_load_res_list_v2(a.kid_type, 0, &items, &n);
        if (rc != 0) return report(opts, "resource list", std::to_string(a.kid_type), rc);
        print_rows<KidResEntry>(
            opts, "resources", n == 1 ? "resource" : "resources", items, n,
            {{"kid_type", 0}, {"res_type", 0}, {"path", 0}}, [](const KidResEntry &e) {
                return std::vector<nlohmann::json>{e.kid_type, res_word(e.res_type), e.path};
            });
    });

    auto *privacy =
        kid.add_subcommand("privacy", "Make a directory in a user's home private (on) or public (off)");
    privacy->add_option("state", a.which)->required()->check(CLI::IsMember({"on", "off"}));
    privacy->add_option("directory", a.name)->required()->transform(absolute_path());
    privacy->callback([&opts, &a] {
        int rc = a.which == "on" ? lumek_kid_whlist_add_user_privacy_res(a.name.c_str())
                                 : lumek_kid_whlist_remove_user_privcay_res(a.name.c_str());
        report(opts, "privacy " + a.which, a.name, rc,
               "not a directory directly inside a user's home (/home/USER/DIR or /root/DIR, written "
               "without \"..\", a trailing \"/\" or a link), or no privacy kid free");
    });

    auto *alist = appcmd.add_subcommand("list", "Applications with identities");
    alist->add_option("which", a.which, "all (kids 9999-500000), third, installed or installed-third")
        ->check(CLI::IsMember({"all", "third", "installed", "installed-third"}));
    alist->callback([&opts, &a] {
        KidAppEntry *items = nullptr;
        uint32_t n = 0;
        int rc = a.which == "third"       ? lumek_kid_whlist_load_third_app_list_v2(&items, &n)
                 : a.which == "installed" ? lumek_kid_whlist_load_installed_app_list_v2(&items, &n)
                 : a.which == "installed-third"
                     ? lumek_kid_whlist_load_installed_third_app_list_v2(&items, &n)
                     : lumek_kid_whlist_load_app_list_v2(&items, &n);
        if (rc != 0) return report(opts, "app list", a.which, rc);
        print_rows<KidAppEntry>(opts, "apps", n == 1 ? "application" : "applications", items, n,
                                {{"kid_type", 0}, {"app", 48}, {"package", 0}}, [](const KidAppEntry &e) {
                                    return std::vector<nlohmann::json>{e.kid_type, e.app_name, e.pkg_name};
                                });
    });

    auto *netctl = kid.add_subcommand("netctl", "Network control by kid");
    netctl->require_subcommand(1);
    for (const char *op : {"add", "remove"}) {
        auto *sub = netctl->add_subcommand(op, std::string(op) + " an application's programs or one program");
        sub->add_option("subject", a.subject)->required();
        sub->add_flag("--file", a.file, "The subject is a program file, not an application name");
        sub->callback([&opts, &a, op = std::string(op)] {
            uint32_t t = subject_type(a.file);
            if (a.file) a.subject = absolute(a.subject);
            int rc = op == "add" ? lumek_kid_whlist_add_kid_netctl(t, a.subject.c_str())
                                 : lumek_kid_whlist_remove_kid_netctl(t, a.subject.c_str());
            report(opts, "netctl " + op, a.subject, rc);
        });
    }
    netctl->add_subcommand("list", "The kid network-control list")->callback([&opts] {
        KidNetctlEntry *items = nullptr;
        uint32_t n = 0;
        int rc = lumek_kid_whlist_load_netctl_list_v2(&items, &n);
        if (rc != 0) return report(opts, "netctl list", "", rc);
        print_rows<KidNetctlEntry>(opts, "netctl", n == 1 ? "entry" : "entries", items, n,
                                   {{"type", 0}, {"name", 0}}, [](const KidNetctlEntry &e) {
                                       return std::vector<nlohmann::json>{subject_word(e.type), e.name};
                                   });
    });
}

}  // namespace

void add_kid_commands(CLI::App &app, const Options &opts) {
    static KidArgs a;
    auto *kid =
        app.add_subcommand("kid", "Application identities: feature switch, apps, policies, kid types");
    kid->require_subcommand(1);

    auto *feature = kid->add_subcommand("feature", "Switch the kid feature: on, off or status");
    static std::string state;
    feature->add_option("state", state)->required()->check(CLI::IsMember({"on", "off", "status"}));
    feature->callback([&opts] {
        int rc = state == "status" ? lumek_kid_whlist_func_status_get()
                                   : lumek_kid_whlist_func_status_set(state == "on" ? 1 : 0);
        if (state == "status") {
            if (opts.json)
                print_json({{"kid_feature", rc}});
            else
                std::cout << "kid feature: " << rc << '\n';
            if (rc < 0) fail("kid feature", "the framework cannot tell (result " + std::to_string(rc) + ")");
        } else {
            report(opts, "feature", state, rc);
        }
    });

    auto *appcmd = kid->add_subcommand("app", "Package identities");
    appcmd->require_subcommand(1);
    auto *create = appcmd->add_subcommand("create", "Give an installed package an identity of its own");
    create->add_option("app", a.app)->required();
    create->add_option("package", a.pkg)->required();
    create->add_option("files", a.files, "Files to mark instead of the package's own")
        ->transform(absolute_path());
    create->callback([&opts] {
        std::vector<char *> files;
        for (std::string &f : a.files) files.push_back(f.data());
        report(opts, "app create", a.app,
               lumek_kid_whlist_create_kid(a.app.c_str(), a.pkg.c_str(),
                                           a.files.empty() ? nullptr : files.data(),
                                           static_cast<int>(files.size())));
    });
    auto *remove = appcmd->add_subcommand("remove", "Detach an application's files from its kid");
    remove->add_option("app", a.app)->required();
    remove->callback(
        [&opts] { report(opts, "app remove", a.app, lumek_kid_whlist_remove_kid(a.app.c_str())); });
    auto *improve =
        appcmd->add_subcommand("improve", "Raise an application to level 1 (kid 1999) or 2 (kid 9999)");
    improve->add_option("app", a.app)->required();
    improve->add_option("--level", a.level, "1 or 2")->check(CLI::IsMember({1, 2}));
    improve->add_flag("--force", a.force, "Go ahead even when APP is no installed package");
    improve->callback([&opts] {
        // The framework takes the application name as its package name: for a name that is no
        // installed package it removes every resource and raises nothing.
        if (!a.force && !installed_package(a.app))
            return fail("kid app improve",
                        a.app +
                            " is no installed package: improving it would remove its resources and "
                            "raise nothing (--force does it anyway)");
        report(opts, "app improve", a.app, lumek_kid_whlist_improve_kid(a.level, a.app.c_str()));
    });

    auto *policy = kid->add_subcommand("policy", "kid policies");
    policy->require_subcommand(1);
    for (const char *op : {"add", "update", "remove"}) {
        auto *sub = policy->add_subcommand(op, std::string(op) + " a subject's permission bits on an object");
        sub->add_option("subject", a.subject)->required();
        sub->add_option("object", a.object, "Resource file or directory")
            ->required()
            ->transform(absolute_path());
        if (std::string(op) != "remove") sub->add_option("perm", a.perm, "Permission bits")->required();
        sub->add_flag("--file", a.file, "The subject is a program file, not an application name");
        sub->callback([&opts, op = std::string(op)] {
            uint32_t t = subject_type(a.file);
            if (a.file) a.subject = absolute(a.subject);
            const char *s = a.subject.c_str(), *o = a.object.c_str();
            int rc = op == "add"      ? lumek_kid_whlist_add_kid_policy(t, s, o, a.perm)
                     : op == "update" ? lumek_kid_whlist_update_kid_policy(t, s, o, a.perm)
                                      : lumek_kid_whlist_remove_kid_policy(t, s, o);
            report(opts, "policy " + op, a.subject + " -> " + a.object, rc);
        });
    }
    auto *list = policy->add_subcommand("list", "List every policy, or one subject's");
    list->add_option("subject", a.subject, "Only this subject's policies");
    list->add_flag("--file", a.file, "The subject is a program file");
    list->callback([&opts] {
        KidPolicyEntry *items = nullptr;
        uint32_t n = 0;
        if (a.file) a.subject = absolute(a.subject);
        int rc = a.subject.empty() ? lumek_kid_whlist_load_policy_list_v2(&items, &n)
                                   : lumek_kid_whlist_load_policy_list_by_subject_v2(
                                         subject_type(a.file), a.subject.c_str(), &items, &n);
        if (rc != 0) return report(opts, "policy list", a.subject, rc);
        print_policies(opts, items, n);
    });

    add_kid_list_commands(*kid, *appcmd, opts, a);

    auto *type = kid->add_subcommand("type", "The kid type of an application or a file");
    type->add_option("name", a.name)->required();
    type->add_flag("--file", a.file, "The name is a file path");
    type->callback([&opts] {
        uint32_t kid_type = 0;
        if (a.file) a.name = absolute(a.name);
        int rc = lumek_kid_whlist_get_app_or_file_kid_type(subject_type(a.file), a.name.c_str(), &kid_type);
        if (rc != 0) return report(opts, "type", a.name, rc);
        if (opts.json)
            print_json({{"name", a.name}, {"kid_type", kid_type}});
        else
            std::cout << escaped(a.name) << ": kid type " << kid_type << '\n';
    });
}

}  // namespace lumekctl
