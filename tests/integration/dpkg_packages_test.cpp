// The contrib dpkg integration as an administrator installs it (prefix /mnt/p), around real
// dpkg runs into scratch roots on tmpfs and ext4, with fixture packages built by dpkg-deb, in a
// private mount namespace: what each run sent to the framework, and the protection and labels
// the stand-in holds before, during and after.
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "namespaces.h"
#include "standin_state.h"

namespace fs = std::filesystem;

namespace {

// demo-ro (read-only listed; a conffile) v1 and v2 (lib.so dropped; its preinst notes the
// protection of prog in /mnt/between and kills dpkg when /mnt/kill exists; its postinst
// starts a second dpkg when /mnt/second exists), div (one file of each diversion kind, and
// decoys in the working directory where the diversion lines would name relative paths).
const char kFixtures[] =
    R"(set -e; mount -t tmpfs tmpfs /mnt; mkdir -p /mnt/deb /mnt/cwd /mnt/p/sbin /mnt/e
mkdir -p /usr/share/lumek-utils/data
for d in /opt /var/lib/dpkg /etc/dpkg/dpkg.cfg.d /usr/share/lumek-utils/data; do mount -t tmpfs tmpfs $d; done
printf '\ndemo-ro\n' >/usr/share/lumek-utils/data/readonly_pkg_list
cmake --install )" LUMEK_BIN_DIR R"(/.. --component dpkg --prefix /mnt/p >/dev/null
ln -s )" LUMEK_BIN_DIR
    R"(/lumekctl /mnt/p/sbin; truncate -s 32M /mnt/e.img; mkfs.ext4 -q -I 128 /mnt/e.img >/dev/null 2>&1
mount -o loop /mnt/e.img /mnt/e; cd /mnt/deb; echo 'int f(void){return 0;}' >m.c
mk() { mkdir -p $1/DEBIAN $1/opt/$2; printf 'Package: %s\nVersion: %s\nArchitecture: all\nMaintainer: m <m@m>\nDescription: d\n' $2 ${3:-1} >$1/DEBIAN/control; }
mk demo-ro demo-ro; d=demo-ro/opt/demo-ro; cp /usr/bin/true $d/prog; cc -shared -o $d/lib.so m.c
printf '#!/bin/sh\n' >$d/run.sh; echo r >$d/README.md; echo c >$d/conf; echo /opt/demo-ro/conf >demo-ro/DEBIAN/conffiles
mk v2 demo-ro 2; cp -a demo-ro/DEBIAN/conffiles $d/prog $d/run.sh $d/conf v2/opt/demo-ro; mv v2/opt/demo-ro/conffiles v2/DEBIAN
echo x >>v2/opt/demo-ro/prog; printf '#!/bin/sh\n%s protect /opt/demo-ro/prog >/mnt/between; [ ! -e /mnt/kill ] || kill -9 $PPID\n' \
  )" LUMEK_BIN_DIR R"(/lumek-standin >v2/DEBIAN/preinst
printf '#!/bin/sh\n[ ! -e /mnt/second ] || dpkg --log=/dev/null -i /mnt/deb/div.deb >/dev/null 2>&1 || :\n' >v2/DEBIAN/postinst
chmod 755 v2/DEBIAN/p*; mk div div; for f in local by own; do cp /usr/bin/true div/opt/div/$f; done
for p in demo-ro v2 div; do dpkg-deb --root-owner-group -Zgzip --build $p $p.deb >/dev/null; done
for l in 'locally diverted to: /opt/div/local.real' 'diverted by other to: /opt/div/by.real' \
  'package diverts others to: /opt/div/own.orig'; do mkdir -p "/mnt/cwd/${l%/*}"; cp /usr/bin/true "/mnt/cwd/$l"; done)";

// Shell lines run in /mnt/cwd with the scenario's root in R: "d" is dpkg there; "p F T" and
// "l F T" check that file F under the root's /opt has protection or label T.
const std::string kShell = "d() { dpkg ${R:+--root=$R} --log=/dev/null \"$@\" >/dev/null; }; s=" LUMEK_BIN_DIR
                           "/lumek-standin; c=" LUMEK_BIN_DIR
                           "/lumekctl; p() { [ \"$($s protect $R/opt/$1)\" = $2 ]; }; "
                           "l() { [ \"$($s label $R/opt/$1)\" = $2 ]; }; ";
const char kDivert[] =
    "for a in 'local.real local --local' 'by.real by --package other' 'own.orig own --package div'; "
    "do set -- $a; cp /usr/bin/true $R/opt/div/$1; dpkg-divert ${R:+--root=$R} --no-rename --divert "
    "/opt/div/$1 $3 $4 --add /opt/div/$2 >/dev/null; done; ";

// What the runs since @seen sent to be labelled or protected, in call order, as "FILE=LABEL"
// with @root's /opt/ left out.
std::string sent_since(size_t &seen, const std::string &root) {
    std::string out;
    std::vector<std::string> calls = lumek_test::framework_calls();
    static const std::regex rec(R"re(\{"([^"]*)", "([^"]*)")re");
    for (; seen < calls.size(); ++seen) {
        if (calls[seen].rfind("lumek_exectl_multi_set", 0) && calls[seen].rfind("lumek_protect_multi_set", 0))
            continue;
        for (std::sregex_iterator m(calls[seen].begin(), calls[seen].end(), rec), end; m != end; ++m) {
            std::string path = (*m)[1];
            if (path.rfind(root + "/opt/", 0) == 0) path.erase(0, root.size() + 5);
            out += (out.empty() ? "" : " ") + path + "=" + (*m)[2].str();
        }
    }
    return out;
}

