// The example dpkg configuration end to end: a tiny package built with dpkg-deb and
// installed by the real dpkg into a scratch root (on a tmpfs in a private mount namespace),
// with the contrib hook running lumekctl dpkg-hook after the run; the stand-in receives labels.
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "namespaces.h"
#include "standin_state.h"

namespace fs = std::filesystem;

namespace {

const std::string kDir = "/mnt/deb", kRoot = kDir + "/root", kOpt = "/opt/lumekdemo/";

void write(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

std::string take(char *text) {
    std::string s = text ? text : "";
    free(text);
    return s;
}

// The package: a program, a library, a script and a README.
bool build_package() {
    const std::string pkg = kDir + "/pkg";
    write(pkg + "/DEBIAN/control",
          "Package: lumekdemo\nVersion: 1.0\nArchitecture: all\nMaintainer: m <m@m>\nDescription: demo\n");
    write(pkg + kOpt + "run.sh", "#!/bin/sh\n");
    write(pkg + kOpt + "README.md", "# demo\n");
    write(kDir + "/l.c", "int l(void){return 1;}\n");
    return system(("cp /usr/bin/true " + pkg + kOpt + "prog && cc -shared -fPIC -o " + pkg + kOpt +
                   "libl.so " + kDir + "/l.c && chmod 755 " + pkg + kOpt +
                   "run.sh && dpkg-deb --root-owner-group -Zgzip --build " + pkg + " " + kDir +
                   "/lumekdemo.deb >/dev/null")
                      .c_str()) == 0;
}

}  // namespace

TEST(DpkgInstall, TheHookLabelsAndProtectsWhatDpkgUnpacks) {
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);  // before the fork: the bus connection stays here
    int st = lumek_test::run_in_namespaces(CLONE_NEWNS, [] {
        if (mount("tmpfs", "/mnt", "tmpfs", 0, nullptr) != 0 || !build_package()) return 2;
        write(kDir + "/data/script_list", kRoot + kOpt + "run.sh\n");
        write(kDir + "/data/readonly_pkg_list", "lumekdemo\n");
        write(kRoot + "/var/lib/dpkg/status", "");
        fs::create_directories(kRoot + "/var/lib/dpkg/info");
        fs::create_directories(kRoot + "/var/lib/dpkg/updates");
        if (!lumek_test::bind_mount((kDir + "/data").c_str(), "/usr/share/lumek-utils/data")) return 2;
        // The library keeps the label the rtdb records for a file the lists call "verified".
        std::string lib = kRoot + kOpt + "libl.so";
        EXPECT_EQ(lumek_memdb_whlist_exectl_add({&lib[0], (char *)"H", 1, LUMEK_EXECTL_PARENT, 1, 0, 0}), 0);

        setenv("LUMEKCTL", LUMEK_BIN_DIR "/lumekctl", 1);
        const std::string hook = LUMEK_SOURCE_DIR "/contrib/dpkg/lumek-dpkg-hook";
        std::string cmd = "dpkg --root=" + kRoot + " --log=/dev/null --pre-invoke='" + hook +
                          " start' --post-invoke='" + hook + " finish' -i " + kDir +
                          "/lumekdemo.deb >/dev/null";
        EXPECT_EQ(system(cmd.c_str()), 0);
        struct Row {
            const char *file, *label, *protection;
        } rows[] = {
            {"prog", "verified", "readonly"},
            {"libl.so", "parent", "readonly"},
            {"run.sh", "script", ""},
            {"README.md", "", ""},
        };
        for (const Row &r : rows) {
            std::string p = kRoot + kOpt + r.file;
            EXPECT_EQ(take(lumek_standin_label(p.c_str())), r.label) << r.file;
            EXPECT_EQ(take(lumek_standin_protection(p.c_str(), 0)), r.protection) << r.file;
        }
        EXPECT_EQ(lumek_test::framework_calls("lumek_exectl_multi_set_for_dpkg").size(), 1u);
        return 0;
    });
    ASSERT_NE(st, lumek_test::kNamespacesRefused) << "private mount namespace refused";
    EXPECT_EQ(st, 0);
}
