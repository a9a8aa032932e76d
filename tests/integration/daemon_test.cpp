// The reference daemon's import and export of whole list files, which the library only
// starts: import reads the whole file first, so a file it cannot take, or any bad line,
// changes nothing; export writes a regular file of its own only, never through a link or
// into a FIFO. (A round trip of a good list is the query test's.)
#include <fcntl.h>
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

#include "daemon_control.h"
#include "lumekwhlist.h"
#include "standin_state.h"

namespace {

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The stand-in's entries, one "path|label|protection" line each ("-" for none).
std::string state() {
    int n = 0;
    LumekStandinEntry *e = lumek_standin_entries(0, &n);
    std::string out;
    for (int i = 0; e && i < n; ++i)
        out += std::string(e[i].path) + '|' + (e[i].label ? e[i].label : "-") + '|' +
               (e[i].protect ? e[i].protect : "-") + '\n';
    lumek_standin_free_entries(e, n);
    return out;
}

TEST(Daemon, FilesThatImportOrExportRefuseChangeNothing) {
    if (!getenv("LUMEK_SANDBOX"))
        GTEST_SKIP() << "*** SKIPPED: run inside lumek-sandbox (never against the machine's bus) ***";
    lumek_test::daemon_control_unref("Reset", nullptr);
    char tmpl[] = "/tmp/daemon-test-XXXXXX";  // shared with the daemon (the state directory is not)
    ASSERT_TRUE(mkdtemp(tmpl));
    std::string dir = tmpl, file = dir + "/list", fifo = dir + "/fifo", target = dir + "/target";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    write_file(target, "kept");
    ASSERT_EQ(symlink(target.c_str(), (dir + "/link").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/created").c_str(), (dir + "/dangling").c_str()), 0);
    write_file(dir + "/nul", std::string("trusted\t\t/a\0b\n", 14));
    std::map<std::string, std::string> special = {{"@big", file},
                                                  {"@fifo", fifo},
                                                  {"@link", dir + "/link"},
                                                  {"@dangling", dir + "/dangling"},
                                                  {"@nul", dir + "/nul"}};
    const struct {
        bool import;
        const char *content;  // a file's text, or the file to use when it starts with '@'
        const char *want;     // a fragment of the invalid-argument message; "" for success
    } cases[] = {
        {true, "trusted\treadonly\t/a\r\n\r\nx-odd\t\t/b\\x19\\xaB\n\tnone\t/c", ""},
        {true, "trusted\t\t/a\n\t\t/b\n", "list:2: neither a label nor a protection text"},
        {true, "trusted\t\trelative\n", "list:1: the path is not absolute"},
        {true, "trusted\t\t/a\\x4\n", "list:1: unknown escape"},
        {true, "@nul", "nul:1: a NUL byte cannot be part of a text"},
        {true, "@big", "cannot read: larger than 256 MiB"},
        {true, "@fifo", "cannot read: not a regular file"},
        {false, "@link", "cannot write: not a regular file"},
        {false, "@dangling", "cannot write: not a regular file"},
        {false, "@fifo", "cannot write: not a regular file"},
    };
    for (const auto &c : cases) {
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
        int32_t rc = c.import ? lumek_whlist_import(-1, path.c_str()) : lumek_whlist_export(-1, path.c_str());
        close(open(fifo.c_str(), O_RDWR | O_NONBLOCK));  // lets go of a daemon left waiting on the FIFO
        if (!*c.want) {
            EXPECT_EQ(rc, 3) << lumek_whlist_last_err();
            EXPECT_EQ(state(), "/a|trusted|readonly\n/b\x19\xab|x-odd|-\n/c|-|none\n/keep|trusted|-\n");
            continue;
        }
        EXPECT_EQ(rc, LUMEK_WHLIST_ERR_INVALID_ARG) << c.content;
        EXPECT_NE(strstr(lumek_whlist_last_err(), c.want), nullptr)
            << c.content << ": " << lumek_whlist_last_err();
        EXPECT_EQ(state(), before) << c.content;
    }
    std::stringstream kept;
    kept << std::ifstream(target).rdbuf();
    EXPECT_EQ(kept.str(), "kept");
    EXPECT_NE(access((dir + "/created").c_str(), F_OK), 0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace
