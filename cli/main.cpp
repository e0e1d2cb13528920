// quorvex: exports scenes to vertex-animated model files, and looks inside them.
#include <cstdio>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    CLI::App app{
        "quorvex: turns an animated 3D scene into one vertex-animated model file\n"
        "(\"MDL3\" with 8-bit or \"MDL4\" with 16-bit vertices), and looks inside such files."};
    app.require_subcommand(1);
    int exitStatus = ExitSuccess;
    AddExportCommand(app, exitStatus);
    AddInfoCommand(app, exitStatus);
    AddViewCommand(app, exitStatus);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }
    return exitStatus;
}
