// lumek_whlist_exectl_multi_add_for_dpkg over 10,000 real files with an rtdb of 100,000
// label records, 10,000 of them special (half naming the files), beside the floor measured
// in the same run: the four data lists read once, every file classified once, and the
// special records loaded. Run inside lumek-sandbox, as root: the lists are mounted over the
// framework's data directory in a private mount namespace.
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "lumekwhlist.h"
#include "standin_control.h"

extern "C" int parse_file_type(const char *path);  // the framework's type probe

namespace {

constexpr int kFiles = 10000, kRecords = 100000, kSpecial = 10000, kRtdb = 10000;
const char kDataDir[] = "/usr/share/lumek-utils/data/";
const char *const kLists[] = {"vordsw_list", "trust_list", "parent_list", "script_list"};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One label record as the rtdb holds it: kind 0, path, label text, object type text, status, hash, time.
bool store(const std::string &path, const char *label) {
    LumekStandinMemdbRecord r{};
    r.count = 7;
    const int32_t numbers[7] = {0, 0, 0, 0, 0, 0, 1};
    for (int c = 0; c < 7; ++c) {
        r.type[c] = (c == 0 || c == 4 || c == 6) ? 3 : 5;
        r.number[c] = numbers[c];
    }
    std::string hash = "0123456789ABCDEF0123456789ABCDEF";
    r.text[1] = const_cast<char *>(path.c_str());
    r.text[2] = const_cast<char *>(label);
    r.text[3] = const_cast<char *>("script");
    r.text[5] = &hash[0];
    return lumek_standin_memdb_insert(kRtdb, &r) == 0;
}

double floor_seconds(const std::vector<std::string> &files) {
    double t = now();
    std::vector<std::unordered_set<std::string>> sets(4);
    for (int l = 0; l < 4; ++l) {
        std::ifstream in(std::string(kDataDir) + kLists[l]);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) sets[l].insert(line);
    }
    WhlistObject *special = nullptr;
    if (lumek_memdb_whlist_exectl_load_special(&special) != 0) abort();
    size_t listed = 0;
    for (const auto &f : files) {
        if (parse_file_type(f.c_str()) < 0) abort();
        for (auto &s : sets)
            if (s.count(f)) {
                ++listed;
                break;
            }
    }
    lumek_whlist_objects_free(&special);
    if (listed == 0) abort();
    return now() - t;
}

}  // namespace

int main() {
    if (!getenv("LUMEK_STANDIN_DIR")) {
        fprintf(stderr, "run inside lumek-sandbox (no stand-in state directory set)\n");
        return 1;
    }
    char dir[] = "/var/lib/lumek-bench-dpkg-XXXXXX";
    std::filesystem::create_directories("/var/lib");
    if (!mkdtemp(dir)) return 1;
    std::string root = dir;
    std::vector<std::string> files;
    std::filesystem::create_directories(root + "/f");
    std::filesystem::create_directories(root + "/data");
    std::ofstream trust(root + "/data/trust_list");
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(root + "/f/s" + std::to_string(i) + ".sh");
        std::ofstream(files.back()) << "#!/bin/sh\n";
        if (i % 10 == 0) trust << files.back() << "\n";  // a tenth listed, the rest "verified"
    }
    trust.close();
    for (int l : {0, 2, 3}) std::ofstream(root + "/data/" + kLists[l]) << "/usr/share/nothing\n";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount((root + "/data").c_str(), kDataDir, nullptr, MS_BIND, nullptr) != 0) {
        perror("mount namespace");
        return 1;
    }
    if (lumek_memdb_whlist_create() != 0) {
        fprintf(stderr, "rtdb not created\n");
        return 1;
    }
    // The special records come last, so a search from the head of the list passes the others.
    for (int i = 0; i < kRecords; ++i) {
        bool special = i >= kRecords - kSpecial;
        int j = i - (kRecords - kSpecial);
        std::string path = special && j % 2 == 0 ? files[j] : "/usr/lib/none/" + std::to_string(i);
        if (!store(path, special ? "script" : "verified")) return 1;
    }
    std::vector<const char *> ptrs;
    for (auto &f : files) ptrs.push_back(f.c_str());

    // The best of two rounds each, alternating, so that other load on the machine weighs on
    // both alike.
    double fl = 1e30, hook = 1e30, t;
    for (int round = 0; round < 2; ++round) {
        fl = std::min(fl, floor_seconds(files));
        t = now();
        int rc = lumek_whlist_exectl_multi_add_for_dpkg(ptrs.data(), kFiles);
        hook = std::min(hook, now() - t);
        if (rc != kFiles) {
            fprintf(stderr, "the hook gave %d: %s\n", rc, lumek_whlist_last_err());
            return 1;
        }
    }
    printf(
        "lumek_whlist_exectl_multi_add_for_dpkg, %d files, rtdb %d records (%d special): %8.2f ms  %8.1f "
        "us/file\n",
        kFiles, kRecords, kSpecial, hook * 1e3, hook * 1e6 / kFiles);
    printf("floor (lists read once, files classified, special records loaded): %8.2f ms  %8.1f us/file\n",
           fl * 1e3, fl * 1e6 / kFiles);
    printf("ratio to the floor: %.2fx (target: within 1.5x)\n", hook / fl);
    // For comparison: the special list searched from its head for each file (a sample).
    WhlistObject *special = nullptr;
    if (lumek_memdb_whlist_exectl_load_special(&special) != 0) return 1;
    t = now();
    size_t found = 0;
    for (int i = 0; i < kFiles; i += 101)
        for (WhlistObject *o = special; o; o = o->next)
            if (strcmp(o->path, ptrs[i]) == 0) {
                ++found;
                break;
            }
    double scan = (now() - t) / 100;
    lumek_whlist_objects_free(&special);
    printf(
        "special list searched from the head per file (sample of 100 files, %zu of them special): %8.1f "
        "us/file, %.1f s for "
        "the batch\n",
        found, scan * 1e6, scan * kFiles);
    std::filesystem::remove_all(root);
    return 0;
}
