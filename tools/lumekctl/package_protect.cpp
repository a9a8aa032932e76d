// lumekctl package protect|unprotect|forget: what an administrator (or the dpkg hook) runs
// around an upgrade of a package in the read-only package list. A read-only file cannot be
// replaced, so its protection is lifted for the length of the run and put back after it;
// files the new version no longer ships lose their labels and rtdb records.
#include <glib.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "common/fixed_paths.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

struct PackageArgs {
    std::string root, admindir;
    std::vector<std::string> names;
};

std::string last_error() {
    std::string msg = lumek_whlist_last_err();
    while (!msg.empty() && msg.back() == '\n') msg.pop_back();
    return msg;
}

// Whether the read-only package list names @package (an architecture qualifier dropped),
// as the library's protection hook decides it.
bool listed_read_only(std::string package) {
    package = package.substr(0, package.rfind(':'));
    std::ifstream in(std::string(lumek::paths::kDataDir) + "readonly_pkg_list");
    for (std::string line; std::getline(in, line);)
        if (line == package) return true;
    return false;
}

// The package's files under @root as they are on disk: "/" lines of "dpkg-query -L", a
// diverted file under the diversion's target. Notes and relative names are never paths.
// Directories are left out. False when dpkg-query fails (the package is not known).
bool package_files(const PackageArgs &a, const std::string &package, std::vector<std::string> *out) {
    std::vector<std::string> argv = {"dpkg-query", "-L", package};
    if (!a.admindir.empty()) argv.insert(argv.begin() + 1, "--admindir=" + a.admindir);
    std::vector<char *> cargv;
    for (auto &s : argv) cargv.push_back(&s[0]);
    cargv.push_back(nullptr);
    gchar *text = nullptr;
    gint status = 0;
    // Found through PATH, as the library finds it; the locale fixes the diversion lines' words.
    gchar **env = g_environ_setenv(g_get_environ(), "LC_ALL", "C", TRUE);
    gboolean ran = g_spawn_sync(nullptr, cargv.data(), env,
                                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                                nullptr, nullptr, &text, nullptr, &status, nullptr);
    g_strfreev(env);
    std::unique_ptr<gchar, decltype(&g_free)> keep(text, g_free);
    if (!ran || !g_spawn_check_wait_status(status, nullptr)) return false;
    std::vector<std::string> paths;
    static const std::string kLocal = "locally diverted to: /", kBy = "diverted by ";
    std::string line;
    for (const char *p = text; *p; p += line.size() + (p[line.size()] ? 1 : 0)) {
        const char *nl = strchr(p, '\n');
        line.assign(p, nl ? nl - p : strlen(p));
        if (line[0] == '/') {
            paths.push_back(line);
        } else if (!paths.empty() && line.rfind(kLocal, 0) == 0) {
            paths.back() = line.substr(kLocal.size() - 1);
        } else if (!paths.empty() && line.rfind(kBy, 0) == 0 && line.find(" to: /") != std::string::npos) {
            paths.back() = line.substr(line.find(" to: /") + 5);
        }
    }
    // The root as the kernel resolves it, "/" as "": the rtdb looks paths up exactly.
    std::unique_ptr<char, decltype(&free)> real(a.root.empty() ? nullptr : realpath(a.root.c_str(), nullptr),
                                                free);
    std::string root = real ? real.get() : a.root;
    while (!root.empty() && root.back() == '/') root.pop_back();
    for (auto &p : paths) {
        struct stat st;
        std::string full = root + p;
        if (p != "/." && !(stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) out->push_back(full);
    }
    return true;
}

std::vector<const char *> c_paths(const std::vector<std::string> &paths) {
    std::vector<const char *> out;
    for (auto &p : paths) out.push_back(p.c_str());
    return out;
}

// protect: "readonly" on the programs, libraries and modules; unprotect: "none" on every
// file of the package. Packages not in the read-only list are left alone.
void run_protect(const PackageArgs &a, bool protect) {
    const char *what = protect ? "package protect" : "package unprotect";
    for (const auto &name : a.names) {
        std::vector<std::string> files;
        if (!listed_read_only(name)) {
            std::cout << name << ": not in the read-only package list; left alone\n";
            continue;
        }
        if (!package_files(a, name, &files)) {
            fail(what, name + ": not an installed package");
            continue;
        }
        std::vector<const char *> paths = c_paths(files);
        int rc = paths.empty() ? 0
                 : protect     ? lumek_whlist_protect_set_by_name_for_dpkg(name.c_str(), paths.data(),
                                                                           static_cast<int32_t>(paths.size()))
                               : lumek_whlist_multi_delete(LUMEK_KIND_PROTECT, paths.data(),
                                                           static_cast<int32_t>(paths.size()));
        if (rc < 0) {
            fail(what, name + ": " + last_error() + " (result " + std::to_string(rc) + ")");
            continue;
        }
        std::cout << name << ": " << (protect ? "protected " : "unprotected ") << rc << " of " << files.size()
                  << " files\n";
    }
}

// Drops the exectl label, the protection and the rtdb record of each file.
void run_forget(const PackageArgs &a) {
    std::vector<std::string> files = a.names;
    if (files.empty() || (files.size() == 1 && files[0] == "-")) {
        files.clear();
        for (std::string line; std::getline(std::cin, line);)
            if (!line.empty()) files.push_back(line);
    }
    if (files.empty()) return;
    std::vector<const char *> paths = c_paths(files);
    for (int kind : {LUMEK_KIND_EXECTL, LUMEK_KIND_PROTECT}) {
        int rc = lumek_whlist_multi_delete(kind, paths.data(), static_cast<int32_t>(paths.size()));
        if (rc < 0) return fail("package forget", last_error() + " (result " + std::to_string(rc) + ")");
    }
    for (auto &f : files)
        if (lumek_memdb_whlist_exectl_remove(f.c_str()) != 0)
            return fail("package forget", f + ": the rtdb record could not be removed");
    std::cout << "forgot " << files.size() << " files\n";
}

}  // namespace

void add_package_protect_commands(CLI::App &app) {
    CLI::App *pkg = app.get_subcommand("package");
    auto args = std::make_shared<PackageArgs>();
    for (bool protect : {true, false}) {
        auto *c =
            pkg->add_subcommand(protect ? "protect" : "unprotect",
                                protect ? "Protect a read-only listed package's programs, libraries and "
                                          "modules again"
                                        : "Lift a read-only listed package's protection, so that it "
                                          "can be upgraded or removed");
        c->add_option("--root", args->root, "The root dpkg installs into (its --root)");
        c->add_option("--admindir", args->admindir, "dpkg's database directory (its --admindir)");
        c->add_option("package", args->names, "Package names")->required();
        c->callback([args, protect] { run_protect(*args, protect); });
    }
    auto *forget =
        pkg->add_subcommand("forget", "Drop the labels and rtdb records of files no package ships");
    forget->add_option("files", args->names, "files; none or \"-\": read standard input");
    forget->callback([args] { run_forget(*args); });
}

}  // namespace lumekctl
