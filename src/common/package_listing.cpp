#include "common/package_listing.h"

#include <string.h>

#include "common/spawn.h"

namespace lumek {

namespace {
constexpr size_t kMaxPackageName = 254;
constexpr char kDpkgQuery[] = "dpkg-query";
}  // namespace

bool is_valid_package_name(std::string_view name) noexcept {
    if (name.empty() || name.size() > kMaxPackageName || name[0] == '-') return false;
    for (unsigned char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c != '\0' && strchr(".+:~-", c) != nullptr);
        if (!ok) return false;
    }
    return true;
}

std::optional<std::string> dpkg_query_listing(const std::string &name) {
    if (!is_valid_package_name(name)) return std::nullopt;
    SpawnOptions so;
    so.search_path = true;
    so.stderr_to_null = true;
    so.capture_stdout = true;
    SpawnResult r = run_command({kDpkgQuery, "-L", name}, so);
    if (!r.ran) return std::nullopt;
    return std::move(r.out);
}

}  // namespace lumek
