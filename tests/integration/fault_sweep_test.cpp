// Fault-injection sweep. Every scenario runs once clean, which records the framework calls
// (memdb included) and daemon methods it makes; then once more per recorded call and per
// failure kind of that call, with exactly that one call failing. Each run must end with the
// result and the log or error line its rules give, keep the old or reach the new state as
// they say, leave no stray file behind and leak nothing (checked here under ASan, and by
// lumekctl's own exit status).
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekctl_run.h"
#include "lumekwhlist.h"
#include "standin_control.h"
#include "standin_state.h"

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace {

namespace fs = std::filesystem;
using lumek_test::take_lines;
using Lines = std::vector<std::string>;

std::string temp_dir() {
    char tmpl[] = "/tmp/lumek-sweep-XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "/tmp/lumek-sweep";
}

// The files a scenario works on, made once per family, and a process running from prog.
struct Fixture {
    std::string dir = temp_dir(), prog = dir + "/prog", other = dir + "/other", text = dir + "/notes.txt",
                script = dir + "/run.sh", out, err;  // what the last lumekctl run printed
    pid_t sleeper = -1;
    Fixture() {
        fs::copy_file("/usr/bin/sleep", prog);
        fs::copy_file("/usr/bin/true", other);
        std::ofstream(text) << "notes\n";
        std::ofstream(script) << "#!/bin/sh\n";
    }
    ~Fixture() {
        if (sleeper > 0 && kill(sleeper, SIGKILL) == 0) waitpid(sleeper, nullptr, 0);
        fs::remove_all(dir);
    }
    void run_prog() {
        if (sleeper > 0) return;
        if ((sleeper = fork()) == 0) {
            execl(prog.c_str(), prog.c_str(), "300", nullptr);
            _exit(127);
        }
        // Until its exe link names prog: the clean run must see it as every later run does.
        std::error_code ec;
        for (int i = 0; i < 5000 && fs::read_symlink("/proc/" + std::to_string(sleeper) + "/exe", ec) != prog;
             ++i)
            usleep(1000);
    }
    int ctl(std::vector<std::string> args) {
        lumek_test::Run r = lumek_test::lumekctl(std::move(args));
        out = r.out;
        err = r.err;
        return r.status;
    }
};

// After a run with a failing call: the state is the old one, the new one, either, or not
// compared (a documented partial change).
enum Keep { kOld, kNew, kEither, kAny };
// The clean run's result; the failure's code; for lumekctl, the truth: with the clean run's exit
// status it did what the clean run did and printed the same, else it failed (1, or 2 for a
// check that could not read) and said so on stderr.
constexpr int kSame = INT_MIN, kInjected = INT_MIN + 1, kTruth = INT_MIN + 2;
struct Expect {
    int result;
    const char *line;  // in the log or lumekctl's output; {p} prog, {r} the failure's code, {e} its
                       // errno text; nullptr: nothing checked
    Keep keep;
};
constexpr Expect kTolerated{kSame, nullptr, kNew}, kPassedOn{kInjected, nullptr, kOld};

// Keyed "func()" (a daemon method answering with no body), "func#N" (its Nth call), "func@R"
// (failing with code R), "func" or "*" (any call).
using Rules = std::vector<std::pair<std::string, Expect>>;
struct Scenario {
    const char *family, *name, *tag;  // tag: what the log lines of its rules begin with
    std::function<void(Fixture &)> setup;
    std::function<int(Fixture &)> op;
    int ok;
    Rules rules;
};

// One way a call fails: a result and errno; for setters also the framework's error record
// (object "obj", message "injected"); for daemon methods an error name or a reply of another type.
struct Kind {
    int ret, err = 0;
    bool record = false;
    int32_t code = 0;
    const char *dbus = nullptr;
    // What a caller hands on: the record's code, else a negative result, else -1006.
    int code_seen() const {
        return !record ? ret : code < 0 ? code : ret < 0 ? ret : LUMEK_WHLIST_ERR_LABEL_SET;
    }
};

std::vector<Kind> kinds_of(const std::string &func) {
    auto has = [&](const char *p) { return func.find(p) != std::string::npos; };
    if (has("dbus:"))
        return {{LUMEK_WHLIST_ERR_DATABASE, 0, false, 0, "VORDA.LUMEK.DATABASE.ERR"},
                {LUMEK_WHLIST_ERR_UNKNOWN_REMOTE, 0, false, 0, "org.example.Unlisted"},
                {LUMEK_WHLIST_ERR_UNKNOWN_REMOTE, 0, false, 0, "()"}};
    if (func == "lumek_getstatus" || func == "lumek_check_readonly_ppro_support") return {{0}};
    if (func == "lumek_exectl_get") return {{-1, ENODATA}, {-2, EIO}, {LUMEK_WHLIST_ERR_LABEL_GET, EACCES}};
    if (has("exectl_") || has("protect_")) {
        std::vector<Kind> setter = {{-1, 0, true, LUMEK_WHLIST_ERR_AUTH_FAILED},
                                    {-1, 0, true, LUMEK_WHLIST_ERR_CANCEL_AUTH},
                                    {-1, 0, true, LUMEK_WHLIST_ERR_INVALID_ARG},
                                    {-5, 0, true}};
        if (!has("multi")) setter.push_back({1, 0, true});  // a batch's positive result is a count
        return setter;
    }
    if (has("lumek_memdb_")) return {{-1, EIO}};
    if (has("lumek_netctl_") || has("lumek_ppro_") || has("lumek_pblk_")) return {{3}};
    return {{-5}};
}

// The stand-in's whole state (kernel commands aside: what reached the kernel before a
// failing step stays there), the rtdb's times left out.
Lines state_of() {
    Lines out;
    for (int sm : {0, 1}) {
        int n = 0;
        LumekStandinEntry *e = lumek_standin_entries(sm, &n);
        for (int i = 0; i < n; ++i)
            out.push_back(std::string(e[i].path) + "|" + (e[i].label ? e[i].label : "-") + "|" +
                          (e[i].protect ? e[i].protect : "-"));
        lumek_standin_free_entries(e, n);
    }
    for (const char *l : {"netctl", "netctl_pkg", "ppro", "pblk", "udeb", "func_status", "kid_info",
                          "kid_res", "kid_priv", "kid_netctl", "kid_file"})
        for (auto &line : take_lines(lumek_standin_list_entries(l, nullptr))) out.push_back(l + (" " + line));
    for (const char *key : {"lumek_netctl", "lumek_ppro", "lumek_pblk"}) {
        int v = 0;
        if (lumek_standin_conf_value(key, &v) == 0) out.push_back(key + (" " + std::to_string(v)));
    }
    for (auto &db : take_lines(lumek_standin_memdb_databases(nullptr))) out.push_back("memdb " + db);
    int n = 0;
    LumekStandinMemdbRecord *r = lumek_standin_memdb_records(10000, &n);
    for (int i = 0; i < n; ++i) {
        std::string line = "rtdb";
        for (int c = 0; c < r[i].count && c < 6; ++c)
            line += " " + (r[i].type[c] == 3 ? std::to_string(r[i].number[c]) : std::string(r[i].text[c]));
        out.push_back(line);
    }
    lumek_standin_memdb_free_records(r, n);
    out.push_back("bgset " + lumek_test::take_text(lumek_standin_text("bgset")));
    return out;
}

// Every file below the scratch and state directories (other tests share /tmp).
Lines files_of(const Fixture &fx) {
    Lines out;
    std::error_code ec;
    for (const std::string &d : {fx.dir, lumek_test::take_text(lumek_standin_state_dir())})
        for (auto it = fs::recursive_directory_iterator(d, ec); !ec && it != fs::end(it); it.increment(ec))
            out.push_back(it->path());
    std::sort(out.begin(), out.end());
    return out;
}

// The framework calls, or the daemon methods, made so far.
Lines calls_made(bool daemon) {
    Lines out;
    if (!daemon)
        for (auto &c : take_lines(lumek_standin_calls(nullptr, nullptr)))
            out.push_back(c.substr(0, c.find('(')));
    if (GVariant *r = daemon ? lumek_test::daemon_control("GetCalls", nullptr) : nullptr) {
        GVariantIter *it = nullptr;
        const char *method = nullptr;
        GVariant *args = nullptr;
        g_variant_get(r, "(a(sv))", &it);
        while (g_variant_iter_loop(it, "(&sv)", &method, &args)) out.push_back(std::string("dbus:") + method);
        g_variant_iter_free(it);
        g_variant_unref(r);
    }
    return out;
}

struct Point {
    std::string func;
    int occurrence;  // 1-based
};
struct Outcome {
    int result = 0;
    Lines before, state, files, calls;
    std::string said, out, err;  // log lines and lumekctl's output; its stdout and stderr
};

bool inject(const Point &p, const Kind &k) {
    if (k.dbus) {
        std::string m = p.func.substr(strlen("dbus:"));
        strcmp(k.dbus, "()") == 0 ? lumek_test::daemon_inject_reply(m.c_str(), "()", 1)
                                  : lumek_test::daemon_inject_error(m.c_str(), k.dbus, "injected", true, 1);
        lumek_test::daemon_control_unref("Skip", g_variant_new("(si)", m.c_str(), p.occurrence - 1));
        return true;
    }
    LumekStandinFault f{1, k.ret, k.err, k.record, k.code, "obj", "injected"};
    return lumek_standin_fault_set(p.func.c_str(), &f) == 0 &&
           lumek_standin_fault_skip(p.func.c_str(), p.occurrence - 1) == 0;
}

Outcome run_once(Fixture &fx, const Scenario &sc, const Point *p = nullptr, const Kind *k = nullptr) {
    EXPECT_EQ(lumek_standin_reset(), 0);
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_set_flag("status", 1);
    _uid = 0;
    if (sc.setup) sc.setup(fx);
    lumek_whlist_add(0, nullptr);  // a known last error until the run leaves its own
    Outcome o;
    size_t calls[] = {calls_made(false).size(), calls_made(true).size()},
           logs = lumek_test::log_lines().size();
    o.before = state_of();
    if (p && !inject(*p, *k)) ADD_FAILURE() << "cannot inject " << p->func;
    fx.out.clear();
    fx.err.clear();
    o.result = sc.op(fx);
    o.state = state_of();
    o.files = files_of(fx);
    for (bool daemon : {false, true}) {
        Lines all = calls_made(daemon);
        o.calls.insert(o.calls.end(), all.begin() + static_cast<long>(calls[daemon]), all.end());
    }
    Lines log = lumek_test::log_lines();
    for (size_t i = logs; i < log.size(); ++i) o.said += log[i] + "\n";
    o.said += fx.err + fx.out + "last error: " + lumek_whlist_last_err();
    o.out = fx.out;
    o.err = fx.err;
    lumek_standin_fault_clear(nullptr);
    return o;
}

const Expect *rule_for(const Scenario &sc, const Point &p, const Kind &k) {
    // Results ignored everywhere, and the lists' gate; then a failing setter gives the code it carries.
    static const Rules global = {{"lumek_log", kTolerated},
                                 {"lumek_conf_add", kTolerated},
                                 {"lumek_memdb_disconnect_database", kTolerated},
                                 {"lumek_get_pid_by_path", kTolerated},
                                 {"lumek_check_readonly_ppro_support", kTolerated},
                                 {"lumek_getstatus", {-2, "lumek is disabled", kOld}}};
    static const Expect setter{kInjected, "injected", kOld}, truth{kTruth, nullptr, kAny};
    bool ctl = strncmp(sc.family, "ctl", 3) == 0;
    std::string n = "#" + std::to_string(p.occurrence), r = "@" + std::to_string(k.code_seen()),
                empty = k.dbus && strcmp(k.dbus, "()") == 0 ? p.func + "()" : "-";
    for (const std::string &key : {empty, p.func + n + r, p.func + n, p.func + r, p.func})
        for (auto &rule : sc.rules)
            if (rule.first == key) return &rule.second;
    for (auto &rule : global)
        if (rule.first == p.func && (!ctl || rule.second.result == kSame)) return &rule.second;
    if (ctl) return &truth;
    if (k.record) return &setter;
    for (auto &rule : sc.rules)
        if (rule.first == "*") return &rule.second;
    return nullptr;
}

// What a run with @k failing at @p missed of its rule and of the clean run's files; leaks.
Lines misses(const Fixture &fx, const Scenario &sc, const Point &p, const Kind &k, const Outcome &clean,
             const Outcome &o) {
    const Expect *e = rule_for(sc, p, k);
    if (!e) return {"no rule; result " + std::to_string(o.result)};
    Lines miss;
    if (e->result == kTruth) {
        if (o.result == clean.result && (o.state != clean.state || o.out != clean.out))
            miss.push_back("exit " + std::to_string(o.result) + " as in the clean run, but " +
                           (o.state != clean.state ? "another state" : "other output:\n" + o.out));
        else if (o.result != clean.result && (o.result < 1 || o.result > 2 || o.err.empty()))
            miss.push_back("exit " + std::to_string(o.result) + " saying " +
                           (o.err.empty() ? "nothing" : o.err));
    }
    int want = e->result == kSame ? clean.result : e->result == kInjected ? k.code_seen() : e->result;
    if (e->result != kTruth && o.result != want)
        miss.push_back("result " + std::to_string(o.result) + ", not " + std::to_string(want));
    std::string line = std::string(sc.tag ? sc.tag : "") + (e->line ? e->line : "");
    const std::pair<std::string, std::string> fill[] = {
        {"{p}", fx.prog}, {"{r}", std::to_string(k.code_seen())}, {"{e}", k.err ? strerror(k.err) : ""}};
    for (auto &[from, to] : fill)
        for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size()))
            line.replace(at, from.size(), to);
    if (e->line && o.said.find(line) == std::string::npos) miss.push_back("did not say: " + line);
    bool is_old = o.state == o.before, is_new = o.state == clean.state;
    if ((e->keep == kOld && !is_old) || (e->keep == kNew && !is_new) ||
        (e->keep != kAny && !is_old && !is_new))
        miss.push_back(std::string("state is ") + (is_old ? "old" : is_new ? "new" : "neither"));
    if (std::count(o.calls.begin(), o.calls.end(), p.func) < p.occurrence)
        miss.push_back("the call was not made");
    if (o.files != clean.files) miss.push_back("files differ from the clean run's");
    if (__lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() != 0) miss.push_back("leak");
    return miss;
}

