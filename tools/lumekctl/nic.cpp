// lumekctl nic limit|clear DEV: send and receive rate limits on one interface.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>

#include "commands.h"
#include "lumekwhlist.h"

namespace lumekctl {

namespace {

// The library (and the tc it runs) report on standard error. Collecting that text lets
// the tool print it once, in its own "lumekctl: WHAT: MESSAGE" form, and put it in --json.
class StderrCapture {
  public:
    StderrCapture() {
        fflush(stderr);
        mem_ = memfd_create("lumekctl-stderr", MFD_CLOEXEC);
        saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (mem_ < 0 || saved_ < 0 || dup2(mem_, STDERR_FILENO) < 0) restore();
    }
    ~StderrCapture() {
        restore();
        if (mem_ >= 0) close(mem_);
    }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Puts standard error back and returns what was written to it meanwhile.
    std::string finish() {
        restore();
        std::string text;
        if (mem_ < 0) return text;
        char buf[4096];
        off_t off = 0;
        for (;;) {
            ssize_t n = pread(mem_, buf, sizeof buf, off);
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            off += n;
        }
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }

    int mem_ = -1;
    int saved_ = -1;
};

struct Outcome {
    int32_t result = 0;
    std::string message;
};

template <typename Call>
Outcome captured(Call call) {
    StderrCapture cap;
    Outcome out;
    out.result = call();
    std::string text = cap.finish();
    if (out.result != 0) out.message = std::move(text);
    return out;
}

void report(const Options &opts, const std::string &what, const std::string &dev, const Outcome &out,
            const std::string &done_text) {
    if (opts.json) {
        nlohmann::json doc = {{"device", dev}, {"result", out.result}};
        if (out.result != 0) doc["message"] = out.message;
        print_json(doc);
    } else if (out.result == 0) {
        std::cout << dev << ": " << done_text << '\n';
    }
    if (out.result != 0)
        fail(what + " " + dev,
             out.message.empty() ? "failed (result " + std::to_string(out.result) + ")" : out.message);
}

std::string kbps(int64_t v) {
    return std::to_string(v) + " KB/s";
}

void run_limit(const Options &opts, const std::string &dev, std::optional<int64_t> send,
               std::optional<int64_t> recv) {
    Outcome out;
    std::string done;
    if (send && recv && *send == *recv) {
        out = captured([&] { return lumek_nic_speedctl(dev.c_str(), LUMEK_NIC_NETMODE_BOTH, *send); });
        done = "limited: send " + kbps(*send) + ", receive " + kbps(*recv);
    } else if (send && recv) {
        // One speed per call: the two directions go separately. Setting the receive limit
        // clears only ingress, so the send limit set first stays.
        out = captured([&] { return lumek_nic_speedctl(dev.c_str(), LUMEK_NIC_NETMODE_SEND, *send); });
        if (out.result == 0) {
            out = captured([&] { return lumek_nic_speedctl(dev.c_str(), LUMEK_NIC_NETMODE_RECV, *recv); });
            // Half a request is not what was asked for: take the send limit off again.
            if (out.result != 0)
                captured([&] { return lumek_nic_speedclr(dev.c_str(), LUMEK_NIC_NETMODE_SEND); });
        }
        done = "limited: send " + kbps(*send) + ", receive " + kbps(*recv);
    } else if (send) {
        out = captured([&] { return lumek_nic_speedctl(dev.c_str(), LUMEK_NIC_NETMODE_SEND, *send); });
        done = "limited: send " + kbps(*send);
    } else {
        out = captured([&] { return lumek_nic_speedctl(dev.c_str(), LUMEK_NIC_NETMODE_RECV, *recv); });
        done = "limited: receive " + kbps(*recv);
    }
    report(opts, "nic limit", dev, out, done);
}

void run_clear(const Options &opts, const std::string &dev, bool send, bool recv) {
    int32_t netmode = LUMEK_NIC_NETMODE_BOTH;
    std::string done = "limits cleared";
    if (send && !recv) {
        netmode = LUMEK_NIC_NETMODE_SEND;
        done = "send limit cleared";
    } else if (recv && !send) {
        netmode = LUMEK_NIC_NETMODE_RECV;
        done = "receive limit cleared";
    }
    Outcome out = captured([&] { return lumek_nic_speedclr(dev.c_str(), netmode); });
    report(opts, "nic clear", dev, out, done);
}

struct LimitArgs {
    std::string dev;
    int64_t send = 0;
    int64_t recv = 0;
};

struct ClearArgs {
    std::string dev;
    bool send = false;
    bool recv = false;
};

}  // namespace

void add_nic_commands(CLI::App &app, const Options &opts) {
    auto *nic = app.add_subcommand("nic", "Rate limits on a network interface (through /sbin/tc)");
    nic->require_subcommand(1);

    auto la = std::make_shared<LimitArgs>();
    auto *limit = nic->add_subcommand("limit", "Replace the send and/or receive limit of an interface");
    limit->add_option("DEV", la->dev, "Interface name")->required();
    auto *send_opt = limit->add_option("--send", la->send, "Send limit in kilobytes per second (1-3932160)");
    auto *recv_opt =
        limit->add_option("--recv", la->recv, "Receive limit in kilobytes per second (1-3932160)");
    limit->callback([&opts, la, send_opt, recv_opt] {
        std::optional<int64_t> send, recv;
        if (send_opt->count() > 0) send = la->send;
        if (recv_opt->count() > 0) recv = la->recv;
        if (!send && !recv) throw CLI::RequiredError("--send or --recv");
        run_limit(opts, la->dev, send, recv);
    });

    auto ca = std::make_shared<ClearArgs>();
    auto *clear =
        nic->add_subcommand("clear", "Remove the limits of an interface (both unless one is chosen)");
    clear->add_option("DEV", ca->dev, "Interface name")->required();
    clear->add_flag("--send", ca->send, "Remove only the send limit");
    clear->add_flag("--recv", ca->recv, "Remove only the receive limit");
    clear->callback([&opts, ca] { run_clear(opts, ca->dev, ca->send, ca->recv); });
}

}  // namespace lumekctl
