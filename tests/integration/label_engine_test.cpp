// The labelling engine against the stand-in, with real data lists, a real dpkg database,
// ELF files built here, and the real objdump, whereis and dpkg-query, all inside a private
// mount namespace (a tmpfs on /mnt holds the files: "/tmp/" paths are never labelled by
// package).
#include <sched.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lumekwhlist.h"
#include "namespaces.h"
#include "scratch.h"
#include "standin_state.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

const std::string kRoot = "/mnt/lbl";

void write(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

int sh(const std::string &cmd) {
    return system(cmd.c_str());
}

// Files of every type, two libraries and a program needing them (one through a link, one
// with a back-quote in its name), data lists and a dpkg database, all mounted in place.
bool build_tree() {
    if (mount("tmpfs", "/mnt", "tmpfs", 0, nullptr) != 0) return false;
    const std::string lib = kRoot + "/lib", bin = kRoot + "/bin";
    write(kRoot + "/src/a.c", "int a(void){return 1;}\n");
    write(kRoot + "/src/main.c", "int a(void);int b(void);int main(void){return a()+b();}\n");
    write(kRoot + "/src/mod.c", "int init_module(void){return 0;}\n");
    write(bin + "/run.sh", "#!/bin/sh\n");
    write(bin + "/notes", "plain\n");
    fs::create_directories(lib);
    if (sh("cc -shared -fPIC -o " + lib + "/libdepa.so " + kRoot + "/src/a.c") ||
        sh("cc -shared -fPIC -o " + lib + "/libdepb.so.1.0 " + kRoot + "/src/a.c") ||
        sh("ln -s libdepb.so.1.0 " + lib + "/libdepb.so") ||
        sh("sed 's/a(void)/b(void)/' " + kRoot + "/src/a.c > " + kRoot + "/src/b.c") ||
        sh("cc -shared -fPIC -o " + lib + "/libdepb.so.1.0 " + kRoot + "/src/b.c") ||
        sh("cc -o " + bin + "/prog " + kRoot + "/src/main.c -L" + lib + " -ldepa -ldepb") ||
        sh("cp " + bin + "/prog " + bin + "/prog2 && patchelf --add-needed 'lib`id`.so' " + bin + "/prog2") ||
        sh("patchelf --add-needed -n.so " + bin + "/prog2") ||
        sh("cc -c -o " + bin + "/mod.ko " + kRoot + "/src/mod.c") || sh("ln -s prog " + bin + "/link"))
        return false;
    // trust before script; a parent_list line that is a link to the script.
    write(kRoot + "/data/vordsw_list", "\n");
    write(kRoot + "/data/trust_list", bin + "/prog\n");
    write(kRoot + "/data/parent_list", bin + "/alias\n");
    write(kRoot + "/data/script_list", bin + "/prog\n" + bin + "/run.sh\n");
    fs::create_symlink("run.sh", bin + "/alias");
    write(kRoot + "/dpkg/status",
          "Package: demo\nStatus: install ok installed\nVersion: 1\nArchitecture: all\nMaintainer: m <m@m>\n"
          "Description: d\n\nPackage: tmponly\nStatus: install ok installed\nVersion: 1\nArchitecture: all\n"
          "Maintainer: m <m@m>\nDescription: d\n\n");
    write(kRoot + "/dpkg/info/demo.list", "/.\n" + bin + "\n" + bin + "/prog\n" + bin + "/run.sh\n" + bin +
                                              "/notes\n" + bin + "/link\n" + bin + "/mod.ko\n" + bin +
                                              "/gone\n/" + std::string(5000, 'a') + bin + "/prog\n" + lib +
                                              "/tmp/x\n");
    // dpkg-query -L follows the diverted file with a note that is no path.
    write(kRoot + "/dpkg/diversions", bin + "/notes\n" + bin + "/notes.real\n:\n");
    write(kRoot + "/dpkg/info/tmponly.list", "/var/tmp/a\n/usr/tmp/b\n");
    fs::create_directories(kRoot + "/dpkg/updates");
    setenv("PATH", (lib + ":" + getenv("PATH")).c_str(), 1);  // where whereis finds the libraries
    return lumek_test::bind_mount((kRoot + "/data").c_str(), "/usr/share/lumek-utils/data") &&
           lumek_test::bind_mount((kRoot + "/dpkg").c_str(), "/var/lib/dpkg");
}

// Runs @fn in a private mount namespace holding the tree.
void in_tree(const std::function<void()> &fn) {
    lumek_test::ScratchDir scratch;
    lumek_test::in_private_tree(build_tree, fn);
}

std::string label_of(const std::string &path) {
    return lumek_test::take_text(lumek_standin_label(path.c_str()));
}

Lines log_matching(const std::string &part) {
    Lines out;
    for (auto &l : lumek_test::log_lines())
        if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
}

}  // namespace