// Setups and calls several scenarios share.
void label_prog(Fixture &fx) {
    lumek_standin_set_label(fx.prog.c_str(), "trusted");
}
void with_rtdb(Fixture &fx) {
    label_prog(fx);
    lumek_memdb_whlist_create();
}
int with_list(int32_t (*load)(WhlistObject **)) {
    WhlistObject *l = nullptr;
    int rc = load(&l);
    lumek_whlist_objects_free(&l);
    return rc;
}
int multi_add(const std::string &a, const std::string &b) {
    const char *paths[] = {a.c_str(), b.c_str()};
    return lumek_whlist_multi_add(0, paths, 2);
}
// The kernel lists: the framework disabled, or the store failing, keeps the old state;
// once stored, a missing hash or a kernel refusal keeps the new entry.
const Rules kRtdbReads = {{"lumek_memdb_connect_database", {-2, "connect to rtdb failed: {e}", kOld}},
                          {"lumek_memdb_retrive", {-3, "retrieve from rtdb failed: {e}", kOld}},
                          {"trans_type_str_2_type", kTolerated}};
using F = Fixture;
const char *const P = nullptr;  // no log tag

// clang-format off
const Scenario kScenarios[] = {
    {"lists", "netctl add for a user", "16|0|vorda_netctl_list_add|", [](F &) { _uid = 1000; },
     [](F &fx) { return vorda_netctl_list_add(1, fx.prog.c_str()); }, 0,
     {{"lumek_netctl_read_node_with_uid", kTolerated},
      {"lumek_netctl_add", {-4, "add netctl data failed, uid = 1000, path = {p}, mode = 1, ret = {r}", kOld}},
      {"lumek_netctl_get_path_hash", {-5, "get hash value failed, uid = 1000, path = {p}", kNew}},
      {"lumek_netctl_communicate_with_kernel", {-6, "{p}: send netctl data to kernel failed, ctrl = 1, ret = {r}", kNew}}}},
    {"lists", "netctl del", "16|0|vorda_netctl_list_del|", [](F &fx) { vorda_netctl_list_add(1, fx.prog.c_str()); },
     [](F &fx) { return vorda_netctl_list_del(1, fx.prog.c_str()); }, 0,
     {{"lumek_netctl_read_node_with_uid", {0, "{p}: cannot find netctl data", kOld}},
      {"lumek_netctl_remove", {-3, "remove netctl data failed, uid = 0, path = {p}, mode = 1, ret = {r}", kOld}},
      {"lumek_netctl_get_path_hash", {-4, "get hash value failed, uid = 0, path = {p}", kNew}},
      {"lumek_netctl_communicate_with_kernel", {-5, "{p}: remove netctl data in kernel failed, mode = 1, ret = {r}", kNew}}}},
    {"lists", "ppro add of a running program", "2|0|vorda_ppro_list_add|", [](F &fx) { fx.run_prog(); },
     [](F &fx) { return vorda_ppro_list_add(fx.prog.c_str(), 2); }, 0,
     {{"lumek_ppro_read_node_with_path", kTolerated},
      {"lumek_ppro_add", {-4, "add ppro data failed, path = {p}, type = 2, ret = {r}", kOld}},
      {"lumek_ppro_get_path_hash", {-5, "get hash value failed, path = {p}", kNew}},
      {"lumek_ppro_communicate_with_kernel", {-6, "{p}: send ppro data to kernel failed, ret = {r}", kNew}}}},
    {"lists", "ppro del of a running program", "2|0|vorda_ppro_list_del|",
     [](F &fx) { fx.run_prog(); vorda_ppro_list_add(fx.prog.c_str(), 2); }, [](F &fx) { return vorda_ppro_list_del(fx.prog.c_str()); }, 0,
     {{"lumek_ppro_read_node_with_path", {0, "{p}: cannot find ppro data", kOld}},
      {"lumek_ppro_remove", {-3, "remove ppro data failed, path = {p}, ret = {r}", kOld}},
      {"lumek_ppro_get_path_hash", {-4, "get hash value failed, path = {p}", kNew}},
      {"lumek_ppro_communicate_with_kernel#1", {-5, "{p}: remove ppro data in kernel failed, type = 2, ret = {r}", kNew}},
      {"lumek_ppro_communicate_with_kernel#2", {-7, "{p}: send ppro data to kernel failed, ret = {r}", kNew}}}},
    {"lists", "pblk add", "2|0|vorda_pblk_list_add|", nullptr, [](F &fx) { return vorda_pblk_list_add(fx.prog.c_str()); }, 0,
     {{"lumek_pblk_read_node_with_path", kTolerated},
      {"lumek_pblk_add", {-4, "add pblk data failed, path = {p}, ret = {r}", kOld}},
      {"lumek_pblk_get_path_hash", {-5, "get hash value failed, path = {p}", kNew}},
      {"lumek_pblk_communicate_with_kernel", {-6, "{p}: send pblk data to kernel failed, ret = {r}", kNew}}}},
    {"lists", "pblk del", "2|0|vorda_pblk_list_del|", [](F &fx) { vorda_pblk_list_add(fx.prog.c_str()); },
     [](F &fx) { return vorda_pblk_list_del(fx.prog.c_str()); }, 0,
     {{"lumek_pblk_read_node_with_path", {0, "{p}: cannot find pblk data", kOld}},
      {"lumek_pblk_remove", {-3, "remove pblk data failed, path = {p}, ret = {r}", kOld}},
      {"lumek_pblk_get_path_hash", {-4, "get hash value failed, path = {p}", kNew}},
      {"lumek_pblk_communicate_with_kernel", {-5, "{p}: remove pblk data in kernel failed, ret = {r}", kNew}}}},
    {"lists", "netctl switch", "16|0|vorda_netctl_status_set|", nullptr, [](F &) { return vorda_netctl_status_set(2); }, 0,
     {{"lumek_set_func_status", {-3, "set netctl status[3] failed, ret ={r}", kOld}},
      // The runtime switch holds; only the configuration missed it.
      {"lumek_conf_set", {1, "set netctl status[3] permanent failed, ret ={r}", kAny}}}},
    {"lists", "udeb add", P, nullptr, [](F &) { return lumek_udeblist_add(reinterpret_cast<void *>(1000), reinterpret_cast<void *>(7)); }, 0,
     {{"lumek_getstatus", {-1, nullptr, kOld}}, {"*", kPassedOn}}},
    {"lists", "lumekctl ppro add", P, nullptr, [](F &fx) { return fx.ctl({"ppro", "add", fx.prog, "--type", "1"}); }, 0,
     {{"lumek_getstatus", {1, "lumek is disabled (result -2)", kOld}}, {"lumek_ppro_read_node_with_path", kTolerated},
      {"lumek_ppro_add", {1, "(result -4)", kOld}}, {"lumek_ppro_get_path_hash", {1, "(result -5)", kNew}},
      {"lumek_ppro_communicate_with_kernel", {1, "(result -6)", kNew}}}},

    {"whlist", "count by type", P, label_prog, [](F &) { return lumek_whlist_get_count_by_obj_type(0, "program", ""); }, 1,
     {{"*", {0, nullptr, kOld}}, {"dbus:lumek_whlist_get_count_by_obj_type@-1004", {0, "injected", kOld}}}},
    {"whlist", "load all", P, label_prog, [](F &) { return with_list(lumek_whlist_load_all); }, 0, {{"*", kPassedOn}}},
    {"whlist", "bgset", P, nullptr, [](F &) { return lumek_bgset_set("night"); }, 0, {{"*", kPassedOn}}},
    {"whlist", "lumekctl list", P, label_prog, [](F &fx) { return fx.ctl({"list"}); }, 0, {{"*", {1, "(result {r})", kOld}}}},

    {"label", "a program labelled unknown", P, [](F &fx) { lumek_standin_set_label(fx.prog.c_str(), "unknown"); },
     [](F &fx) { return lumek_whlist_add(0, fx.prog.c_str()); }, 0,
     {{"parse_file_type#1", {LUMEK_WHLIST_ERR_FILE_ATTR, "{p}: invalid file attribute", kOld}},
      {"lumek_exectl_get#1@-1", {0, nullptr, kOld}},  // unlabelled: left alone
      {"lumek_exectl_get#1@-2", {LUMEK_WHLIST_ERR_FILE_ATTR, "{p}: {e}", kOld}},
      {"lumek_exectl_get#1@-1005", {LUMEK_WHLIST_ERR_LABEL_GET, "{p}: {e}", kOld}},
      {"*", {0, nullptr, kEither}}}},  // without its dependencies a program is labelled alone
    {"label", "protect a file", P, nullptr, [](F &fx) { return lumek_whlist_add(1, fx.text.c_str()); }, 0,
     {{"parse_file_type", {LUMEK_WHLIST_ERR_FILE_ATTR, "invalid file attribute", kOld}},
      {"lumek_protect_set", {kInjected, "notes.txt: injected", kOld}}}},
    // By type: authorisation refused or cancelled gives 1, an invalid argument -3, the rest -1.
    {"label", "a script by type", P, nullptr, [](F &fx) { return lumek_whlist_exectl_update(fx.script.c_str()); }, 0,
     {{"lumek_exectl_set@-1001", {1, "run.sh: injected", kOld}}, {"lumek_exectl_set@-1002", {1, nullptr, kOld}},
      {"lumek_exectl_set@-1007", {-3, nullptr, kOld}}, {"lumek_exectl_set", {-1, nullptr, kOld}},
      {"path_is_exist", {-2, "last error: Invalid argument", kOld}}, {"parse_file_type#1", {-3, nullptr, kOld}},
      {"get_absolute_path", {0, nullptr, kAny}}, {"*", {-1, nullptr, kOld}}}},
    {"label", "a batch", P, nullptr, [](F &fx) { return multi_add(fx.other, fx.text); }, 1,
     {{"parse_file_type#1", {0, "other: invalid file attribute", kOld}},
      {"lumek_exectl_multi_set", {kInjected, "obj: injected", kOld}},
      {"get_absolute_path#1", {1, nullptr, kAny}}, {"*", kTolerated}}},  // labelled "unknown"
    {"label", "lumekctl label add", P, [](F &fx) { lumek_standin_set_label(fx.prog.c_str(), "unknown"); },
     [](F &fx) { return fx.ctl({"label", "add", fx.prog}); }, 0,
     {{"parse_file_type#1", {1, "not labelled: a link, or the file type cannot be told", kOld}},
      {"lumek_exectl_get#1@-1", {0, "keeps no exectl label", kOld}},
      {"lumek_exectl_get#1", {1, "not labelled: its current label cannot be read", kOld}},
      // The batch sends the program itself after its dependencies, which labelled it already.
      {"lumek_exectl_multi_set#1", kTolerated}, {"lumek_exectl_multi_set#2", {1, "injected", kNew}},
      {"*", {0, nullptr, kEither}}}},

    {"rtdb", "create", "2|0|lumek_memdb_whlist_create|", label_prog, [](F &) { return lumek_memdb_whlist_create(); }, 0,
     {{"*", {-1, "load whlist objects failed", kOld}},
      {"lumek_memdb_create_database", {-2, "create lumek rt memdb failed: {e}", kOld}},
      // Indexes and records that fail are only logged.
      {"lumek_memdb_create_t_tree_index", {0, "lumek rt db create index for col", kAny}},
      {"lumek_memdb_create_record", {0, "create record failed, file = {p}: {e}", kAny}}}},
    {"rtdb", "add a record", "2|0|lumek_memdb_whlist_exectl_add|", with_rtdb,
     [](F &fx) { return lumek_memdb_whlist_exectl_add({&fx.prog[0], const_cast<char *>("H"), 0, 3, 1, 1, 0}); }, 0,
     {{"lumek_memdb_connect_database", {-1, "connect to rtdb failed: {e}", kOld}},
      {"lumek_memdb_delete_record", {-2, "delete data from rtdb failed: {e}", kOld}},
      {"lumek_memdb_create_record", {-3, "add data to rtdb failed: {e}", kAny}}}},  // deleted, not stored: lost
    {"rtdb", "sync time", "2|0|lumek_memdb_whlist_exectl_update_lasted_sync_time|", with_rtdb,
     [](F &) { return lumek_memdb_whlist_exectl_update_lasted_sync_time(3); }, 0,
     {{"lumek_memdb_connect_database", {-1, "connect to rtdb failed: {e}", kOld}},
      {"lumek_memdb_delete_record", {-2, "delete data from rtdb failed: {e}", kOld}},
      {"lumek_memdb_create_record", {-3, "add data to rtdb failed: {e}", kOld}}}},
    {"rtdb", "status refresh", "2|0|lumek_memdb_whlist_exectl_update_status|", with_rtdb,
     [](F &fx) { return lumek_memdb_whlist_exectl_update_status(fx.prog.c_str(), 1); }, 0,
     {{"lumek_memdb_connect_database", {-2, "connect to rtdb failed: {e}", kOld}},
      {"lumek_memdb_retrive", {0, "retrieve from rtdb failed: {e}", kEither}},  // the file gives the record
      {"lumek_memdb_delete_record", {-1, "{p}: delete from rtdb failed: {e}", kOld}},
      {"trans_type_str_2_type", {-2, "{p}: add to rtdb failed", kOld}},  // a stored type out of range
      {"lumek_memdb_create_record", {-2, "{p}: add to rtdb failed: {e}", kAny}}}},
    {"rtdb", "remove a record", "2|0|lumek_memdb_whlist_exectl_remove|", with_rtdb,
     [](F &fx) { return lumek_memdb_whlist_exectl_remove(fx.prog.c_str()); }, 0,
     {{"lumek_memdb_connect_database", {-1, "connect to rtdb failed: {e}", kOld}},
      {"lumek_memdb_delete_record", {-2, "delete data from rtdb failed: {e}", kOld}}}},
    {"rtdb", "load after a time", "2|0|lumek_memdb_whlist_exectl_load_after_time|", with_rtdb,
     [](F &) { return with_list([](WhlistObject **l) { return lumek_memdb_whlist_exectl_load_after_time(0, l); }); }, 0, kRtdbReads},
    {"rtdb", "load the special labels", "2|0|lumek_memdb_whlist_exectl_load_special|", with_rtdb,
     [](F &) { return with_list(lumek_memdb_whlist_exectl_load_special); }, 0, kRtdbReads},
    {"rtdb", "read the sync time", "2|0|lumek_memdb_whlist_exectl_get_lasted_sync_time|", with_rtdb,
     [](F &) { return lumek_memdb_whlist_exectl_get_lasted_sync_time(); }, 0, kRtdbReads},
    {"rtdb", "load by the daemon", P, with_rtdb,
     [](F &) { return with_list([](WhlistObject **l) { return lumek_memdb_whlist_exectl_load_by_daemon(nullptr, nullptr, nullptr, nullptr, -1, l); }); }, 0,
     {{"*", kPassedOn}}},
    {"rtdb", "delete", "2|0|lumek_memdb_whlist_delete|", with_rtdb, [](F &) { return lumek_memdb_whlist_delete(); }, 0,
     {{"lumek_memdb_delete_database", {-1, "delete lumek rt memdb failed: {e}", kOld}}}},
    {"rtdb", "lumekctl rtdb create", P, label_prog, [](F &fx) { return fx.ctl({"rtdb", "create"}); }, 0,
     {{"*", {1, "whitelist could not be loaded; the framework log has the details (result -1)", kOld}},
      {"lumek_memdb_connect_database", kTolerated},  // no rtdb yet
      {"lumek_memdb_create_database", {1, "the database could not be created", kOld}},
      {"lumek_memdb_create_t_tree_index", {0, nullptr, kAny}}, {"lumek_memdb_create_record", {0, nullptr, kAny}}}},

    {"kid", "shared resource", P, nullptr, [](F &fx) { return lumek_kid_whlist_add_res(0, 0, fx.prog.c_str()); }, 0,
     {{"get_absolute_path", {0, "2|0|{p}|faile to get absolute path", kNew}}, {"path_is_dir", kTolerated},
      {"lumek_kid_add_kid_res_list", kPassedOn},
      // The record is kept; only a file that exists gets the kid.
      {"path_is_exist", {0, nullptr, kAny}}, {"lumek_kid_set", {kInjected, nullptr, kAny}}}},
    {"kid", "feature switch", P, nullptr, [](F &) { return lumek_kid_whlist_func_status_set(1); }, 0, {{"*", kPassedOn}}},
    {"kid", "remove an application", P, [](F &fx) { lumek_standin_kid_add_info(10001, "viewer", "viewer", 3);
                                                     lumek_standin_kid_add_res(10001, 0, fx.text.c_str(), "viewer");
                                                     lumek_standin_kid_set_path(fx.text.c_str(), "10001"); },
     [](F &) { return lumek_kid_whlist_remove_kid("viewer"); }, 0,
     {{"lumek_kid_get_kid_by_app_name", {LUMEK_WHLIST_ERR_INVALID_ARG, nullptr, kOld}},
      {"lumek_kid_load_kid_res_list", kPassedOn}, {"lumek_kid_remove_kid_res_list", kPassedOn},
      {"lumek_kid_multi_set", {kInjected, nullptr, kAny}}}},  // the resources go; the files keep their kid
};
// clang-format on

