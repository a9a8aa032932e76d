// `lumekctl rtdb check` finds each kind of drift between the rtdb, the daemon's whitelist,
// the framework's labels and the files, and says so in its exit status.
#include <stdlib.h>
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
#include "standin_control.h"

namespace {

struct Run {
    int status = -1;
    std::string out;
};

Run lumekctl(std::vector<std::string> args) {
    args.insert(args.begin(), LUMEK_BIN_DIR "/lumekctl");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    gchar *out = nullptr;
    gint wait = 0;
    Run r;
    if (g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr, &out,
                     nullptr, &wait, nullptr)) {
        r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
        r.out = out ? out : "";
    }
    g_free(out);
    return r;
}

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

    EXPECT_EQ(lumekctl({"rtdb", "check"}).status, 2);  // no rtdb yet
    ASSERT_EQ(lumekctl({"rtdb", "create"}).status, 0);
    int status = -1;
    EXPECT_EQ(drift(dir, &status), std::set<std::string>{});
    EXPECT_EQ(status, 0);

    file("d", "parent");                                                    // labelled since: not in the rtdb
    lumek_standin_set_label(b.c_str(), "trusted");                          // relabelled since
    std::ofstream(c, std::ios::app) << "changed";                           // changed since
    ASSERT_EQ(lumekctl({"rtdb", "add", e, "unknown", "other"}).status, 0);  // not whitelisted
    std::filesystem::remove(dir + "/a");
    EXPECT_EQ(drift(dir, &status),
              (std::set<std::string>{"missing/rtdb/d", "label differs/daemon/b", "label differs/framework/b",
                                     "hash differs/file/c", "extra/rtdb/e", "missing/file/a"}));
    EXPECT_EQ(status, 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
