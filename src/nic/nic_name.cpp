#include "nic/nic_internal.h"

namespace lumek::nic {

namespace {

// Interface names hold at most IFNAMSIZ - 1 bytes.
constexpr size_t kMaxNameLen = 15;

// The kernel's own notion of white space, which also counts the Latin-1 no-break space.
bool is_kernel_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xa0;
}

}  // namespace

bool interface_name_is_valid(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLen) return false;
    if (name == "." || name == "..") return false;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c == ':' || c == '\0' || is_kernel_space(c)) return false;
    }
    return true;
}

}  // namespace lumek::nic
