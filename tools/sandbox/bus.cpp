// The private system bus: a dbus-daemon with a system-bus-like configuration whose socket
// lives in the sandbox's temp dir.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "sandbox_internal.h"

namespace sandbox {

namespace {

// XML-escapes a path for the config (mkdtemp paths are tame, but stay correct anyway).
std::string xml_escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool write_file(const std::string &path, const std::string &text) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t off = 0;
    while (off < text.size()) {
        ssize_t n = write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

void copy_to_stderr(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) (void)!write(STDERR_FILENO, buf, static_cast<size_t>(n));
    close(fd);
}

}  // namespace

std::string bus_config_text(const std::string &socket_path) {
    // Like the system bus (type, EXTERNAL auth), but without a user switch, a pid file or
    // service activation, and with a policy that lets the daemon and its callers meet.
    std::string s;
    s += "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n";
    s += " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n";
    s += "<busconfig>\n";
    s += "  <type>system</type>\n";
    s += "  <listen>unix:path=" + xml_escape(socket_path) + "</listen>\n";
    s += "  <auth>EXTERNAL</auth>\n";
    s += "  <policy context=\"default\">\n";
    s += "    <allow user=\"*\"/>\n";
    s += "    <allow own=\"com.vorda.lumek\"/>\n";
    s += "    <allow send_destination=\"com.vorda.lumek\"/>\n";
    s += "    <allow receive_sender=\"com.vorda.lumek\"/>\n";
    s += "    <allow send_type=\"method_call\"/>\n";
    s += "    <allow send_destination=\"org.freedesktop.DBus\"/>\n";
    s += "    <allow send_type=\"signal\"/>\n";
    s += "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n";
    s += "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n";
    for (const char *t : {"method_call", "method_return", "error", "signal"})
        s += std::string("    <allow receive_type=\"") + t + "\"/>\n";
    s += "  </policy>\n";
    s += "</busconfig>\n";
    return s;
}

bool start_bus(const std::string &tmp, pid_t *pid, std::string *address, int signal_fd, int *signo) {
    std::string conf = tmp + "/system-bus.conf";
    std::string socket = tmp + "/system_bus_socket";
    if (!write_file(conf, bus_config_text(socket))) {
        fprintf(stderr, "%s: cannot write %s: %s\n", kProg, conf.c_str(), strerror(errno));
        return false;
    }
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) {
        fprintf(stderr, "%s: pipe: %s\n", kProg, strerror(errno));
        return false;
    }
    std::vector<std::string> argv = {kDbusDaemon, "--nofork", "--print-address=" + std::to_string(pipefd[1]),
                                     "--config-file=" + conf};
    // The bus's own chatter (fd limits, policy notes) goes to a log beside its socket.
    std::string log = tmp + "/" + kBusLogName;
    int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    *pid = spawn(argv, false, SIGKILL, true, pipefd[1], log_fd);
    close(pipefd[1]);
    if (log_fd >= 0) close(log_fd);
    if (*pid < 0) {
        fprintf(stderr, "%s: cannot start %s: %s\n", kProg, kDbusDaemon, strerror(errno));
        close(pipefd[0]);
        return false;
    }
    int r = read_line(pipefd[0], kBusStartTimeoutMs, signal_fd, address);
    close(pipefd[0]);
    if (r < 0) {
        *signo = -r;
        return false;
    }
    if (r == 0 || address->empty()) {
        fprintf(stderr, "%s: %s did not report its address\n", kProg, kDbusDaemon);
        copy_to_stderr(log);
        return false;
    }
    return true;
}

}  // namespace sandbox
