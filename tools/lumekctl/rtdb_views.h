// Shared by the rtdb subcommands: the drift check.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "commands.h"

namespace lumekctl {

// lumekctl rtdb check.
void add_rtdb_check(CLI::App &rtdb, const Options &opts);

}  // namespace lumekctl
