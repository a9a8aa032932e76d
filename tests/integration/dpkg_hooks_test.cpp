// The package manager's hooks against the stand-in and its memdb, with real files of every
// type and real data lists in a private mount namespace (on /mnt: "/tmp/" paths are never
// labelled by the package manager's tools), and the contrib dpkg hooks run by the real dpkg.
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "namespaces.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;  // framework calls
using lumek_test::framework_calls;

namespace {

const std::string kBin = "/mnt/dh/bin/";

void write(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

bool build_tree() {
    if (mount("tmpfs", "/mnt", "tmpfs", 0, nullptr) != 0) return false;
    write(kBin + "run.sh", "#!/bin/sh\n");
    write(kBin + "notes", "plain\n");
    write(kBin + "README.md", "# readme\n");
    write("/mnt/dh/m.c", "int init_module(void){return 0;}\n");
    if (system(("cp /usr/bin/true " + kBin + "prog && cc -shared -fPIC -o " + kBin +
                "lib.so /mnt/dh/m.c && cc -c -o " + kBin + "mod.ko /mnt/dh/m.c && ln -s prog " + kBin +
                "link")
                   .c_str()) != 0)
        return false;
    write("/mnt/dh/data/trust_list", kBin + "lib.so\n");
    write("/mnt/dh/data/script_list", kBin + "run.sh\n");
    write("/mnt/dh/data/readonly_pkg_list", "\ndemo-ro\n");
    return lumek_test::bind_mount("/mnt/dh/data", "/usr/share/lumek-utils/data");
}

// The rtdb is made before the fork: a child must not share the parent's bus connection.
void in_tree(const std::function<void()> &fn) {
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    lumek_test::in_private_tree(build_tree, fn);
}

// The framework error the next call of @func fails with, returning @ret.
void fail_next(const char *func, int32_t code, int ret = -1) {
    LumekStandinFault f{1, ret, 0, 1, code, "obj", "refused"};
    lumek_standin_fault_set(func, &f);
}

// Files of the tree by name, and the array the hooks take.
struct Files {
    explicit Files(std::initializer_list<const char *> names) {
        for (auto n : names) full.push_back(kBin + n);
        for (auto &f : full) paths.push_back(f.c_str());
    }
    std::vector<std::string> full;
    std::vector<const char *> paths;
};

// A label record stored as it is, duplicates included.
void store_special(std::string path, std::string label) {
    LumekStandinMemdbRecord r{7, {3, 5, 5, 5, 3, 5, 3}, {0, 0, 0, 0, 0, 0, 1}, {}};
    r.text[1] = &path[0];
    r.text[2] = &label[0];
    r.text[3] = const_cast<char *>("other");
    r.text[5] = const_cast<char *>("H");
    EXPECT_EQ(lumek_standin_memdb_insert(10000, &r), 0);
}

std::string rec(const std::string &name, const char *label, int type = -1) {
    return "{\"" + kBin + name + "\", \"" + label + "\"" + (type < 0 ? "" : ", " + std::to_string(type)) +
           "}";
}

// The contrib dpkg integration as installed with prefix /mnt/p, around real dpkg runs into
// scratch roots (the namespace's own with /opt and the dpkg database on tmpfs, too), with
// fixture packages built by dpkg-deb: demo-ro (read-only listed, a conffile) and div (one
// file of each diversion kind, and decoys where the diversion lines would name relative paths).
const char kFixtures[] = R"(set -e; b=/mnt/dh/bin; mkdir -p /mnt/deb /mnt/cwd /mnt/p/sbin; cd /mnt/deb
for d in /opt /var/lib/dpkg /var/tmp /etc/dpkg/dpkg.cfg.d; do mount -t tmpfs tmpfs $d; done
cmake --install )" LUMEK_BIN_DIR R"(/.. --component dpkg --prefix /mnt/p >/dev/null
ln -s )" LUMEK_BIN_DIR R"(/lumekctl /mnt/p/sbin
mk() { mkdir -p $1/DEBIAN $1/opt/$1; printf 'Package: %s\nVersion: 1\nArchitecture: all\nMaintainer: m <m@m>\nDescription: d\n' $1 >$1/DEBIAN/control; }
mk demo-ro; cp $b/prog $b/lib.so $b/run.sh $b/README.md demo-ro/opt/demo-ro; echo c >demo-ro/opt/demo-ro/conf
echo /opt/demo-ro/conf >demo-ro/DEBIAN/conffiles
mk div; for f in local by own; do cp $b/prog div/opt/div/$f; done
for p in demo-ro div; do dpkg-deb --root-owner-group -Zgzip --build $p $p.deb >/dev/null; done
for l in 'locally diverted to: /opt/div/local.real' 'diverted by other to: /opt/div/by.real' \
  'package diverts others to: /opt/div/own.orig'; do mkdir -p "/mnt/cwd/${l%/*}"; cp $b/prog "/mnt/cwd/$l"; done)";

// Shell lines run in /mnt/cwd with the scenario's root in R: "d" is dpkg there.
const std::string kDpkg = "d() { dpkg ${R:+--root=$R} --log=/dev/null \"$@\" >/dev/null; }; ";
const char kDivert[] =
    "for a in 'local.real local --local' 'by.real by --package other' 'own.orig own --package div'; "
    "do set -- $a; cp /mnt/dh/bin/prog $R/opt/div/$1; dpkg-divert ${R:+--root=$R} --no-rename --divert "
    "/opt/div/$1 $3 $4 --add /opt/div/$2 >/dev/null; done; ";

// What the runs since @seen calls sent to be labelled or protected, in call order, as
// "FILE=LABEL" with @root's /opt/ left out.
std::string sent_since(size_t &seen, const std::string &root) {
    std::string out;
    std::vector<std::string> calls = framework_calls();
    static const std::regex rec(R"re(\{"([^"]*)", "([^"]*)")re");
    for (; seen < calls.size(); ++seen) {
        if (calls[seen].rfind("lumek_exectl_multi_set_for_dpkg(", 0) &&
            calls[seen].rfind("lumek_protect_multi_set(", 0))
            continue;
        for (std::sregex_iterator m(calls[seen].begin(), calls[seen].end(), rec), end; m != end; ++m) {
            std::string path = (*m)[1];
            if (path.rfind(root + "/opt/", 0) == 0) path.erase(0, root.size() + 5);
            out += (out.empty() ? "" : " ") + path + "=" + (*m)[2].str();
        }
    }
    return out;
}

}  // namespace

