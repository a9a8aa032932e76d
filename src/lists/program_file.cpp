// The program-file check of the netctl program list: libmagic's MIME type, then the
// name. A fresh cookie per call: the library keeps no state between calls.
#include <string.h>

#include <magic.h>

#include "lists/lists_internal.h"

namespace lumek::lists {

namespace {

constexpr const char kTag[] = "is_program_file";
constexpr const char kMsgMagicOpen[] = "magic_open failed";
constexpr const char kFmtMagicLoad[] = "magic_load failed: %s\n";
constexpr const char kFmtMagicFile[] = "magic_file failed: %s\n";

constexpr const char *const kProgramTypes[] = {"application/x-executable", "application/x-sharedlib",
                                               "application/x-pie-executable"};
// Shared objects and libtool archives by name, in this order.
constexpr const char kRefusedEnding[] = ".so";
constexpr const char kRefusedInside[] = ".so.";
constexpr const char kRefusedArchive[] = ".la";

using MagicPtr = std::unique_ptr<struct magic_set, FnDeleter<::magic_close>>;

bool ends_with(const char *text, const char *suffix) {
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && memcmp(text + n - m, suffix, m) == 0;
}

const char *error_of(magic_t cookie) {
    const char *e = magic_error(cookie);
    return e ? e : "";
}

bool has_program_type(const char *path) {
    MagicPtr cookie(magic_open(MAGIC_MIME_TYPE));
    if (!cookie) {
        lumek_log(kLogNetctl, 0, kTag, kMsgMagicOpen);
        return false;
    }
    // The default database; libmagic itself honours its MAGIC variable here.
    if (magic_load(cookie.get(), nullptr) == -1) {
        lumek_log(kLogNetctl, 0, kTag, kFmtMagicLoad, error_of(cookie.get()));
        return false;
    }
    const char *mime = magic_file(cookie.get(), path);
    if (!mime) {
        lumek_log(kLogNetctl, 0, kTag, kFmtMagicFile, error_of(cookie.get()));
        return false;
    }
    for (const char *t : kProgramTypes)
        if (strcmp(mime, t) == 0) return true;
    return false;
}

}  // namespace

bool is_program_file(const char *path) {
    if (!has_program_type(path)) return false;
    if (ends_with(path, kRefusedEnding)) return false;
    if (strstr(path, kRefusedInside)) return false;
    return !ends_with(path, kRefusedArchive);
}

}  // namespace lumek::lists
