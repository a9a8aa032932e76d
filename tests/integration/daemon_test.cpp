// The reference daemon on the sandbox's private system bus, called with GDBus directly: its
// import and export of whole lists, which the library only starts.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "daemon_control.h"
#include "standin_state.h"

namespace {

using lumek_test::daemon_control_unref;
using lumek_test::kDaemonBusName;
using lumek_test::kDaemonPath;
const char kIface[] = "com.vorda.lumek.whlist";

using lumek_test::parse_variant;

std::string print(GVariant *v) {
    gchar *s = g_variant_print(v, FALSE);
    std::string out = s;
    g_free(s);
    return out;
}

// What a call got back: the printed reply and its type, or "!" and the error's name as the
// type with the error's own message.
struct Answer {
    std::string reply, type, message;
};

class DaemonTest : public ::testing::Test {
  protected:
    std::string dir_;
    void SetUp() override {
        if (!getenv("LUMEK_SANDBOX"))
            GTEST_SKIP() << "*** SKIPPED: run inside lumek-sandbox (never against the machine's bus) ***";
        daemon_control_unref("Reset", nullptr);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    // A fresh directory, shared with the daemon (the test's state directory is not).
    std::string temp_dir() {
        char tmpl[] = "/tmp/daemon-test-XXXXXX";
        EXPECT_TRUE(mkdtemp(tmpl));
        return dir_ = tmpl;
    }
    static void write_file(const std::string &path, const std::string &text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    static std::string read_file(const std::string &path) {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    // Lets go of a daemon that waits for the other end of the FIFO (broken builds do).
    static void release(const std::string &fifo) { close(open(fifo.c_str(), O_RDWR | O_NONBLOCK)); }
    // The stand-in's entries, one "path|label|protection" line each ("-" for none).
    static std::string state() {
        int n = 0;
        LumekStandinEntry *e = lumek_standin_entries(0, &n);
        std::string out;
        for (int i = 0; e && i < n; ++i)
            out += std::string(e[i].path) + '|' + (e[i].label ? e[i].label : "-") + '|' +
                   (e[i].protect ? e[i].protect : "-") + '\n';
        lumek_standin_free_entries(e, n);
        return out;
    }

    Answer call(const char *method, const char *args = "") {
        GError *err = nullptr;
        GDBusConnection *conn = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        GVariant *r = g_dbus_connection_call_sync(conn, kDaemonBusName, kDaemonPath, kIface, method,
                                                  *args ? parse_variant(nullptr, args) : nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &err);
        g_object_unref(conn);
        Answer a;
        if (r) {
            a.reply = print(r);
            a.type = g_variant_get_type_string(r);
            g_variant_unref(r);
        } else {
            gchar *name = g_dbus_error_get_remote_error(err);
            a.type = std::string("!") + (name ? name : "");
            g_free(name);
            g_dbus_error_strip_remote_error(err);
            a.message = err->message;
            g_error_free(err);
        }
        return a;
    }
};

// Import reads the whole file first: a file it cannot take, or any bad line, changes nothing.
// Export writes a regular file of its own only: never through a link, never into a FIFO.
TEST_F(DaemonTest, FilesThatImportOrExportRefuseChangeNothing) {
    std::string dir = temp_dir(), file = dir + "/list", fifo = dir + "/fifo", target = dir + "/target";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    write_file(target, "kept");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/link").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/created").c_str(), (dir + "/dangling").c_str()), 0);
    write_file(dir + "/nul", std::string("trusted\t\t/a\0b\n", 14));
    std::map<std::string, std::string> special = {{"@big", file},
                                                  {"@dir", dir},
                                                  {"@fifo", fifo},
                                                  {"@link", dir + "/link"},
                                                  {"@dangling", dir + "/dangling"},
                                                  {"@nul", dir + "/nul"}};
    struct Case {
        const char *method;   // import, or export
        const char *content;  // a file's text, or the file to use when it starts with '@'
        const char *want;     // reply, or a fragment of the invalid-argument message
    } cases[] = {
        {"import", "trusted\treadonly\t/a\r\n\r\nx-odd\t\t/b\\x19\\xaB\n\tnone\t/c", "(3,)"},
        {"import", "trusted\t\t/a\n\t\t/b\n", "list:2: neither a label nor a protection text"},
        {"import", "trusted\t\t/a\ntrusted readonly /b\n", "list:2: expected LABEL<tab>PROTECTION<tab>PATH"},
        {"import", "trusted\t\trelative\n", "list:1: the path is not absolute"},
        {"import", "trusted\t\t/a\\q\n", "list:1: unknown escape"},
        {"import", "trusted\t\t/a\\x4\n", "list:1: unknown escape"},
        {"import", "trusted\t\t/a\\x00\n", "list:1: \\x00 cannot be part of a text"},
        {"import", "@nul", "nul:1: a NUL byte cannot be part of a text"},
        {"import", "@big", "cannot read: larger than 256 MiB"},
        {"import", "@dir", "cannot read: not a regular file"},
        {"import", "@fifo", "cannot read: not a regular file"},
        {"import", "@/proc/self/mem", "cannot read: Input/output error"},
        {"import", "@/nonexistent", "cannot read: No such file or directory"},
        {"export", "@link", "cannot write: not a regular file"},
        {"export", "@dangling", "cannot write: not a regular file"},
        {"export", "@fifo", "cannot write: not a regular file"},
        {"export", "@dir", "cannot write: not a regular file"},
    };
    for (const Case &c : cases) {
        lumek_standin_reset();
        lumek_standin_set_label("/keep", "trusted");
        std::string before = state(), path = c.content[0] != '@'        ? file
                                             : special.count(c.content) ? special[c.content]
                                                                        : c.content + 1;
        if (c.content[0] != '@') write_file(file, c.content);
        if (!strcmp(c.content, "@big")) {
            write_file(file, "");
            ASSERT_EQ(truncate(file.c_str(), (256 << 20) + 1), 0);
        }
        Answer a = call((std::string("lumek_whlist_") + c.method).c_str(), ("(-1, '" + path + "')").c_str());
        release(fifo);  // in case the daemon was left waiting for the other end
        if (c.want[0] == '(') {
            EXPECT_EQ(a.reply, c.want) << c.content << ": " << a.message;
            EXPECT_EQ(state(), "/a|trusted|readonly\n/b\x19\xab|x-odd|-\n/c|-|none\n/keep|trusted|-\n");
            continue;
        }
        EXPECT_EQ(a.type, "!VORDA.LUMEK.INVALID.ARG") << c.content;
        EXPECT_NE(a.message.find(c.want), std::string::npos) << c.content << ": " << a.message;
        EXPECT_EQ(state(), before) << c.content;
    }
    EXPECT_EQ(read_file(target), "kept");
    EXPECT_NE(access((dir + "/created").c_str(), F_OK), 0);
}

}  // namespace
