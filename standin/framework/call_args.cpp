// Arguments as text for the call log: texts quoted with C escapes so that any byte
// survives, NULL spelled out.
#include <stdio.h>
#include <string.h>

#include "standin_internal.h"

namespace standin {

std::string quote_bounded(const char *text, size_t max) {
    if (!text) return "NULL";
    std::string out = "\"";
    size_t n = strnlen(text, max);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string quote(const char *text) {
    return quote_bounded(text, static_cast<size_t>(-1));
}

std::string args(std::initializer_list<std::string> parts) {
    std::string out;
    for (const auto &p : parts) {
        if (!out.empty()) out += ", ";
        out += p;
    }
    return out;
}

}  // namespace standin
