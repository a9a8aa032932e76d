#include "core/error_record.h"

#include <string.h>

#include "core/framework.h"

namespace lumek {

FrameworkError read_framework_error() {
    FrameworkError out;
    const LumekErrorRecord *rec = lumek_get_error();
    if (!rec) return out;
    out.code = rec->code;
    out.object.assign(rec->object, strnlen(rec->object, sizeof rec->object));
    out.message.assign(rec->message, strnlen(rec->message, sizeof rec->message));
    return out;
}

}  // namespace lumek
