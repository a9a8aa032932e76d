// DT_NEEDED from the file: ELF header -> program headers -> PT_DYNAMIC -> DT_STRTAB (an
// address, translated through the PT_LOAD segments) bounded by DT_STRSZ. objdump prints the
// dynamic section it finds through the section headers instead, so the reader insists that
// both views agree and refuses anything where they might not. Every read is bounded by the
// file; nothing is mapped, so a file shrinking underneath cannot fault us.
#include "label/elf_needed.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/raii.h"

namespace lumek::label {

namespace {

using Names = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kPtLoad = 1, kPtDynamic = 2;
constexpr uint32_t kShtStrtab = 3, kShtDynamic = 6, kShtNobits = 8;
constexpr uint32_t kShtVerdef = 0x6ffffffd, kShtVerneed = 0x6ffffffe;
constexpr uint64_t kDtNull = 0, kDtNeeded = 1, kDtStrtab = 5, kDtStrsz = 10;
// Tags whose value objdump prints as a string of the dynamic string table.
constexpr uint64_t kStringTags[] = {1,          14,         15,         29,         0x6ffffefa,
                                    0x6ffffefb, 0x6ffffefc, 0x7ffffffd, 0x7ffffffe, 0x7fffffff};
constexpr uint16_t kEm386 = 3, kEmIamcu = 6, kEmX8664 = 62;
// Larger tables than this are not worth reading here; objdump answers for them.
constexpr uint64_t kMaxTable = 64u << 20;

struct Segment {
    uint32_t type;
    uint64_t offset, vaddr, filesz;
};

struct Section {
    uint32_t name, type, link;
    uint64_t offset, size;
};

class Reader {
  public:
    explicit Reader(const ElfInput &in) : in_(in) {}

    std::optional<Names> needed();

  private:
    uint64_t num(const unsigned char *p, int n) const {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(p[big_ ? n - 1 - i : i]) << (8 * i);
        return v;
    }
    // A word of the file's class: 4 or 8 bytes.
    uint64_t word(const unsigned char *p) const { return num(p, wide_ ? 8 : 4); }
    bool fetch(uint64_t off, uint64_t len, Bytes &out) const {
        if (len > kMaxTable || off > in_.size() || len > in_.size() - off) return false;
        out.resize(len);
        return len == 0 || in_.read(off, len, out.data());
    }
    bool inside(uint64_t off, uint64_t len) const { return off <= in_.size() && len <= in_.size() - off; }
    bool header();
    bool sections();
    bool segments();

