// Decoding the daemon's replies. The daemon is another process (or any owner of its bus
// name), so every reply's type is checked before it is read; strings are borrowed from the
// reply and copied only into the entries that keep them.
#include <stdlib.h>
#include <string.h>

#include "common/raii.h"
#include "core/last_error.h"
#include "core/whlist_internal.h"

namespace lumek {

namespace {

// The message and code for a reply that is not of type @expected; 0 when it is.
int32_t check_reply(const char *method, GVariant *reply, const char *expected) noexcept {
    if (reply && g_variant_is_of_type(reply, G_VARIANT_TYPE(expected))) return 0;
    set_last_error(kMsgBadReply, method ? method : "", reply ? g_variant_get_type_string(reply) : "none",
                   expected);
    return LUMEK_WHLIST_ERR_UNKNOWN_REMOTE;
}

}  // namespace

bool dbus_text_ok(const char *text) noexcept {
    return text && g_utf8_validate(text, -1, nullptr);
}

int32_t decode_object_list(const char *method, GVariant *reply, WhlistObject **head) noexcept {
    if (int32_t rc = check_reply(method, reply, kReplyObjectList)) return rc;
    GVariantPtr array(g_variant_get_child_value(reply, 0));
    GVariantIter it;
    g_variant_iter_init(&it, array.get());
    const char *path, *hash, *type, *label, *protect;
    gint32 extra1, extra2;
    while (
        g_variant_iter_next(&it, "(&s&s&s&s&sii)", &path, &hash, &type, &label, &protect, &extra1, &extra2))
        if (create_object_list_entry(head, path, hash, type, label, protect, extra1, extra2) != 0)
            return LUMEK_WHLIST_ERR_NO_MEMORY;
    return 0;
}

int32_t decode_kmod_list(const char *method, GVariant *reply, KmodObject **head) noexcept {
    if (int32_t rc = check_reply(method, reply, kReplyKmodList)) return rc;
    GVariantPtr array(g_variant_get_child_value(reply, 0));
    GVariantIter it;
    g_variant_iter_init(&it, array.get());
    const char *name;
    gint32 value;
    while (g_variant_iter_next(&it, "(&si)", &name, &value))
        if (create_kmod_object_list_entry(head, name, value) != 0) return LUMEK_WHLIST_ERR_NO_MEMORY;
    return 0;
}

int32_t decode_object(const char *method, GVariant *reply, WhlistObject *entry) noexcept {
    if (int32_t rc = check_reply(method, reply, kReplyObject)) return rc;
    const char *path, *hash, *type, *label, *protect;
    gint32 extra1, extra2;
    g_variant_get(reply, "((&s&s&s&s&sii))", &path, &hash, &type, &label, &protect, &extra1, &extra2);
    entry->path = strdup(path);
    entry->hash = strdup(hash);
    entry->obj_type = parse_obj_type(type);
    entry->exectl_type = lumek_whlist_parse_exectl_type(label);
    entry->writable = strcmp(protect, kProtectReadonly) == 0 ? 0 : 1;
    entry->extra1 = extra1;
    entry->extra2 = extra2;
    return 0;
}

int32_t decode_int(const char *method, GVariant *reply, int32_t *out) noexcept {
    if (int32_t rc = check_reply(method, reply, kReplyInt)) return rc;
    gint32 v;
    g_variant_get(reply, "(i)", &v);
    *out = v;
    return 0;
}

int32_t decode_text(const char *method, GVariant *reply, char **out) noexcept {
    if (int32_t rc = check_reply(method, reply, kReplyText)) return rc;
    const char *text;
    g_variant_get(reply, "(&s)", &text);
    *out = strdup(text);
    return 0;
}

}  // namespace lumek
