// Whitelist queries: entry lists, module lists, counts, one entry by path and the hash of a
// path, each one daemon method call whose reply is checked and decoded.
#include <string.h>

#include "common/raii.h"
#include "core/framework.h"
#include "core/last_error.h"
#include "core/whlist_internal.h"
#include "lumekwhlist.h"

namespace lumek {

namespace {

// Texts the daemon takes as optional travel as "" when the caller has none.
const char *or_empty(const char *text) {
    return text ? text : "";
}

// Calls @method with @params (floating, consumed) and decodes the reply with @decode. Without
// a reply, the client's result (0 when the bus could not be reached).
template <typename Out, typename Decode>
int32_t query(const char *method, GVariant *params, Out *out, Decode decode) noexcept {
    int32_t rc = 0;
    GVariantPtr reply(lumek_whlist_process_dbus_method(method, params, &rc));
    if (!reply) return rc;
    return decode(method, reply.get(), out);
}

int32_t load_list(const char *method, int32_t selector, const char *filter, WhlistObject **head) noexcept {
    if (!head) return LUMEK_WHLIST_ERR_INVALID_ARG;
    *head = nullptr;
    filter = or_empty(filter);
    if (!dbus_text_ok(filter)) return report_invalid_argument();
    return query(method, g_variant_new("(is)", selector, filter), head, decode_object_list);
}

int32_t load_kmods(const char *method, const char *name, KmodObject **head) noexcept {
    if (!head) return LUMEK_WHLIST_ERR_INVALID_ARG;
    *head = nullptr;
    name = or_empty(name);
    if (!dbus_text_ok(name)) return report_invalid_argument();
    return query(method, g_variant_new("(s)", name), head, decode_kmod_list);
}

// The "/data/home" and "/data/root" trees may be the same files as "/home" and "/root";
// the daemon knows them by the short form.
void shorten_data_path(char *abs) noexcept {
    constexpr size_t kPrefix = 10, kData = 5;
    if ((strncmp(abs, "/data/home", kPrefix) == 0 || strncmp(abs, "/data/root", kPrefix) == 0) &&
        path_is_same(abs, abs + kData) == 1)
        memmove(abs, abs + kData, strlen(abs + kData) + 1);
}

}  // namespace

}  // namespace lumek

using namespace lumek;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load(int32_t selector, const char *filter,
                                                        WhlistObject **head) {
    return load_list("lumek_whlist_load", selector, filter, head);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_sm(int32_t selector, const char *filter,
                                                           WhlistObject **head) {
    return load_list("lumek_whlist_load_sm", selector, filter, head);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_all(WhlistObject **head) {
    if (!head) return LUMEK_WHLIST_ERR_INVALID_ARG;
    *head = nullptr;
    return query("lumek_whlist_load_all", nullptr, head, decode_object_list);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_by_obj_type(int32_t selector, const char *type,
                                                                    const char *filter, WhlistObject **head) {
    if (!head) return LUMEK_WHLIST_ERR_INVALID_ARG;
    *head = nullptr;
    filter = or_empty(filter);
    if (!dbus_text_ok(type) || !dbus_text_ok(filter)) return report_invalid_argument();
    return query("lumek_whlist_load_by_obj_type", g_variant_new("(iss)", selector, type, filter), head,
                 decode_object_list);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_get_count_by_obj_type(int32_t selector, const char *type,
                                                                         const char *filter) {
    filter = or_empty(filter);
    if (!dbus_text_ok(type) || !dbus_text_ok(filter)) {
        report_invalid_argument();
        return 0;
    }
    int32_t count = 0;
    if (query("lumek_whlist_get_count_by_obj_type", g_variant_new("(iss)", selector, type, filter), &count,
              decode_int) != 0)
        return 0;
    return count;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_load_by_path(const char *path, WhlistObject *entry) {
    if (!path || !entry) return report_invalid_argument();
    MallocPtr abs(get_absolute_path(path));
    if (!abs || !dbus_text_ok(abs.get())) return report_invalid_argument();
    return query("lumek_whlist_load_by_path", g_variant_new("(s)", abs.get()), entry, decode_object);
}

extern "C" LUMEKWHLIST_PUBLIC char *lumek_whlist_get_hash_by_path(const char *path) {
    if (!path) {
        report_invalid_argument();
        return nullptr;
    }
    MallocPtr abs(get_absolute_path(path));
    if (!abs) return nullptr;
    shorten_data_path(abs.get());
    if (!dbus_text_ok(abs.get())) {
        report_invalid_argument();
        return nullptr;
    }
    char *hash = nullptr;
    if (query("lumek_whlist_get_hash_by_path", g_variant_new("(s)", abs.get()), &hash, decode_text) != 0)
        return nullptr;
    return hash;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_kmod_whlist_load(const char *name, KmodObject **head) {
    return load_kmods("lumek_kmod_whlist_load", name, head);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_kmod_whlist_load_sm(const char *name, KmodObject **head) {
    return load_kmods("lumek_kmod_whlist_load_sm", name, head);
}
