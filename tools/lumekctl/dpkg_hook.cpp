// lumekctl dpkg-hook: what the package manager runs for the files of a package it has
// unpacked. The files are labelled in batches (keeping the rtdb's special labels) and, with
// --protect, the package's programs, libraries and modules protected when the read-only
// package list names it.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

// Files per library call: a batch record is 4 KiB, so a large package stays in bounded memory.
constexpr size_t kBatch = 4096;

struct HookArgs {
    std::string protect;
    std::vector<std::string> paths;
};

std::vector<std::string> read_paths(std::istream &in) {
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(line);
    return out;
}

void run_hook(const Options &opts, HookArgs &a) {
    if (a.paths.empty() || (a.paths.size() == 1 && a.paths[0] == "-")) {
        // Typed at a terminal with no paths, the hook would seem to hang: say what it waits for.
        if (isatty(STDIN_FILENO))
            std::cerr << "lumekctl dpkg-hook: reading paths from standard input, one per line "
                         "(end with Ctrl-D)\n";
        a.paths = read_paths(std::cin);
    }
    for (auto &p : a.paths) p = absolute(p);
    nlohmann::json doc = {{"files", a.paths.size()}, {"labelled", 0}};
    long labelled = 0, protected_files = 0;
    for (size_t i = 0; i < a.paths.size(); i += kBatch) {
        std::vector<const char *> chunk;
        for (size_t j = i; j < a.paths.size() && j < i + kBatch; ++j) chunk.push_back(a.paths[j].c_str());
        int rc = lumek_whlist_exectl_multi_add_for_dpkg(chunk.data(), static_cast<int32_t>(chunk.size()));
        if (rc < 0) {
            std::string why = rc == -1 && last_error().empty() ? "no rtdb, or not authorised" : last_error();
            fail("dpkg-hook", "labelling failed: " + why + " (result " + std::to_string(rc) + ")");
            return;
        }
        labelled += rc;
        if (a.protect.empty()) continue;
        rc = lumek_whlist_protect_set_by_name_for_dpkg(a.protect.c_str(), chunk.data(),
                                                       static_cast<int32_t>(chunk.size()));
        if (rc == -2) {
            doc["protect"] = "not in the read-only package list";
        } else if (rc < 0) {
            fail("dpkg-hook", "protection failed: " + last_error() + " (result " + std::to_string(rc) + ")");
            return;
        } else {
            protected_files += rc;
        }
    }
    doc["labelled"] = labelled;
    if (!a.protect.empty()) {
        doc["package"] = a.protect;
        doc["protected"] = protected_files;
    }
    if (opts.json) {
        print_json(doc);
        return;
    }
    std::cout << "labelled " << labelled << " of " << a.paths.size() << " files";
    if (!a.protect.empty()) {
        std::cout << "; " << a.protect << ": ";
        if (doc.contains("protect"))
            std::cout << doc["protect"].get<std::string>();
        else
            std::cout << "protected " << protected_files;
    }
    std::cout << "\n";
}

}  // namespace

void add_dpkg_hook_commands(CLI::App &app, const Options &opts) {
    auto args = std::make_shared<HookArgs>();
    auto *cmd = app.add_subcommand("dpkg-hook",
                                   "label the files of an installed package (PATH arguments, or one per line "
                                   "on standard input), for use from the package manager");
    cmd->add_option("--protect", args->protect,
                    "also protect its programs, libraries and modules when PACKAGE is in the read-only list")
        ->type_name("PACKAGE");
    cmd->add_option("paths", args->paths, "files; none or \"-\": read standard input");
    cmd->callback([&opts, args] { run_hook(opts, *args); });
}

}  // namespace lumekctl
