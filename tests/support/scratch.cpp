#include "scratch.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

namespace lumek_test {

ScratchDir::ScratchDir() {
    char tmpl[] = "/tmp/lumek-test-XXXXXX";
    if (!mkdtemp(tmpl)) {
        ADD_FAILURE() << "cannot make a scratch directory";
        return;
    }
    root_ = tmpl;
    work_ = root_ + "/work";
    state_ = root_ + "/state";
    mkdir(work_.c_str(), 0755);
    setenv("LUMEK_STANDIN_DIR", state_.c_str(), 1);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

std::string stderr_of(const std::function<void()> &fn) {
    fflush(stderr);
    int mem = memfd_create("captured-stderr", MFD_CLOEXEC);
    int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (mem < 0 || saved < 0 || dup2(mem, STDERR_FILENO) < 0) {
        ADD_FAILURE() << "cannot capture standard error";
        if (mem >= 0) close(mem);
        if (saved >= 0) close(saved);
        return {};
    }
    fn();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    char buf[4096];
    off_t off = 0;
    for (ssize_t n; (n = pread(mem, buf, sizeof buf, off)) > 0; off += n)
        text.append(buf, static_cast<size_t>(n));
    close(mem);
    return text;
}

}  // namespace lumek_test
