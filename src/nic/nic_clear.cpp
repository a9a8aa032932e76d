// Taking a rate limit off an interface.
#include <stdio.h>
#include <unistd.h>

#include "nic/nic_internal.h"

namespace lumek::nic {

namespace {

// Deletes send tc's complaints to /dev/null: "nothing to delete" is the normal case.
SpawnResult run_delete(const Argv &argv) {
    SpawnOptions opts;
    opts.stderr_to_null = true;
    return run_command(argv, opts);
}

int32_t outcome_result(DeleteOutcome outcome, const std::string &nic, bool report) {
    switch (outcome) {
        case DeleteOutcome::kDone:
            return kOk;
        case DeleteOutcome::kNoDevice:
            if (report) fprintf(stderr, kFmtNoDevice, nic.c_str());
            return kFailed;
        case DeleteOutcome::kNotRun:
            break;
    }
    return kFailed;
}

}  // namespace

int32_t remove_limit(const std::string &nic, int32_t netmode, bool report) {
    if (netmode == LUMEK_NIC_NETMODE_RECV)
        return outcome_result(classify_delete(run_delete(ingress_delete_argv(nic))), nic, report);

    int32_t rc = outcome_result(classify_delete(run_delete(root_delete_argv(nic))), nic, report);
    if (netmode == LUMEK_NIC_NETMODE_SEND || rc != kOk) return rc;

    // Both directions: once the device is known to exist, only a tc that cannot run
    // makes the ingress delete count.
    DeleteOutcome ingress = classify_delete(run_delete(ingress_delete_argv(nic)));
    return ingress == DeleteOutcome::kNotRun ? kFailed : kOk;
}

int32_t clear_limit(const char *nic, int32_t netmode) {
    if (nic == nullptr) {
        fputs(kMsgNullNic, stderr);
        return kFailed;
    }
    if (netmode != LUMEK_NIC_NETMODE_SEND && netmode != LUMEK_NIC_NETMODE_RECV &&
        netmode != LUMEK_NIC_NETMODE_BOTH) {
        fputs(kMsgNetmode, stderr);
        return kFailed;
    }
    // Only the two-way clear asks for root; the others leave privilege to tc.
    if (netmode == LUMEK_NIC_NETMODE_BOTH && geteuid() != 0) {
        fputs(kMsgNotPermitted, stderr);
        return kFailed;
    }
    // A name the kernel would refuse cannot name a device: answer as tc would, without
    // running it.
    if (!interface_name_is_valid(nic)) {
        fprintf(stderr, kFmtNoDevice, nic);
        return kFailed;
    }
    return remove_limit(nic, netmode, true);
}

}  // namespace lumek::nic

extern "C" LUMEKWHLIST_PUBLIC int32_t lumek_nic_speedclr(const char *nic, int32_t netmode) {
    try {
        return lumek::nic::clear_limit(nic, netmode);
    } catch (...) {
        return lumek::nic::kFailed;
    }
}
