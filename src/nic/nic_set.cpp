// Putting a rate limit on an interface: clear the old limit of the same netmode, then
// add the new one command by command.
#include <stdio.h>

#include "nic/nic_internal.h"

namespace lumek::nic {

namespace {

// Add commands leave tc's own error output on the caller's standard error.
bool run_adds(const std::vector<Argv> &argvs) {
    for (const Argv &argv : argvs) {
        if (!add_succeeded(run_command(argv))) return false;
    }
    return true;
}

bool nic_ingress_police(const std::string &nic, int64_t speed) {
    return run_adds(ingress_police_argvs(nic, speed));
}

bool nic_egress_htb(const std::string &nic, int64_t speed) {
    return run_adds(egress_htb_argvs(nic, speed));
}

}  // namespace

}  // namespace lumek::nic

using namespace lumek::nic;

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedctl(const char *nic, int32_t netmode, int64_t speed) {
    try {
        if (nic == nullptr) {
            fputs(kMsgNullNic, stderr);
            return kFailed;
        }
        if (speed < kSpeedMin || speed > kSpeedMax) {
            fputs(kMsgSpeedRange, stderr);
            return kFailed;
        }
        // Refuses a bad netmode, a non-root two-way limit and a bad name, with their messages.
        int32_t rc = clear_limit(nic, netmode);
        if (rc != kOk) return rc;

        const std::string name(nic);
        bool added = true;
        if (netmode == LUMEK_NIC_NETMODE_RECV || netmode == LUMEK_NIC_NETMODE_BOTH)
            added = nic_ingress_police(name, speed);
        if (added && (netmode == LUMEK_NIC_NETMODE_SEND || netmode == LUMEK_NIC_NETMODE_BOTH))
            added = nic_egress_htb(name, speed);
        if (added) return kOk;

        // A refused add would leave half a limit behind (a qdisc without its filter, say):
        // take the whole netmode off again and say it failed.
        remove_limit(name, netmode, false);
        return kFailed;
    } catch (...) {
        return kFailed;
    }
}
