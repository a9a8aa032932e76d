// Translation of the whitelist daemon's D-Bus error names into result codes.
#include <string.h>

#include <gio/gio.h>

#include "common/raii.h"
#include "core/framework.h"
#include "core/last_error.h"
#include "core/result_codes.h"
#include "lumekwhlist.h"

namespace lumek {

int32_t dbus_error_code_for_name(const char *name) noexcept {
    for (const auto &e : kDbusErrorNames)
        if (strcmp(e.name, name) == 0) return e.code;
    return kUnknownRemote;
}

}  // namespace lumek

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_handling_dbus_error(GError *error) {
    using namespace lumek;
    // A NULL error or a failure inside this process (no bus) carries no daemon verdict.
    if (!error || !g_dbus_error_is_remote_error(error)) return 0;

    GCharPtr name(g_dbus_error_get_remote_error(error));
    if (!name) return kUnknownRemote;

    // Strip the caller's own message: once stripped it no longer reads as a remote error,
    // so handing the same error in again maps nothing twice.
    g_dbus_error_strip_remote_error(error);
    const char *text = error->message;

    // The bus adds the "GDBus.Error:NAME: " prefix even to a bodiless error reply; what
    // remains empty is no message at all.
    if (text && *text) {
        lumek_log(kLogLevelError, 0, nullptr, "%s: %s\n", name.get(), text);
        char *buf = last_error_buffer();
        memset(buf, 0, kLastErrorSize);
        snprintf(buf, kLastErrorSize, "%s", text);
    }
    return dbus_error_code_for_name(name.get());
}
