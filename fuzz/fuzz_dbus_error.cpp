// Error-name mapping and remote-message stripping on arbitrary error texts.
// Input: NAME '\0' MESSAGE, or a raw GError message when there is no NUL.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gio/gio.h>

#include "core/last_error.h"
#include "lumekwhlist.h"

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
    int32_t code = lumek_whlist_handling_dbus_error(err);
    g_error_free(err);
    if (!(code == 0 || (code <= -1001 && code >= -1009) || code == -1011)) abort();
    const char *buf = lumek_whlist_last_err();
    if (memchr(buf, '\0', lumek::kLastErrorSize) == nullptr) abort();
    return 0;
}
