// lumekctl rtdb check: the drift between three views of the same files: the rtdb, the
// whitelist daemon's whitelist and the labels the framework holds, plus the files' contents
// against the hashes recorded. Reads only. Exits 0 without drift, 1 with drift (so a timer
// or a monitoring agent can alert on it), 2 when a view cannot be read, 3 when the daemon is
// not on the system bus. A check that could not see never says "no drift".
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "common/raii.h"
#include "core/framework.h"
#include "lumekwhlist.h"
#include "rtdb_views.h"

namespace lumekctl {

namespace {

// The check keeps 2 for a view that cannot be read, as it has always documented.
constexpr int kExitDrift = kExitFailed, kExitUnreadable = kExitUsage;

constexpr const char kHelp[] =
    "Kinds of drift (KIND/VIEW):\n"
    "  missing/rtdb             the daemon whitelists a path the rtdb has no record of\n"
    "  extra/rtdb               the rtdb records a path the daemon does not whitelist\n"
    "  duplicate/rtdb           the rtdb holds more than one record for a path\n"
    "  duplicate/daemon         the daemon lists a path more than once\n"
    "  label differs/daemon     the daemon's label for a path is not the rtdb's\n"
    "  type differs/daemon      the daemon's object type is not the rtdb's\n"
    "  status differs/daemon    the daemon's status is not the rtdb's\n"
    "  hash differs/daemon      the daemon's hash is not the rtdb's\n"
    "  label differs/framework  the framework holds another label for the file\n"
    "  missing/file             the recorded file does not exist\n"
    "  hash differs/file        the file's contents no longer match the recorded hash\n"
    "  unhashable/file          the file's hash cannot be computed (not a regular file, unreadable)\n"
    "Exit status: 0 no drift; 1 drift; 2 the rtdb or the daemon's whitelist cannot be read;\n"
    "3 the whitelist daemon is not reachable on the system bus. With --json, a view that\n"
    "cannot be read prints {\"unreadable\": VIEW, \"reason\": TEXT}.";

struct Record {
    int32_t label = LUMEK_EXECTL_UNKNOWN, type = -1, status = 0;
    std::string hash;
};

struct Difference {
    std::string kind, view, path, rtdb, other;
};

// Every record of a path, in list order: duplicates are drift of their own.
using View = std::map<std::string, std::vector<Record>>;

View view_of(WhlistObject *list) {
    View v;
    for (const WhlistObject *o = list; o; o = o->next)
        if (o->path) v[o->path].push_back({o->exectl_type, o->obj_type, o->extra2, o->hash ? o->hash : ""});
    lumek_whlist_objects_free(&list);
    return v;
}

// The label the framework holds for @path: its number, "unknown" when the file has none.
// Returns 0, ENOENT when the file does not exist, or the errno of a label that cannot be read.
int framework_label(const std::string &path, int32_t *label) {
    char *text = nullptr;
    errno = 0;
    int rc = lumek_exectl_get(path.c_str(), &text);
    int err = errno;
    *label = LUMEK_EXECTL_UNKNOWN;
    if (rc == 0 && text) *label = lumek_whlist_parse_exectl_type(text);
    free(text);
    if (rc == 0 || err == ENODATA) return 0;
    return access(path.c_str(), F_OK) != 0 && errno == ENOENT ? ENOENT : err ? err : EIO;
}

void compare_file(const std::string &path, const Record &r, std::vector<Difference> *out) {
    int32_t held;
    if (int err = framework_label(path, &held); err == ENOENT) {
        out->push_back({"missing", "file", path, label_name(r.label), ""});
        return;
    } else if (err) {
        // Not drift: the check cannot tell, and says so.
        out->push_back({"unreadable", "framework", path, label_name(r.label), strerror(err)});
        fail("rtdb check", path + ": the framework's label cannot be read: " + strerror(err));
    } else if (held != r.label) {
        out->push_back({"label differs", "framework", path, label_name(r.label), label_name(held)});
    }
    lumek::MallocPtr now(lumek_memdb_whlist_calc_md5_for_file(path.c_str()));
    if (!now)
        out->push_back({"unhashable", "file", path, r.hash, ""});
    else if (!r.hash.empty() && r.hash != now.get())
        out->push_back({"hash differs", "file", path, r.hash, now.get()});
}

// Where a path has several records, the first of each view is compared.
void compare_daemon(const std::string &path, const Record &r, const Record &d, std::vector<Difference> *out) {
    if (d.label != r.label)
        out->push_back({"label differs", "daemon", path, label_name(r.label), label_name(d.label)});
    if (d.type != r.type)
        out->push_back({"type differs", "daemon", path, type_name(r.type), type_name(d.type)});
    if (d.status != r.status)
        out->push_back(
            {"status differs", "daemon", path, std::to_string(r.status), std::to_string(d.status)});
    if (d.hash != r.hash) out->push_back({"hash differs", "daemon", path, r.hash, d.hash});
}

std::vector<Difference> compare(const View &rtdb, const View &daemon) {
    std::vector<Difference> out;
    for (const auto &[path, ds] : daemon) {
        if (ds.size() > 1)
            out.push_back({"duplicate", "daemon", path, "", std::to_string(ds.size()) + " records"});
        if (!rtdb.count(path)) out.push_back({"missing", "rtdb", path, "", label_name(ds[0].label)});
    }
    for (const auto &[path, rs] : rtdb) {
        if (rs.size() > 1)
            out.push_back({"duplicate", "rtdb", path, std::to_string(rs.size()) + " records", ""});
        auto d = daemon.find(path);
        if (d == daemon.end())
            out.push_back({"extra", "rtdb", path, label_name(rs[0].label), ""});
        else
            compare_daemon(path, rs[0], d->second[0], &out);
        compare_file(path, rs[0], &out);
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
    Table table({{"KIND"}, {"VIEW"}, {"RTDB"}, {"OTHER"}, {"PATH", 0}});
    for (const auto &d : diffs)
        table.add({d.kind, d.view, d.rtdb.empty() ? "-" : d.rtdb, d.other.empty() ? "-" : d.other, d.path});
    table.print(std::cout);
}

// A view that cannot be read: said on standard error, and with --json as the document.
void unreadable(const Options &opts, const char *view, const std::string &reason, int status) {
    if (opts.json) print_json({{"unreadable", view}, {"reason", reason}});
    fail("rtdb check", reason);
    set_exit_status(status);
}

void run_check(const Options &opts) {
    std::string why;
    if (!daemon_reachable(&why)) {
        unreadable(opts, "daemon", std::string(kUnreachable) + " (" + why + ")", kExitUnreachable);
        return;
    }
    WhlistObject *list = nullptr;
    int32_t rc = lumek_memdb_whlist_exectl_load(nullptr, nullptr, nullptr, nullptr, -1, &list);
    if (rc != 0) {
        lumek_whlist_objects_free(&list);
        unreadable(opts, "rtdb", "cannot read the rtdb: result " + std::to_string(rc), kExitUnreadable);
        return;
    }
    View rtdb = view_of(list);
    list = nullptr;
    rc = lumek_whlist_load_all(&list);
    if (rc != 0) {
        lumek_whlist_objects_free(&list);
        why = last_error();
        unreadable(opts, "daemon",
                   "cannot read the daemon's whitelist: result " + std::to_string(rc) + ": " + why,
                   kExitUnreadable);
        return;
    }
    std::vector<Difference> diffs = compare(rtdb, view_of(list));
    report(opts, diffs);
    bool unread =
        std::any_of(diffs.begin(), diffs.end(), [](const Difference &d) { return d.kind == "unreadable"; });
    if (!diffs.empty()) set_exit_status(unread ? kExitUnreadable : kExitDrift);
}

}  // namespace

void add_rtdb_check(CLI::App &rtdb, const Options &opts) {
    rtdb.add_subcommand("check",
                        "Compare the rtdb with the daemon's whitelist, the framework's labels and the files; "
                        "exit 1 on drift, 2 when a view cannot be read, 3 when the daemon is unreachable")
        ->footer(kHelp)
        ->callback([&opts] { run_check(opts); });
}

}  // namespace lumekctl
