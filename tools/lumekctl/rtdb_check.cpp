// lumekctl rtdb check: the drift between three views of the same files: the rtdb, the
// whitelist daemon's whitelist and the labels the framework holds, plus the files' contents
// against the hashes recorded. Reads only. Exits 0 without drift, 1 with drift (so a timer
// or a monitoring agent can alert on it), 2 when a view cannot be read.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "core/framework.h"
#include "lumekwhlist.h"
#include "rtdb_views.h"

namespace lumekctl {

namespace {

constexpr int kExitDrift = 1, kExitUnreadable = 2;

struct Record {
    int32_t label = LUMEK_EXECTL_UNKNOWN;
    std::string hash;
};

struct Difference {
    std::string kind, view, path, rtdb, other;
};

using View = std::map<std::string, Record>;

View view_of(WhlistObject *list) {
    View v;
    for (const WhlistObject *o = list; o; o = o->next)
        if (o->path) v[o->path] = Record{o->exectl_type, o->hash ? o->hash : ""};
    lumek_whlist_objects_free(&list);
    return v;
}

// The label the framework holds for @path: its number, "unknown" when the file has none, and
// false when the file does not exist.
bool framework_label(const std::string &path, int32_t *label) {
    char *text = nullptr;
    errno = 0;
    if (lumek_exectl_get(path.c_str(), &text) == 0 && text) {
        *label = lumek_whlist_parse_exectl_type(text);
        free(text);
        return true;
    }
    free(text);
    *label = LUMEK_EXECTL_UNKNOWN;
    return access(path.c_str(), F_OK) == 0 || errno != ENOENT;
}

std::vector<Difference> compare(const View &rtdb, const View &daemon) {
    std::vector<Difference> out;
    for (const auto &[path, d] : daemon)
        if (!rtdb.count(path)) out.push_back({"missing", "rtdb", path, "", label_name(d.label)});
    for (const auto &[path, r] : rtdb) {
        auto d = daemon.find(path);
        if (d == daemon.end())
            out.push_back({"extra", "rtdb", path, label_name(r.label), ""});
        else if (d->second.label != r.label)
            out.push_back(
                {"label differs", "daemon", path, label_name(r.label), label_name(d->second.label)});
        int32_t held;
        if (!framework_label(path, &held)) {
            out.push_back({"missing", "file", path, label_name(r.label), ""});
            continue;
        }
        if (held != r.label)
            out.push_back({"label differs", "framework", path, label_name(r.label), label_name(held)});
        if (r.hash.empty()) continue;
        char *now = lumek_memdb_whlist_calc_md5_for_file(path.c_str());
        if (now && r.hash != now) out.push_back({"hash differs", "file", path, r.hash, now});
        free(now);
    }
    return out;
}

void report(const Options &opts, const std::vector<Difference> &diffs) {
    if (opts.json) {
        nlohmann::json arr = nlohmann::json::array();
        for (const auto &d : diffs)
            arr.push_back(
                {{"kind", d.kind}, {"view", d.view}, {"path", d.path}, {"rtdb", d.rtdb}, {"other", d.other}});
        print_json({{"drift", diffs.size()}, {"differences", arr}});
        return;
    }
    if (diffs.empty()) {
        std::cout << "no drift\n";
        return;
    }
    printf("%-13s %-9s %-32s  %-32s  %s\n", "KIND", "VIEW", "RTDB", "OTHER", "PATH");
    for (const auto &d : diffs)
        printf("%-13s %-9s %-32s  %-32s  %s\n", d.kind.c_str(), d.view.c_str(),
               d.rtdb.empty() ? "-" : d.rtdb.c_str(), d.other.empty() ? "-" : d.other.c_str(),
               d.path.c_str());
}

void run_check(const Options &opts) {
    WhlistObject *list = nullptr;
    int32_t rc = lumek_memdb_whlist_exectl_load(nullptr, nullptr, nullptr, nullptr, -1, &list);
    if (rc != 0) {
        lumek_whlist_objects_free(&list);
        fail("rtdb check", "cannot read the rtdb: result " + std::to_string(rc));
        set_exit_status(kExitUnreadable);
        return;
    }
    View rtdb = view_of(list);
    list = nullptr;
    rc = lumek_whlist_load_all(&list);
    if (rc != 0) {
        lumek_whlist_objects_free(&list);
        std::string why = lumek_whlist_last_err();
        while (!why.empty() && why.back() == '\n') why.pop_back();
        fail("rtdb check", "cannot read the daemon's whitelist: result " + std::to_string(rc) + ": " + why);
        set_exit_status(kExitUnreadable);
        return;
    }
    std::vector<Difference> diffs = compare(rtdb, view_of(list));
    report(opts, diffs);
    if (!diffs.empty()) set_exit_status(kExitDrift);
}

}  // namespace

void add_rtdb_check(CLI::App &rtdb, const Options &opts) {
    rtdb.add_subcommand("check",
                        "Compare the rtdb with the daemon's whitelist, the framework's labels and the files; "
                        "exit 1 on drift")
        ->callback([&opts] { run_check(opts); });
}

}  // namespace lumekctl
