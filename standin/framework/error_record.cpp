// The framework's per-thread error record, filled by failing setters and by faults.
#include <errno.h>
#include <string.h>

#include "standin_internal.h"

namespace standin {

LumekErrorRecord *error_record() {
    static thread_local LumekErrorRecord record;
    return &record;
}

void set_error(int32_t code, const char *object, const char *message) {
    LumekErrorRecord *r = error_record();
    memset(r, 0, sizeof *r);
    r->code = code;
    if (object) strncpy(r->object, object, sizeof r->object - 1);
    if (message) strncpy(r->message, message, sizeof r->message - 1);
}

void apply_fault(const Fault &f) {
    if (f.set_error) {
        LumekErrorRecord *r = error_record();
        memset(r, 0, sizeof *r);
        r->code = f.code;
        // The object is copied raw: a test may leave no NUL in its 256 bytes.
        memcpy(r->object, f.object, sizeof r->object);
        strncpy(r->message, f.message.c_str(), sizeof r->message - 1);
    }
    if (f.err) errno = f.err;
}

}  // namespace standin

extern "C" LumekErrorRecord *lumek_get_error(void) {
    if (auto f = standin::enter("lumek_get_error", "")) {
        standin::apply_fault(*f);
        return nullptr;
    }
    return standin::error_record();
}