TEST(LabelEngine, DecisionTableAndExplain) {
    in_tree([] {
        const std::string b = kRoot + "/bin/";
        struct Row {
            int kind, op;
            std::string path, label;
            int rule;
        } rows[] = {
            {0, 0, b + "prog", "trusted", LUMEK_LABEL_RULE_LISTED},   // trust before script
            {0, 2, b + "run.sh", "parent", LUMEK_LABEL_RULE_LISTED},  // a list line linking to it
            {0, 0, kRoot + "/lib/libdepa.so", "verified", LUMEK_LABEL_RULE_NOT_LISTED},
            {0, 1, b + "prog", "unknown", LUMEK_LABEL_RULE_DELETE},
            {0, 0, b + "mod.ko", "", LUMEK_LABEL_RULE_WRONG_KIND},
            {2, 0, b + "mod.ko", "verified", LUMEK_LABEL_RULE_NOT_LISTED},
            {2, 0, b + "run.sh", "", LUMEK_LABEL_RULE_WRONG_KIND},
            {1, 0, b + "notes", "readonly", LUMEK_LABEL_RULE_PROTECT},
            {1, 1, b + "mod.ko", "none", LUMEK_LABEL_RULE_PROTECT},
            {7, 0, b + "prog", "", LUMEK_LABEL_RULE_WRONG_KIND},
            {0, 0, b + "link", "", LUMEK_LABEL_RULE_UNCLASSIFIED},
            {1, 0, b + "link", "", LUMEK_LABEL_RULE_UNCLASSIFIED},
            {1, 0, b + "gone", "none", LUMEK_LABEL_RULE_MISSING},
            {7, 2, b + "gone", "unknown", LUMEK_LABEL_RULE_MISSING},
        };
        for (const Row &r : rows) {
            LumekLabelReason why;
            ASSERT_EQ(lumek_whlist_label_explain(r.kind, r.op, r.path.c_str(), &why), 0);
            EXPECT_EQ(why.label, r.label) << r.path << " kind " << r.kind << " op " << r.op;
            EXPECT_EQ(why.rule, r.rule) << r.path << " kind " << r.kind << " op " << r.op;
        }
        LumekLabelReason why;
        ASSERT_EQ(lumek_test::fault("get_absolute_path", 0), 0);  // no absolute path: "unknown"
        ASSERT_EQ(lumek_whlist_label_explain(0, 0, (b + "prog").c_str(), &why), 0);
        EXPECT_EQ(std::string(why.label) + " " + std::to_string(why.rule),
                  "unknown " + std::to_string(LUMEK_LABEL_RULE_NO_ABSOLUTE));
        lumek_whlist_label_explain(0, 0, (b + "run.sh").c_str(), &why);
        EXPECT_STREQ(why.list_file, "/usr/share/lumek-utils/data/parent_list");
        EXPECT_EQ(why.line, 1);
        EXPECT_EQ(why.by_real_path, 1);
        EXPECT_EQ(why.current_state, 1);  // never labelled
        for (auto [path, skipped] : {std::pair{"/x/lib.so.c", 1}, {"/x/a.C", 0}, {"/etc/conf.d/run", 0}}) {
            lumek_whlist_label_explain(0, 0, path, &why);
            EXPECT_EQ(why.skipped_extension, skipped) << path;
        }
    });
}

