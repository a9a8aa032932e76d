// Reading the framework's error record safely.
#pragma once

#include <stdint.h>

#include <string>

namespace lumek {

struct FrameworkError {
    int32_t code = 0;
    std::string object;   // the object the failure concerns
    std::string message;  // the framework's reason
};

// Copies lumek_get_error()'s record. Each text is bounded by its field, since the framework
// may fill the object text's 256 bytes without a terminator; no record gives code 0 and empty
// texts.
FrameworkError read_framework_error();

}  // namespace lumek
