// Placeholder log of the stand-in until its state store lands.
#include <stdarg.h>
#include <stdio.h>

#include "core/framework.h"

extern "C" int lumek_log(int level, int flag, const char *func, const char *fmt, ...) {
    (void)level;
    (void)flag;
    (void)func;
    va_list ap;
    va_start(ap, fmt);
    va_end(ap);
    (void)fmt;
    return 0;
}
