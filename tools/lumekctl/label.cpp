// lumekctl label|package|dir|deps: label files, whole packages and directories, explain a
// file's label, show what a package or directory operation would send, and admit a
// program with its dependencies.
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

const std::map<std::string, int> kKinds = {
    {"exectl", LUMEK_KIND_EXECTL}, {"protect", LUMEK_KIND_PROTECT}, {"kmod", LUMEK_KIND_KMOD}};
const std::map<std::string, int> kOps = {
    {"add", LUMEK_OP_ADD}, {"delete", LUMEK_OP_DELETE}, {"update", LUMEK_OP_UPDATE}};
const char *const kSkips[] = {"sent",
                              "path contains /tmp/",
                              "missing",
                              "directory",
                              "symbolic link",
                              "file type not taken",
                              "not of the type asked for",
                              "no label for it",
                              "not a path, or too long"};
const char *const kRules[] = {"",
                              "the file does not exist",
                              "a link, or the file type cannot be told",
                              "protection: readonly to add or update, none to delete",
                              "this whitelist does not take the file type",
                              "removal from an exectl whitelist",
                              "no absolute path could be formed",
                              "named by a data list",
                              "named by no data list"};
constexpr size_t kProgressBatch = 256;  // files per call when progress is shown

// A probed file type; a failed probe is "unclassified".
std::string probed_type(int t) {
    return t >= 0 && t <= 5 ? kTypeNames[t] : "unclassified";
}

// The exectl label the framework holds for @path; "" when none or when it cannot be read.
std::string held_label(const std::string &path) {
    LumekLabelReason why{};
    if (lumek_whlist_label_explain(LUMEK_KIND_EXECTL, LUMEK_OP_ADD, path.c_str(), &why) != 0) return "";
    return why.current;
}

// The library's result: a line, or the failure with the last-error text. @unchanged names the
// files an add left as they were; "done" is said only when some other file was sent.
void report(const Options &opts, const std::string &what, int rc,
            const std::vector<std::pair<std::string, std::string>> &unchanged = {}, size_t files = 1) {
    if (opts.json) {
        nlohmann::json doc = {{"operation", what}, {"result", rc}};
        if (!unchanged.empty()) {
            doc["unchanged"] = nlohmann::json::array();
            for (const auto &[path, label] : unchanged)
                doc["unchanged"].push_back({{"path", path}, {"label", label}});
        }
        if (rc < 0) doc["message"] = lumek_whlist_last_err();
        print_json(doc);
    } else if (rc >= 0) {
        for (const auto &[path, label] : unchanged)
            std::cout << "unchanged: " << path << " keeps '" << label
                      << "' (a program is labelled only while 'unknown')\n";
        if (unchanged.size() < files) std::cout << what << ": done (" << rc << ")\n";
    }
    if (rc < 0) {
        std::string msg = lumek_whlist_last_err();
        while (!msg.empty() && msg.back() == '\n') msg.pop_back();
        fail(what, msg + " (result " + std::to_string(rc) + ")");
    }
}

// A package that is listed but has no program, library, script or module gives no records,
// which the library reports as a failure: for the administrator there is simply nothing to
// do. Says so, with the skips summed up by reason, and returns true; false when the package
// could not be listed at all.
bool nothing_to_label(const Options &opts, const std::string &op, const std::string &package) {
    LumekPlanItem *items = nullptr;
    int32_t n = 0;
    if (lumek_whlist_plan_by_package(kOps.at(op), package.c_str(), &items, &n) !=
            LUMEK_WHLIST_ERR_EXTRACT_LIST ||
        n == 0) {
        free(items);
        return false;
    }
    std::map<std::string, int> by_reason;
    for (int32_t i = 0; i < n; ++i) ++by_reason[kSkips[items[i].skip]];
    free(items);
    if (opts.json) {
        print_json({{"operation", "package " + op + " " + package}, {"result", 0}, {"skipped", by_reason}});
        return true;
    }
    std::cout << package << ": nothing to label (" << n << " paths skipped:";
    const char *sep = " ";
    for (const auto &[reason, count] : by_reason) {
        std::cout << sep << count << " " << reason;
        sep = ", ";
    }
    std::cout << ")\n";
    return true;
}

