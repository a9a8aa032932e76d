// File classification of the stand-in on real files built with gcc, and on hostile
// header bytes fed straight to the classifier.
#include <elf.h>
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
#include "standin_internal.h"
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

TEST_F(FileType, ProgramsFromTheirElfHeader) {
    cc({"-DWITH_MAIN", "-no-pie"}, path("static-addr"));
    cc({"-DWITH_MAIN", "-pie", "-fPIE"}, path("pie"));
    EXPECT_EQ(parse_file_type(path("static-addr").c_str()), kProgram);  // ET_EXEC
    EXPECT_EQ(parse_file_type(path("pie").c_str()), kProgram);          // ET_DYN + PT_INTERP
}

TEST_F(FileType, SharedLibraryHasNoInterpreter) {
    cc({"-shared", "-fPIC"}, path("libx.so"));
    EXPECT_EQ(parse_file_type(path("libx.so").c_str()), kLibrary);
}

TEST_F(FileType, RelocatableObjectIsAModuleOnlyWhenNamedKo) {
    cc({"-c"}, path("mod.ko"));
    cc({"-c"}, path("plain.o"));
    EXPECT_EQ(parse_file_type(path("mod.ko").c_str()), kKmodule);
    EXPECT_EQ(parse_file_type(path("plain.o").c_str()), kOther);
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

    EXPECT_EQ(parse_file_type(path("run.sh").c_str()), kScript);
    EXPECT_EQ(parse_file_type(path("notes.txt").c_str()), kOther);
    EXPECT_EQ(parse_file_type(path("empty").c_str()), kOther);
    EXPECT_EQ(parse_file_type(path("fake.so").c_str()), kOther);
    EXPECT_EQ(parse_file_type(path("link").c_str()), kLink);  // never followed
    EXPECT_EQ(parse_file_type(path("dangling").c_str()), kLink);
    EXPECT_LT(parse_file_type(path("fifo").c_str()), 0);  // and it must not block
    EXPECT_LT(parse_file_type(dir_.c_str()), 0);
    EXPECT_LT(parse_file_type(path("missing").c_str()), 0);
    EXPECT_LT(parse_file_type(nullptr), 0);
}

TEST_F(FileType, TypeNamesMapToNumbersAndNothingElse) {
    const char *names[] = {"program", "library", "script", "kmodule", "other", "link"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(trans_type_str_2_type(names[i]), i) << names[i];
    EXPECT_EQ(trans_type_str_2_type("Program"), -1);
    EXPECT_EQ(trans_type_str_2_type("programs"), -1);
    EXPECT_EQ(trans_type_str_2_type(""), -1);
    EXPECT_EQ(trans_type_str_2_type(nullptr), -1);
}

// ---- Header bytes fed directly ---------------------------------------------------------

int classify(const std::vector<unsigned char> &bytes, const char *name = "f") {
    standin::ReadAt read_at = [&](uint64_t off, void *buf, size_t len) -> size_t {
        if (off >= bytes.size()) return 0;
        size_t n = std::min<uint64_t>(len, bytes.size() - off);
        memcpy(buf, bytes.data() + off, n);
        return n;
    };
    return standin::classify_contents(read_at, name);
}

void put16(std::vector<unsigned char> &b, size_t off, uint16_t v, bool be) {
    b[off] = be ? v >> 8 : v & 0xff;
    b[off + 1] = be ? v & 0xff : v >> 8;
}
void put32(std::vector<unsigned char> &b, size_t off, uint32_t v, bool be) {
    for (int i = 0; i < 4; ++i) b[off + i] = be ? (v >> (24 - 8 * i)) & 0xff : (v >> (8 * i)) & 0xff;
}

// A 32-bit ELF of @type whose single program header has @ptype.
std::vector<unsigned char> elf32(bool be, uint16_t type, uint32_t ptype) {
    std::vector<unsigned char> b(sizeof(Elf32_Ehdr) + sizeof(Elf32_Phdr), 0);
    memcpy(b.data(), ELFMAG, SELFMAG);
    b[EI_CLASS] = ELFCLASS32;
    b[EI_DATA] = be ? ELFDATA2MSB : ELFDATA2LSB;
    b[EI_VERSION] = EV_CURRENT;
    put16(b, offsetof(Elf32_Ehdr, e_type), type, be);
    put32(b, offsetof(Elf32_Ehdr, e_phoff), sizeof(Elf32_Ehdr), be);
    put16(b, offsetof(Elf32_Ehdr, e_phentsize), sizeof(Elf32_Phdr), be);
    put16(b, offsetof(Elf32_Ehdr, e_phnum), 1, be);
    put32(b, sizeof(Elf32_Ehdr), ptype, be);
    return b;
}

TEST(FileTypeBytes, ThirtyTwoBitBothByteOrders) {
    for (bool be : {false, true}) {
        SCOPED_TRACE(be ? "big-endian" : "little-endian");
        EXPECT_EQ(classify(elf32(be, ET_DYN, PT_INTERP)), kProgram);
        EXPECT_EQ(classify(elf32(be, ET_DYN, PT_LOAD)), kLibrary);
        EXPECT_EQ(classify(elf32(be, ET_EXEC, PT_LOAD)), kProgram);
        EXPECT_EQ(classify(elf32(be, ET_REL, PT_NULL), "/lib/modules/x.ko"), kKmodule);
        EXPECT_EQ(classify(elf32(be, ET_CORE, PT_NULL)), kOther);
    }
}

TEST(FileTypeBytes, HostileHeadersAreReadSafely) {
    auto b = elf32(false, ET_DYN, PT_INTERP);
    auto truncated_header = std::vector<unsigned char>(b.begin(), b.begin() + 30);
    EXPECT_EQ(classify(truncated_header), kOther);

    auto no_phdrs = std::vector<unsigned char>(b.begin(), b.begin() + sizeof(Elf32_Ehdr));
    EXPECT_EQ(classify(no_phdrs), kLibrary);  // the header points past the end

    auto far = b;
    put32(far, offsetof(Elf32_Ehdr, e_phoff), 0xfffffff0u, false);
    put16(far, offsetof(Elf32_Ehdr, e_phnum), 0xffff, false);
    EXPECT_EQ(classify(far), kLibrary);

    auto tiny_entries = b;
    put16(tiny_entries, offsetof(Elf32_Ehdr, e_phentsize), 4, false);
    EXPECT_EQ(classify(tiny_entries), kLibrary);

    auto bad_class = b;
    bad_class[EI_CLASS] = 7;
    EXPECT_EQ(classify(bad_class), kOther);
    auto bad_order = b;
    bad_order[EI_DATA] = 9;
    EXPECT_EQ(classify(bad_order), kOther);
}

TEST(FileTypeBytes, SixtyFourBitOffsetsWrapSafely) {
    std::vector<unsigned char> b(sizeof(Elf64_Ehdr), 0);
    memcpy(b.data(), ELFMAG, SELFMAG);
    b[EI_CLASS] = ELFCLASS64;
    b[EI_DATA] = ELFDATA2LSB;
    put16(b, offsetof(Elf64_Ehdr, e_type), ET_DYN, false);
    for (int i = 0; i < 8; ++i) b[offsetof(Elf64_Ehdr, e_phoff) + i] = 0xff;  // ~0
    put16(b, offsetof(Elf64_Ehdr, e_phentsize), sizeof(Elf64_Phdr), false);
    put16(b, offsetof(Elf64_Ehdr, e_phnum), 3, false);
    EXPECT_EQ(classify(b), kLibrary);
}

}  // namespace
