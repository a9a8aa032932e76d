// The last-error buffer and the framework log convention of the core and labelling families.
#pragma once

#include <stdint.h>

namespace lumek {

inline constexpr int kLogLevelError = 2;
inline constexpr unsigned kLastErrorSize = 4096;

// The calling thread's buffer (4096 bytes, always NUL-terminated).
char *last_error_buffer() noexcept;

// Bounded printf into the buffer (at most 4095 characters), then logs it with "%s".
void set_last_error(const char *fmt, ...) noexcept __attribute__((format(printf, 1, 2)));

// Writes strerror(EINVAL) into the buffer, logs it, returns -1007.
int32_t report_invalid_argument() noexcept;

}  // namespace lumek
