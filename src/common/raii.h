// One owning handle per resource kind, so every early return releases what it took.
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include <gio/gio.h>

namespace lumek {

template <auto Fn>
struct FnDeleter {
    template <typename T>
    void operator()(T *p) const noexcept {
        if (p) Fn(p);
    }
};

using MallocPtr = std::unique_ptr<char, FnDeleter<::free>>;
using FilePtr = std::unique_ptr<FILE, FnDeleter<::fclose>>;
using DirPtr = std::unique_ptr<DIR, FnDeleter<::closedir>>;
using GVariantPtr = std::unique_ptr<GVariant, FnDeleter<::g_variant_unref>>;
using GVariantIterPtr = std::unique_ptr<GVariantIter, FnDeleter<::g_variant_iter_free>>;
using GErrorPtr = std::unique_ptr<GError, FnDeleter<::g_error_free>>;
using GCharPtr = std::unique_ptr<gchar, FnDeleter<::g_free>>;
template <typename T>
using GObjectPtr = std::unique_ptr<T, FnDeleter<::g_object_unref>>;

// Owning file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd &&o) noexcept : fd_(o.release()) {}
    Fd &operator=(Fd &&o) noexcept {
        reset(o.release());
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// GError out-parameter that frees whatever lands in it.
class GErrorHolder {
  public:
    GErrorHolder() = default;
    GErrorHolder(const GErrorHolder &) = delete;
    GErrorHolder &operator=(const GErrorHolder &) = delete;
    ~GErrorHolder() {
        if (err_) g_error_free(err_);
    }
    GError **out() noexcept { return &err_; }
    GError *get() const noexcept { return err_; }
    explicit operator bool() const noexcept { return err_ != nullptr; }

  private:
    GError *err_ = nullptr;
};

}  // namespace lumek
