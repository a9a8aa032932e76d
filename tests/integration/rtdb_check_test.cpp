// `lumekctl rtdb check` finds each kind of drift between the rtdb, the daemon's whitelist,
// the framework's labels and the files, and says so in its exit status.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <glib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "daemon_control.h"
#include "lumekctl_run.h"
#include "standin_control.h"

namespace {

using lumek_test::lumekctl;
using lumek_test::Run;

// Each difference as "kind/view/name", the name relative to @dir.
std::set<std::string> drift(const std::string &dir, int *status) {
    Run r = lumekctl({"--json", "rtdb", "check"});
    *status = r.status;
    std::set<std::string> out;
    auto doc = nlohmann::json::parse(r.out, nullptr, false);
    if (doc.is_discarded()) return {"unparsable: " + r.out};
    for (auto &d : doc["differences"])
        out.insert(d["kind"].get<std::string>() + "/" + d["view"].get<std::string>() + "/" +
                   d["path"].get<std::string>().substr(dir.size() + 1));
    return out;
}

TEST(RtdbCheck, EachKindOfDriftIsReported) {
    if (!getenv("LUMEK_SANDBOX")) GTEST_SKIP() << "*** SKIPPED: needs lumek-sandbox ***";
    lumek_test::daemon_control_unref("Reset", nullptr);
    lumek_standin_reset();
    char tmpl[] = "/tmp/rtdb-check-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    auto file = [&](const char *name, const char *label) {
        std::string p = dir + "/" + name;
        std::ofstream(p) << name;
        if (label) lumek_standin_set_label(p.c_str(), label);
        return p;
    };
    file("a", "trusted");
    std::string b = file("b", "verified"), c = file("c", "script"), e = file("e", nullptr);
    std::string f = file("f", "verified"), u = file("u", "trusted");

    // A view that cannot be read: no rtdb yet, no system bus, no daemon on the bus.
    const std::vector<std::string> no_daemon{LUMEK_BIN_DIR "/lumek-sandbox", "--no-daemon", "--"};
    const char *gone = "daemon: the whitelist daemon is not reachable on the system bus";
    for (auto [wrapper, bus, status, want] :
         {std::tuple{std::vector<std::string>{}, "", 2, "rtdb: cannot read the rtdb: result -2"},
          {{}, "unix:path=/nonexistent", 3, gone},
          {no_daemon, "", 3, gone}}) {
        auto r = lumekctl({"--json", "rtdb", "check"}, wrapper, *bus ? bus : nullptr);
        auto doc = nlohmann::json::parse(r.out, nullptr, false);
        std::string got =
            doc.is_object() ? doc.value("unreadable", "") + ": " + doc.value("reason", "") : r.out;
        EXPECT_EQ(got.rfind(want, 0), 0u) << got;
        EXPECT_EQ(r.status, status) << got;
    }
    ASSERT_EQ(lumekctl({"rtdb", "create"}).status, 0);
    int status = -1;
    EXPECT_EQ(drift(dir, &status), std::set<std::string>{});
    EXPECT_EQ(status, 0);

    file("d", "parent");                                                    // labelled since: not in the rtdb
    lumek_standin_set_label(b.c_str(), "trusted");                          // relabelled since
    std::ofstream(c, std::ios::app) << "changed";                           // changed since
    ASSERT_EQ(lumekctl({"rtdb", "add", e, "unknown", "other"}).status, 0);  // not whitelisted
    std::filesystem::remove(dir + "/a");
    ASSERT_EQ(lumekctl({"rtdb", "add", f, "verified", "library", "--hash", "0", "--status", "3"}).status, 0);
    std::filesystem::remove(u);
    ASSERT_EQ(mkfifo(u.c_str(), 0600), 0);  // no longer hashable
    EXPECT_EQ(drift(dir, &status),
              (std::set<std::string>{"missing/rtdb/d", "label differs/daemon/b", "label differs/framework/b",
                                     "hash differs/file/c", "hash differs/daemon/c", "hash differs/daemon/a",
                                     "extra/rtdb/e", "missing/file/a", "type differs/daemon/f",
                                     "status differs/daemon/f", "hash differs/daemon/f",
                                     "hash differs/file/f", "hash differs/daemon/u", "unhashable/file/u"}));
    EXPECT_EQ(status, 1);

    // Two records for one path in each view, and nothing else amiss.
    std::string entry = "(\"" + b + "\", \"\", \"other\", \"trusted\", \"\", 1, 0)";
    lumek_test::daemon_serve_entries("*", ("[" + entry + ", " + entry + "]").c_str());
    ASSERT_EQ(lumekctl({"rtdb", "delete"}).status, 0);
    ASSERT_EQ(lumekctl({"rtdb", "create"}).status, 0);
    EXPECT_EQ(drift(dir, &status), (std::set<std::string>{"duplicate/rtdb/b", "duplicate/daemon/b"}));
    EXPECT_EQ(status, 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
