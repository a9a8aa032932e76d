// Command line of lumek-sandbox.
#include <stdio.h>
#include <string.h>

#include "sandbox_internal.h"

namespace sandbox {

const char kUsage[] =
    "Usage: lumek-sandbox [--no-daemon] [--data DIR] [--keep] -- CMD [ARGS...]\n"
    "\n"
    "Runs CMD with a private system bus, the reference whitelist daemon on it, a fresh\n"
    "stand-in state directory and (as root) a private mount namespace in which the fixture\n"
    "data lists appear at /usr/share/lumek-utils/data. Everything is torn down afterwards.\n"
    "\n"
    "  --no-daemon  do not start lumek-whlistd-ref (the bus then has no owner of com.vorda.lumek)\n"
    "  --data DIR   mount DIR instead of the default fixture data lists\n"
    "  --keep       keep the temporary directory and print its path\n"
    "  --help       show this text\n"
    "\n"
    "Inside, DBUS_SYSTEM_BUS_ADDRESS names the private bus, LUMEK_STANDIN_DIR the state\n"
    "directory and LUMEK_SANDBOX is 1. Exit status: CMD's, 128+N when CMD was killed by\n"
    "signal N, 127 when CMD cannot be executed, 125 when the sandbox cannot be set up.\n";

bool parse_options(int argc, char **argv, Options *opts, bool *help_only) {
    *help_only = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char *a = argv[i];
        if (strcmp(a, "--") == 0) {
            ++i;
            break;
        }
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            *help_only = true;
            return true;
        }
        if (strcmp(a, "--no-daemon") == 0) {
            opts->no_daemon = true;
        } else if (strcmp(a, "--keep") == 0) {
            opts->keep = true;
        } else if (strcmp(a, "--data") == 0) {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s: --data needs a directory\n", kProg);
                return false;
            }
            opts->data_dir = argv[++i];
        } else if (strncmp(a, "--data=", 7) == 0) {
            opts->data_dir = a + 7;
        } else if (a[0] == '-') {
            fprintf(stderr, "%s: unknown option: %s\n", kProg, a);
            return false;
        } else {
            break;  // CMD without "--"
        }
    }
    for (; i < argc; ++i) opts->command.emplace_back(argv[i]);
    if (opts->command.empty()) {
        fprintf(stderr, "%s: no command given\n", kProg);
        return false;
    }
    return true;
}

}  // namespace sandbox