TEST(LabelEngine, SingleFilesAndBatches) {
    in_tree([] {
        const std::string b = kRoot + "/bin/";
        EXPECT_EQ(lumek_whlist_add(0, (b + "mod.ko").c_str()), LUMEK_WHLIST_ERR_FILE_ATTR);
        EXPECT_EQ(std::string(lumek_whlist_last_err()), b + "mod.ko: invalid file attribute\n");
        EXPECT_EQ(lumek_whlist_exectl_add((b + "mod.ko").c_str()), 0);
        EXPECT_EQ(label_of(b + "mod.ko"), "verified");
        EXPECT_EQ(lumek_whlist_exectl_add((b + "link").c_str()), -3);
        EXPECT_EQ(lumek_whlist_exectl_add((b + "gone").c_str()), -2);
        EXPECT_EQ(lumek_whlist_delete(1, (b + "notes").c_str()), 0);
        EXPECT_EQ(lumek_test::take_text(lumek_standin_protection((b + "notes").c_str(), 0)), "none");
        // An unlabelled program stays unlabelled; an "unknown" one is labelled with its
        // dependencies in one batch that counts its records, which is a success.
        EXPECT_EQ(lumek_whlist_exectl_add((b + "prog").c_str()), 0);
        EXPECT_EQ(label_of(b + "prog"), "");
        lumek_standin_set_label((b + "prog").c_str(), "unknown");
        EXPECT_EQ(lumek_whlist_add(0, (b + "prog").c_str()), 0);
        EXPECT_EQ(label_of(b + "prog"), "trusted");

        const std::string too_long = "/" + std::string(4200, 'x');
        const std::string run = b + "run.sh", mod = b + "mod.ko";
        const char *paths[] = {run.c_str(), mod.c_str(), nullptr, too_long.c_str()};
        size_t logged = log_matching("invalid file attribute").size();
        EXPECT_EQ(lumek_whlist_multi_add(0, paths, 4), 1);
        Lines calls = lumek_test::framework_calls("lumek_exectl_multi_set");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "lumek_exectl_multi_set(4, {\"" + b +
                                    "run.sh\", \"parent\"}, {\"\", \"\"}, {\"\", \"\"}, {\"\", \"\"})");
        EXPECT_EQ(log_matching("invalid file attribute").size(), logged + 3);
        EXPECT_EQ(log_matching("(null): invalid file attribute").size(), 1u);
        for (int n : {0, -1}) EXPECT_EQ(lumek_whlist_multi_add(0, paths, n), LUMEK_WHLIST_ERR_INVALID_ARG);
        // A user's data path is sent by its short name when that is the same file.
        ASSERT_EQ(lumek_test::fault("path_is_same", 1), 0);
        const char *home[] = {"/data/home/u/f"};
        lumek_whlist_multi_delete(0, home, 1);
        EXPECT_EQ(lumek_test::framework_calls("lumek_exectl_multi_set").back(),
                  "lumek_exectl_multi_set(1, {\"/home/u/f\", \"unknown\"})");
        // A file in a linked directory is named by its own path, whatever the batch saw before
        // it; only list lines are resolved. The working directory is the linked one.
        fs::create_directory_symlink("bin", kRoot + "/binlink");
        ASSERT_EQ(chdir((kRoot + "/binlink").c_str()), 0);
        const std::string linked = kRoot + "/binlink/run.sh";
        const char *same[] = {run.c_str(), linked.c_str(), "run.sh", "./../binlink/run.sh", run.c_str()};
        // One type probe a file, and the absolute path asked once a directory.
        auto asked = [] {
            return std::to_string(lumek_test::framework_calls("parse_file_type").size()) + " " +
                   std::to_string(lumek_test::framework_calls("path_is_exist").size()) + " " +
                   std::to_string(lumek_test::framework_calls("get_absolute_path").size());
        };
        ASSERT_EQ(lumek_standin_reset(), 0);
        EXPECT_EQ(lumek_whlist_multi_add(0, same, 5), 5);
        EXPECT_EQ(asked(), "5 0 4");
        EXPECT_EQ(
            lumek_test::framework_calls("lumek_exectl_multi_set").back(),
            "lumek_exectl_multi_set(5, {\"" + run + "\", \"parent\"}, {\"" + linked +
                "\", \"verified\"}, {\"run.sh\", \"parent\"}, {\"./../binlink/run.sh\", \"verified\"}, {\"" +
                run + "\", \"parent\"})");
    });
}