struct Step {
    std::string run, want;
};
using Scenarios = std::vector<std::pair<std::string, std::vector<Step>>>;

void run_scenarios(const Scenarios &scenarios) {
    for (auto &[root, steps] : scenarios) {
        const std::string real = fs::path(root).lexically_normal();
        for (auto dir : {"/var/lib/dpkg/updates", "/opt/div"}) fs::create_directories(real + dir);
        std::ofstream(real + "/var/lib/dpkg/status");
        std::ofstream("/usr/share/lumek-utils/data/script_list") << real + "/opt/demo-ro/run.sh\n";
        setenv("R", root.c_str(), 1);
        size_t seen = lumek_test::framework_calls().size();
        for (auto &[run, want] : steps) {
            EXPECT_EQ(system((kShell + run).c_str()), 0) << root << ": " << run;
            EXPECT_EQ(sent_since(seen, real), want) << root << ": " << run;
        }
    }
}

}  // namespace

// Each step is a shell line that must succeed and what its dpkg runs sent to the framework.
TEST(DpkgPackages, ContribHooksLabelExactlyWhatDpkgInstalled) {
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    ASSERT_EQ(lumek_memdb_whlist_create(), 0);
    // Under the sandbox's own directory in /tmp, which goes with it.
    const std::string tmp_root = fs::path(getenv("LUMEK_STANDIN_DIR")).parent_path() / "root";
    const std::string
        v1 = "demo-ro/conf=verified demo-ro/lib.so=verified demo-ro/prog=verified demo-ro/run.sh=script",
        ro = v1 + " demo-ro/lib.so=readonly demo-ro/prog=readonly",
        lift = "demo-ro/README.md=none " + std::regex_replace(v1, std::regex("=\\w+"), "=none"),
        div = "div/by=verified div/local=verified div/own=verified";
    const Scenarios scenarios = {
        // The namespace's own root: maintainer scripts run, diversions, decoys.
        {"",
         {{"$c rtdb add /opt/demo-ro/lib.so parent library --hash H >/dev/null && d -i /mnt/deb/demo-ro.deb "
           "&& p demo-ro/prog readonly",
           std::regex_replace(ro, std::regex("lib.so=verified"), "lib.so=parent")},
          // Killed in the new version's preinst: the protection comes back with the next run.
          {"touch /mnt/kill; d -i /mnt/deb/v2.deb; rm /mnt/kill; p demo-ro/prog none", lift},
          // Putting it back fails once; it also left a half-written state behind.
          {"$s fault lumek_protect_multi_set --code -1006 && d --configure -a && p demo-ro/prog none",
           "demo-ro/lib.so=readonly demo-ro/prog=readonly"},
          {"touch /var/lib/dpkg/lumek-dpkg-hook.state.ab12CD && d --configure -a && ! ls /var/lib/dpkg/*CD "
           "2>/dev/null",
           "demo-ro/lib.so=readonly demo-ro/prog=readonly"},
          // Unpacked and configured as apt does: lifted during the unpack; a second dpkg, started
          // from the postinst, dies on the lock.
          {"touch /mnt/second; d --status-fd 1 --no-triggers --unpack --auto-deconfigure /mnt/deb/v2.deb && "
           "d --configure -a && grep -qx none /mnt/between && p demo-ro/prog readonly && "
           "! dpkg -s div 2>/dev/null && ! $c rtdb special | grep lib.so",
           lift +
               " demo-ro/conf=verified demo-ro/prog=verified demo-ro/run.sh=script demo-ro/prog=readonly "
               "demo-ro/README.md=unknown demo-ro/lib.so=unknown demo-ro/README.md=none demo-ro/lib.so=none"},
          {kDivert + std::string("d -i /mnt/deb/div.deb"),
           "div/by.real=verified div/local.real=verified div/own=verified"},
          // A conffile kept after removal keeps its label until the purge.
          {"d -r demo-ro && l demo-ro/conf verified",
           "demo-ro/conf=none demo-ro/prog=none demo-ro/run.sh=none demo-ro/prog=unknown "
           "demo-ro/run.sh=unknown "
           "demo-ro/prog=none demo-ro/run.sh=none"},
          {"d -P demo-ro", "demo-ro/conf=unknown demo-ro/conf=none"}}},
        // A failed labelling, the framework switched off, a missing lumekctl or hook: dpkg
        // succeeds, and the next run catches up.
        {"/mnt/r",
         {{"$s fault lumek_exectl_multi_set_for_dpkg --code -1006 && d -i /mnt/deb/demo-ro.deb", v1},
          {"d --configure -a", ro},
          {"$s status 0 && d -i /mnt/deb/div.deb", ""},
          {"rm /mnt/p/sbin/lumekctl && $s status 1 && d --configure -a", ""},
          {"mv /mnt/p/libexec/lumek/lumek-dpkg-hook /mnt && d --configure -a", ""},
          {"mv /mnt/lumek-dpkg-hook /mnt/p/libexec/lumek && ln -s $c /mnt/p/sbin && d --configure -a", div}}},
        // One-second timestamps (ext4 with 128-byte inodes): runs within one second.
        {"/mnt/e", {{"d -i /mnt/deb/demo-ro.deb && d -i /mnt/deb/div.deb", ro + " " + div}}},
        // Roots under scratch space and given with "..".
        {tmp_root, {{"d -i /mnt/deb/demo-ro.deb", ro}}},
        {"/mnt/r/../r2", {{"d -i /mnt/deb/demo-ro.deb", ro}}}};
    lumek_test::in_private_tree([] { return system(kFixtures) == 0 && chdir("/mnt/cwd") == 0; },
                                [&] { run_scenarios(scenarios); });
}
