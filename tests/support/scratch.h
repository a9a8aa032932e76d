// Per-test scratch space and standard-error capture.
#pragma once

#include <functional>
#include <string>

namespace lumek_test {

// A fresh directory for a test's files, plus a fresh stand-in state directory beside it
// (LUMEK_STANDIN_DIR points there), both removed again when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return work_; }
    const std::string &state_dir() const { return state_; }

  private:
    std::string root_, work_, state_;
};

// Runs @fn with file descriptor 2 sent to a memory file and returns what was written there.
std::string stderr_of(const std::function<void()> &fn);

}  // namespace lumek_test
