// Error-name mapping and remote-message stripping on arbitrary error texts.
// Input: NAME '\0' MESSAGE, or a raw GError message when there is no NUL.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gio/gio.h>

#include "core/last_error.h"
#include "core/result_codes.h"
#include "lumekwhlist.h"

namespace {

constexpr char kSentinel[] = "\x01untouched";
constexpr char kRemotePrefix[] = "GDBus.Error:";

// The code the table gives a name: exact match or -1011, written out independently of the
// library's lookup.
int32_t table_code(const char *name) {
    for (const auto &e : lumek::kDbusErrorNames)
        if (strcmp(e.name, name) == 0) return e.code;
    return -1011;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 16384) return 0;
    std::string in(reinterpret_cast<const char *>(data), size);
    GError *err;
    size_t nul = in.find('\0');
    if (nul != std::string::npos) {
        std::string name = in.substr(0, nul);
        std::string msg = in.substr(nul + 1);
        err = g_dbus_error_new_for_dbus_error(name.c_str(), msg.c_str());
    } else {
        // Hand-made texts reach the prefix parser directly: "GDBus.Error:" with odd colons.
        err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_DBUS_ERROR, in.c_str());
    }
    const std::string before = err->message;
    const bool remote = g_dbus_error_is_remote_error(err);
    gchar *name = remote ? g_dbus_error_get_remote_error(err) : nullptr;
    snprintf(lumek::last_error_buffer(), lumek::kLastErrorSize, "%s", kSentinel);

    int32_t code = lumek_whlist_handling_dbus_error(err);

    const char *buf = lumek_whlist_last_err();
    if (!remote) {
        if (code != 0 || strcmp(buf, kSentinel) != 0 || before != err->message) abort();
    } else if (!name) {
        if (code != -1011) abort();
    } else {
        if (code != table_code(name)) abort();
        // The caller's message lost exactly "GDBus.Error:NAME: ", and the buffer holds what is left.
        std::string stripped = before.substr(strlen(kRemotePrefix) + strlen(name) + 2);
        if (stripped != err->message) abort();
        std::string want = stripped.empty() ? kSentinel : stripped.substr(0, lumek::kLastErrorSize - 1);
        if (want != buf) abort();
    }
    g_free(name);
    g_error_free(err);
    return 0;
}