// The demo's lumekctl commands, each held to the truth rule unless a rule of its own says more.
// In the arguments {p} is the program, {o} the other program, {t} the text file, {d} their dir.
enum Setup { kNone, kLabelled, kRtdb, kListed, kKid };
struct CtlCase {
    Setup setup;
    std::vector<std::string> args;
    Rules rules = {};
    int ok = 0;  // the clean run's exit status
};
void set_up(Fixture &fx, Setup s) {
    if (s != kNone) label_prog(fx);
    if (s == kRtdb) lumek_memdb_whlist_create();
    if (s == kListed) {
        vorda_netctl_list_add(2, fx.prog.c_str());
        _uid = 1000;
        vorda_netctl_list_add(1, fx.other.c_str());
        _uid = 0;
        vorda_netctl_pkg_list_add(2, "coreutils");
        vorda_ppro_list_add(fx.prog.c_str(), 1);
        vorda_pblk_list_add("/opt/blocked/tool");
        lumek_udeblist_create();
        lumek_udeblist_add(reinterpret_cast<void *>(1000), reinterpret_cast<void *>(7));
    }
    if (s == kKid) {
        // An application of an installed package, and one of files alone.
        char *app[] = {&fx.prog[0]}, *notes[] = {&fx.text[0], &fx.other[0]};
        lumek_kid_whlist_func_status_set(1);
        lumek_kid_whlist_create_kid("hostname", "hostname", app, 1);
        lumek_kid_whlist_create_kid("notes", "sed", notes, 2);
        lumek_standin_kid_add_policy(10001, 10002, 0, 3);  // stored directly: no process refresh
        lumek_kid_whlist_add_kid_netctl(0, "hostname");
    }
}
// A raw call prints what the daemon answered, an empty reply too. A list read that fails
// without an array cannot be told from an empty list (the framework answers NULL for both), and
// a failing node read is "not found". The files a path or type test refuses are left out; a
// type the framework cannot name is shown as "?".
const Rules kRawEmpty = {{"dbus:lumek_whlist_load_all()", {0, "()", kOld}},
                         {"dbus:lumek_whlist_get_count_by_obj_type()", {0, "()", kOld}}},
            kReadAsEmpty = {{"lumek_netctl_read_all_data_with_uid", {0, nullptr, kAny}},
                            {"lumek_netctl_pkg_read_all_data_with_uid", {0, nullptr, kAny}},
                            {"lumek_ppro_read_all_data", {0, nullptr, kAny}},
                            {"lumek_pblk_read_all_data", {0, nullptr, kAny}},
                            {"lumek_netctl_read_node_with_uid", {0, nullptr, kOld}},
                            {"lumek_netctl_pkg_read_node_with_uid", {0, nullptr, kOld}},
                            {"lumek_ppro_read_node_with_path", {0, nullptr, kOld}},
                            {"lumek_pblk_read_node_with_path", {0, nullptr, kOld}}},
            kPathTests = {{"path_is_exist", {0, nullptr, kAny}},
                          {"path_is_dir", {0, nullptr, kAny}},
                          {"path_is_link", {0, nullptr, kAny}},
                          {"parse_file_type", {0, nullptr, kAny}}},
            kTypeUnknown = {{"trans_type_str_2_type", {0, "?", kOld}}},
            // A policy whose object or subject lists cannot be loaded is left out.
    kPolicyLoads = {{"lumek_kid_load_kid_res_list", {0, nullptr, kOld}},
                    {"lumek_kid_load_kid_info_list", {0, nullptr, kOld}}};
