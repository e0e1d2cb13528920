// The subcommands of `quorvex`. Each command lives in its own file and
// registers itself with a static CommandRegistration; main() adds every
// registered command, in `order`, to the application. A command's callback
// leaves the exit status in `exitStatus`.
#pragma once

#include <CLI/CLI.hpp>

// Exit statuses shared by every command.
constexpr int ExitSuccess = 0;
constexpr int ExitFailed = 1;  // export refused or failed; malformed model file
constexpr int ExitUsage = 2;   // bad usage; unreadable scene

using CommandAdder = void (*)(CLI::App& app, int& exitStatus);

struct CommandRegistration {
    CommandRegistration(int order, CommandAdder adder);
};

// The registered commands' adders, in order.
void AddRegisteredCommands(CLI::App& app, int& exitStatus);
