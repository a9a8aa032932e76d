// NIC speed control: rate limits on one interface through the traffic-control tool.
// Private to src/nic.
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/spawn.h"
#include "lumekwhlist.h"

namespace lumek::nic {

// Results of the two exported functions.
inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFailed = -1;

// Everything this family ever says, all on standard error.
inline constexpr const char kMsgNullNic[] = "NIC can't be NULL\n";
inline constexpr const char kMsgSpeedRange[] = "speed out of range\n";
inline constexpr const char kMsgNetmode[] = "Netmode error\n";
inline constexpr const char kMsgNotPermitted[] = "Operation not permitted\n";
inline constexpr const char kFmtNoDevice[] = "Cannot find device %s\n";

inline constexpr int64_t kSpeedMin = 1;
inline constexpr int64_t kSpeedMax = LUMEK_NIC_SPEED_MAX;  // kilobytes per second

// tc's exit status for "no such device" on a delete.
inline constexpr int kTcExitNoDevice = 1;

using Argv = std::vector<std::string>;

// True when the kernel would accept @name as an interface name: 1 to 15 bytes, not "."
// or "..", and no "/", ":" or white space.
bool interface_name_is_valid(std::string_view name);

// The tc rate of a speed in kilobytes per second: eight times it, in "kbit" ("8kbit").
std::string rate_text(int64_t speed);

// Argument vectors of the tc commands, argv[0] being the tool's fixed path.
Argv root_delete_argv(const std::string &nic);
Argv ingress_delete_argv(const std::string &nic);
std::vector<Argv> ingress_police_argvs(const std::string &nic, int64_t speed);
std::vector<Argv> egress_htb_argvs(const std::string &nic, int64_t speed);

// What a finished delete command means for the clearing.
enum class DeleteOutcome {
    kDone,      // any exit status but 1: removed, or nothing was there
    kNoDevice,  // exit status 1: tc did not find the interface
    kNotRun,    // tc could not be started, could not execute (126/127) or was killed
};
DeleteOutcome classify_delete(const SpawnResult &res);

// An add command counts only when tc ended normally with status 0.
bool add_succeeded(const SpawnResult &res);

// The checks and deletes of clearing, messages included (the body of lumek_nic_speedclr).
int32_t clear_limit(const char *nic, int32_t netmode);

// Runs the delete commands of @netmode (1, 2 or 3) on a name already checked. With
// @report false nothing is written (used to take back a partly added limit).
int32_t remove_limit(const std::string &nic, int32_t netmode, bool report);

}  // namespace lumek::nic