struct LabelArgs {
    std::string kind = "exectl";
    std::string type;
    std::string op = "add";
    std::string label = "verified";
    bool sm = false;
    std::vector<std::string> paths;
};

int label_paths(const std::string &op, const LabelArgs &a, bool progress) {
    int kind = kKinds.at(a.kind);
    if (a.paths.size() == 1) {
        const char *p = a.paths[0].c_str();
        if (op == "add") return lumek_whlist_add_internal(kind, p, a.sm);
        if (op == "delete") return lumek_whlist_delete_internal(kind, p, a.sm);
        return lumek_whlist_update(kind, p);
    }
    std::vector<const char *> ptrs;
    for (const auto &p : a.paths) ptrs.push_back(p.c_str());
    auto batch = [&](size_t from, size_t n) {
        const char **v = ptrs.data() + from;
        int c = static_cast<int>(n);
        if (op == "add") return lumek_whlist_multi_add(kind, v, c);
        if (op == "delete") return lumek_whlist_multi_delete(kind, v, c);
        return lumek_whlist_multi_update(kind, v, c);
    };
    if (!progress) return batch(0, ptrs.size());
    int total = 0;
    for (size_t from = 0; from < ptrs.size(); from += kProgressBatch) {
        size_t n = std::min(kProgressBatch, ptrs.size() - from);
        int rc = batch(from, n);
        if (rc < 0) return rc;
        total += rc;
        std::cerr << "\r" << a.paths.size() << " files: " << (from + n) * 100 / ptrs.size() << "%"
                  << std::flush;
    }
    std::cerr << "\n";
    return total;
}

void explain(const Options &opts, const LabelArgs &a) {
    const std::string &path = a.paths.at(0);
    LumekLabelReason why;
    if (int rc = lumek_whlist_label_explain(kKinds.at(a.kind), kOps.at(a.op), path.c_str(), &why); rc != 0)
        return report(opts, "label explain", rc);
    std::string reason = why.rule > 0 && why.rule < 9 ? kRules[why.rule] : "";
    if (opts.json) {
        nlohmann::json doc = {
            {"path", path},
            {"label", why.label[0] ? nlohmann::json(why.label) : nlohmann::json()},
            {"rule", why.rule},
            {"reason", reason},
            {"file_type", probed_type(why.file_type)},
            {"skipped_extension", why.skipped_extension == 1},
            {"current_label", why.current[0] ? nlohmann::json(why.current) : nlohmann::json()},
            {"current_state", why.current_state}};
        if (why.list_file)
            doc["match"] = {{"list", why.list_file},
                            {"line", why.line},
                            {"text", why.matched},
                            {"by_real_path", why.by_real_path == 1}};
        return print_json(doc);
    }
    std::cout << path << "\n  label:     " << (why.label[0] ? why.label : "(none)")
              << "\n  because:   " << reason;
    if (why.list_file)
        std::cout << ": " << why.list_file << " line " << why.line << " \"" << why.matched << "\""
                  << (why.by_real_path ? " (through its real path)" : "");
    std::cout << "\n  file type: " << probed_type(why.file_type)
              << "\n  now:       " << (why.current[0] ? why.current : "(no exectl label)")
              << (why.skipped_extension ? "\n  package hooks skip it by its extension" : "") << "\n";
}

