// Result codes of the core family and the daemon's error names that map onto them.
#pragma once

#include <stdint.h>

#include "lumekwhlist.h"

namespace lumek {

struct DbusErrorName {
    const char *name;
    int32_t code;
};

// Compared exactly and in this order; a remote name not listed here maps to kUnknownRemote.
inline constexpr DbusErrorName kDbusErrorNames[] = {
    {"VORDA.LUMEK.OK", LUMEK_WHLIST_OK},
    {"VORDA.LUMEK.AUTH.FAILED", LUMEK_WHLIST_ERR_AUTH_FAILED},
    {"VORDA.LUMEK.CANCEL.AUTH", LUMEK_WHLIST_ERR_CANCEL_AUTH},
    {"VORDA.LUMEK.DISABLED", LUMEK_WHLIST_ERR_DISABLED},
    {"VORDA.LUMEK.DATABASE.ERR", LUMEK_WHLIST_ERR_DATABASE},
    {"VORDA.LUMEK.LABEL.GET.ERR", LUMEK_WHLIST_ERR_LABEL_GET},
    {"VORDA.LUMEK.LABEL.SET.ERR", LUMEK_WHLIST_ERR_LABEL_SET},
    {"VORDA.LUMEK.INVALID.ARG", LUMEK_WHLIST_ERR_INVALID_ARG},
    {"VORDA.LUMEK.EXTRACT.LIST.ERR", LUMEK_WHLIST_ERR_EXTRACT_LIST},
    {"VORDA.LUMEK.FILE.ATTR.ERR", LUMEK_WHLIST_ERR_FILE_ATTR},
};

inline constexpr int32_t kUnknownRemote = LUMEK_WHLIST_ERR_UNKNOWN_REMOTE;

// Code of a remote error name (never NULL): exact, case-sensitive match, else -1011.
int32_t dbus_error_code_for_name(const char *name) noexcept;

}  // namespace lumek
