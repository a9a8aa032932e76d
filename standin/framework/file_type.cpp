// File types from the file itself: ELF headers (program, library, kernel module),
// "#!" scripts, symbolic links, other regular files.
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "standin_internal.h"

namespace {

constexpr int kProgram = 0, kLibrary = 1, kScript = 2, kKmodule = 3, kOther = 4, kLink = 5;

const char *const kTypeNames[] = {"program", "library", "script", "kmodule", "other", "link"};

struct Reader {
    const standin::ReadAt &read_at;
    bool big_endian;

    bool get(uint64_t off, void *buf, size_t len) const { return read_at(off, buf, len) == len; }
    uint16_t u16(const unsigned char *p) const {
        return big_endian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t u32(const unsigned char *p) const {
        return big_endian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                          : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
    uint64_t u64(const unsigned char *p) const {
        uint64_t lo = u32(big_endian ? p + 4 : p), hi = u32(big_endian ? p : p + 4);
        return hi << 32 | lo;
    }
};

bool ends_with_ko(const char *name) {
    if (!name) return false;
    const char *base = strrchr(name, '/');
    base = base ? base + 1 : name;
    size_t n = strlen(base);
    return n > 3 && strcmp(base + n - 3, ".ko") == 0;
}

// Whether any program header is PT_INTERP. Entries that cannot be read end the scan.
bool has_interpreter(const Reader &r, bool is64, uint64_t phoff, uint16_t phentsize, uint16_t phnum) {
    size_t min_size = is64 ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
    if (phoff == 0 || phentsize < min_size) return false;
    unsigned char ent[sizeof(Elf64_Phdr)];
    for (uint32_t i = 0; i < phnum; ++i) {
        uint64_t off = phoff + uint64_t(i) * phentsize;
        if (off < phoff) return false;  // wrapped
        if (!r.get(off, ent, 4)) return false;
        if (r.u32(ent) == PT_INTERP) return true;
    }
    return false;
}

}  // namespace

namespace standin {

int classify_contents(const ReadAt &read_at, const char *name) {
    unsigned char h[sizeof(Elf64_Ehdr)] = {};
    size_t got = read_at(0, h, sizeof h);
    if (got >= 2 && h[0] == '#' && h[1] == '!') return kScript;
    if (got < EI_NIDENT || memcmp(h, ELFMAG, SELFMAG) != 0) return kOther;
    bool is64 = h[EI_CLASS] == ELFCLASS64;
    if ((!is64 && h[EI_CLASS] != ELFCLASS32) || (h[EI_DATA] != ELFDATA2LSB && h[EI_DATA] != ELFDATA2MSB))
        return kOther;
    if (got < (is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr))) return kOther;  // truncated
    Reader r{read_at, h[EI_DATA] == ELFDATA2MSB};
    uint16_t type = r.u16(h + offsetof(Elf64_Ehdr, e_type));
    switch (type) {
        case ET_EXEC:
            return kProgram;
        case ET_REL:
            return ends_with_ko(name) ? kKmodule : kOther;
        case ET_DYN:
            break;
        default:
            return kOther;
    }
    uint64_t phoff;
    uint16_t phentsize, phnum;
    if (is64) {
        phoff = r.u64(h + offsetof(Elf64_Ehdr, e_phoff));
        phentsize = r.u16(h + offsetof(Elf64_Ehdr, e_phentsize));
        phnum = r.u16(h + offsetof(Elf64_Ehdr, e_phnum));
    } else {
        phoff = r.u32(h + offsetof(Elf32_Ehdr, e_phoff));
        phentsize = r.u16(h + offsetof(Elf32_Ehdr, e_phentsize));
        phnum = r.u16(h + offsetof(Elf32_Ehdr, e_phnum));
    }
    return has_interpreter(r, is64, phoff, phentsize, phnum) ? kProgram : kLibrary;
}

int classify_path(const char *path) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    struct stat st;
    if (lstat(path, &st) != 0) return -1;
    if (S_ISLNK(st.st_mode)) return kLink;
    if (!S_ISREG(st.st_mode)) return -1;
    // Non-blocking and re-checked on the descriptor: the path may have been swapped
    // for a FIFO since the lstat.
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat fst;
    if (fstat(fd, &fst) != 0 || !S_ISREG(fst.st_mode)) {
        close(fd);
        return -1;
    }
    standin::ReadAt read_at = [fd](uint64_t off, void *buf, size_t len) -> size_t {
        size_t done = 0;
        while (done < len) {
            ssize_t n =
                pread(fd, static_cast<char *>(buf) + done, len - done, static_cast<off_t>(off + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    };
    int type = classify_contents(read_at, path);
    close(fd);
    return type;
}

}  // namespace standin

extern "C" {

int parse_file_type(const char *path) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("parse_file_type", standin::quote(path)))
            return standin::fault_result(*f);
        return standin::classify_path(path);
    });
}

int trans_type_str_2_type(const char *name) {
    return standin::guarded(-1, [&]() -> int {
        if (auto f = standin::enter("trans_type_str_2_type", standin::quote(name)))
            return standin::fault_result(*f);
        if (!name) return -1;
        for (int i = 0; i < 6; ++i)
            if (strcmp(name, kTypeNames[i]) == 0) return i;
        return -1;
    });
}

}  // extern "C"
