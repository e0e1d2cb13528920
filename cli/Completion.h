// Bash completion made from the commands' own definitions, so that every
// flag of every command is offered and none that is gone.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace quorvex::cli {

// The bash completion script for `app` (the whole `quorvex` application, its
// commands added): after the command word, its flags; after a flag that takes
// a value, the value's choices when its type name lists them ("x|y|z"),
// folders for a DIR, file names for a FILE or -o, else nothing; positional
// words complete file names (model files for info and view).
std::string BashCompletion(const CLI::App& app);

}  // namespace quorvex::cli
