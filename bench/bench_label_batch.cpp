// lumek_whlist_multi_add of 10,000 real files against data lists of 10,000 lines each,
// beside the floor (reading the four lists once, resolving their lines, classifying the
// files) and the classic cost of re-reading the lists for every file (measured on a sample,
// since the whole run would take hours), and the peak memory of a plan of 50,000 files. Run inside
// lumek-sandbox, as root: the lists are mounted over the framework's data directory in a private mount
// namespace.
#include <limits.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "lumekwhlist.h"

extern "C" int parse_file_type(const char *path);  // the framework's type probe

namespace {

constexpr int kFiles = 10000, kLines = 10000, kSample = 10, kPlanFiles = 50000;
const char kDataDir[] = "/usr/share/lumek-utils/data/";
const char *const kLists[] = {"vordsw_list", "trust_list", "parent_list", "script_list"};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The floor: every line read and resolved once, every file classified once.
double floor_seconds(const std::vector<std::string> &files) {
    double t = now();
    std::vector<std::unordered_set<std::string>> sets(4);
    for (int l = 0; l < 4; ++l) {
        std::ifstream in(std::string(kDataDir) + kLists[l]);
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            sets[l].insert(line);
            if (char *r = realpath(line.c_str(), nullptr)) {
                sets[l].insert(r);
                free(r);
            }
        }
    }
    size_t found = 0;
    for (const auto &f : files) {
        if (parse_file_type(f.c_str()) < 0) abort();
        for (auto &s : sets)
            if (s.count(f)) {
                ++found;
                break;
            }
    }
    if (found == 0) abort();
    return now() - t;
}

// The classic lookup: every list reopened and every line resolved for each file.
bool in_list_classic(const char *list, const std::string &path) {
    FILE *f = fopen(list, "re");
    if (!f) return false;
    char *buf = nullptr;
    size_t cap = 0;
    bool hit = false;
    while (!hit && getline(&buf, &cap, f) > 0) {
        size_t n = strlen(buf);
        if (n && buf[n - 1] == '\n') buf[n - 1] = 0;
        char real[PATH_MAX];
        hit = path == buf || (realpath(buf, real) && path == real);
    }
    free(buf);
    fclose(f);
    return hit;
}

// A kB figure of /proc/self/status ("VmRSS:", "VmHWM:").
long status_kb(const char *key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return atol(line.c_str() + strlen(key));
    return -1;
}

// The plan of a directory of kPlanFiles files, in a child whose peak resident size is reset
// first, so that the peak growth is the plan's own (the listing it starts from included).
int plan_memory(const std::string &root) {
    const std::string dir = root + "/plan";
    std::filesystem::create_directories(dir);
    for (int i = 0; i < kPlanFiles; ++i) std::ofstream(dir + "/document-" + std::to_string(i) + ".txt");
    pid_t pid = fork();
    if (pid == 0) {
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = status_kb("VmRSS:");
        LumekPlanItem *items = nullptr;
        int32_t n = 0;
        int rc = lumek_whlist_plan_by_dir(LUMEK_OP_ADD, LUMEK_KIND_PROTECT, nullptr, dir.c_str(), &items, &n);
        long peak = status_kb("VmHWM:");
        size_t path_bytes = 0;
        for (int32_t i = 0; i < n; ++i) path_bytes += strlen(items[i].path) + 1;
        free(items);
        if (rc != 0 || n != kPlanFiles) {
            fprintf(stderr, "plan_by_dir gave %d with %d items\n", rc, n);
            _exit(1);
        }
        double grown = (peak - before) * 1024.0;
        printf(
            "plan of %d files: peak growth %.1f MB, paths %.1f MB, %.0f bytes a path beyond its text "
            "(target: about 100)\n",
            n, grown / 1e6, path_bytes / 1e6, (grown - static_cast<double>(path_bytes)) / n);
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main() {
    if (!getenv("LUMEK_STANDIN_DIR")) {
        fprintf(stderr, "run inside lumek-sandbox (no stand-in state directory set)\n");
        return 1;
    }
    char dir[] = "/var/tmp/lumek-bench-label-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string root = dir;
    std::vector<std::string> files;
    std::filesystem::create_directories(root + "/f");
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(root + "/f/s" + std::to_string(i) + ".sh");
        std::ofstream(files.back()) << "#!/bin/sh\n";
    }
    // Each list names a quarter of the files (the last quarter through links) among lines
    // naming nothing that exists.
    std::filesystem::create_directories(root + "/data");
    std::filesystem::create_directories(root + "/links");
    for (int l = 0; l < 4; ++l) {
        std::ofstream out(root + "/data/" + kLists[l]);
        for (int i = 0; i < kLines; ++i) {
            int f = l * (kFiles / 4) + i / 4;
            if (i % 4 == 0 && l == 3) {
                std::string link = root + "/links/" + std::to_string(f);
                std::filesystem::create_symlink(files[f], link);
                out << link << "\n";
            } else if (i % 4 == 0) {
                out << files[f] << "\n";
            } else {
                out << "/usr/share/nothing/" << l << "/" << i << "\n";
            }
        }
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount((root + "/data").c_str(), kDataDir, nullptr, MS_BIND, nullptr) != 0) {
        perror("mount namespace");
        return 1;
    }
    std::vector<const char *> ptrs;
    for (auto &f : files) ptrs.push_back(f.c_str());

    // The best of two rounds each, alternating, so that other load on the machine weighs on
    // both alike.
    double fl = 1e30, batch = 1e30, t;
    for (int round = 0; round < 2; ++round) {
        fl = std::min(fl, floor_seconds(files));
        t = now();
        int rc = lumek_whlist_multi_add(LUMEK_KIND_EXECTL, ptrs.data(), kFiles);
        batch = std::min(batch, now() - t);
        if (rc != kFiles) {
            fprintf(stderr, "multi_add gave %d: %s\n", rc, lumek_whlist_last_err());
            return 1;
        }
    }
    t = now();
    for (int i = 0; i < kSample; ++i) {
        const std::string &f = files[static_cast<size_t>(i) * kFiles / kSample + kFiles / 8];
        for (auto *l : kLists)
            if (in_list_classic((std::string(kDataDir) + l).c_str(), f)) break;
    }
    double classic_per_file = (now() - t) / kSample;

    printf("lumek_whlist_multi_add, %d files, 4 lists x %d lines: %8.2f ms  %8.1f us/file\n", kFiles, kLines,
           batch * 1e3, batch * 1e6 / kFiles);
    printf("floor (lists read and resolved once, files classified): %8.2f ms  %8.1f us/file\n", fl * 1e3,
           fl * 1e6 / kFiles);
    printf("ratio to the floor: %.2fx (target: within 1.5x)\n", batch / fl);
    printf(
        "lists re-read per file (sample of %d): %8.1f us/file -> %.0fx slower than the batch (target: 50x)\n",
        kSample, classic_per_file * 1e6, classic_per_file / (batch / kFiles));
    fflush(stdout);
    int plan = plan_memory(root);
    std::filesystem::remove_all(root);
    return plan;
}
