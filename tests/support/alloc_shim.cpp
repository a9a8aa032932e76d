#include "alloc_shim.h"

#include <dlfcn.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <new>

// glibc's own entry points lie underneath.
extern "C" void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {

std::atomic<long> g_count{0}, g_fail{-1};  // g_fail < 0: not armed
constexpr size_t kSlots = 1 << 12;
std::atomic<uintptr_t> g_kept[kSlots];  // the library's blocks since arm(); 0 once freed
std::atomic<size_t> g_used{0};

void forget(void *p) {
    for (size_t i = 0, n = std::min(g_used.load(), kSlots); p && i < n; ++i) {
        auto at = reinterpret_cast<uintptr_t>(p);
        if (g_kept[i].compare_exchange_strong(at, 0)) return;
    }
}

// @get's block; NULL instead when @caller lies in the library's code and this allocation is
// the one to fail. A block of the library is remembered when @keep.
template <typename Get>
void *allocate(const void *caller, Get get, bool keep = true) {
    Dl_info in;
    long fail_at = g_fail;
    if (fail_at < 0 || !dladdr(caller, &in) || !strstr(in.dli_fname, "/liblumekwhlist.so")) return get();
    if (++g_count == fail_at) return nullptr;
    void *p = get();
    size_t slot = keep && p ? g_used++ : kSlots;
    if (slot < kSlots) g_kept[slot] = reinterpret_cast<uintptr_t>(p);
    return p;
}

char *copy(const void *caller, const char *s, size_t len) {
    auto *q = static_cast<char *>(allocate(caller, [&] { return __libc_malloc(len + 1); }));
    if (q) *static_cast<char *>(mempcpy(q, s, len)) = '\0';
    return q;
}

}  // namespace

void lumek_test::alloc::arm(long fail_at) {
    for (auto &s : g_kept) s = 0;
    g_used = 0;
    g_count = 0;
    g_fail = fail_at;
}

lumek_test::alloc::Tally lumek_test::alloc::disarm() {
    g_fail = -1;
    return {g_count, std::count_if(g_kept, g_kept + kSlots, [](auto &s) { return s != 0; })};
}

#define CALLER __builtin_return_address(0)
extern "C" {
void *malloc(size_t n) {
    return allocate(CALLER, [&] { return __libc_malloc(n); });
}
void *calloc(size_t k, size_t n) {
    return allocate(CALLER, [&] { return __libc_calloc(k, n); });
}
void *realloc(void *p, size_t n) {
    void *q = allocate(CALLER, [&] { return __libc_realloc(p, n); });
    if (q || n == 0) forget(p);
    return q;
}
void free(void *p) {
    forget(p);
    __libc_free(p);
}
char *strndup(const char *s, size_t max) {
    return copy(CALLER, s, strnlen(s, max));
}
char *strdup(const char *s) {
    return copy(CALLER, s, strlen(s));
}
}

// operator new over the same allocator (libstdc++'s delete frees with free); its blocks are
// not remembered: the library's C++ objects are released by their owners.
#define NEW(signature, on_failure)                                    \
    void *signature {                                                 \
        void *p = allocate(                                           \
            CALLER, [&] { return __libc_malloc(n ? n : 1); }, false); \
        return p ? p : on_failure;                                    \
    }
NEW(operator new(size_t n), throw std::bad_alloc())
NEW(operator new[](size_t n), throw std::bad_alloc())
NEW(operator new(size_t n, const std::nothrow_t &) noexcept, nullptr)
NEW(operator new[](size_t n, const std::nothrow_t &) noexcept, nullptr)