// clang-format off
const CtlCase kCtlCases[] = {
    {kLabelled, {"call", "lumek_whlist_load_all"}, kRawEmpty},
    {kLabelled, {"call", "lumek_whlist_get_count_by_obj_type", "(0, 'program', '')"}, kRawEmpty},
    {kNone, {"--json", "call", "lumek_kmod_whlist_load", "('',)"}, {{"dbus:lumek_kmod_whlist_load()", {0, "\"reply\": []", kOld}}}},
    {kNone, {"call", "lumek_bgset_set", "'background'"}, {{"dbus:lumek_bgset_set()", {0, "()", kOld}}}},
    {kLabelled, {"list", "--type", "program", "--filter", "{d}"}},
    {kLabelled, {"count", "program"}},
    {kLabelled, {"--json", "show", "{p}"}},
    {kLabelled, {"hash", "{p}"}},
    {kNone, {"module", "protect", "ext4", "on"}},
    {kNone, {"module", "list"}},
    {kNone, {"bgset", "set", "night"}},
    {kNone, {"show", "/no/such/file"}, {}, 1},
    {kLabelled, {"label", "add", "{p}"}, {{"lumek_exectl_get@-1", {0, "keeps no exectl label", kOld}}}},
    {kLabelled, {"label", "explain", "{p}"}, {{"parse_file_type", {0, "a link, or the file type cannot be told", kOld}},
                                            {"get_absolute_path#1", {0, "no absolute path could be formed", kOld}},
                                            {"lumek_exectl_get@-1", {0, "no exectl label", kOld}},
                                            {"lumek_exectl_get", {0, "cannot be read", kOld}}}},
    // The batch leaves out a file whose type cannot be told, and answers 0.
    {kLabelled, {"label", "delete", "{p}"}, {{"parse_file_type#2", {0, nullptr, kOld}}}},
    {kLabelled, {"deps", "list", "{p}", "--label", "verified"}},
    {kLabelled, {"dir", "plan", "--kind", "protect", "{d}"}, {{"path_is_link", {0, "1 skipped", kOld}}, {"parse_file_type", {0, "1 skipped", kOld}}}},
    {kNone, {"netctl", "on", "--level", "2"}},
    {kListed, {"netctl", "status"}},
    {kNone, {"netctl", "add", "{p}", "--mode", "2"}},
    {kNone, {"netctl", "add", "{o}", "--mode", "1", "--uid", "1000"}},
    {kNone, {"netctl", "add", "--pkg", "coreutils", "--mode", "2"}},
    {kListed, {"netctl", "list"}, kReadAsEmpty},
    {kListed, {"--json", "netctl", "list", "--uid", "1000"}, kReadAsEmpty},
    {kListed, {"netctl", "list", "--pkg"}, kReadAsEmpty},
    {kListed, {"netctl", "del", "{p}", "--mode", "2"}, kReadAsEmpty},
    {kListed, {"netctl", "del", "--pkg", "coreutils", "--mode", "2"}, kReadAsEmpty},
    {kListed, {"netctl", "off"}},
    {kNone, {"ppro", "on"}},
    {kNone, {"ppro", "add", "{p}", "--type", "2"}},
    {kListed, {"ppro", "list"}, kReadAsEmpty},
    {kListed, {"ppro", "del", "{p}"}, kReadAsEmpty},
    {kNone, {"pblk", "on"}},
    {kNone, {"pblk", "add", "/opt/blocked/tool"}},
    {kListed, {"pblk", "list"}, kReadAsEmpty},
    {kListed, {"pblk", "del", "/opt/blocked/tool"}, kReadAsEmpty},
    {kListed, {"pblk", "status"}},
    {kNone, {"udeb", "create"}},
    {kNone, {"udeb", "add", "1000", "7"}},
    {kListed, {"udeb", "list", "1000"}, {{"lumek_getstatus", {0, "(0 entries)", kOld}}}},
    {kListed, {"udeb", "clear"}},
    {kNone, {"kid", "feature", "on"}},
    {kKid, {"kid", "feature", "status"}},
    {kNone, {"kid", "app", "create", "hostname", "hostname"}, kPathTests},
    {kKid, {"kid", "type", "hostname"}},
    {kKid, {"kid", "type", "--file", "{p}"}},
    {kKid, {"kid", "policy", "add", "hostname", "{t}", "3"}},
    {kKid, {"kid", "policy", "list"}, kPolicyLoads},
    {kKid, {"kid", "app", "improve", "hostname", "--level", "1"}, kPathTests},
    {kKid, {"kid", "policy", "update", "hostname", "{t}", "1"}},
    {kKid, {"--json", "kid", "policy", "list", "hostname"}, kPolicyLoads},
    {kKid, {"kid", "app", "list"}},
    {kKid, {"kid", "resource", "list", "--kid-type", "0"}},
    {kKid, {"kid", "resource", "add", "--kid-type", "2", "{o}"}, kPathTests},
    {kKid, {"kid", "netctl", "add", "--file", "{o}"}},
    // An entry whose file is gone, or whose application cannot be read, is left out.
    {kKid, {"kid", "netctl", "list"}, {{"path_is_exist", {0, nullptr, kOld}}, {"lumek_kid_load_kid_data", {0, nullptr, kOld}}}},
    {kKid, {"kid", "netctl", "remove", "hostname"}, kPathTests},
    {kRtdb, {"rtdb", "load", "--label", "trusted"}, kTypeUnknown},
    {kRtdb, {"rtdb", "special"}, kTypeUnknown},
    {kRtdb, {"rtdb", "status", "{p}", "1"}},
    {kRtdb, {"rtdb", "sync", "set", "1700000000"}},
    {kRtdb, {"rtdb", "sync", "get"}},
    {kRtdb, {"rtdb", "check"}, {{"trans_type_str_2_type", {1, "type differs", kOld}},
                                {"lumek_exectl_get@-1", {1, "label differs", kOld}},
                                {"path_is_reg", {1, "unhashable", kOld}}}},
    {kRtdb, {"rtdb", "delete"}},
};
// clang-format on

