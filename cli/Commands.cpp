#include "cli/Commands.h"

namespace quorvex::cli {

void AddCommands(CLI::App& app, int& exitStatus) {
    for (auto add :
         {AddExportCommand, AddInfoCommand, AddViewCommand, AddHelpCommand, AddCompletionCommand, AddVersionCommand}) {
        add(app, exitStatus);
    }
}

}  // namespace quorvex::cli
