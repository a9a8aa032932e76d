// The whitelist object model: label and object-type vocabularies, entry builders and the
// two list free functions.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "core/last_error.h"
#include "core/whlist_internal.h"
#include "lumekwhlist.h"

// Callers and the rtdb rely on these layouts.
static_assert(sizeof(WhlistObject) == 48, "WhlistObject is 48 bytes");
static_assert(offsetof(WhlistObject, path) == 0 && offsetof(WhlistObject, hash) == 8, "texts first");
static_assert(offsetof(WhlistObject, obj_type) == 16 && offsetof(WhlistObject, exectl_type) == 20 &&
                  offsetof(WhlistObject, writable) == 24 && offsetof(WhlistObject, extra1) == 28 &&
                  offsetof(WhlistObject, extra2) == 32,
              "integer fields in order");
static_assert(offsetof(WhlistObject, next) == 40, "next is the last field");
static_assert(sizeof(KmodObject) == 24 && offsetof(KmodObject, value) == 8 &&
                  offsetof(KmodObject, next) == 16,
              "KmodObject layout");
static_assert(sizeof(lumek::kExectlLabelNames) / sizeof(char *) == 7, "seven labels");
static_assert(sizeof(lumek::kObjTypeNames) / sizeof(char *) == 6, "six object types");

namespace lumek {

namespace {
char *copy_or_null(const char *text) noexcept {
    return text ? strdup(text) : nullptr;
}
}  // namespace

int32_t parse_obj_type(const char *text) noexcept {
    // Only the first four names are parsed: "link" (5) is never the answer.
    if (text)
        for (int32_t i = 0; i < LUMEK_OBJ_OTHER; ++i)
            if (strcmp(text, kObjTypeNames[i]) == 0) return i;
    return LUMEK_OBJ_OTHER;
}

int32_t create_kmod_object_list_entry(KmodObject **head, const char *name, int32_t value) noexcept {
    auto *e = static_cast<KmodObject *>(calloc(1, sizeof(KmodObject)));
    if (!e) {
        set_last_error(kMsgEntryAlloc, "create_kmod_object_list_entry");
        return -1;
    }
    e->name = copy_or_null(name);
    e->value = value;
    e->next = *head;
    *head = e;
    return 0;
}

}  // namespace lumek

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_parse_exectl_type(const char *text) {
    if (!text) return LUMEK_EXECTL_UNKNOWN;
    for (int32_t i = 0; i < 7; ++i)
        if (strcmp(text, lumek::kExectlLabelNames[i]) == 0) return i;
    return LUMEK_EXECTL_UNKNOWN;
}

extern "C" LUMEKWHLIST_PUBLIC int32_t create_object_list_entry(WhlistObject **head, const char *path,
                                                               const char *hash, const char *obj_type_text,
                                                               const char *exectl_text,
                                                               const char *protect_text, int32_t extra1,
                                                               int32_t extra2) {
    using namespace lumek;
    if (!head) return -1;
    auto *e = static_cast<WhlistObject *>(calloc(1, sizeof(WhlistObject)));
    if (!e) {
        set_last_error(kMsgEntryAlloc, "create_object_list_entry");
        return -1;
    }
    e->path = copy_or_null(path);
    e->hash = copy_or_null(hash);
    e->obj_type = parse_obj_type(obj_type_text);
    e->exectl_type = lumek_whlist_parse_exectl_type(exectl_text);
    e->writable = protect_text && strcmp(protect_text, kProtectReadonly) == 0 ? 0 : 1;
    e->extra1 = extra1;
    e->extra2 = extra2;
    e->next = *head;
    *head = e;
    return 0;
}

extern "C" LUMEKWHLIST_PUBLIC void lumek_whlist_objects_free(WhlistObject **head) {
    if (!head) return;
    while (WhlistObject *e = *head) {
        *head = e->next;
        free(e->path);
        free(e->hash);
        free(e);
    }
}

extern "C" LUMEKWHLIST_PUBLIC void lumek_kmod_whlist_objects_free(KmodObject **head) {
    if (!head) return;
    while (KmodObject *e = *head) {
        *head = e->next;
        free(e->name);
        free(e);
    }
}
