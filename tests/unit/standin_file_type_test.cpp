// File classification of the stand-in beyond ELF files (programs, libraries and modules built
// with gcc are classified in the library's dpkg-hook and labelling tests). Hostile header
// bytes are the fuzz target's job.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/framework.h"
#include "scratch.h"

namespace {

constexpr int kScript = 2, kOther = 4, kLink = 5;

class FileType : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = scratch_.path(); }

    std::string path(const char *name) const { return dir_ + "/" + name; }
    void write(const char *name, const std::string &bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    lumek_test::ScratchDir scratch_;
    std::string dir_;
};

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
