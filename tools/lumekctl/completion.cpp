// lumekctl completion bash: a bash completion script read off the command tree itself, so it
// names exactly the subcommands and options this build has.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace lumekctl {

namespace {

// The options of @app as the user types them; with @globals_only, those its subcommands take
// too (not help and version).
std::string option_words(const CLI::App &app, bool globals_only = false) {
    std::string words;
    for (const CLI::Option *o : app.get_options()) {
        if (globals_only && (o == app.get_help_ptr() || o == app.get_version_ptr())) continue;
        for (const auto &l : o->get_lnames()) words += " --" + l;
        for (const auto &s : o->get_snames()) words += " -" + s;
    }
    return words;
}

// One case branch per command: its subcommands and options (the global ones included).
void branches(const CLI::App &app, const std::string &path, const std::string &globals, std::ostream &out) {
    std::string words;
    for (const CLI::App *sub : app.get_subcommands({})) words += " " + sub->get_name();
    out << "    \"" << path << "\") w=\"" << words << option_words(app) << (path.empty() ? "" : globals)
        << "\" ;;\n";
    for (const CLI::App *sub : app.get_subcommands({}))
        branches(*sub, path + " " + sub->get_name(), globals, out);
}

void print_bash(const CLI::App &root) {
    std::cout << "# bash completion for lumekctl, made by \"lumekctl completion bash\"\n"
                 "_lumekctl_words() {\n"
                 "  local w\n"
                 "  case \"$1\" in\n";
    branches(root, "", option_words(root, true), std::cout);
    std::cout << "    *) w=\"\" ;;\n"
                 "  esac\n"
                 "  printf '%s' \"$w\"\n"
                 "}\n"
                 "_lumekctl() {\n"
                 "  local cur=${COMP_WORDS[COMP_CWORD]} path=\"\" word i\n"
                 "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
                 "    word=${COMP_WORDS[i]}\n"
                 "    case \" $(_lumekctl_words \"$path\") \" in\n"
                 "      *\" $word \"*) [[ $word == -* ]] || path=\"$path $word\" ;;\n"
                 "    esac\n"
                 "  done\n"
                 "  COMPREPLY=($(compgen -W \"$(_lumekctl_words \"$path\")\" -- \"$cur\"))\n"
                 "  # Arguments that are no subcommand are mostly paths.\n"
                 "  [[ ${#COMPREPLY[@]} -eq 0 && $cur != -* ]] && COMPREPLY=($(compgen -f -- \"$cur\"))\n"
                 "  return 0\n"
                 "}\n"
                 "complete -F _lumekctl lumekctl\n";
}

}  // namespace

void add_completion_commands(CLI::App &app) {
    auto *cmd = app.add_subcommand("completion", "Print a shell completion script (bash)");
    static std::string shell;
    cmd->add_option("shell", shell, "The shell: bash")->required()->check(CLI::IsMember({"bash"}));
    CLI::App *root = &app;
    cmd->callback([root] { print_bash(*root); });
}

}  // namespace lumekctl
