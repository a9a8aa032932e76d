#include "alloc_shim.h"

#include <dlfcn.h>
#include <link.h>
#include <stdint.h>
#include <string.h>

#include <atomic>
#include <new>

// The allocator underneath: ASan's interceptors in a sanitizer build, else glibc's own.
#if defined(__SANITIZE_ADDRESS__)
#define REAL(fn) __interceptor_##fn
#else
#define REAL(fn) __libc_##fn
#endif
extern "C" void *REAL(malloc)(size_t), *REAL(calloc)(size_t, size_t), *REAL(realloc)(void *, size_t);

namespace {

std::atomic<long> g_count{0}, g_fail{-1};  // g_fail < 0: not armed
uintptr_t g_lo, g_hi;                      // the library's code

// Whether the allocation asked for at @caller is the one to fail.
bool fails(const void *caller) {
    auto at = reinterpret_cast<uintptr_t>(caller);
    return g_fail >= 0 && at >= g_lo && at < g_hi && ++g_count == g_fail;
}

// A terminated copy of @len bytes of @s, for strdup and strndup.
char *copy(const void *caller, const char *s, size_t len) {
    auto *q = static_cast<char *>(fails(caller) ? nullptr : REAL(malloc)(len + 1));
    if (q) q[len] = '\0';
    return q ? static_cast<char *>(memcpy(q, s, len)) : nullptr;
}

int find_library(dl_phdr_info *info, size_t, void *) {
    if (!strstr(info->dlpi_name, "liblumekwhlist.so")) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_LOAD && (info->dlpi_phdr[i].p_flags & PF_X)) {
            g_lo = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
            g_hi = g_lo + info->dlpi_phdr[i].p_memsz;
        }
    return 1;
}

}  // namespace

void lumek_test::alloc::arm(long fail_at) {
    if (!g_hi) dl_iterate_phdr(find_library, nullptr);
    g_count = 0;
    g_fail = fail_at;
}

long lumek_test::alloc::disarm() {
    g_fail = -1;
    return g_count;
}

#define CALLER __builtin_return_address(0)
extern "C" {
void *malloc(size_t n) {
    return fails(CALLER) ? nullptr : REAL(malloc)(n);
}
void *calloc(size_t k, size_t n) {
    return fails(CALLER) ? nullptr : REAL(calloc)(k, n);
}
void *realloc(void *p, size_t n) {
    return fails(CALLER) ? nullptr : REAL(realloc)(p, n);
}
char *strndup(const char *s, size_t max) {
    return copy(CALLER, s, strnlen(s, max));
}
char *strdup(const char *s) {
    return copy(CALLER, s, strlen(s));
}
}

// operator new passes on to the next one (libstdc++'s, or ASan's, which its delete pairs with).
#define NEXT(symbol, ...) reinterpret_cast<void *(*)(__VA_ARGS__)>(dlsym(RTLD_NEXT, symbol))
void *operator new(size_t n) {
    static auto next = NEXT("_Znwm", size_t);
    return fails(CALLER) ? throw std::bad_alloc() : next(n);
}
void *operator new[](size_t n) {
    static auto next = NEXT("_Znam", size_t);
    return fails(CALLER) ? throw std::bad_alloc() : next(n);
}
void *operator new(size_t n, const std::nothrow_t &t) noexcept {
    static auto next = NEXT("_ZnwmRKSt9nothrow_t", size_t, const std::nothrow_t &);
    return fails(CALLER) ? nullptr : next(n, t);
}
void *operator new[](size_t n, const std::nothrow_t &t) noexcept {
    static auto next = NEXT("_ZnamRKSt9nothrow_t", size_t, const std::nothrow_t &);
    return fails(CALLER) ? nullptr : next(n, t);
}
