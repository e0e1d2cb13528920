// The registry the commands add themselves to.
#include <algorithm>
#include <utility>
#include <vector>

#include "cli/Commands.h"

namespace {
std::vector<std::pair<int, CommandAdder>>& Registry() {
    static std::vector<std::pair<int, CommandAdder>> registry;
    return registry;
}
}  // namespace

CommandRegistration::CommandRegistration(int order, CommandAdder adder) { Registry().emplace_back(order, adder); }

void AddRegisteredCommands(CLI::App& app, int& exitStatus) {
    auto commands = Registry();
    std::stable_sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& command : commands) command.second(app, exitStatus);
}
