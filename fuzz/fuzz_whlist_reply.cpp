// The whitelist reply decoders on arbitrary serialized GVariants of any type.
// Input: a serialized "v" (type and value), as a hostile owner of the daemon's name could
// send it.
#include <stdint.h>
#include <stdlib.h>

#include <glib.h>

#include "core/whlist_internal.h"
#include "lumekwhlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;
    // GLib copies the bytes into an allocation aligned for any GVariant.
    GBytes *bytes = g_bytes_new(data, size);
    GVariant *outer = g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE_VARIANT, bytes, FALSE));
    g_bytes_unref(bytes);
    GVariant *reply = g_variant_get_variant(outer);

    WhlistObject *list = nullptr;
    int32_t rc = lumek::decode_object_list("m", reply, &list);
    if (rc != 0 && (rc != -1011 || list)) abort();
    lumek_whlist_objects_free(&list);

    KmodObject *mods = nullptr;
    rc = lumek::decode_kmod_list("m", reply, &mods);
    if (rc != 0 && (rc != -1011 || mods)) abort();
    lumek_kmod_whlist_objects_free(&mods);

    WhlistObject entry{};
    if (lumek::decode_object("m", reply, &entry) == 0) {
        free(entry.path);
        free(entry.hash);
    } else if (entry.path || entry.hash) {
        abort();
    }
    int32_t n = 0;
    lumek::decode_int("m", reply, &n);
    char *text = nullptr;
    lumek::decode_text("m", reply, &text);
    free(text);

    g_variant_unref(reply);
    g_variant_unref(outer);
    return 0;
}