// Each command family of lumekctl is a test of its own (they run in parallel).
const char *ctl_family(const std::vector<std::string> &args) {
    const std::string &cmd = args[args[0] == "--json"];
    if (cmd == "netctl" || cmd == "ppro" || cmd == "pblk" || cmd == "udeb") return "ctl-lists";
    if (cmd == "label" || cmd == "deps" || cmd == "dir") return "ctl-label";
    return cmd == "kid" ? "ctl-kid" : cmd == "rtdb" ? "ctl-rtdb" : "ctl-whlist";
}

// Built once, so that the lumekctl scenarios' names live as long as the table.
const std::vector<Scenario> &all_scenarios() {
    static std::vector<std::string> names;
    static const std::vector<Scenario> all = [] {
        std::vector<Scenario> v(std::begin(kScenarios), std::end(kScenarios));
        names.reserve(std::size(kCtlCases));
        for (const CtlCase &c : kCtlCases) {
            std::string name = "lumekctl";
            for (auto &a : c.args) name += " " + a;
            names.push_back(name);
            auto op = [args = c.args](F &fx) {
                std::vector<std::string> argv = args;
                for (std::string &a : argv)
                    for (auto &[from, to] : {std::pair<std::string, std::string>{"{p}", fx.prog},
                                             {"{o}", fx.other},
                                             {"{t}", fx.text},
                                             {"{d}", fx.dir}})
                        if (size_t at = a.find(from); at != std::string::npos) a.replace(at, from.size(), to);
                return fx.ctl(argv);
            };
            v.push_back({ctl_family(c.args), names.back().c_str(), P, [s = c.setup](F &fx) { set_up(fx, s); },
                         op, c.ok, c.rules});
        }
        return v;
    }();
    return all;
}