TEST(LabelEngine, Dependencies) {
    in_tree([] {
        const std::string prog = kRoot + "/bin/prog", a = kRoot + "/lib/libdepa.so",
                          b_real = kRoot + "/lib/libdepb.so.1.0";
        for (const auto &p : {prog, a, b_real}) lumek_standin_set_label(p.c_str(), "unknown");
        int32_t n = -1;
        ASSERT_EQ(lumek_test::fault("path_is_exist", 0), 0);  // only a negative answer means missing
        MarkRecord *recs = lumek_whlist_get_ldd_list(prog.c_str(), "script", &n);
        ASSERT_EQ(n, 3);
        Lines got;
        for (int i = 0; i < n; ++i) got.push_back(std::string(recs[i].path) + "=" + recs[i].label);
        free(recs);
        EXPECT_EQ(got, (Lines{prog + "=script", a + "=script", b_real + "=script"}));
        // A failed dependency batch is logged; the caller's list is still sent whole.
        MarkRecord mark{};
        strcpy(mark.path, prog.c_str());
        strcpy(mark.label, "script");
        ASSERT_EQ(lumek_test::fault("lumek_exectl_multi_set", -1), 0);
        EXPECT_EQ(lumek_exectl_multi_set_ldd(&mark, 1), 1);
        EXPECT_EQ(
            log_matching("lumek_exectl_multi_set_ldd: set exectl failed!, path=" + prog + ", label=script")
                .size(),
            1u);

        const std::string prog2 = kRoot + "/bin/prog2";
        lumek_standin_set_label(prog2.c_str(), "verified");
        free(lumek_whlist_get_ldd_list(prog2.c_str(), "script", &n));
        EXPECT_EQ(n, 2);  // a back-quoted or option-like name is skipped, the others still looked up
        for (const char *name : {"lib`id`.so", "-n.so"})
            EXPECT_EQ(log_matching(std::string("contains special chars! lib_name=") + name).size(), 1u);

        EXPECT_EQ(lumek_whlist_ldd_add((kRoot + "/bin/run.sh").c_str()), -3);
        EXPECT_EQ(lumek_whlist_ldd_add(kRoot.c_str()), -3);
        EXPECT_EQ(lumek_whlist_ldd_add(nullptr), -2);
        EXPECT_EQ(lumek_exectl_ldd_set(nullptr, "verified"), LUMEK_WHLIST_ERR_INVALID_ARG);
        EXPECT_EQ(lumek_exectl_set_ldd_file(prog.c_str(), nullptr), LUMEK_WHLIST_ERR_INVALID_ARG);
        // Every refused admission is tried and logged; the first failure is the result.
        lumek_standin_set_label(prog.c_str(), "verified");
        ASSERT_EQ(lumek_test::fault("lumek_exectl_set", -1, -1), 0);
        EXPECT_EQ(lumek_whlist_ldd_add(prog.c_str()), -1);
        lumek_standin_fault_clear(nullptr);
        for (const auto &dep : {a, b_real})
            EXPECT_EQ(
                log_matching("lumek_whlist_ldd_add: set exectl failed!, path=" + dep + ", label=verified")
                    .size(),
                1u);
        EXPECT_EQ(label_of(a) + label_of(b_real), "unknownunknown");
        // Each unknown dependency is admitted on its own, with the label the lists give it,
        // and the data lists are read once for the whole call.
        int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        // Closes between opens keep inotify from folding repeated opens into one event.
        ASSERT_GE(inotify_add_watch(watch, (kRoot + "/data/trust_list").c_str(), IN_OPEN | IN_CLOSE), 0);
        ASSERT_EQ(lumek_test::fault("path_is_exist", 0), 0);
        EXPECT_EQ(lumek_whlist_ldd_add(prog.c_str()), 0);
        EXPECT_EQ(label_of(prog) + label_of(a) + label_of(b_real), "verifiedverifiedverified");
        char events[4096];
        EXPECT_EQ(read(watch, events, sizeof events), static_cast<ssize_t>(2 * sizeof(inotify_event)));
        close(watch);

        // A file the in-process reader refuses goes to objdump, by argv: a hostile name runs
        // nothing, and without objdump the analysis fails. Without whereis each name is logged.
        ASSERT_EQ(chdir(kRoot.c_str()), 0);
        const std::string hostile = kRoot + "/bin/NEEDED$(touch pwned)", odd = kRoot + "/bin/NEEDED";
        for (const auto &p : {hostile, odd}) {
            fs::copy_file(prog, p);
            lumek_standin_set_label(p.c_str(), "unknown");
        }
        free(lumek_whlist_get_ldd_list(hostile.c_str(), "script", &n));
        EXPECT_EQ(n, 1);
        EXPECT_EQ(lumek_whlist_ldd_add(hostile.c_str()), -2);
        EXPECT_EQ(log_matching("invalid ldd path").size(), 1u);
        EXPECT_FALSE(fs::exists(kRoot + "/pwned"));
        write(kRoot + "/noexec", "");
        ASSERT_TRUE(lumek_test::bind_mount((kRoot + "/noexec").c_str(), "/usr/bin/objdump"));
        free(lumek_whlist_get_ldd_list(odd.c_str(), "script", &n));
        EXPECT_EQ(n, 1);
        EXPECT_EQ(log_matching("lumek_whlist_get_ldd_list: Dependency analysis failure!").size(), 1u);
        EXPECT_EQ(lumek_whlist_ldd_add(odd.c_str()), -1);
        EXPECT_EQ(log_matching("lumek_whlist_ldd_add: Dependency analysis failure!").size(), 1u);
        setenv("PATH", "/nonexistent", 1);
        free(lumek_whlist_get_ldd_list(prog.c_str(), "script", &n));
        EXPECT_EQ(log_matching("cmd: whereis libdepa.so, popen failed").size(), 1u);
    });
}

