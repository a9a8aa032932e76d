// lumekctl's exit statuses and what it says, command by command.
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_control.h"
#include "lumekctl_run.h"
#include "standin_control.h"

namespace {

using lumek_test::lumekctl;

// Each command line: its exit status and a fragment of what it prints; rows run in order.
TEST(Lumekctl, ExitStatusesAndWhatIsSaid) {
    if (!getenv("LUMEK_SANDBOX")) GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox ***";
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    lumek_standin_set_label("/usr/bin/ls", "trusted");
    const std::vector<std::string> no_daemon{LUMEK_BIN_DIR "/lumek-sandbox", "--no-daemon", "--"};
    const char *gone = "the whitelist daemon is not reachable on the system bus";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *said;
        std::vector<std::string> wrapper = {};
        const char *bus = nullptr;
    };
    for (const Case &c : std::vector<Case>{
             {{"--version"}, 0, "0.1.0 (library liblumekwhlist.so.0)"},
             {{"list"}, 3, gone, no_daemon},
             {{"count", "program"}, 3, gone, {}, "unix:path=/nonexistent"},
             {{"export", "/tmp/x"}, 3, gone, no_daemon},
             {{"list", "--selector", "x"}, 2, "Could not convert"},
             {{"dir", "plan", "--op", "bogus", "/tmp"}, 2, "--op: bogus not in"},
             {{"udeb", "add", "1000", "99999999999999999999"}, 2, "is not a whole number"},
             {{"deps", "list", "--label", std::string(32, 'v'), "/usr/bin/ls"}, 2, "longer than 31 bytes"},
             {{"list", "--type", "nosuchtype"}, 2, "no object type 'nosuchtype'"},
             {{"count", "program", "--json"}, 0, "\"count\""},
             {{"pblk", "add", "/opt/p"}, 0, "done"},
             {{"pblk", "del", "/opt/p"}, 0, "pblk: del /opt/p: done"},
             {{"pblk", "del", "/opt/p", "--json"}, 0, "\"removed\": false"},
             {{"netctl", "del", "--pkg", "nosuch"}, 0, "netctl-pkg: del nosuch: not listed"},
             {{"label", "add", "/usr/bin/ls"},
              0,
              "unchanged: /usr/bin/ls keeps 'trusted' (a program is labelled only while 'unknown')"},
             {{"label", "add", "/usr/bin/true"}, 0, "label add: done"},
             {{"package", "add", "debian-archive-keyring"}, 0, "debian-archive-keyring: nothing to label ("},
             {{"package", "add", "no-such-package"}, 1, "get lumek mark list failed"},
             {{"rtdb", "create"}, 0, "rtdb created"},
             {{"rtdb", "status", "/nonexistent/f", "1"}, 1, "/nonexistent/f: not recorded, nothing changed"},
             {{"framework", "status", "--set", "0"}, 0, ""},
             {{"udeb", "list", "1000"}, 1, "lumek is disabled"},
         }) {
        auto r = lumekctl(c.args, c.wrapper, c.bus);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.args[0] << ": " << r.out << r.err;
    }
}

}  // namespace
