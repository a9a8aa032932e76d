// Private to the whitelist object model and queries: the two vocabularies, the entry
// builders, and the reply decoders that turn a daemon reply into entries, numbers or texts.
#pragma once

#include <stdint.h>

#include <gio/gio.h>

#include "lumekwhlist.h"

namespace lumek {

// Label texts by number, and object type texts by number.
inline constexpr const char *kExectlLabelNames[] = {"verified", "original", "vordsw", "trusted",
                                                    "unknown",  "parent",   "script"};
inline constexpr const char *kObjTypeNames[] = {"program", "library", "script", "kmodule", "other", "link"};
inline constexpr const char kProtectReadonly[] = "readonly";

// Messages of this family.
inline constexpr const char kMsgEntryAlloc[] = "%s: the parameter is NULL\n";
inline constexpr const char kMsgBadReply[] = "%s: the daemon's reply has type %s, not %s\n";

// Reply types of the daemon's methods.
inline constexpr const char kReplyObjectList[] = "(a(sssssii))";
inline constexpr const char kReplyKmodList[] = "(a(si))";
inline constexpr const char kReplyObject[] = "((sssssii))";
inline constexpr const char kReplyInt[] = "(i)";
inline constexpr const char kReplyText[] = "(s)";

// Object-type number of a type text: the first four by name, everything else (NULL too) 4.
int32_t parse_obj_type(const char *text) noexcept;

// Prepends a KmodObject; 0, or -1 with the message written when it cannot be allocated.
int32_t create_kmod_object_list_entry(KmodObject **head, const char *name, int32_t value) noexcept;

// Reply decoders. Each checks the reply's type first; a reply of another type (or none)
// gives -1011 with a message naming @method, and no data.
// Prepends one entry per array element; -3 when an entry cannot be allocated.
int32_t decode_object_list(const char *method, GVariant *reply, WhlistObject **head) noexcept;
int32_t decode_kmod_list(const char *method, GVariant *reply, KmodObject **head) noexcept;
// Fills @entry's fields before next (path and hash malloc'd).
int32_t decode_object(const char *method, GVariant *reply, WhlistObject *entry) noexcept;
int32_t decode_int(const char *method, GVariant *reply, int32_t *out) noexcept;
// *@out: a malloc'd copy of the text, NULL when it cannot be copied.
int32_t decode_text(const char *method, GVariant *reply, char **out) noexcept;

// True when @text can travel as a D-Bus string (not NULL, valid UTF-8).
bool dbus_text_ok(const char *text) noexcept;

}  // namespace lumek
