// Reading the stand-in's state back as plain strings: framework calls in order, log lines,
// list entries and kernel commands. Header-only: only tests that link the stand-in use it.
#pragma once

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "standin_control.h"

namespace lumek_test {

// Takes a malloc'd text (the control calls' and the library's), "" for NULL.
inline std::string take_text(char *text) {
    std::string s = text ? text : "";
    free(text);
    return s;
}

// Takes a NULL-terminated array from the control calls.
inline std::vector<std::string> take_lines(char **lines) {
    std::vector<std::string> out;
    int n = 0;
    for (; lines && lines[n]; ++n) out.emplace_back(lines[n]);
    lumek_standin_free_lines(lines, n);
    return out;
}

// Framework calls as "func(args)" in order, the log's own calls left out; only @func's
// when given.
inline std::vector<std::string> framework_calls(const char *func = nullptr) {
    std::vector<std::string> out;
    for (auto &c : take_lines(lumek_standin_calls(func, nullptr)))
        if (c.rfind("lumek_log(", 0) != 0) out.push_back(c);
    return out;
}

// Log lines "level|func|text", with "\n" written as the two characters "\n".
inline std::vector<std::string> log_lines() {
    return take_lines(lumek_standin_log_lines(nullptr));
}

inline std::vector<std::string> list_entries(const char *list) {
    return take_lines(lumek_standin_list_entries(list, nullptr));
}

// Kernel commands as "LIST COMMAND DATA VALUE".
inline std::vector<std::string> kernel_commands(const char *list = nullptr) {
    return take_lines(lumek_standin_kernel_commands(list, nullptr));
}

// Takes a caller-owned array of @n malloc'd texts (no terminator) from the library. @n is
// a reference so that it is read after the call that fills it.
inline std::vector<std::string> take_texts(char **texts, const int &n) {
    std::vector<std::string> out;
    for (int i = 0; texts && i < n; ++i) {
        out.emplace_back(texts[i]);
        free(texts[i]);
    }
    free(texts);
    return out;
}

// Fails @times calls of @func with @ret, after letting @skip calls through.
inline int fault(const char *func, int ret, int times = 1, int skip = 0) {
    LumekStandinFault f{};
    f.times = times;
    f.ret = ret;
    if (lumek_standin_fault_set(func, &f) != 0) return -1;
    return skip ? lumek_standin_fault_skip(func, skip) : 0;
}

}  // namespace lumek_test
