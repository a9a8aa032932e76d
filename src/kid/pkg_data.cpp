// What the package manager knows: the files of one package (dpkg-query, run without a shell)
// and the installed packages (the dpkg status file).
#include <errno.h>
#include <stdio.h>

#include <algorithm>

#include "common/package_listing.h"
#include "kid/kid_internal.h"

namespace lumek::kid {

namespace {
constexpr size_t kMaxListedPath = 4095;
constexpr const char kPackagePrefix[] = "Package: ";
constexpr const char kStatusPrefix[] = "Status: ";
constexpr const char *const kInstalledStatuses[] = {"Status: install ok installed",
                                                    "Status: hold ok installed"};

bool starts_with(const std::string &s, const char *prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

enum class Read { Line, End, Failed };

// One whole line without its newline. A failed read (memory, I/O) is not the end of the file.
Read read_line(FILE *f, std::string &line) {
    char *buf = nullptr;
    size_t cap = 0;
    ssize_t n = getline(&buf, &cap, f);
    MallocPtr owned(buf);
    if (n < 0) return feof(f) && !ferror(f) ? Read::End : Read::Failed;
    line.assign(buf, static_cast<size_t>(n));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return Read::Line;
}
}  // namespace

std::optional<std::vector<std::string>> get_file_list_of_pkg(const char *pkg) {
    // A text that cannot be a package name never reaches the tool.
    if (!pkg || !is_valid_package_name(pkg)) return std::nullopt;
    KID_LOG("get_file_list_of_pkg", "command = %s",
            ("dpkg-query -L " + std::string(pkg) + " 2>/dev/null").c_str());
    std::optional<std::string> listing = dpkg_query_listing(pkg);
    if (!listing) return std::nullopt;
    const std::string &out = *listing;

    std::vector<std::string> files;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line.size() > kMaxListedPath) continue;
        const char *p = line.c_str();
        if (path_is_exist(p) < 0 || path_is_dir(p) != 0 || path_is_link(p) != 0) continue;
        files.push_back(std::move(line));
    }
    if (files.empty()) return std::nullopt;
    return files;
}

std::optional<std::vector<std::string>> installed_packages_in(FILE *f) {
    std::vector<std::string> names;
    std::string line, field;
    Read got;
    while ((got = read_line(f, line)) == Read::Line) {
        if (!starts_with(line, kPackagePrefix)) continue;
        std::string name = line.substr(strlen(kPackagePrefix));
        // Each stanza starts with no status: one that ends without a line must not inherit
        // the previous stanza's.
        field.clear();
        while ((got = read_line(f, field)) == Read::Line) {
            if (starts_with(field, kStatusPrefix) || field.empty()) break;
        }
        if (got == Read::Failed) return std::nullopt;
        for (const char *status : kInstalledStatuses) {
            if (starts_with(field, status)) {
                names.push_back(name);
                break;
            }
        }
    }
    if (got == Read::Failed) return std::nullopt;
    return names;
}

StatusFile read_installed_pkg_list(std::vector<std::string> &names) {
    names.clear();
    FilePtr f(fopen(kDpkgStatus, "re"));
    if (!f) return errno == ENOENT ? StatusFile::Missing : StatusFile::Unreadable;
    auto read = installed_packages_in(f.get());
    if (!read) return StatusFile::Unreadable;
    names = std::move(*read);
    return StatusFile::Read;
}

bool is_in_str_list(const std::vector<std::string> &list, const char *text) {
    return text && std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace lumek::kid