// Runs one family's scenarios and counts the injection points, the runs and those passed.
void sweep(const char *family) {
    Fixture fx;
    int scenarios = 0, points = 0, runs = 0, passed = 0;
    for (const Scenario &sc : all_scenarios()) {
        if (strcmp(sc.family, family) != 0) continue;
        ++scenarios;
        SCOPED_TRACE(sc.name);
        Outcome clean = run_once(fx, sc);
        EXPECT_EQ(clean.result, sc.ok) << clean.said;
        // lumekctl may probe first (does an rtdb exist?); the library logs no failure of its own.
        if (strncmp(sc.name, "lumekctl", 8) != 0) {
            EXPECT_EQ(clean.said.find("failed"), std::string::npos) << "a clean run logged:\n" << clean.said;
        }
        std::map<std::string, int> seen;
        for (const std::string &func : clean.calls) {
            Point p{func, ++seen[func]};
            // lumekctl runs are held to the first two calls of each function: later ones repeat
            // them per file or per process, and how many processes there are varies.
            if (strncmp(family, "ctl", 3) == 0 && p.occurrence > 2) continue;
            ++points;
            for (const Kind &k : kinds_of(func)) {
                ++runs;
                Outcome o = run_once(fx, sc, &p, &k);
                Lines miss = misses(fx, sc, p, k, clean, o);
                passed += miss.empty();
                if (!miss.empty())
                    ADD_FAILURE() << sc.name << ": " << func << "#" << p.occurrence << " failing with "
                                  << k.code_seen() << (k.dbus ? k.dbus : "") << ": "
                                  << ::testing::PrintToString(miss) << "\n said:\n"
                                  << o.said;
            }
        }
    }
    printf("fault sweep %s: %d scenarios, %d injection points, %d runs, %d passed\n", family, scenarios,
           points, runs, passed);
    EXPECT_EQ(passed, runs);
}

}  // namespace

class FaultSweep : public ::testing::TestWithParam<const char *> {};

TEST_P(FaultSweep, EveryCallFailingOnce) {
    if (!getenv("LUMEK_SANDBOX")) GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox ***";
    sweep(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Families, FaultSweep,
                         ::testing::Values("lists", "whlist", "label", "rtdb", "kid", "ctl-whlist",
                                           "ctl-label", "ctl-lists", "ctl-kid", "ctl-rtdb"));
