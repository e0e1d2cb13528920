// quorvex version: the program's version and the libraries it was built with.
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/Version.h"

namespace quorvex::cli {

// The build system defines both; the fallbacks keep an odd build compiling.
#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "unknown"
#endif
#ifndef QUORVEX_LIBRARY_VERSIONS
#define QUORVEX_LIBRARY_VERSIONS "unknown"
#endif

std::string VersionText() {
    return std::string("quorvex ") + QUORVEX_VERSION + "\nbuilt with " + QUORVEX_LIBRARY_VERSIONS + "\n";
}

void AddVersionCommand(CLI::App& app, int& exitStatus) {
    CLI::App* command =
        app.add_subcommand("version", "Print the version and the libraries it was built with (as --version).");
    command->callback([&exitStatus] {
        std::fputs(VersionText().c_str(), stdout);
        exitStatus = kExitSuccess;
    });
}

}  // namespace quorvex::cli
