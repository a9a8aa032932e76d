// Reading the framework's record arrays: every text is read within its field, every
// offset computed in size_t with the multiplication checked.
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "lists/lists_internal.h"

namespace lumek::lists {

int32_t read_i32(const void *record, size_t offset) {
    int32_t v;
    memcpy(&v, static_cast<const unsigned char *>(record) + offset, sizeof v);
    return v;
}

namespace {

// A terminated copy of at most @field bytes; the framework's text need not end in NUL.
char *copy_bounded(const unsigned char *text, size_t field) {
    size_t len = strnlen(reinterpret_cast<const char *>(text), field);
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out) return nullptr;
    memcpy(out, text, len);
    out[len] = '\0';
    return out;
}

void free_all(std::vector<char *> &items) {
    for (char *p : items) free(p);
    items.clear();
}

}  // namespace

char **hand_out_texts(void *records, int n, size_t stride, size_t field, const Keep &keep, int *count) {
    FwPtr<void> owned(records);
    if (n < 0) {
        *count = 0;
        return nullptr;
    }
    size_t total = 0;
    if (__builtin_mul_overflow(static_cast<size_t>(n), stride, &total)) {
        *count = 0;
        return nullptr;
    }
    const auto *base = static_cast<const unsigned char *>(records);
    std::vector<char *> items;
    try {
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            const unsigned char *rec = base + i * stride;
            if (!keep(rec)) continue;
            // The slot first: a copy made before the vector could grow would be lost with it.
            items.push_back(nullptr);
            items.back() = copy_bounded(rec, field);
            if (!items.back()) throw std::bad_alloc();
        }
    } catch (...) {
        free_all(items);
        *count = 0;
        return nullptr;
    }
    *count = 0;
    if (items.empty()) return nullptr;
    size_t bytes = 0;
    char **out = nullptr;
    if (!__builtin_mul_overflow(items.size(), sizeof(char *), &bytes))
        out = static_cast<char **>(malloc(bytes));
    if (!out) {
        free_all(items);
        return nullptr;
    }
    memcpy(out, items.data(), bytes);
    *count = static_cast<int>(items.size());
    return out;
}

const char *file_name_of(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace lumek::lists
