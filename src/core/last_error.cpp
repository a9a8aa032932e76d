#include "core/last_error.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "core/framework.h"
#include "lumekwhlist.h"

namespace lumek {

namespace {
// Per thread, so that two threads failing at once cannot tear each other's text.
thread_local char g_last_error[kLastErrorSize];
}  // namespace

char *last_error_buffer() noexcept {
    return g_last_error;
}

void set_last_error(const char *fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(g_last_error, sizeof g_last_error, fmt, ap);
    va_end(ap);
    lumek_log(kLogLevelError, 0, nullptr, "%s", g_last_error);
}

int32_t report_invalid_argument() noexcept {
    set_last_error("%s", strerror(EINVAL));
    return LUMEK_WHLIST_ERR_INVALID_ARG;
}

}  // namespace lumek

extern "C" LUMEKWHLIST_PUBLIC const char *lumek_whlist_last_err(void) {
    return lumek::last_error_buffer();
}
