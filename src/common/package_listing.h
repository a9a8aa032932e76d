// The package manager's file listing of one package, shared by the labelling and identity
// families. The name never reaches a shell: a text that cannot be a package name runs nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumek {

// Whether @name can be a package name (with an optional ":arch"): 1 to 254 bytes of
// [A-Za-z0-9.+:~-], not starting with "-" (it would be read as an option).
bool is_valid_package_name(std::string_view name) noexcept;

// What "dpkg-query -L NAME" prints (found through PATH, as the tool is named unqualified;
// its error output discarded). nullopt when the name is not valid or the tool could not run.
std::optional<std::string> dpkg_query_listing(const std::string &name);

}  // namespace lumek