TEST(DpkgHooks, SingleFile) {
    in_tree([] {
        // Other files and links are admitted "verified" as they are.
        for (auto [name, result, label] : {std::tuple{"README.md", 0, ""},
                                           {"notes", 0, "verified"},
                                           {"link", 0, "verified"},
                                           {"mod.ko", 0, "verified"},
                                           {"gone", -2, ""}}) {
            EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg((kBin + name).c_str()), result) << name;
            EXPECT_EQ(lumek_test::take_text(lumek_standin_label((kBin + name).c_str())), label) << name;
        }
        // A plain data file goes through the single setter, not a batch.
        EXPECT_EQ(framework_calls("lumek_exectl_set")[0],
                  "lumek_exectl_set(\"" + kBin + "notes\", \"verified\")");
        EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg(nullptr), -2);
        // The setter's own result is mapped, not its error record's code; the buffer stays.
        for (auto [ret, code, result] : {std::tuple{-1, -1002, -1}, {-1002, 0, 1}, {-1001, -1006, 1}}) {
            fail_next("lumek_exectl_set", code, ret);
            EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg((kBin + "notes").c_str()), result) << ret;
        }
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
    });
}

TEST(DpkgHooks, BatchKeepsTheRtdbSpecialLabels) {
    in_tree([] {
        // The trust list beats the rtdb; only "verified" records take the rtdb's label.
        store_special(kBin + "prog", "vordsw");
        store_special(kBin + "lib.so", "script");
        // Of two records for one path, the first in the loaded list (the last stored) counts.
        store_special(kBin + "notes", "parent");
        store_special(kBin + "notes", "vordsw");
        Files f{"README.md", "prog", "lib.so", "notes", "link", "mod.ko", "gone", "run.sh"};
        std::vector<const char *> &paths = f.paths;
        paths.insert(paths.begin() + 3, nullptr);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), static_cast<int32_t>(paths.size())),
                  6);
        EXPECT_EQ(framework_calls("lumek_exectl_multi_set_for_dpkg"),
                  Lines{"lumek_exectl_multi_set_for_dpkg(6, " + rec("prog", "vordsw", 0) + ", " +
                        rec("lib.so", "trusted", 1) + ", " + rec("notes", "vordsw", 4) + ", " +
                        rec("link", "verified", 5) + ", " + rec("mod.ko", "verified", 3) + ", " +
                        rec("run.sh", "script", 2) + ")"});

        // Nothing left to label, or a count that is not above 0: no setter call.
        const char *skipped[] = {paths[0], paths[7], nullptr};
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(skipped, 3), 0);
        for (int32_t n : {0, -1, INT32_MIN})
            EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), n), -2);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(nullptr, 1), -2);
        for (auto [code, result] : {std::pair{-1001, -1}, {-1006, -3}}) {
            fail_next("lumek_exectl_multi_set_for_dpkg", code);
            EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), 2), result);
            EXPECT_STREQ(lumek_whlist_last_err(), "obj: refused\n");
        }
        // Without an rtdb nothing is labelled.
        ASSERT_EQ(lumek_memdb_whlist_delete(), 0);
        EXPECT_EQ(lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), 2), -1);
        EXPECT_EQ(framework_calls("lumek_exectl_multi_set_for_dpkg").size(), 3u);
        EXPECT_EQ(lumek_test::log_lines().back(), "2|0|\\N|load whlist objects failed");
    });
}

