// quorvex help [COMMAND]: the same text as --help, for those who type it as a word.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Suggest.h"

namespace quorvex::cli {

void AddHelpCommand(CLI::App& app, int& exitStatus) {
    auto topic = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand("help", "Show the help of quorvex, or of one COMMAND (as COMMAND --help).");
    command->add_option("COMMAND", *topic, "The command to explain");
    command->callback([&app, topic, &exitStatus] {
        if (topic->empty()) {
            // app.help() would show the selected command's help: this one's.
            std::fputs(app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal).c_str(),
                       stdout);
            exitStatus = kExitSuccess;
            return;
        }
        std::vector<std::string> names;
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App* s) { return !s->get_name().empty(); })) {
            if (sub->get_name() == *topic) {
                std::fputs(sub->help(app.get_name()).c_str(), stdout);
                exitStatus = kExitSuccess;
                return;
            }
            names.push_back(sub->get_name());
        }
        const std::string nearest = NearestWord(*topic, names);
        std::fprintf(stderr, "quorvex help: unknown command '%s'%s\n", topic->c_str(),
                     nearest.empty() ? "" : ("; did you mean '" + nearest + "'?").c_str());
        exitStatus = kExitUsage;
    });
}

}  // namespace quorvex::cli
