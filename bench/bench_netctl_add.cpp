// 1000 vorda_netctl_list_add calls on one program, beside what the program-file check
// costs on its own: a fresh libmagic cookie per call (open, load, ask, close) against one
// cookie kept open and asked 1000 times, as the library keeps one per thread. The floor is
// what the call cannot avoid: the framework calls it makes, and asking a kept cookie.
// Run inside lumek-sandbox, which gives the stand-in a fresh state directory.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include <magic.h>

#include "core/framework.h"
#include "lumekwhlist.h"

namespace {

constexpr int kCalls = 1000;

double seconds_for(const char *label, const std::function<bool()> &fn) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        if (!fn()) {
            fprintf(stderr, "%s: call %d failed\n", label, i);
            exit(1);
        }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%-46s %8.3f s per %d  %8.1f us/call\n", label, s, kCalls, 1e6 * s / kCalls);
    return s;
}

bool program_type(magic_t cookie, const char *path) {
    const char *mime = magic_file(cookie, path);
    return mime && std::string(mime).find("executable") != std::string::npos;
}

// The framework calls of one add of a listed path, as the library makes them.
bool framework_calls(const char *path, int mode) {
    const char *name = strrchr(path, '/') + 1;
    if (lumek_getstatus() == 0) return false;
    free(lumek_netctl_read_node_with_uid(0, path));
    if (lumek_netctl_update(0, path, mode, name, 0, 0) != 0) return false;
    void *hash = lumek_netctl_get_path_hash(path, 0);
    bool ok = hash && lumek_netctl_communicate_with_kernel(1, hash, mode) == 0;
    free(hash);
    return ok;
}

}  // namespace

int main() {
    if (!getenv("LUMEK_STANDIN_DIR")) {
        fprintf(stderr, "run inside lumek-sandbox (no stand-in state directory set)\n");
        return 1;
    }
    char dir[] = "/tmp/lumek-bench-netctl-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string prog = std::string(dir) + "/prog";
    std::filesystem::copy_file("/usr/bin/true", prog);

    // The call and its framework calls: the best of two rounds each, alternating, so that
    // other load on the machine weighs on both alike.
    double total = 1e30, calls = 1e30;
    for (int round = 0; round < 2; ++round) {
        total = std::min(total, seconds_for("vorda_netctl_list_add (whole call)", [&] {
                             return vorda_netctl_list_add(1 + (rand() & 1), prog.c_str()) == 0;
                         }));
        calls = std::min(calls, seconds_for("the framework calls of an add, alone",
                                            [&] { return framework_calls(prog.c_str(), 1 + (rand() & 1)); }));
    }
    double fresh = seconds_for("fresh cookie: open + load + file + close", [&] {
        magic_t c = magic_open(MAGIC_MIME_TYPE);
        bool ok = c && magic_load(c, nullptr) == 0 && program_type(c, prog.c_str());
        if (c) magic_close(c);
        return ok;
    });
    magic_t kept = magic_open(MAGIC_MIME_TYPE);
    if (!kept || magic_load(kept, nullptr) != 0) return 1;
    double reused = seconds_for("kept cookie: file only", [&] { return program_type(kept, prog.c_str()); });
    magic_close(kept);

    double floor = calls + reused;
    printf("\nfloor (framework calls + kept cookie): %.1f us/call; ratio to the floor: %.2fx\n",
           1e6 * floor / kCalls, total / floor);
    printf(
        "a fresh cookie per call would cost %.1f us/call: the kept one makes calls %.2fx faster "
        "(target: 2x)\n",
        1e6 * (total + fresh - reused) / kCalls, (total + fresh - reused) / total);
    printf("shares of the floor: framework calls %.0f%%, libmagic asked about the file %.0f%%\n",
           100.0 * calls / floor, 100.0 * reused / floor);
    std::filesystem::remove_all(dir);
    return 0;
}
