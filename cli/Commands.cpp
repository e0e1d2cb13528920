#include "cli/Commands.h"

void AddCommands(CLI::App& app, int& exitStatus) {
    for (auto add :
         {AddExportCommand, AddInfoCommand, AddViewCommand, AddHelpCommand, AddCompletionCommand, AddVersionCommand}) {
        add(app, exitStatus);
    }
}
