// Labelling one file: the seven single-file functions and the three that pick the
// whitelist by file type.
#include <string.h>

#include "core/error_record.h"
#include "core/last_error.h"
#include "label/label_internal.h"

namespace lumek::label {

namespace {

// The framework's own code when it gave one of its band, else "file attribute error".
int32_t report_unreadable_label(const char *path, const ProbeFailure &why) {
    set_last_error(kMsgSetterFailed, path, strerror(why.err));
    bool framework_code = why.rc <= LUMEK_WHLIST_ERR_AUTH_FAILED && why.rc >= LUMEK_WHLIST_ERR_UNKNOWN_REMOTE;
    return framework_code ? why.rc : LUMEK_WHLIST_ERR_FILE_ATTR;
}

}  // namespace

int32_t label_one_file(DepScanner &scan, int kind, int op, const char *path, int sm) {
    if (!path) return report_invalid_argument();
    Decision d = scan.decider().decide(kind, op, path);
    if (!d.label) {
        set_last_error(kMsgInvalidAttr, path);
        return LUMEK_WHLIST_ERR_FILE_ATTR;
    }
    char text[kLabelSize] = {};
    strncpy(text, d.label->c_str(), sizeof text - 1);
    int rc;
    bool batch = false;
    if (!kind_is_exectl(kind)) {
        rc = sm ? lumek_protect_set_sm(path, text) : lumek_protect_set(path, text);
    } else if (kind == kKindKmod) {
        rc = lumek_exectl_set(path, text);
    } else if (op != kOpDelete && d.file_type == LUMEK_OBJ_PROGRAM) {  // the decision's own probe
        // A label that cannot be read is not "nothing to do": the program would stay as it is.
        ProbeFailure why;
        int state = probe_exectl_state(path, nullptr, &why);
        if (state == kStateUnreadable) return report_unreadable_label(path, why);
        rc = exectl_ldd_set(scan, path, text, state);
        batch = true;
    } else {
        rc = lumek_exectl_set(path, text);
    }
    // The batch setter counts what it applied.
    if (rc == 0 || (batch && rc > 0)) return LUMEK_WHLIST_OK;
    FrameworkError fe = read_framework_error();
    set_last_error(kMsgSetterFailed, path, fe.message.c_str());
    if (fe.code >= 0) return rc < 0 ? rc : LUMEK_WHLIST_ERR_LABEL_SET;
    return fe.code;
}

int32_t exectl_by_type(DepScanner &scan, int op, const char *path) {
    if (!path || path_is_exist(path) < 0) {
        report_invalid_argument();
        return -2;
    }
    int type = parse_file_type(path);
    if (type < 0 || type > 3) return -3;
    int32_t rc = label_one_file(scan, type == 3 ? kKindKmod : kKindExectl, op, path, 0);
    switch (rc) {
        case LUMEK_WHLIST_OK:
            return 0;
        case LUMEK_WHLIST_ERR_AUTH_FAILED:
        case LUMEK_WHLIST_ERR_CANCEL_AUTH:
            return 1;
        case LUMEK_WHLIST_ERR_INVALID_ARG:
            return -3;
        default:
            return -1;
    }
}

}  // namespace lumek::label

using namespace lumek::label;

namespace {

int32_t one(int kind, int op, const char *path, int sm) {
    return guarded<int32_t>(LUMEK_WHLIST_ERR_LABEL_SET, [&] {
        DepScanner scan;
        return label_one_file(scan, kind, op, path, sm);
    });
}

int32_t by_type(int op, const char *path) {
    return guarded<int32_t>(-1, [&] {
        DepScanner scan;
        return exectl_by_type(scan, op, path);
    });
}

}  // namespace

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add(int32_t kind, const char *path) {
    return one(kind, kOpAdd, path, 0);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_sm(int32_t kind, const char *path) {
    return one(kind, kOpAdd, path, 1);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_add_internal(int32_t kind, const char *path, int32_t sm) {
    return one(kind, kOpAdd, path, sm);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete(int32_t kind, const char *path) {
    return one(kind, kOpDelete, path, 0);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_sm(int32_t kind, const char *path) {
    return one(kind, kOpDelete, path, 1);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_delete_internal(int32_t kind, const char *path,
                                                                   int32_t sm) {
    return one(kind, kOpDelete, path, sm);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_update(int32_t kind, const char *path) {
    return one(kind, kOpUpdate, path, 0);
}

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_add(const char *path) {
    return by_type(kOpAdd, path);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_remove(const char *path) {
    return by_type(kOpDelete, path);
}
extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_whlist_exectl_update(const char *path) {
    return by_type(kOpUpdate, path);
}
