// lumek-sandbox: runs a command against a private bus, the reference daemon, fresh stand-in
// state and the fixture data lists, then tears all of it down.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sandbox_internal.h"

extern char **environ;

namespace sandbox {

namespace {

// Everything that has to be undone, whatever happens after it was set up.
struct Sandbox {
    Options opts;
    std::string tmp;
    pid_t bus_pid = -1;
    pid_t daemon_pid = -1;
    int signal_fd = -1;

    ~Sandbox() {
        // The daemon first, so it never sees its bus vanish underneath it.
        stop_child(daemon_pid);
        stop_child(bus_pid);
        if (signal_fd >= 0) close(signal_fd);
        if (tmp.empty()) return;
        if (opts.keep)
            fprintf(stderr, "%s: kept %s\n", kProg, tmp.c_str());
        else
            remove_tree(tmp);
    }
};

int setup_failed(const char *what, const std::string &detail = {}) {
    fprintf(stderr, "%s: %s%s%s\n", kProg, what, detail.empty() ? "" : ": ", detail.c_str());
    return kExitSetupFailed;
}

int status_to_exit(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return kExitSetupFailed;
}

bool is_dir(const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The other buses of the caller must not leak in; only the private system bus is known.
void set_environment(const std::string &state_dir) {
    std::vector<std::string> drop = {kEnvSessionBus};
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, kEnvStarterPrefix, sizeof kEnvStarterPrefix - 1) == 0)
            drop.emplace_back(*e, strcspn(*e, "="));
    for (const auto &name : drop) unsetenv(name.c_str());
    setenv(kEnvStandinDir, state_dir.c_str(), 1);
    setenv(kEnvSandbox, "1", 1);
}

// Starts the daemon and waits until it owns its name. Returns 0, or an exit status.
int start_daemon(Sandbox &sb, const std::string &daemon) {
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return setup_failed("pipe", strerror(errno));
    sb.daemon_pid =
        spawn({daemon, "--ready-fd=" + std::to_string(pipefd[1])}, false, SIGKILL, true, pipefd[1]);
    close(pipefd[1]);
    if (sb.daemon_pid < 0) {
        close(pipefd[0]);
        return setup_failed("cannot start the daemon", strerror(errno));
    }
    std::string line;
    int r = read_line(pipefd[0], kDaemonReadyTimeoutMs, sb.signal_fd, &line);
    close(pipefd[0]);
    if (r < 0) return 128 - r;
    if (r == 0) return setup_failed("the daemon did not take the bus name", kBusName);
    return 0;
}

// Runs the command to its end, forwarding termination signals. Returns its exit status.
int run_command(Sandbox &sb) {
    pid_t cmd = spawn(sb.opts.command, true, SIGKILL, false, -1);
    if (cmd < 0) return setup_failed("fork", strerror(errno));
    for (;;) {
        struct pollfd p = {sb.signal_fd, POLLIN, 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return setup_failed("poll", strerror(errno));
        struct signalfd_siginfo si;
        while (read(sb.signal_fd, &si, sizeof si) == sizeof si) {
            if (si.ssi_signo != SIGCHLD) kill(cmd, static_cast<int>(si.ssi_signo));
        }
        int st;
        pid_t r = waitpid(cmd, &st, WNOHANG);
        if (r == cmd) return status_to_exit(st);
        if (r < 0 && errno != EINTR) return setup_failed("waitpid", strerror(errno));
    }
}

int run(int argc, char **argv) {
    Sandbox sb;
    bool help_only = false;
    if (!parse_options(argc, argv, &sb.opts, &help_only)) {
        fputs(kUsage, stderr);
        return kExitSetupFailed;
    }
    if (help_only) {
        fputs(kUsage, stdout);
        return 0;
    }

    sb.signal_fd = make_signal_fd();
    if (sb.signal_fd < 0) return setup_failed("signalfd", strerror(errno));

    std::string exe_dir = self_exe_dir();
    std::string data = sb.opts.data_dir.empty() ? default_data_dir(exe_dir) : sb.opts.data_dir;
    if (!is_dir(data)) return setup_failed("no data list directory", data);
    std::string daemon;
    if (!sb.opts.no_daemon) {
        daemon = find_daemon(exe_dir);
        if (daemon.empty()) return setup_failed("cannot find", kDaemonName);
    }

    sb.tmp = make_temp_dir();
    if (sb.tmp.empty()) return kExitSetupFailed;
    if (sb.opts.keep) fprintf(stderr, "%s: temporary directory %s (kept)\n", kProg, sb.tmp.c_str());
    std::string state_dir = sb.tmp + "/state";
    if (mkdir(state_dir.c_str(), 0700) != 0) return setup_failed("cannot create", state_dir);

    if (!isolate_mounts(data)) return kExitSetupFailed;
    set_environment(state_dir);

    std::string address;
    int signo = 0;
    if (!start_bus(sb.tmp, &sb.bus_pid, &address, sb.signal_fd, &signo))
        return signo ? 128 + signo : kExitSetupFailed;
    setenv(kEnvSystemBus, address.c_str(), 1);

    if (!sb.opts.no_daemon) {
        if (int rc = start_daemon(sb, daemon)) return rc;
    }
    return run_command(sb);
}

}  // namespace

}  // namespace sandbox

int main(int argc, char **argv) {
    try {
        return sandbox::run(argc, argv);
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s\n", sandbox::kProg, e.what());
        return sandbox::kExitSetupFailed;
    }
}
