// The subcommands of `quorvex`. Each command lives in its own file and has one
// function that adds it to the application; AddCommands adds them all, in the
// order help lists them. A command's callback leaves the exit status in
// `exitStatus`.
#pragma once

#include <CLI/CLI.hpp>

namespace quorvex::cli {

// Exit statuses shared by every command.
constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;  // export refused or failed; malformed model file
constexpr int kExitUsage = 2;   // bad usage; unreadable scene

void AddExportCommand(CLI::App& app, int& exitStatus);
void AddInfoCommand(CLI::App& app, int& exitStatus);
void AddViewCommand(CLI::App& app, int& exitStatus);
void AddHelpCommand(CLI::App& app, int& exitStatus);
void AddCompletionCommand(CLI::App& app, int& exitStatus);
void AddVersionCommand(CLI::App& app, int& exitStatus);

// Every command above, in that order.
void AddCommands(CLI::App& app, int& exitStatus);

}  // namespace quorvex::cli
