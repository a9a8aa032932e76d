// MD5 of a file's contents, the value of the hash column for files the library hashes.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include <openssl/evp.h>

#include "common/raii.h"
#include "rtdb/rtdb_internal.h"

namespace {

constexpr size_t kBlock = 64 * 1024;  // the digest does not depend on the read size

struct MdCtxFree {
    void operator()(EVP_MD_CTX *c) const noexcept { EVP_MD_CTX_free(c); }
};

}  // namespace

char *calc_md5_hex_of_file(const char *path) noexcept {
    if (!path) return nullptr;
    // Opened without blocking and checked on the descriptor, so a FIFO or device swapped in
    // after the caller's test can neither hang the open nor feed an endless read.
    lumek::Fd fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;

    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) return nullptr;
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[kBlock]);
    if (!buf) return nullptr;
    for (;;) {
        ssize_t n = read(fd.get(), buf.get(), kBlock);
        if (n == 0) break;
        if (n < 0 && errno == EINTR) continue;
        // A digest of part of the file would be recorded as the file's: none instead.
        if (n < 0) return nullptr;
        if (EVP_DigestUpdate(ctx.get(), buf.get(), static_cast<size_t>(n)) != 1) return nullptr;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1 || len != 16) return nullptr;
    char hex[33];
    for (unsigned int i = 0; i < len; ++i) snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    return strdup(hex);
}

extern "C" LUMEKWHLIST_PUBLIC char *lumek_memdb_whlist_calc_md5_for_file(const char *path) {
    if (!path || path_is_reg(path) != 1) return nullptr;
    return calc_md5_hex_of_file(path);
}
