// The subcommands of `quorvex`. Each command's file defines one Add*Command
// that adds its subcommand (flags, help and callback) to the application; the
// callback leaves the exit status in `exitStatus`.
#pragma once

#include <CLI/CLI.hpp>

// Exit statuses shared by every command.
constexpr int ExitSuccess = 0;
constexpr int ExitFailed = 1;  // export refused or failed; malformed model file
constexpr int ExitUsage = 2;   // bad usage; unreadable scene

void AddExportCommand(CLI::App& app, int& exitStatus);
void AddInfoCommand(CLI::App& app, int& exitStatus);
void AddViewCommand(CLI::App& app, int& exitStatus);
