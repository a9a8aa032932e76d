#include "commands.h"

namespace lumekctl {
void add_nic_commands(CLI::App &, const Options &) {}
}  // namespace lumekctl
