// Private header of lumek-sandbox: the pieces it sets up, each in its own file.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace sandbox {

inline constexpr const char kProg[] = "lumek-sandbox";

// Exit statuses of the sandbox itself (otherwise it exits with CMD's status).
inline constexpr int kExitSetupFailed = 125;
inline constexpr int kExitCannotExec = 127;

// Fixed paths the sandbox works with.
inline constexpr const char kDataDir[] = "/usr/share/lumek-utils/data";
inline constexpr const char kDbusDaemon[] = "/usr/bin/dbus-daemon";
inline constexpr const char kDaemonName[] = "lumek-whlistd-ref";
inline constexpr const char kBusName[] = "com.vorda.lumek";
inline constexpr const char kInstalledDataRel[] = "../share/lumek/sandbox-data";
inline constexpr const char kLibexecRel[] = "../libexec";
inline constexpr const char kBusLogName[] = "bus.log";

// Environment handed to everything the sandbox starts.
inline constexpr const char kEnvSystemBus[] = "DBUS_SYSTEM_BUS_ADDRESS";
inline constexpr const char kEnvSessionBus[] = "DBUS_SESSION_BUS_ADDRESS";
inline constexpr const char kEnvStarterPrefix[] = "DBUS_STARTER_";
inline constexpr const char kEnvStandinDir[] = "LUMEK_STANDIN_DIR";
inline constexpr const char kEnvSandbox[] = "LUMEK_SANDBOX";

// How long set-up steps may take, and the grace between SIGTERM and SIGKILL at teardown.
inline constexpr int kBusStartTimeoutMs = 10000;
inline constexpr int kDaemonReadyTimeoutMs = 10000;
inline constexpr int kStopGraceMs = 2000;

struct Options {
    bool no_daemon = false;
    bool keep = false;
    std::string data_dir;  // empty: the default fixture lists
    std::vector<std::string> command;
};

// Parses argv; on a usage error prints why and returns false. Sets *help_only for --help.
bool parse_options(int argc, char **argv, Options *opts, bool *help_only);
extern const char kUsage[];

// --- temp dir (tempdir.cpp) ---
// mkdtemp under /tmp; returns "" and prints why on failure.
std::string make_temp_dir();
// Removes @dir and everything below it, without following symbolic links.
bool remove_tree(const std::string &dir);

// --- locating our companions (locate.cpp) ---
std::string self_exe_dir();
// The daemon beside our executable, else in ../libexec; "" when neither exists.
std::string find_daemon(const std::string &exe_dir);
// The default fixture data lists: installed beside us, else the source tree's.
std::string default_data_dir(const std::string &exe_dir);

// --- mount namespace (mounts.cpp) ---
// Enters a private mount namespace and binds @data_dir over the framework's data dir.
// Returns false only for a hard failure after the namespace exists; refusal by the
// kernel (not root) is reported loudly and tolerated.
bool isolate_mounts(const std::string &data_dir);

// --- private bus (bus.cpp) ---
std::string bus_config_text(const std::string &socket_path);
// Writes the config into @tmp and starts dbus-daemon; on success fills *pid and *address.
// A termination signal that arrives meanwhile aborts the start and lands in *signo.
bool start_bus(const std::string &tmp, pid_t *pid, std::string *address, int signal_fd, int *signo);

// --- children (process.cpp) ---
// Forks and execs argv (PATH lookup when @search_path), with signals reset, the parent's
// death delivering @death_signal, and, when @own_group, its own process group so a
// terminal's ^C reaches only the command. @extra_fd stays open in the child (or -1);
// @stderr_fd, when not -1, becomes the child's standard error.
// Returns the pid, or -1 with errno set. If the exec fails the child exits 127.
pid_t spawn(const std::vector<std::string> &argv, bool search_path, int death_signal, bool own_group,
            int extra_fd, int stderr_fd = -1);
// Reads one line (without the newline) from @fd within @timeout_ms, watching @signal_fd
// for a termination signal. Returns 1 on a line, 0 on EOF/timeout, -signal when one arrived.
int read_line(int fd, int timeout_ms, int signal_fd, std::string *line);
// SIGTERM, wait up to the grace, then SIGKILL; always reaps.
void stop_child(pid_t pid);
// Blocks the signals the sandbox handles (SIGINT, SIGTERM, SIGHUP, SIGCHLD) and returns a
// signalfd for them, or -1. Children start with the mask the sandbox had before.
int make_signal_fd();

}  // namespace sandbox
