// File classification of the stand-in on real files built with gcc. Hostile header bytes
// are the fuzz target's job.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/spawn.h"
#include "core/framework.h"
#include "scratch.h"

namespace {

constexpr int kProgram = 0, kLibrary = 1, kScript = 2, kKmodule = 3, kOther = 4, kLink = 5;

class FileType : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = scratch_.path(); }

    std::string path(const char *name) const { return dir_ + "/" + name; }
    void write(const char *name, const std::string &bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    // Compiles a tiny C source with the given gcc flags into @out.
    void cc(const std::vector<std::string> &flags, const std::string &out) const {
        std::string src = path("src.c");
        write("src.c",
              "int answer(void){return 42;}\n#ifdef WITH_MAIN\nint main(void){return answer();}\n#endif\n");
        std::vector<std::string> argv{"/usr/bin/gcc"};
        argv.insert(argv.end(), flags.begin(), flags.end());
        argv.insert(argv.end(), {src, "-o", out});
        auto r = lumek::run_command(argv);
        ASSERT_TRUE(r.exited_with(0)) << "gcc failed";
    }

    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

TEST_F(FileType, FromTheElfHeaderOfRealBinaries) {
    const struct {
        std::vector<std::string> flags;
        const char *name;
        int type;
    } cases[] = {
        {{"-DWITH_MAIN", "-no-pie"}, "static-addr", kProgram},  // ET_EXEC
        {{"-DWITH_MAIN", "-pie", "-fPIE"}, "pie", kProgram},    // ET_DYN + PT_INTERP
        {{"-shared", "-fPIC"}, "libx.so", kLibrary},            // ET_DYN, no interpreter
        {{"-c"}, "mod.ko", kKmodule},                           // ET_REL named .ko
        {{"-c"}, "plain.o", kOther},
    };
    for (const auto &c : cases) {
        cc(c.flags, path(c.name));
        EXPECT_EQ(parse_file_type(path(c.name).c_str()), c.type) << c.name;
    }
}

TEST_F(FileType, ScriptsLinksOtherAndUnclassifiable) {
    write("run.sh", "#!/bin/sh\necho hi\n");
    write("notes.txt", "plain text\n");
    write("empty", "");
    write("fake.so",
          "\x7f"
          "ELF");  // magic only: a truncated header
    ASSERT_EQ(symlink("run.sh", path("link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", path("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        int type;  // -1: any failure
    } cases[] = {
        {path("run.sh"), kScript},
        {path("notes.txt"), kOther},
        {path("empty"), kOther},
        {path("fake.so"), kOther},
        {path("link"), kLink},
        {path("dangling"), kLink},  // never followed
        {path("fifo"), -1},         // and it must not block
        {dir_, -1},
        {path("missing"), -1},
    };
    for (const auto &c : cases) {
        int type = parse_file_type(c.path.c_str());
        EXPECT_EQ(type < 0 ? -1 : type, c.type) << c.path;
    }
    EXPECT_LT(parse_file_type(nullptr), 0);
}

TEST(FileTypeNames, MapToNumbersAndNothingElse) {
    const char *names[] = {"program", "library", "script", "kmodule", "other", "link"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(trans_type_str_2_type(names[i]), i) << names[i];
    for (const char *bad : {"Program", "programs", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(trans_type_str_2_type(bad), -1) << (bad ? bad : "NULL");
}

}  // namespace
