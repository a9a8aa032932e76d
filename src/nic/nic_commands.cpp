// The tc command lines, as argument vectors: the interface name is one argument and is
// never parsed by a shell.
#include "common/fixed_paths.h"
#include "nic/nic_internal.h"

namespace lumek::nic {

std::string rate_text(int64_t speed) {
    // Speeds are range-checked before this, so the product cannot overflow.
    return std::to_string(static_cast<uint64_t>(speed) * 8u) + "kbit";
}

Argv root_delete_argv(const std::string &nic) {
    return {paths::kTc, "qdisc", "del", "dev", nic, "root"};
}

Argv ingress_delete_argv(const std::string &nic) {
    return {paths::kTc, "qdisc", "del", "dev", nic, "ingress"};
}

std::vector<Argv> ingress_police_argvs(const std::string &nic, int64_t speed) {
    return {
        {paths::kTc, "qdisc", "add", "dev", nic, "handle", "ffff:", "ingress"},
        {paths::kTc, "filter", "add", "dev", nic, "parent", "ffff:", "u32", "match", "u32", "0", "0",
         "police", "rate", rate_text(speed), "burst", "10k"},
    };
}

std::vector<Argv> egress_htb_argvs(const std::string &nic, int64_t speed) {
    return {
        {paths::kTc, "qdisc", "add", "dev", nic, "root", "handle", "1:", "htb"},
        {paths::kTc, "class", "add", "dev", nic, "parent", "1:", "classid", "1:1", "htb", "rate",
         rate_text(speed)},
        {paths::kTc, "filter", "add", "dev", nic, "parent", "1:", "protocol", "ip", "u32", "match", "u32",
         "0", "0", "classid", "1:1"},
        // Without it IPv6 traffic stays unclassified, and htb sends that unshaped.
        {paths::kTc, "filter", "add", "dev", nic, "parent", "1:", "protocol", "ipv6", "u32", "match", "u32",
         "0", "0", "classid", "1:1"},
    };
}

}  // namespace lumek::nic
