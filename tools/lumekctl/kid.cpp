// lumekctl kid: the kid feature switch, package identities, kid policies and kid types.
#include <stdlib.h>

#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

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

void report(const Options &opts, const std::string &op, const std::string &target, int result) {
    if (opts.json) {
        nlohmann::json doc = {{"kid", op}, {"target", target}, {"result", result}};
        print_json(doc);
    } else if (result == 0) {
        std::cout << "kid " << op << " " << target << ": done\n";
    }
    if (result != 0) {
        auto it = kKidResults.find(result);
        fail("kid " + op, (it != kKidResults.end() ? it->second : "the framework refused") + " (result " +
                              std::to_string(result) + ")");
    }
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
        std::cout << std::left << std::setw(6) << "TYPE" << std::setw(10) << "PERM" << std::setw(32)
                  << "SUBJECT"
                  << "OBJECT\n";
        for (uint32_t i = 0; i < n; ++i) {
            char perm[16];
            snprintf(perm, sizeof perm, "%.8x", items[i].perm);
            std::cout << std::left << std::setw(6)
                      << (items[i].sub_type == LUMEK_KID_SUBJECT_APP ? "app" : "file") << std::setw(10)
                      << perm << std::setw(32) << items[i].subject << items[i].object << '\n';
        }
        std::cout << "(" << n << (n == 1 ? " policy" : " policies") << ")\n";
    }
    free(items);
}

struct KidArgs {
    std::string app, pkg, subject, object, name;
    std::vector<std::string> files;
    int level = 1;
    uint32_t perm = 0;
    bool file = false;
};

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
    create->add_option("files", a.files, "Files to mark instead of the package's own");
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
    improve->callback([&opts] {
        report(opts, "app improve", a.app, lumek_kid_whlist_improve_kid(a.level, a.app.c_str()));
    });

    auto *policy = kid->add_subcommand("policy", "kid policies");
    policy->require_subcommand(1);
    for (const char *op : {"add", "update", "remove"}) {
        auto *sub = policy->add_subcommand(op, std::string(op) + " a subject's permission bits on an object");
        sub->add_option("subject", a.subject)->required();
        sub->add_option("object", a.object)->required();
        if (std::string(op) != "remove") sub->add_option("perm", a.perm, "Permission bits")->required();
        sub->add_flag("--file", a.file, "The subject is a program file, not an application name");
        sub->callback([&opts, op = std::string(op)] {
            uint32_t t = subject_type(a.file);
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
        int rc = a.subject.empty() ? lumek_kid_whlist_load_policy_list_v2(&items, &n)
                                   : lumek_kid_whlist_load_policy_list_by_subject_v2(
                                         subject_type(a.file), a.subject.c_str(), &items, &n);
        if (rc != 0) return report(opts, "policy list", a.subject, rc);
        print_policies(opts, items, n);
    });

    auto *type = kid->add_subcommand("type", "The kid type of an application or a file");
    type->add_option("name", a.name)->required();
    type->add_flag("--file", a.file, "The name is a file path");
    type->callback([&opts] {
        uint32_t kid_type = 0;
        int rc = lumek_kid_whlist_get_app_or_file_kid_type(subject_type(a.file), a.name.c_str(), &kid_type);
        if (rc != 0) return report(opts, "type", a.name, rc);
        if (opts.json)
            print_json({{"name", a.name}, {"kid_type", kid_type}});
        else
            std::cout << a.name << ": kid type " << kid_type << '\n';
    });
}

}  // namespace lumekctl
