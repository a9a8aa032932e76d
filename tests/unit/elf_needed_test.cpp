// The in-process dependency reading against the tools it stands in for: DT_NEEDED against
// `objdump -p` on every ELF file under /usr/bin, /usr/sbin and /usr/lib and on the saved fuzz
// seeds (32/64-bit, both byte orders, blanks in names, an empty name, an early DT_NULL,
// truncations), and first locations against `whereis -b`. A difference names the file.
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "common/spawn.h"
#include "label/elf_needed.h"
#include "label/label_internal.h"
#include "namespaces.h"

namespace fs = std::filesystem;
using namespace lumek::label;
using Names = std::vector<std::string>;

namespace {

// Regular ELF files under /usr/bin, /usr/sbin and /usr/lib; links are not followed.
Names system_elf_files() {
    Names out;
    for (const char *root : {"/usr/bin", "/usr/sbin", "/usr/lib"}) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec),
             end;
             !ec && it != end; it.increment(ec)) {
            if (it->symlink_status(ec).type() != fs::file_type::regular) continue;
            char magic[4] = {};
            std::ifstream(it->path(), std::ios::binary).read(magic, 4);
            if (memcmp(magic, "\177ELF", 4) == 0) out.push_back(it->path());
        }
    }
    return out;
}

// The first location `whereis -b` prints for each of @names, asked 200 names a run.
std::vector<std::optional<std::string>> whereis_b(const Names &names) {
    std::vector<std::optional<std::string>> out;
    for (size_t i = 0; i < names.size(); i += 200) {
        Names argv{"whereis", "-b"};
        argv.insert(argv.end(), names.begin() + i, names.begin() + std::min(i + 200, names.size()));
        lumek::SpawnOptions so;
        so.search_path = so.capture_stdout = true;
        std::istringstream lines(lumek::run_command(argv, so).out);
        for (std::string line; out.size() < names.size() && std::getline(lines, line);)
            out.push_back(whereis_candidate(line));
    }
    return out;
}

// Compares in-process first locations with whereis'; returns how many were answered.
size_t compare_locations(const Names &names) {
    auto tool = whereis_b(names);
    EXPECT_EQ(tool.size(), names.size());
    size_t answered = 0;
    for (size_t i = 0; i < names.size() && i < tool.size(); ++i)
        if (auto ours = whereis_first_binary(names[i])) {
            ++answered;
            EXPECT_EQ(ours, tool[i]) << names[i];
        }
    return answered;
}

}  // namespace

TEST(ElfNeeded, SeedsReadAsObjdumpReadsThem) {
    size_t seeds = 0;
    for (const auto &e : fs::directory_iterator(LUMEK_SOURCE_DIR "/fuzz/corpus/elf_needed")) {
        std::string path = e.path(), name = e.path().filename();
        auto ours = elf_needed_file(path.c_str());
        auto tool = objdump_needed(path.c_str());
        ASSERT_TRUE(tool) << name;
        // "ok-" seeds are read here; the others (truncated, odd, "NEEDED" in a string) by objdump.
        EXPECT_EQ(ours.has_value(), name.rfind("ok-", 0) == 0) << name;
        EXPECT_EQ(ours.value_or(*tool), *tool) << name;
        ++seeds;
    }
    EXPECT_GE(seeds, 15u);
    std::string word = fs::temp_directory_path() / ("lumek-NEEDED-" + std::to_string(getpid()));
    fs::create_symlink(LUMEK_SOURCE_DIR "/fuzz/corpus/elf_needed/ok-x86_64.so", word);
    EXPECT_FALSE(elf_needed_file(word.c_str()));  // objdump prints the path, "NEEDED" and all
    fs::remove(word);
}

TEST(ElfNeeded, EverySystemElfFileReadsAsObjdumpReadsIt) {
    Names files = system_elf_files();
    std::atomic<size_t> next{0}, read{0};
    std::mutex mu;
    Names differ;
    auto work = [&] {
        for (size_t i; (i = next++) < files.size();) {
            auto ours = elf_needed_file(files[i].c_str());
            if (!ours) continue;  // the library asks objdump for these itself
            ++read;
            if (objdump_needed(files[i].c_str()) != ours) {
                std::lock_guard<std::mutex> lock(mu);
                differ.push_back(files[i]);
            }
        }
    };
    std::thread other(work);
    work();
    other.join();
    printf("ELF files compared with objdump: %zu (%zu read in-process, %zu left to objdump)\n", files.size(),
           read.load(), files.size() - read.load());
    EXPECT_EQ(differ, Names{});
    EXPECT_GT(read.load(), files.size() * 9 / 10);
}

TEST(ElfNeeded, EveryNeededNameIsLocatedAsWhereisLocatesIt) {
    std::set<std::string> distinct;
    for (const auto &f : system_elf_files()) {
        auto names = elf_needed_file(f.c_str());
        if (!names) names = objdump_needed(f.c_str());
        for (const auto &n : names.value_or(Names{}))
            if (!library_name_unsafe(n)) distinct.insert(n);
    }
    Names names(distinct.begin(), distinct.end());
    size_t answered = compare_locations(names);
    printf("NEEDED names compared with whereis -b: %zu (%zu located in-process, %zu left to whereis)\n",
           names.size(), answered, names.size() - answered);
    EXPECT_GT(answered, names.size() / 2);
}

// whereis' rules on a laid-out tree: an exact name of any kind of entry, directory order, a
// directory reached through a link printed under its real path, wildcards and PATH left to whereis.
TEST(ElfNeeded, LocatingFollowsWhereisRules) {
    lumek_test::in_private_tree(
        [] {
            for (const char *d : {"/usr/local", "/opt"})
                if (mount("tmpfs", d, "tmpfs", 0, nullptr) != 0) return false;
            for (const char *d : {"/usr/local/lib/libdir.so.1", "/usr/local/real", "/opt/x/bin",
                                  "/usr/local/p", "/usr/local/bin", "/usr/local/etc"})
                fs::create_directories(d);
            fs::create_directory_symlink("/usr/local/real", "/usr/local/games");
            fs::create_symlink("/nowhere", "/usr/local/lib/libdangling.so.2");
            for (const char *f :
                 {"/usr/local/real/libq.so.3", "/usr/local/lib/libc.so.6", "/usr/local/lib/libq",
                  "/opt/x/bin/libopt.so.1", "/usr/local/p/libpath.so.1", "/usr/local/etc/libord.so.1",
                  "/usr/local/bin/libord.so.1"})
                std::ofstream{f};
            setenv("PATH", ("/usr/local/p:" + std::string(getenv("PATH"))).c_str(), 1);
            return true;
        },
        [] {
            Names names{"libdir.so.1", "libdangling.so.2", "libq.so.3",    "libc.so.6",
                        "libq.so",     "libopt.so.1",      "libpath.so.1", "libord.so.1"};
            EXPECT_EQ(compare_locations(names), 5u);
            EXPECT_EQ(whereis_first_binary("libq.so.3"), "/usr/local/real/libq.so.3");
            for (const char *odd : {"libopt.so.1", "libpath.so.1", "x/libc.so.6", ".."})
                EXPECT_FALSE(whereis_first_binary(odd)) << odd;
        });
}
