// lumekctl udeb: the framework's udeb list operations, passed through the library. The
// values are the framework's pointer-sized values, given here as numbers.
#include <stdint.h>
#include <stdlib.h>

#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

struct UdebArgs {
    bool sm = false;
    int64_t first = 0;
    int64_t second = 0;
    int value = 0;
    bool has_value = false;
};

void *as_value(int64_t n) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(n));
}

void report(const Options &opts, const std::string &op, int result) {
    if (opts.json) {
        print_json({{"op", op}, {"result", result}});
    } else if (result >= 0) {
        std::cout << "udeb " << op << ": " << result << '\n';
    }
    if (result < 0)
        fail("udeb " + op, result == -1 ? "refused (lumek is disabled, or the framework said no; result -1)"
                                        : "the framework said " + std::to_string(result));
}

}  // namespace

void add_udeb_commands(CLI::App &app, const Options &opts) {
    auto a = std::make_shared<UdebArgs>();
    auto *cmd = app.add_subcommand("udeb", "The framework's udeb list (only while lumek is enabled)");
    cmd->require_subcommand(1);
    cmd->add_flag("--sm", a->sm, "The _sm list");

    cmd->add_subcommand("create", "Create the list")->callback([&opts, a] {
        report(opts, "create", a->sm ? lumek_udeblist_create_sm() : lumek_udeblist_create());
    });
    cmd->add_subcommand("clear", "Empty the list")->callback([&opts, a] {
        report(opts, "clear", a->sm ? lumek_udeblist_clear_sm() : lumek_udeblist_clear());
    });
    for (const char *op : {"add", "del"}) {
        auto *sub = cmd->add_subcommand(
            op, std::string(op == std::string("add") ? "Add" : "Remove") + " an entry (UID, VALUE)");
        sub->add_option("UID", a->first)->required()->check(whole_number());
        sub->add_option("VALUE", a->second)->required()->check(whole_number());
        bool add = op == std::string("add");
        sub->callback([&opts, a, add] {
            void *f = as_value(a->first), *s = as_value(a->second);
            int r = add ? (a->sm ? lumek_udeblist_add_sm(f, s) : lumek_udeblist_add(f, s))
                        : (a->sm ? lumek_udeblist_del_sm(f, s) : lumek_udeblist_del(f, s));
            report(opts, add ? "add" : "del", r);
        });
    }
    auto *root = cmd->add_subcommand("root", "Print (or --set) the root-distinguish setting");
    auto *set_opt = root->add_option("--set", a->value, "New value");
    root->callback([&opts, a, set_opt] {
        if (set_opt->count() > 0) {
            report(opts, "root --set",
                   a->sm ? lumek_udeblist_set_root_distinguish_sm(a->value)
                         : lumek_udeblist_set_root_distinguish(a->value));
            return;
        }
        report(opts, "root",
               a->sm ? lumek_udeblist_get_root_distinguish_sm() : lumek_udeblist_get_root_distinguish());
    });
    auto *list = cmd->add_subcommand("list", "Print the entries of UID (as pointer-sized values)");
    list->add_option("UID", a->first)->required()->check(whole_number());
    list->callback([&opts, a] {
        int count = -1;
        void *f = as_value(a->first);
        auto *values = static_cast<intptr_t *>(a->sm ? lumek_udeblist_read_all_node_with_uid_sm(f, &count)
                                                     : lumek_udeblist_read_all_node_with_uid(f, &count));
        // The list is let through only while the framework is enabled: never show that as empty.
        if (!values && lumek_whlist_getstatus() == 0)
            return fail("udeb list", "lumek is disabled; the udeb list is read only while it is enabled");
        // A failed read is never shown as an empty list.
        if (count < 0) {
            free(values);
            return fail("udeb list", "could not read the list (count " + std::to_string(count) + ")");
        }
        nlohmann::json entries = nlohmann::json::array();
        for (int i = 0; values && i < count; ++i) entries.push_back(values[i]);
        free(values);
        if (opts.json) {
            print_json({{"uid", a->first}, {"count", count}, {"entries", entries}});
            return;
        }
        Table table({{"VALUE", 0, true}});
        for (auto &e : entries) table.add({std::to_string(e.get<int64_t>())});
        table.print(std::cout);
        std::cout << "(" << count << (count == 1 ? " entry" : " entries") << ")\n";
    });
}

}  // namespace lumekctl
