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
constexpr size_t kBatch = 256;  // files per library call, whether or not progress is drawn

// A probed file type; a failed probe is "unclassified".
std::string probed_type(int t) {
    return t >= 0 && t <= 5 ? kTypeNames[t] : "unclassified";
}

// The library's result for @what: a line, or the failure with its reason (@before is the
// last-error text read before the call).
void report(const Options &opts, const std::string &what, int rc, const std::string &before) {
    if (opts.json) {
        nlohmann::json doc = {{"operation", what}, {"result", rc}};
        if (rc < 0) doc["message"] = reason(rc, before);
        print_json(doc);
    } else if (rc >= 0) {
        std::cout << escaped(what) << ": done (" << rc << ")\n";
    }
    if (rc < 0) fail(what, reason(rc, before));
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
    std::cout << escaped(package) << ": nothing to label (" << n << " paths skipped:";
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

// What label OP does with one file, decided before anything is sent so that one path and
// many get the same: a program takes a label only while it is "unknown" (the single-file
// rule; a batch alone would relabel it), and a file the data lists give no text is left out.
struct Decision {
    enum { kSend, kKeep, kSkip } what = kSend;
    std::string text;  // the label sent, the one kept, or why it is skipped
};

Decision decide(int kind, int op, const std::string &path) {
    LumekLabelReason why{};
    if (int rc = lumek_whlist_label_explain(kind, op, path.c_str(), &why); rc != 0)
        return {Decision::kSkip, "cannot be decided (result " + std::to_string(rc) + ")"};
    if (!why.label[0])
        return {Decision::kSkip, why.rule > 0 && why.rule < 9 ? kRules[why.rule] : "no label for it"};
    // A program whose label cannot be read is neither kept nor sent: the library refuses it too.
    if (kind == LUMEK_KIND_EXECTL && op != LUMEK_OP_DELETE && why.file_type == LUMEK_OBJ_PROGRAM &&
        why.current_state == 2)
        return {Decision::kSkip, "its current label cannot be read"};
    if (kind == LUMEK_KIND_EXECTL && op != LUMEK_OP_DELETE && why.file_type == LUMEK_OBJ_PROGRAM &&
        why.current_state != 3)
        return {Decision::kKeep, why.current[0] ? why.current : ""};
    return {Decision::kSend, why.label};
}

std::string kept_text(const std::string &path, const std::string &label) {
    return "unchanged: " + path + (label.empty() ? " keeps no exectl label" : " keeps '" + label + "'") +
           " (a program is labelled only while 'unknown')";
}

// Sends @paths in batches of kBatch (the sm store has no batch: one file per call there),
// drawing progress over them on a terminal. Returns the sum of the results, or the first failure.
int send(const std::string &op, int kind, bool sm, const std::vector<std::string> &paths, bool progress) {
    int total = 0;
    for (size_t from = 0; from < paths.size(); from += kBatch) {
        size_t n = std::min(kBatch, paths.size() - from);
        std::vector<const char *> v;
        for (size_t i = from; i < from + n; ++i) v.push_back(paths[i].c_str());
        int rc = 0;
        for (size_t i = 0; sm && i < n && rc >= 0; ++i)
            rc = op == "add" ? lumek_whlist_add_internal(kind, v[i], 1)
                             : lumek_whlist_delete_internal(kind, v[i], 1);
        if (!sm) {
            int c = static_cast<int>(n);
            rc = op == "add"      ? lumek_whlist_multi_add(kind, v.data(), c)
                 : op == "delete" ? lumek_whlist_multi_delete(kind, v.data(), c)
                                  : lumek_whlist_multi_update(kind, v.data(), c);
        }
        if (rc < 0) return rc;
        total += rc;
        if (progress)
            std::cerr << "\r" << paths.size() << " files: " << (from + n) * 100 / paths.size() << "%"
                      << std::flush;
    }
    if (progress) std::cerr << "\n";
    return total;
}

void label_files(const Options &opts, const std::string &op, const LabelArgs &a) {
    int kind = kKinds.at(a.kind);
    std::vector<std::string> sent;
    nlohmann::json kept = nlohmann::json::array(), skipped = nlohmann::json::array();
    for (const auto &path : a.paths) {
        Decision d = decide(kind, kOps.at(op), path);
        if (d.what == Decision::kSend) sent.push_back(path);
        if (d.what == Decision::kKeep) kept.push_back({{"path", path}, {"label", d.text}});
        if (d.what == Decision::kSkip) skipped.push_back({{"path", path}, {"reason", d.text}});
    }
    std::string before = last_error();
    bool progress = sent.size() > kBatch && !opts.json && isatty(STDERR_FILENO);
    int rc = sent.empty() ? 0 : send(op, kind, a.sm, sent, progress);
    std::string what = "label " + op;
    if (opts.json) {
        nlohmann::json doc = {{"operation", what}, {"result", rc}, {"sent", sent.size()}};
        if (!kept.empty()) doc["unchanged"] = kept;
        if (!skipped.empty()) doc["skipped"] = skipped;
        if (rc < 0) doc["message"] = reason(rc, before);
        print_json(doc);
    } else {
        for (const auto &k : kept)
            std::cout << escaped(kept_text(k["path"].get<std::string>(), k["label"].get<std::string>()))
                      << "\n";
        if (rc >= 0 && !sent.empty())
            std::cout << what << ": done (" << sent.size() << " sent, result " << rc << ")\n";
    }
    // A file the user named that takes no label is a failure, as it is for the library's
    // single-file calls; the others are labelled all the same.
    for (const auto &k : skipped)
        fail(what, k["path"].get<std::string>() + ": not labelled: " + k["reason"].get<std::string>());
    if (rc < 0) fail(what, reason(rc, before));
}

void explain(const Options &opts, const LabelArgs &a) {
    const std::string &path = a.paths.at(0);
    LumekLabelReason why;
    std::string before = last_error();
    if (int rc = lumek_whlist_label_explain(kKinds.at(a.kind), kOps.at(a.op), path.c_str(), &why); rc != 0)
        return report(opts, "label explain", rc, before);
    std::string reason_text = why.rule > 0 && why.rule < 9 ? kRules[why.rule] : "";
    Decision d = decide(kKinds.at(a.kind), kOps.at(a.op), path);
    std::string would = d.what == Decision::kSend ? "set '" + d.text + "'"
                        : d.what == Decision::kSkip
                            ? "skip it: " + d.text
                            : "leave it:" + kept_text("", d.text).substr(std::string("unchanged: ").size());
    if (opts.json) {
        nlohmann::json doc = {
            {"path", path},
            {"label", why.label[0] ? nlohmann::json(why.label) : nlohmann::json()},
            {"rule", why.rule},
            {"reason", reason_text},
            {"file_type", probed_type(why.file_type)},
            {"skipped_extension", why.skipped_extension == 1},
            {"current_label", why.current[0] ? nlohmann::json(why.current) : nlohmann::json()},
            {"current_state", why.current_state},
            {"would", would}};
        if (why.list_file)
            doc["match"] = {{"list", why.list_file},
                            {"line", why.line},
                            {"text", why.matched},
                            {"by_real_path", why.by_real_path == 1}};
        return print_json(doc);
    }
    std::string match;
    if (why.list_file)
        match = std::string(": ") + why.list_file + " line " + std::to_string(why.line) + " \"" +
                why.matched + "\"" + (why.by_real_path ? " (through its real path)" : "");
    std::cout << escaped(path) << "\n  label:     " << escaped(why.label[0] ? why.label : "(none)")
              << "\n  because:   " << reason_text << escaped(match)
              << "\n  file type: " << probed_type(why.file_type) << "\n  now:       "
              << escaped(why.current[0]           ? why.current
                         : why.current_state == 2 ? "(cannot be read)"
                                                  : "(no exectl label)")
              << "\n  label " << a.op << " would " << escaped(would)
              << (why.skipped_extension ? "\n  package hooks skip it by its extension" : "") << "\n";
}

// A plan: every record it would send; the skipped files summed up by reason, each listed
// with --verbose (JSON lists them always).
void print_plan(const Options &opts, const std::string &target, int rc, LumekPlanItem *items, int n) {
    nlohmann::json sent = nlohmann::json::array(), skipped = nlohmann::json::array();
    std::map<std::string, int> by_reason;
    Table records({{"LABEL"}, {"TYPE"}, {"PATH", 0}}), skips({{"SKIPPED"}, {"PATH", 0}});
    for (int i = 0; i < n; ++i) {
        const LumekPlanItem &it = items[i];
        if (it.skip == LUMEK_PLAN_SENT) {
            sent.push_back(
                {{"path", it.path}, {"label", it.label}, {"file_type", probed_type(it.file_type)}});
            records.add({it.label, probed_type(it.file_type), it.path});
        } else {
            skipped.push_back({{"path", it.path}, {"reason", kSkips[it.skip]}});
            skips.add({kSkips[it.skip], it.path});
            ++by_reason[kSkips[it.skip]];
        }
    }
    free(items);
    // A plan of an operation that would fail is a failure of its own; one whose files are all
    // skipped is not, as "package add" says "nothing to label" for it.
    bool failed = rc != 0 && !(rc == LUMEK_WHLIST_ERR_EXTRACT_LIST && n > 0 && sent.empty());
    std::string failing = "nothing would be sent: the operation would fail with " + std::to_string(rc);
    if (opts.json) {
        print_json({{"target", target},
                    {"result", rc},
                    {"records", sent},
                    {"skipped", skipped},
                    {"skipped_by_reason", by_reason}});
        if (failed) fail("plan " + target, failing);
        return;
    }
    if (records.size()) records.print(std::cout);
    if (opts.verbose && skips.size()) skips.print(std::cout);
    std::cout << sent.size() << " to send, " << skipped.size() << " skipped";
    const char *sep = ": ";
    for (const auto &[why, count] : by_reason) {
        std::cout << sep << count << " " << why;
        sep = ", ";
    }
    std::cout << (skipped.empty() || opts.verbose ? "" : " (--verbose lists them)") << "\n";
    if (failed) fail("plan " + target, failing);
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
        auto *c = with_kind(label->add_subcommand(
                                op, std::string(op) + " one or more files. Each file is decided on its own, "
                                                      "as \"label explain\" shows, whether named alone "
                                                      "or with others: a program takes a label only while "
                                                      "'unknown', a file the data lists give no label is "
                                                      "reported and left out; the rest go in batches of 256"),
                            a);
        if (std::string(op) != "update")
            c->add_flag("--sm", a.sm, "Use the sm protection store (one call per file)");
        c->add_option("paths", a.paths, "Files")->required()->transform(absolute_path());
        c->callback([&opts, op] { label_files(opts, op, a); });
    }
    auto *ex = with_kind(label->add_subcommand("explain", "Why a file gets its label"), a);
    ex->add_option("--op", a.op, "add, delete or update")->check(CLI::IsMember({"add", "delete", "update"}));
    ex->add_option("path", a.paths, "File")->required()->expected(1)->transform(absolute_path());
    ex->callback([&opts] { explain(opts, a); });
    auto *show = with_kind(label->add_subcommand("show", "A file's label state"), a);
    show->add_option("path", a.paths, "File")->required()->expected(1)->transform(absolute_path());
    show->callback([&opts] { explain(opts, a); });

    auto *pkg = app.add_subcommand("package", "Label an installed package's files")->require_subcommand(1);
    for (const char *op : {"add", "update", "delete"}) {
        auto *c = pkg->add_subcommand(op, std::string(op) + " a package");
        c->add_option("package", a.paths, "Package name")->required()->expected(1);
        c->callback([&opts, op] {
            const char *p = a.paths[0].c_str();
            std::string o = op;
            std::string before = last_error();
            int rc = o == "add"      ? lumek_whlist_add_by_package(p)
                     : o == "update" ? lumek_whlist_update_by_package(p)
                                     : lumek_whlist_delete_by_package(p);
            if (rc == LUMEK_WHLIST_ERR_EXTRACT_LIST && nothing_to_label(opts, o, a.paths[0])) return;
            report(opts, "package " + o + " " + a.paths[0], rc, before);
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
                      "Only files of this type: program, library, script, kmodule, other or link")
            ->check(type_text());
        if (std::string(op) == "plan")
            c->add_option("--op", a.op, "add, delete or update")
                ->check(CLI::IsMember({"add", "delete", "update"}));
        if (std::string(op) == "add" || std::string(op) == "delete")
            c->add_flag("--sm", a.sm, "Use the sm store");
        c->add_option("dir", a.paths, "Directory")->required()->expected(1)->transform(absolute_path());
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
            std::string before = last_error();
            int rc = o == "add"      ? (a.sm ? lumek_whlist_add_by_dir_sm(kind, t, d)
                                             : lumek_whlist_add_by_dir(kind, t, d))
                     : o == "update" ? lumek_whlist_update_by_dir(kind, t, d)
                                     : lumek_whlist_delete_by_dir_internal(kind, t, d, a.sm);
            report(opts, "dir " + o + " " + a.paths[0], rc, before);
        });
    }

    auto *deps = app.add_subcommand("deps", "A program's shared-library dependencies")->require_subcommand(1);
    auto *list = deps->add_subcommand("list", "The program (when unknown) and its unknown dependencies");
    list->add_option("--label", a.label, "Label the records would carry")->check(label_text());
    list->add_option("program", a.paths, "Program")->required()->expected(1)->transform(absolute_path());
    list->callback([&opts] {
        int32_t n = -1;  // left alone when the analysis did not run
        MarkRecord *recs = lumek_whlist_get_ldd_list(a.paths[0].c_str(), a.label.c_str(), &n);
        if (!recs && n < 0) {
            LumekLabelReason why{};
            lumek_whlist_label_explain(LUMEK_KIND_EXECTL, LUMEK_OP_ADD, a.paths[0].c_str(), &why);
            return fail("deps list", a.paths[0] + ": not a program (file type: " +
                                         probed_type(why.file_type) + "), so it has no dependencies to list");
        }
        nlohmann::json arr = nlohmann::json::array();
        Table table({{"LABEL"}, {"PATH", 0}});
        for (int i = 0; recs && i < n; ++i) {
            arr.push_back({{"path", recs[i].path}, {"label", recs[i].label}});
            table.add({recs[i].label, recs[i].path});
        }
        free(recs);
        if (opts.json) return print_json({{"program", a.paths[0]}, {"records", arr}});
        if (table.size()) table.print(std::cout);
        std::cout << "(" << arr.size() << " unlabelled)\n";
    });
    auto *admit = deps->add_subcommand("admit", "Admit a program and its unknown dependencies one by one");
    admit->add_option("program", a.paths, "Program")->required()->expected(1)->transform(absolute_path());
    admit->callback([&opts] {
        int rc = lumek_whlist_ldd_add(a.paths[0].c_str());
        if (opts.json) return print_json({{"program", a.paths[0]}, {"result", rc}});
        if (rc == 0)
            std::cout << "deps admit " << escaped(a.paths[0]) << ": done\n";
        else
            fail("deps admit", std::string(rc == -1   ? "the dependency tool could not be started"
                                           : rc == -2 ? "no such file, or a path the analysis does not take"
                                           : rc == -3 ? "a directory, or not a program"
                                                      : "refused") +
                                   " (result " + std::to_string(rc) + ")");
    });
}

}  // namespace lumekctl
