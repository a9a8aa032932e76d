// Shared by the rtdb subcommands: the two name tables and the drift check.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "commands.h"

namespace lumekctl {

inline constexpr const char *kTypeNames[] = {"program", "library", "script", "kmodule", "other", "link"};
inline constexpr const char *kLabelNames[] = {"verified", "original", "vordsw", "trusted",
                                              "unknown",  "parent",   "script"};

inline const char *type_name(int32_t t) {
    return t >= 0 && t < 6 ? kTypeNames[t] : "?";
}
inline const char *label_name(int32_t l) {
    return l >= 0 && l < 7 ? kLabelNames[l] : "?";
}
inline std::vector<std::string> type_names() {
    return {std::begin(kTypeNames), std::end(kTypeNames)};
}
inline std::vector<std::string> label_names() {
    return {std::begin(kLabelNames), std::end(kLabelNames)};
}

// lumekctl rtdb check.
void add_rtdb_check(CLI::App &rtdb, const Options &opts);

}  // namespace lumekctl
