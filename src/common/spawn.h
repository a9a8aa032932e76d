// Running a tool without a shell: an argument vector, an absolute path (or a PATH lookup
// where the tool has always been named without one), and standard streams wired by the
// caller's choice. No caller text is ever parsed by a shell.
#pragma once

#include <string>
#include <vector>

namespace lumek {

struct SpawnOptions {
    bool search_path = false;     // look argv[0] up in PATH (posix_spawnp)
    bool stdout_to_null = false;  // child's standard output to /dev/null
    bool stderr_to_null = false;  // child's standard error to /dev/null
    bool capture_stdout = false;  // collect standard output into SpawnResult::out
};

struct SpawnResult {
    bool ran = false;     // started and waited for; false when it could not be run at all
                          // (also when the child reported a failed exec with status 127)
    int wait_status = 0;  // as waitpid() gives it (exit status 1 is 256)
    std::string out;      // standard output when captured

    bool exited_with(int code) const;
};

// Runs argv[0] with the arguments argv[1..] and the caller's environment, and waits.
// Never throws.
SpawnResult run_command(const std::vector<std::string> &argv, const SpawnOptions &opts = {}) noexcept;

}  // namespace lumek
