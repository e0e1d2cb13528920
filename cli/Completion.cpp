// quorvex completion: prints the bash completion script (the build installs it).
#include "cli/Completion.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace quorvex::cli {

namespace {

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::vector<std::string> FlagNames(const CLI::Option* option) {
    std::vector<std::string> names;
    for (const std::string& s : option->get_snames()) names.push_back("-" + s);
    for (const std::string& l : option->get_lnames()) names.push_back("--" + l);
    return names;
}

// The case arm that completes the value of `option`, or empty for a flag.
std::string ValueArm(const CLI::Option* option) {
    if (option->get_expected_max() == 0) return {};
    // A check may add its own words after a colon ("x|y|z:{x,y,z}").
    const std::string type = option->get_type_name().substr(0, option->get_type_name().find(':'));
    const std::string names = [&] {
        std::string out;
        for (const std::string& n : FlagNames(option)) out += (out.empty() ? "" : "|") + n;
        return out;
    }();
    std::string action;
    if (type.find('|') != std::string::npos) {
        std::string words = type;
        for (char& c : words)
            if (c == '|') c = ' ';
        action = "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))";
    } else if (type == "DIR") {
        action = "COMPREPLY=($(compgen -d -- \"$cur\"))";
    } else if (type.find("FILE") != std::string::npos || type.find("OUT") != std::string::npos ||
               option->check_sname("o")) {
        action = "COMPREPLY=($(compgen -f -- \"$cur\"))";
    }
    return "            " + names + ") " + action + (action.empty() ? "" : "; ") + "return ;;\n";
}

}  // namespace

std::string BashCompletion(const CLI::App& app) {
    std::vector<std::string> commands;
    std::string arms;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App* s) { return !s->get_group().empty(); })) {
        commands.push_back(sub->get_name());
        std::vector<std::string> flags;
        std::string values;
        for (const CLI::Option* option : sub->get_options()) {
            if (option->get_positional() && option->get_lnames().empty() && option->get_snames().empty()) continue;
            for (const std::string& n : FlagNames(option)) flags.push_back(n);
            values += ValueArm(option);
        }
        arms += "        " + sub->get_name() + ")\n";
        if (!values.empty()) arms += "          case $prev in\n" + values + "          esac\n";
        arms += "          flags=\"" + Join(flags) + "\" ;;\n";
    }
    std::vector<std::string> top = commands;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& n : FlagNames(option)) top.push_back(n);
    return "# bash completion for quorvex (made by `quorvex completion`)\n"
           "_quorvex() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command=${COMP_WORDS[1]} flags\n"
           "    if [[ $COMP_CWORD -eq 1 ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           Join(top) +
           "\" -- \"$cur\"))\n"
           "        return\n"
           "    fi\n"
           "    case $command in\n" +
           arms +
           "        *) return ;;\n"
           "    esac\n"
           "    if [[ $command == help ]]; then\n"
           "        COMPREPLY=($(compgen -W \"" +
           Join(commands) +
           "\" -- \"$cur\"))\n"
           "    elif [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$flags\" -- \"$cur\"))\n"
           "    elif [[ $command == info || $command == view ]]; then\n"
           "        COMPREPLY=($(compgen -f -X '!*.@(mdl|MDL)' -- \"$cur\") $(compgen -d -- \"$cur\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _quorvex quorvex\n";
}

void AddCompletionCommand(CLI::App& app, int& exitStatus) {
    CLI::App* command = app.add_subcommand("completion", "Print the bash completion script for quorvex");
    command->footer("Load it with: source <(quorvex completion)");
    command->callback([&app, &exitStatus] {
        std::fputs(BashCompletion(app).c_str(), stdout);
        exitStatus = std::fflush(stdout) == 0 ? kExitSuccess : kExitFailed;
    });
}

}  // namespace quorvex::cli