void print_plan(const Options &opts, const std::string &target, int rc, LumekPlanItem *items, int n) {
    if (opts.json) {
        nlohmann::json sent = nlohmann::json::array(), skipped = nlohmann::json::array();
        for (int i = 0; i < n; ++i) {
            const LumekPlanItem &it = items[i];
            if (it.skip == LUMEK_PLAN_SENT)
                sent.push_back(
                    {{"path", it.path}, {"label", it.label}, {"file_type", probed_type(it.file_type)}});
            else
                skipped.push_back({{"path", it.path}, {"reason", kSkips[it.skip]}});
        }
        print_json({{"target", target}, {"result", rc}, {"records", sent}, {"skipped", skipped}});
    } else {
        for (int i = 0; i < n; ++i) {
            const LumekPlanItem &it = items[i];
            if (it.skip == LUMEK_PLAN_SENT)
                std::cout << "send  " << it.label << "\t" << probed_type(it.file_type) << "\t" << it.path
                          << "\n";
            else
                std::cout << "skip  " << kSkips[it.skip] << ": " << std::string(it.path).substr(0, 200)
                          << "\n";
        }
        if (rc != 0) std::cout << "(nothing would be sent: the operation would fail with " << rc << ")\n";
    }
    free(items);
}

CLI::App *with_kind(CLI::App *c, LabelArgs &a) {
    c->add_option("--kind", a.kind, "exectl, protect or kmod")
        ->check(CLI::IsMember({"exectl", "protect", "kmod"}));
    return c;
}

}  // namespace