    const ElfInput &in_;
    bool wide_ = false, big_ = false;
    uint64_t phoff_ = 0, shoff_ = 0;
    unsigned phnum_ = 0, shnum_ = 0, shstrndx_ = 0;
    std::vector<Section> secs_;
    std::vector<Segment> segs_;
    Bytes shstr_;
};

bool Reader::header() {
    unsigned char e[64];
    if (!in_.read(0, 16, e) || memcmp(e, "\177ELF", 4) != 0) return false;
    if ((e[4] != 1 && e[4] != 2) || (e[5] != 1 && e[5] != 2) || e[6] != 1) return false;
    wide_ = e[4] == 2;
    big_ = e[5] == 2;
    const size_t ehsize = wide_ ? 64 : 52;
    if (!in_.read(0, ehsize, e)) return false;
    uint64_t type = num(e + 16, 2), machine = num(e + 18, 2);
    // Core files and x86 files of the wrong shape are not objects objdump recognises.
    if (type < 1 || type > 3 || machine == 0) return false;
    if ((machine == kEm386 || machine == kEmIamcu || machine == kEmX8664) && big_) return false;
    if ((machine == kEm386 || machine == kEmIamcu) && wide_) return false;
    const unsigned char *p = e + (wide_ ? 32 : 28);
    phoff_ = word(p);
    shoff_ = word(p + (wide_ ? 8 : 4));
    p += wide_ ? 20 : 12;  // e_ehsize
    phnum_ = num(p + 4, 2);
    shnum_ = num(p + 8, 2);
    shstrndx_ = num(p + 10, 2);
    return num(p, 2) == ehsize && (phnum_ == 0 || num(p + 2, 2) == (wide_ ? 56u : 32u)) &&
           num(p + 6, 2) == (wide_ ? 64u : 40u) && phnum_ != 0xffff && shnum_ != 0 && shstrndx_ < shnum_;
}

bool Reader::sections() {
    const uint64_t ent = wide_ ? 64 : 40;
    Bytes raw;
    if (!fetch(shoff_, shnum_ * ent, raw)) return false;
    for (unsigned i = 0; i < shnum_; ++i) {
        const unsigned char *s = raw.data() + i * ent;
        Section sec{uint32_t(num(s, 4)), uint32_t(num(s + 4, 4)), uint32_t(num(s + (wide_ ? 40 : 24), 4)),
                    word(s + (wide_ ? 24 : 16)), word(s + (wide_ ? 32 : 20))};
        // A section with contents beyond the end makes objdump give up on the file.
        if (sec.type != kShtNobits && !inside(sec.offset, sec.size)) return false;
        secs_.push_back(sec);
    }
    return fetch(secs_[shstrndx_].offset, secs_[shstrndx_].size, shstr_);
}

bool Reader::segments() {
    const uint64_t ent = wide_ ? 56 : 32;
    Bytes raw;
    if (!fetch(phoff_, phnum_ * ent, raw)) return false;
    for (unsigned i = 0; i < phnum_; ++i) {
        const unsigned char *s = raw.data() + i * ent;
        Segment seg{uint32_t(num(s, 4)), word(s + (wide_ ? 8 : 4)), word(s + (wide_ ? 16 : 8)),
                    word(s + (wide_ ? 32 : 16))};
        if ((seg.type == kPtLoad || seg.type == kPtDynamic) && !inside(seg.offset, seg.filesz)) return false;
        segs_.push_back(seg);
    }
    return true;
}

std::optional<Names> Reader::needed() {
    if (!header() || !sections() || !segments()) return std::nullopt;

    // objdump prints the section named ".dynamic"; it must be the one dynamic section and
    // hold exactly what the one PT_DYNAMIC segment holds.
    const Section *dyn = nullptr;
    int named = 0, typed = 0;
    for (const Section &s : secs_) {
        static const char kDynamic[] = ".dynamic";  // compared with its NUL
        bool is_dyn_name = s.name <= shstr_.size() && shstr_.size() - s.name >= sizeof kDynamic &&
                           memcmp(&shstr_[s.name], kDynamic, sizeof kDynamic) == 0;
        named += is_dyn_name;
        typed += s.type == kShtDynamic;
        if (is_dyn_name && s.type == kShtDynamic) dyn = &s;
    }
    const Segment *pdyn = nullptr;
    int pcount = 0;
    for (const Segment &g : segs_)
        if (g.type == kPtDynamic) pdyn = &g, ++pcount;
    // A file with no dynamic part at all has nothing for objdump to list.
    if (named == 0 && typed == 0 && pcount == 0) return Names{};
    if (named != 1 || typed != 1 || pcount != 1 || !dyn || dyn->offset != pdyn->offset ||
        dyn->size != pdyn->filesz || dyn->link >= secs_.size())
        return std::nullopt;

    const uint64_t ent = wide_ ? 16 : 8;
    Bytes raw;
    if (dyn->size % ent != 0 || !fetch(pdyn->offset, pdyn->filesz, raw)) return std::nullopt;
    std::optional<uint64_t> strtab, strsz;
    std::vector<uint64_t> needed, strings;
    for (size_t i = 0; i < raw.size(); i += ent) {
        uint64_t tag = word(&raw[i]), val = word(&raw[i + ent / 2]);
        if (tag == kDtNull) break;  // objdump stops here too
        std::optional<uint64_t> *slot = tag == kDtStrtab ? &strtab : tag == kDtStrsz ? &strsz : nullptr;
        if (slot) {
            if (*slot) return std::nullopt;
            *slot = val;
        }
        for (uint64_t t : kStringTags)
            if (tag == t) strings.push_back(val);
        if (tag == kDtNeeded) needed.push_back(val);
    }
    if (!strtab || !strsz) return std::nullopt;

    // The string table's address, through the segment that loads it.
    std::optional<uint64_t> stroff;
    for (const Segment &g : segs_)
        if (g.type == kPtLoad && *strtab >= g.vaddr && *strtab - g.vaddr <= g.filesz &&
            *strsz <= g.filesz - (*strtab - g.vaddr)) {
            stroff = g.offset + (*strtab - g.vaddr);
            break;
        }
    const Section &str = secs_[dyn->link];
    if (!stroff || str.type != kShtStrtab || str.offset != *stroff || str.size != *strsz) return std::nullopt;
    // Version sections print their names from their own linked table: it must be this one.
    for (const Section &s : secs_)
        if ((s.type == kShtVerdef || s.type == kShtVerneed) && s.link != dyn->link) return std::nullopt;

    Bytes table;
    if (!fetch(*stroff, *strsz, table)) return std::nullopt;
    // Only NEEDED lines may match grep's "NEEDED": no printed string may hold that word.
    static const char kWord[] = "NEEDED";
    if (memmem(table.data(), table.size(), kWord, sizeof kWord - 1)) return std::nullopt;
    for (uint64_t off : strings)
        if (off >= table.size()) return std::nullopt;

    Names names;
    for (uint64_t off : needed) {
        const unsigned char *s = &table[off], *end = table.data() + table.size();
        const unsigned char *nul = static_cast<const unsigned char *>(memchr(s, 0, end - s));
        if (!nul) return std::nullopt;
        for (const unsigned char *c = s; c < nul; ++c)
            if (*c < 0x20 || *c > 0x7e) return std::nullopt;
        // awk's second field of "  NEEDED               <name>": the name's first word.
        const unsigned char *b = s;
        while (b < nul && *b == ' ') ++b;
        const unsigned char *e = b;
        while (e < nul && *e != ' ') ++e;
        // The empty field ended the pipeline's reading loop; so it ends the list.
        if (b == e) break;
        names.emplace_back(reinterpret_cast<const char *>(b), e - b);
    }
    return names;
}

class MemoryInput : public ElfInput {
  public:
    MemoryInput(const void *data, size_t size)
        : data_(static_cast<const unsigned char *>(data)), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t off, size_t len, void *out) const override {
        if (off > size_ || len > size_ - off) return false;
        memcpy(out, data_ + off, len);
        return true;
    }

  private:
    const unsigned char *data_;
    size_t size_;
};

class FileInput : public ElfInput {
  public:
    FileInput(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t off, size_t len, void *out) const override {
        if (off > size_ || len > size_ - off) return false;
        auto *p = static_cast<char *>(out);
        while (len > 0) {
            ssize_t n = pread(fd_, p, len, static_cast<off_t>(off));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;  // shrunk underneath, or unreadable
            p += n, off += n, len -= n;
        }
        return true;
    }

  private:
    int fd_;
    uint64_t size_;
};

}  // namespace

std::optional<Names> elf_needed(const ElfInput &in) {
    try {
        return Reader(in).needed();
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

std::optional<Names> elf_needed(const void *data, size_t size) {
    return elf_needed(MemoryInput(data, size));
}

std::optional<Names> elf_needed_file(const char *path) {
    // objdump prints the path on its first line, where grep would find the word too.
    if (strstr(path, "NEEDED")) return std::nullopt;
    Fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return elf_needed(FileInput(fd.get(), static_cast<uint64_t>(st.st_size)));
}

}  // namespace lumek::label