TEST(DpkgHooks, ProtectionByPackageName) {
    in_tree([] {
        Files f{"prog", "lib.so", "run.sh", "mod.ko", "notes", "link", "README.md"};
        std::vector<const char *> &paths = f.paths;
        const int32_t n = static_cast<int32_t>(paths.size());
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro:amd64", paths.data(), n), 3);
        EXPECT_EQ(framework_calls("lumek_protect_multi_set"),
                  Lines{"lumek_protect_multi_set(3, " + rec("prog", "readonly") + ", " +
                        rec("lib.so", "readonly") + ", " + rec("mod.ko", "readonly") + ")"});
        // Unlisted: -2 and the buffer as it was.
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg(nullptr, paths.data(), n), -1);
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
        for (const char *other : {"demo", "demo-ro-x", "", "x:demo-ro"})
            EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg(other, paths.data(), n), -2) << other;
        EXPECT_STREQ(lumek_whlist_last_err(), "Invalid argument");
        // Scripts only: no batch.
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro", &paths[2], 1), 0);
        EXPECT_EQ(lumek_whlist_protect_set_by_name_for_dpkg("demo-ro", paths.data(), -5), -1);
        EXPECT_EQ(framework_calls("lumek_protect_multi_set").size(), 1u);

        // Disabled: every hook succeeds without touching anything.
        lumek_standin_set_flag("status", 0);
        EXPECT_EQ(lumek_whlist_exectl_add_for_dpkg(nullptr) +
                      lumek_whlist_exectl_multi_add_for_dpkg(paths.data(), -1) +
                      lumek_whlist_protect_set_by_name_for_dpkg(nullptr, nullptr, 0),
                  0);
        EXPECT_EQ(framework_calls().back(), "lumek_getstatus()");
    });
}

// Each step is a shell line that must succeed and what its dpkg runs sent to the framework.
TEST(DpkgHooks, ContribHooksLabelExactlyWhatDpkgInstalled) {
    in_tree([] {
        ASSERT_EQ(system(kFixtures), 0);
        ASSERT_EQ(chdir("/mnt/cwd"), 0);
        const std::string labels =
                              "demo-ro/conf=verified demo-ro/lib.so=parent demo-ro/prog=verified "
                              "demo-ro/run.sh=script",
                          ro = labels + " demo-ro/lib.so=readonly demo-ro/prog=readonly";
        struct Step {
            std::string run, want;
        };
        for (auto &[root, steps] : std::vector<std::pair<std::string, std::vector<Step>>>{
                 // The namespace's own root: diversions, decoys in the working directory, removal.
                 {"",
                  {{"d -i /mnt/deb/demo-ro.deb", ro},
                   {kDivert + std::string("d -i /mnt/deb/div.deb"),
                    "div/by.real=verified div/local.real=verified div/own=verified"},
                   {"d -r demo-ro", ""}}},
                 // A run whose labelling failed is caught up by the next; a reinstall is labelled.
                 {"/mnt/r",
                  {{LUMEK_BIN_DIR "/lumek-standin fault lumek_exectl_multi_set_for_dpkg --code -1006 && "
                                  "d -i /mnt/deb/demo-ro.deb",
                    labels},
                   {"d --configure -a", ro},
                   {"d -i /mnt/deb/demo-ro.deb", ro},
                   // Neither a missing lumekctl nor a missing hook fails dpkg.
                   {"rm /mnt/p/sbin/lumekctl && d -i /mnt/deb/div.deb", ""},
                   {"mv /mnt/p/libexec/lumek/lumek-dpkg-hook /mnt && d --configure -a", ""},
                   {"mv /mnt/lumek-dpkg-hook /mnt/p/libexec/lumek && ln -s " LUMEK_BIN_DIR
                    "/lumekctl /mnt/p/sbin && d --configure -a",
                    "div/by=verified div/local=verified div/own=verified"}}},
                 // Roots under scratch space and given with "..".
                 {"/var/tmp/r", {{"d -i /mnt/deb/demo-ro.deb", ro}}},
                 {"/mnt/r/../r2", {{"d -i /mnt/deb/demo-ro.deb", ro}}}}) {
            const std::string real = fs::path(root).lexically_normal();
            write(real + "/var/lib/dpkg/status", "");
            fs::create_directories(real + "/var/lib/dpkg/updates");
            fs::create_directories(real + "/opt/div");
            write("/mnt/dh/data/script_list", real + "/opt/demo-ro/run.sh\n");
            store_special(real + "/opt/demo-ro/lib.so", "parent");
            setenv("R", root.c_str(), 1);
            size_t seen = framework_calls().size();
            for (auto &[run, want] : steps) {
                EXPECT_EQ(system((kDpkg + run).c_str()), 0) << root << ": " << run;
                EXPECT_EQ(sent_since(seen, real), want) << root << ": " << run;
            }
        }
    });
}
