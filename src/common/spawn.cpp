#include "common/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/fixed_paths.h"
#include "common/raii.h"

extern char **environ;

namespace lumek {

bool SpawnResult::exited_with(int code) const {
    return ran && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == code;
}

namespace {

constexpr int kExitExecFailed = 127;

class FileActions {
  public:
    FileActions() { ok_ = posix_spawn_file_actions_init(&fa_) == 0; }
    ~FileActions() {
        if (ok_) posix_spawn_file_actions_destroy(&fa_);
    }
    FileActions(const FileActions &) = delete;
    FileActions &operator=(const FileActions &) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t *get() { return &fa_; }

  private:
    posix_spawn_file_actions_t fa_;
    bool ok_ = false;
};

// waitpid that survives signals; ECHILD (SIGCHLD ignored by the host) means we lost the child.
bool wait_child(pid_t pid, int *status) {
    for (;;) {
        if (waitpid(pid, status, 0) == pid) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

SpawnResult run_command(const std::vector<std::string> &argv, const SpawnOptions &opts) noexcept {
    SpawnResult res;
    pid_t pid = -1;
    try {
        if (argv.empty()) return res;
        std::vector<char *> args;
        args.reserve(argv.size() + 1);
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);

        FileActions fa;
        if (!fa.ok()) return res;
        Fd rd, wr;
        if (opts.capture_stdout) {
            int p[2];
            if (pipe2(p, O_CLOEXEC) != 0) return res;
            rd.reset(p[0]);
            wr.reset(p[1]);
            if (posix_spawn_file_actions_adddup2(fa.get(), wr.get(), STDOUT_FILENO) != 0) return res;
        } else if (opts.stdout_to_null) {
            if (posix_spawn_file_actions_addopen(fa.get(), STDOUT_FILENO, paths::kDevNull, O_WRONLY, 0) != 0)
                return res;
        }
        if (opts.stderr_to_null &&
            posix_spawn_file_actions_addopen(fa.get(), STDERR_FILENO, paths::kDevNull, O_WRONLY, 0) != 0)
            return res;

        int rc = opts.search_path ? posix_spawnp(&pid, args[0], fa.get(), nullptr, args.data(), environ)
                                  : posix_spawn(&pid, args[0], fa.get(), nullptr, args.data(), environ);
        if (rc != 0) {
            pid = -1;
            return res;
        }
        wr.reset();

        if (rd) {
            char buf[65536];
            for (;;) {
                ssize_t n = read(rd.get(), buf, sizeof buf);
                if (n > 0) {
                    res.out.append(buf, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    break;
                }
            }
            rd.reset();
        }
        res.ran = wait_child(pid, &res.wait_status);
        // POSIX lets posix_spawn report a failed exec after the fact, as the child's exit
        // status 127 (valgrind's emulation does): that tool did not run either.
        if (res.exited_with(kExitExecFailed)) res.ran = false;
    } catch (...) {
        // Out of memory while collecting output: still reap the child.
        int status;
        if (pid > 0) wait_child(pid, &status);
        res.ran = false;
    }
    return res;
}

}  // namespace lumek