TEST(LabelEngine, PackagesPlanAndRefusedNames) {
    in_tree([] {
        const std::string b = kRoot + "/bin/";
        LumekPlanItem *items = nullptr;
        int32_t n = 0;
        ASSERT_EQ(lumek_whlist_plan_by_package(LUMEK_OP_ADD, "/var/cache/demo_1.0_all.deb", &items, &n), 0);
        std::string planned = "lumek_exectl_multi_set(";
        Lines sent;
        std::string skipped;
        for (int i = 0; i < n; ++i) {
            if (items[i].skip == LUMEK_PLAN_SENT)
                sent.push_back(std::string("{\"") + items[i].path + "\", \"" + items[i].label + "\"}");
            else
                skipped += std::to_string(items[i].skip);
        }
        free(items);
        EXPECT_EQ(sent, (Lines{"{\"" + b + "prog\", \"trusted\"}", "{\"" + b + "run.sh\", \"parent\"}",
                               "{\"" + b + "mod.ko\", \"verified\"}"}));
        // "/.", the directory, notes, its diversion note, link, gone, the long line, "/tmp/".
        EXPECT_EQ(skipped, "33584281");
        ASSERT_EQ(lumek_whlist_add_by_package("demo"), 3);
        planned += "3";
        for (auto &s : sent) planned += ", " + s;
        EXPECT_EQ(lumek_test::framework_calls("lumek_exectl_multi_set").back(), planned + ")");

        // Plans that would send nothing say so and still list what they saw; a plan asked
        // without a place for its items is refused.
        const std::string notes_only = kRoot + "/notesonly";
        fs::create_directories(notes_only);
        fs::copy_file(b + "notes", notes_only + "/notes");
        struct PlanCase {
            std::function<int32_t()> plan;
            int32_t n, skip, type;
        } plans[] = {
            {[&] { return lumek_whlist_plan_by_package(LUMEK_OP_ADD, "tmponly", &items, &n); }, 2,
             LUMEK_PLAN_SKIP_TMP, -1},
            {[&] {
                 return lumek_whlist_plan_by_dir(LUMEK_OP_ADD, 2, nullptr, notes_only.c_str(), &items, &n);
             },
             1, LUMEK_PLAN_SKIP_LABEL, LUMEK_OBJ_OTHER},
        };
        for (const PlanCase &c : plans) {
            EXPECT_EQ(c.plan(), LUMEK_WHLIST_ERR_EXTRACT_LIST);
            ASSERT_EQ(n, c.n);
            ASSERT_NE(items, nullptr);
            EXPECT_EQ(items[0].skip * 100 + items[0].file_type, c.skip * 100 + c.type);
            free(items);
        }
        EXPECT_EQ(lumek_whlist_plan_by_package(LUMEK_OP_ADD, "demo", nullptr, &n),
                  LUMEK_WHLIST_ERR_INVALID_ARG);
        EXPECT_EQ(lumek_whlist_plan_by_dir(LUMEK_OP_ADD, 0, nullptr, nullptr, &items, &n),
                  LUMEK_WHLIST_ERR_INVALID_ARG);
        EXPECT_EQ(lumek_whlist_plan_by_dir(LUMEK_OP_ADD, 0, nullptr, b.c_str(), &items, nullptr),
                  LUMEK_WHLIST_ERR_INVALID_ARG);
        EXPECT_EQ(lumek_whlist_add_by_package("tmponly"), LUMEK_WHLIST_ERR_EXTRACT_LIST);
        EXPECT_STREQ(lumek_whlist_last_err(), "tmponly: get lumek mark list failed\n");
        ASSERT_EQ(chdir(kRoot.c_str()), 0);
        for (const char *bad : {"bash;touch pwned", "$(touch pwned)", "a --admindir=/", "-L", ""}) {
            EXPECT_EQ(lumek_whlist_add_by_package(bad), LUMEK_WHLIST_ERR_EXTRACT_LIST) << bad;
            EXPECT_FALSE(fs::exists(kRoot + "/pwned")) << bad;
        }
        EXPECT_EQ(lumek_whlist_delete_by_dir_sm(1, nullptr, b.c_str()), 5);  // links are left out
        EXPECT_EQ(lumek_test::take_text(lumek_standin_protection((b + "notes").c_str(), 1)), "none");
        EXPECT_EQ(lumek_whlist_add_by_dir(0, "library", (kRoot + "/lib").c_str()), 2);
        EXPECT_EQ(lumek_whlist_plan_by_dir(LUMEK_OP_ADD, 0, nullptr, (kRoot + "/lib").c_str(), &items, &n),
                  0);
        free(items);
    });
}
