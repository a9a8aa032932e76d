// lumekctl's exit statuses and what it says, command by command.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
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
    // A name with an escape sequence, labelled so the daemon lists it, and one that is not UTF-8.
    char tmpl[] = "/tmp/lumekctl-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, bad = dir + "/b\xff\xc3(\xc0\xaf\xc2\x9b\xe2\x82", esc = dir + "/e\x1b[2J",
                      script = dir + "/s";
    std::ofstream(script) << "#!/bin/sh\n";
    std::string wide, cut;  // an application name too wide for its column, cut to 48 columns
    for (int i = 0; i < 60; ++i) (wide += "\u00e9"), cut += i < 47 ? "\u00e9" : "";
    cut += "\u2026  debian-archive-keyring";
    std::ofstream(esc) << esc;
    lumek_standin_set_label(esc.c_str(), "trusted");
    const std::vector<std::string> no_daemon{LUMEK_BIN_DIR "/lumek-sandbox", "--no-daemon", "--"};
    const char *gone = "the whitelist daemon is not reachable on the system bus";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *said;
        std::vector<std::string> wrapper = {};
        const char *bus = nullptr;
        void (*before)() = nullptr;
    };
    const std::vector<std::string> in_usr_bin{"/usr/bin/env", "-C", "/usr/bin"};
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
             {{"pblk", "add", "/opt/q"}, 0, "done"},
             {{"pblk", "del", "/opt/p"}, 0, "pblk: del /opt/p: done"},
             {{"pblk", "del", "/opt/p", "--json"}, 0, "\"removed\": false"},
             {{"pblk", "del", "/opt/p"}, 0, "pblk: del /opt/p: not listed"},
             {{"netctl", "del", "--pkg", "nosuch"}, 0, "del nosuch: result 0; the list reads empty"},
             {{"label", "add", "/usr/bin/ls"},
              0,
              "unchanged: /usr/bin/ls keeps 'trusted' (a program is labelled only while 'unknown')"},
             {{"label", "add", "/usr/bin/true"}, 0, "unchanged: /usr/bin/true keeps no exectl label"},
             {{"label", "add", script}, 0, "label add: done (1 sent"},
             {{"label", "add", "/usr/bin/true", "/usr/bin/ls"}, 0, "unchanged: /usr/bin/ls keeps 'trusted'"},
             {{"label", "explain", "ls"}, 0, "label add would leave it: keeps 'trusted'", in_usr_bin},
             {{"pblk", "add", "true"}, 0, "pblk: add /usr/bin/true: done", in_usr_bin},
             {{"list", "--filter", dir}, 0, "/e\\x1b[2J"},  // a D-Bus string is UTF-8: not-UTF-8 via pblk
             {{"pblk", "add", bad}, 0, "/b\\xff\\xc3(\\xc0\\xaf\\xc2\\x9b\\xe2\\x82: done"},
             {{"pblk", "list"}, 0, "\\xc2\\x9b\\xe2\\x82\n"},
             {{"pblk", "list", "--json"}, 0, "/b\\\\xff\\\\xc3(\\\\xc0\\\\xaf\xc2\x9b\\\\xe2\\\\x82\""},
             {{"deps", "list", "/etc/passwd"}, 1, "/etc/passwd: not a program (file type: other)"},
             {{"package", "plan", "debian-archive-keyring"}, 0, "skipped: "},
             {{"kid", "app", "improve", "no-such-app"}, 1, "no-such-app is no installed package"},
             {{"completion", "bash"}, 0, "complete -F _lumekctl lumekctl"},
             {{"kid", "app", "create", wide, "debian-archive-keyring"}, 0, "done"},
             {{"kid", "app", "list"}, 0, cut.c_str()},
             {{"package", "add", "debian-archive-keyring"}, 0, "debian-archive-keyring: nothing to label ("},
             {{"package", "add", "no-such-package"}, 1, "get lumek mark list failed"},
             {{"rtdb", "create"}, 0, "rtdb created"},
             {{"rtdb", "create"}, 1, "run \"lumekctl rtdb delete\" first"},
             {{"rtdb", "create"},
              1,
              "refusing to replace it with fewer than half",
              {},
              nullptr,
              [] { lumek_test::daemon_serve_entries("*", "[]"); }},
             {{"rtdb", "create", "--force"}, 0, "rtdb replaced"},
             {{"rtdb", "status", "/nonexistent/f", "1"}, 1, "/nonexistent/f: not recorded, nothing changed"},
             {{"framework", "status", "--set", "0"}, 0, ""},
             {{"udeb", "list", "1000"}, 1, "lumek is disabled"},
             {{"ppro", "list"},
              1,
              "could not read the list",
              {},
              nullptr,
              [] { lumek_standin_count_set("lumek_ppro_read_all_data", -1); }},
         }) {
        if (c.before) c.before();
        auto r = lumekctl(c.args, c.wrapper, c.bus);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back() << ": " << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.args[0] << ": " << r.out << r.err;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
