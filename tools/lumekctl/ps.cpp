// lumekctl ps: the library's process snapshot as a table for people, or as JSON.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

struct PsOptions {
    std::string sort = "pid";
    bool fds = false;
};

// The caller's side of the snapshot: the records and the descriptor lists they own.
class Snapshot {
  public:
    Snapshot() : records_(static_cast<ProcessInfo *>(calloc(LUMEK_PROCESS_INFO_MAX, sizeof(ProcessInfo)))) {}
    ~Snapshot() {
        if (!records_) return;
        for (uint32_t i = 0; i < count_; ++i) {
            for (int32_t k = 0; k < records_[i].fd_count; ++k) free(records_[i].fd_targets[k]);
            free(records_[i].fd_targets);
        }
        free(records_);
    }
    Snapshot(const Snapshot &) = delete;
    Snapshot &operator=(const Snapshot &) = delete;

    int32_t take() { return records_ ? lumek_get_process_info(records_, &count_) : -1; }
    std::vector<const ProcessInfo *> rows() const {
        std::vector<const ProcessInfo *> out;
        for (uint32_t i = 0; i < count_; ++i) out.push_back(&records_[i]);
        return out;
    }

  private:
    ProcessInfo *records_;
    uint32_t count_ = 0;
};

const char *state_letter(int16_t state) {
    static const char *const letters[] = {"R", "T", "S", "Z", "t", "D", "X"};
    return state >= 0 && state < 7 ? letters[state] : "?";
}

std::string state_name(int16_t state) {
    static const char *const names[] = {"running",      "stopped",    "sleeping", "zombie",
                                        "tracing stop", "disk sleep", "dead"};
    return state >= 0 && state < 7 ? names[state] : "unknown";
}

// tty_nr is the kernel's dev_t: major in bits 8-15 (and 32-43), minor in bits 0-7 and 20-31.
std::string tty_name(int32_t tty_nr) {
    if (tty_nr == 0) return "?";
    unsigned nr = static_cast<unsigned>(tty_nr);
    unsigned major = (nr >> 8) & 0xfff;
    unsigned minor = (nr & 0xff) | ((nr >> 12) & 0xfff00);
    if (major == 136) return "pts/" + std::to_string(minor);
    if (major == 4 && minor < 64) return "tty" + std::to_string(minor);
    if (major == 4) return "ttyS" + std::to_string(minor - 64);
    return std::to_string(major) + ":" + std::to_string(minor);
}

std::string cpu_time_text(int64_t seconds) {
    if (seconds < 0) return "-";
    char buf[32];
    snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return buf;
}

// "Tue Mar  5 14:02:11 2024\n" -> "Mar 5 14:02": short enough for a column.
std::string start_short(const char *ctime_text) {
    std::string s(ctime_text);
    if (s.size() < 24) return s.empty() ? "-" : s;
    std::string day = s.substr(8, 2);
    if (day[0] == ' ') day.erase(0, 1);
    return s.substr(4, 3) + " " + day + " " + s.substr(11, 5);
}

std::string strip_newline(const char *text) {
    std::string s(text);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

std::string command_text(const ProcessInfo &p) {
    std::string cmd = p.cmdline;
    while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
    return cmd.empty() ? std::string("[") + p.name + "]" : cmd;
}

nlohmann::json to_json(const ProcessInfo &p) {
    nlohmann::json fds = nlohmann::json::array();
    for (int32_t i = 0; i < p.fd_count; ++i) fds.push_back(p.fd_targets[i]);
    return {
        {"pid", p.pid},
        {"ppid", p.ppid},
        {"uid", p.uid},
        {"name", p.name},
        {"exe_path", p.exe_path},
        {"exe_dir", p.exe_dir},
        {"cmdline", p.cmdline},
        {"state", p.state},
        {"state_letter", state_letter(p.state)},
        {"state_name", state_name(p.state)},
        {"thread_count", p.thread_count},
        {"start_time", strip_newline(p.start_time)},
        {"tty_nr", p.tty_nr},
        {"cpu_time", p.cpu_time},
        {"cpu_usage", p.cpu_usage},
        {"mem_usage", p.mem_usage},
        {"socket_count", p.socket_count},
        {"fd_count", p.fd_count},
        {"fd_targets", fds},
    };
}

// Control characters in names and arguments are escaped by the table, so a process cannot
// forge or garble rows; COMMAND is cut to the terminal's width when there is one, as ps does.
void print_table(const std::vector<const ProcessInfo *> &rows, bool show_fds) {
    Table table({{"PID", 0, true},
                 {"PPID", 0, true},
                 {"UID", 0, true},
                 {"STAT"},
                 {"THR", 0, true},
                 {"%CPU", 0, true},
                 {"%MEM", 0, true},
                 {"TIME", 0, true},
                 {"START"},
                 {"TTY"},
                 {"FDS", 0, true},
                 {"SOCK", 0, true},
                 {"COMMAND", 0}});
    auto fixed = [](double v) {
        char buf[32];
        snprintf(buf, sizeof buf, "%.1f", v);
        return std::string(buf);
    };
    for (const ProcessInfo *p : rows) {
        table.add({std::to_string(p->pid), std::to_string(p->ppid), std::to_string(p->uid),
                   state_letter(p->state), std::to_string(p->thread_count), fixed(p->cpu_usage),
                   fixed(p->mem_usage), cpu_time_text(p->cpu_time), start_short(p->start_time),
                   tty_name(p->tty_nr), std::to_string(p->fd_count),
                   p->socket_count < 0 ? "-" : std::to_string(p->socket_count), command_text(*p)});
        if (show_fds)
            for (int32_t i = 0; i < p->fd_count; ++i)
                table.add({"", "", "", "", "", "", "", "", "", "", "", "fd ->", p->fd_targets[i]});
    }
    table.print(std::cout, terminal_width());
}

void run_ps(const Options &opts, const PsOptions &ps) {
    Snapshot snap;
    if (snap.take() != 0) {
        fail("ps", "cannot read /proc");
        return;
    }
    std::vector<const ProcessInfo *> rows = snap.rows();
    // Biggest users first for cpu and mem, ascending pids otherwise; ties by pid.
    std::stable_sort(rows.begin(), rows.end(), [&](const ProcessInfo *a, const ProcessInfo *b) {
        if (ps.sort == "cpu" && a->cpu_usage != b->cpu_usage) return a->cpu_usage > b->cpu_usage;
        if (ps.sort == "mem" && a->mem_usage != b->mem_usage) return a->mem_usage > b->mem_usage;
        return a->pid < b->pid;
    });
    if (opts.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ProcessInfo *p : rows) {
            list.push_back(to_json(*p));
        }
        // Names and command lines are bytes, not always UTF-8: the emitter keeps them.
        print_json({{"count", rows.size()}, {"processes", list}});
    } else {
        print_table(rows, ps.fds);
    }
    fflush(stdout);
}

}  // namespace

void add_ps_commands(CLI::App &app, const Options &opts) {
    auto *cmd = app.add_subcommand("ps", "Show a snapshot of the running processes (at most 1024)");
    auto ps = std::make_shared<PsOptions>();
    cmd->add_option("--sort", ps->sort, "Order of the rows: pid (ascending), cpu or mem (largest first)")
        ->check(CLI::IsMember({"pid", "cpu", "mem"}))
        ->capture_default_str();
    cmd->add_flag("--fds", ps->fds, "Also show every open descriptor's target (JSON always has them)");
    cmd->callback([&opts, ps] { run_ps(opts, *ps); });
}

}  // namespace lumekctl