void add_label_commands(CLI::App &app, const Options &opts) {
    static LabelArgs a;
    auto *label = app.add_subcommand("label", "Label files from the data lists")->require_subcommand(1);
    for (const char *op : {"add", "delete", "update"}) {
        auto *c = with_kind(label->add_subcommand(op, std::string(op) + " one or more files"), a);
        if (std::string(op) != "update") c->add_flag("--sm", a.sm, "Use the sm protection store");
        c->add_option("paths", a.paths, "Files")->required();
        c->callback([&opts, op] {
            bool progress = a.paths.size() > kProgressBatch && !opts.json && isatty(STDERR_FILENO);
            // An add leaves a labelled program as it is: read the labels before and after to say so.
            bool watch = std::string(op) == "add" && a.kind == "exectl";
            std::vector<std::string> before;
            for (size_t i = 0; watch && i < a.paths.size(); ++i) before.push_back(held_label(a.paths[i]));
            int rc = label_paths(op, a, progress);
            std::vector<std::pair<std::string, std::string>> unchanged;
            for (size_t i = 0; watch && rc >= 0 && i < a.paths.size(); ++i)
                if (!before[i].empty() && before[i] != "unknown" && held_label(a.paths[i]) == before[i])
                    unchanged.emplace_back(a.paths[i], before[i]);
            report(opts, std::string("label ") + op, rc, unchanged, a.paths.size());
        });
    }
    auto *ex = with_kind(label->add_subcommand("explain", "Why a file gets its label"), a);
    ex->add_option("--op", a.op, "add, delete or update")->check(CLI::IsMember({"add", "delete", "update"}));
    ex->add_option("path", a.paths, "File")->required()->expected(1);
    ex->callback([&opts] { explain(opts, a); });
    auto *show = with_kind(label->add_subcommand("show", "A file's label state"), a);
    show->add_option("path", a.paths, "File")->required()->expected(1);
    show->callback([&opts] { explain(opts, a); });

    auto *pkg = app.add_subcommand("package", "Label an installed package's files")->require_subcommand(1);
    for (const char *op : {"add", "update", "delete"}) {
        auto *c = pkg->add_subcommand(op, std::string(op) + " a package");
        c->add_option("package", a.paths, "Package name")->required()->expected(1);
        c->callback([&opts, op] {
            const char *p = a.paths[0].c_str();
            std::string o = op;
            int rc = o == "add"      ? lumek_whlist_add_by_package(p)
                     : o == "update" ? lumek_whlist_update_by_package(p)
                                     : lumek_whlist_delete_by_package(p);
            if (rc == LUMEK_WHLIST_ERR_EXTRACT_LIST && nothing_to_label(opts, o, a.paths[0])) return;
            report(opts, "package " + o + " " + a.paths[0], rc);
        });
    }
    auto *pplan = pkg->add_subcommand("plan", "Records a package operation would send; nothing is sent");
    pplan->add_option("--op", a.op, "add, delete or update")
        ->check(CLI::IsMember({"add", "delete", "update"}));
    pplan->add_option("package", a.paths, "Package name")->required()->expected(1);
    pplan->callback([&opts] {
        LumekPlanItem *items = nullptr;
        int32_t n = 0;
        int rc = lumek_whlist_plan_by_package(kOps.at(a.op), a.paths[0].c_str(), &items, &n);
        print_plan(opts, a.paths[0], rc, items, n);
    });

    auto *dir = app.add_subcommand("dir", "Label the files of a directory")->require_subcommand(1);
    for (const char *op : {"add", "update", "delete", "plan"}) {
        auto *c = with_kind(dir->add_subcommand(op, std::string(op) + " a directory's files"), a);
        c->add_option("--type", a.type,
                      "Only files of this type (program, library, script, kmodule, other, link)")
            ->check(type_text());
        if (std::string(op) == "plan")
            c->add_option("--op", a.op, "add, delete or update")
                ->check(CLI::IsMember({"add", "delete", "update"}));
        if (std::string(op) == "add" || std::string(op) == "delete")
            c->add_flag("--sm", a.sm, "Use the sm store");
        c->add_option("dir", a.paths, "Directory")->required()->expected(1);
        c->callback([&opts, op] {
            std::string o = op;
            int kind = kKinds.at(a.kind);
            const char *t = a.type.empty() ? nullptr : a.type.c_str();
            const char *d = a.paths[0].c_str();
            if (o == "plan") {
                LumekPlanItem *items = nullptr;
                int32_t n = 0;
                int rc = lumek_whlist_plan_by_dir(kOps.at(a.op), kind, t, d, &items, &n);
                return print_plan(opts, a.paths[0], rc, items, n);
            }
            int rc = o == "add"      ? (a.sm ? lumek_whlist_add_by_dir_sm(kind, t, d)
                                             : lumek_whlist_add_by_dir(kind, t, d))
                     : o == "update" ? lumek_whlist_update_by_dir(kind, t, d)
                                     : lumek_whlist_delete_by_dir_internal(kind, t, d, a.sm);
            report(opts, "dir " + o + " " + a.paths[0], rc);
        });
    }

    auto *deps = app.add_subcommand("deps", "A program's shared-library dependencies")->require_subcommand(1);
    auto *list = deps->add_subcommand("list", "The program (when unknown) and its unknown dependencies");
    list->add_option("--label", a.label, "Label the records would carry")->check(label_text());
    list->add_option("program", a.paths, "Program")->required()->expected(1);
    list->callback([&opts] {
        int32_t n = 0;
        MarkRecord *recs = lumek_whlist_get_ldd_list(a.paths[0].c_str(), a.label.c_str(), &n);
        nlohmann::json arr = nlohmann::json::array();
        for (int i = 0; recs && i < n; ++i) {
            if (opts.json)
                arr.push_back({{"path", recs[i].path}, {"label", recs[i].label}});
            else
                std::cout << recs[i].label << "\t" << recs[i].path << "\n";
        }
        free(recs);
        if (opts.json)
            print_json({{"program", a.paths[0]}, {"records", arr}});
        else
            std::cout << "(" << n << " unlabelled)\n";
    });
    auto *admit = deps->add_subcommand("admit", "Admit a program and its unknown dependencies one by one");
    admit->add_option("program", a.paths, "Program")->required()->expected(1);
    admit->callback([&opts] {
        int rc = lumek_whlist_ldd_add(a.paths[0].c_str());
        if (opts.json) return print_json({{"program", a.paths[0]}, {"result", rc}});
        if (rc == 0)
            std::cout << "deps admit " << a.paths[0] << ": done\n";
        else
            fail("deps admit", "refused (result " + std::to_string(rc) + ")");
    });
}

}  // namespace lumekctl
