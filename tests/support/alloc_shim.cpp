#include "alloc_shim.h"

#include <link.h>
#include <stdint.h>
#include <string.h>

#include <new>

// glibc's own entry points lie underneath.
extern "C" void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {

long g_count = 0, g_fail = -1;  // g_fail < 0: not armed; both read and written atomically
uintptr_t g_lo, g_hi;           // the library's code
constexpr size_t kSlots = 1 << 14;
uintptr_t g_live[kSlots];  // the library's blocks not yet freed; 0 empty, 1 freed

// Whether @caller lies in the library's code while armed, and the allocation is the one to fail.
bool mine(const void *caller, bool *fail) {
    auto at = reinterpret_cast<uintptr_t>(caller);
    long fail_at = __atomic_load_n(&g_fail, __ATOMIC_SEQ_CST);
    if (fail_at < 0 || at < g_lo || at >= g_hi) return false;
    *fail = __atomic_add_fetch(&g_count, 1, __ATOMIC_SEQ_CST) == fail_at;
    return true;
}

// Turns the slot holding @from (0: an empty or freed one) into @to, looking from @p's place.
void swap_slot(uintptr_t p, uintptr_t from, uintptr_t to) {
    for (size_t i = (p >> 4) * 0x9E3779B97F4A7C15u >> 50, n = 0; p && n < kSlots; i = (i + 1) % kSlots, ++n) {
        uintptr_t v = __atomic_load_n(&g_live[i], __ATOMIC_SEQ_CST);
        if (v == 0 && from != 0) return;
        if ((v == from || (from == 0 && v == 1)) &&
            __atomic_compare_exchange_n(&g_live[i], &v, to, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return;
    }
}

// NULL when the library's allocation is the one to fail; else @get's block, remembered when the library's.
template <typename Get>
void *allocate(const void *caller, Get get) {
    bool fail = false, lib = mine(caller, &fail);
    void *p = fail ? nullptr : get();
    if (lib) swap_slot(reinterpret_cast<uintptr_t>(p), 0, reinterpret_cast<uintptr_t>(p));
    return p;
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
    for (auto &s : g_live) __atomic_store_n(&s, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_count, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&g_fail, fail_at, __ATOMIC_SEQ_CST);
}

long lumek_test::alloc::disarm() {
    __atomic_store_n(&g_fail, -1, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&g_count, __ATOMIC_SEQ_CST);
}

long lumek_test::alloc::live() {
    long n = 0;
    for (auto &s : g_live) n += __atomic_load_n(&s, __ATOMIC_SEQ_CST) > 1;
    return n;
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
    if (q || n == 0) swap_slot(reinterpret_cast<uintptr_t>(p), reinterpret_cast<uintptr_t>(p), 1);
    return q;
}
void free(void *p) {
    swap_slot(reinterpret_cast<uintptr_t>(p), reinterpret_cast<uintptr_t>(p), 1);
    __libc_free(p);
}
char *strndup(const char *s, size_t max) {
    size_t len = strnlen(s, max);
    auto *q = static_cast<char *>(allocate(CALLER, [&] { return __libc_malloc(len + 1); }));
    if (q) {
        memcpy(q, s, len);
        q[len] = '\0';
    }
    return q;
}
char *strdup(const char *s) {
    size_t size = strlen(s) + 1;
    void *q = allocate(CALLER, [&] { return __libc_malloc(size); });
    return static_cast<char *>(q ? memcpy(q, s, size) : nullptr);
}
}

// operator new over the same allocator (libstdc++'s delete frees with free); its blocks are
// not remembered: the library's C++ objects are released by their owners.
#define NEW_BODY(on_failure) \
    bool fail = false;       \
    mine(CALLER, &fail);     \
    return fail ? on_failure : __libc_malloc(n ? n : 1);
void *operator new(size_t n) {
    NEW_BODY(throw std::bad_alloc())
}
void *operator new[](size_t n) {
    NEW_BODY(throw std::bad_alloc())
}
void *operator new(size_t n, const std::nothrow_t &) noexcept {
    NEW_BODY(nullptr)
}
void *operator new[](size_t n, const std::nothrow_t &) noexcept {
    NEW_BODY(nullptr)
}
