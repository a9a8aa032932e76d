// Runs the built lumekctl as a child and collects its exit status and output.
#pragma once

#include <sys/wait.h>

#include <string>
#include <vector>

#include <glib.h>

namespace lumek_test {

struct Run {
    int status = -1;
    std::string out, err;
};

// lumekctl with @args, run by @wrapper when given, on the system bus @bus when given.
inline Run lumekctl(std::vector<std::string> args, std::vector<std::string> wrapper = {},
                    const char *bus = nullptr) {
    args.insert(args.begin(), LUMEK_BIN_DIR "/lumekctl");
    args.insert(args.begin(), wrapper.begin(), wrapper.end());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    gchar **env = g_get_environ();
    if (bus) env = g_environ_setenv(env, "DBUS_SYSTEM_BUS_ADDRESS", bus, TRUE);
    gchar *out = nullptr, *err = nullptr;
    gint wait = 0;
    Run r;
    if (g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err, &wait,
                     nullptr)) {
        r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
        r.out = out ? out : "";
        r.err = err ? err : "";
    }
    g_free(out);
    g_free(err);
    g_strfreev(env);
    return r;
}

}  // namespace lumek_test
