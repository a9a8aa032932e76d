// What a tc wait status means to the callers.
#include <sys/wait.h>

#include "nic/nic_internal.h"

namespace lumek::nic {

namespace {

// The statuses a shell-less start reports when the tool is not executable or missing,
// kept so a wrapper script in tc's place is judged the same way.
constexpr int kExitCannotExecute = 126;
constexpr int kExitNotFound = 127;

}  // namespace

DeleteOutcome classify_delete(const SpawnResult &res) {
    if (!res.ran || !WIFEXITED(res.wait_status)) return DeleteOutcome::kNotRun;
    int code = WEXITSTATUS(res.wait_status);
    if (code == kExitCannotExecute || code == kExitNotFound) return DeleteOutcome::kNotRun;
    if (code == kTcExitNoDevice) return DeleteOutcome::kNoDevice;
    return DeleteOutcome::kDone;
}

bool add_succeeded(const SpawnResult &res) {
    return res.exited_with(0);
}

}  // namespace lumek::nic
