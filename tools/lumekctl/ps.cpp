#include "commands.h"

namespace lumekctl {
void add_ps_commands(CLI::App &, const Options &) {}
}  // namespace lumekctl
