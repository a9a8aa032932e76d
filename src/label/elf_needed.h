// A program's direct dependencies without running a tool: DT_NEEDED read from the ELF file
// itself, and each name located the way the system's `whereis -b` finds it. Both answer
// "not handled" (nullopt) for anything they cannot vouch for; callers then run the tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace lumek::label {

// Bytes of one ELF file.
class ElfInput {
  public:
    virtual ~ElfInput() = default;
    virtual uint64_t size() const = 0;
    // Copies [off, off + len) into @out; false when any of it lies outside the file.
    virtual bool read(uint64_t off, size_t len, void *out) const = 0;
};

// The names needed_from_objdump gives for `objdump -p` of the file, in order (awk's second
// field of each NEEDED line, up to the first empty one). nullopt for a file objdump might
// print differently: broken or unusual layouts, sections that disagree with the program
// headers, names that are not printable ASCII, any string with "NEEDED" in it.
std::optional<std::vector<std::string>> elf_needed(const ElfInput &in);
std::optional<std::vector<std::string>> elf_needed(const void *data, size_t size);
// The same for a regular file named @path as objdump is given it (the path is printed too).
std::optional<std::vector<std::string>> elf_needed_file(const char *path);

// The names needed_from_objdump gives for `/usr/bin/objdump -p -- PATH`; nullopt when it
// could not be run.
std::optional<std::vector<std::string>> objdump_needed(const char *path);

// The first location `whereis -b NAME` prints for @name when it lies in whereis' built-in
// directories; nullopt when the name is odd or is not found there (whereis also searches
// PATH, which only it is asked about).
std::optional<std::string> whereis_first_binary(const std::string &name);

}  // namespace lumek::label
