// Running the built `quorvex` program from tests: both output streams captured,
// no standard input, the exit status decoded.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct CliResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One shell word holding `text` exactly.
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

// Runs `quorvex <args>` (args as shell words) with its output captured in files
// under `scratchDir`, which must exist.
inline CliResult RunQuorvex(const std::string& args, const std::filesystem::path& scratchDir) {
    const std::filesystem::path out = scratchDir / "stdout.txt", err = scratchDir / "stderr.txt";
    const std::string command = ShellQuote(QUORVEX_CLI) + " " + args + " >" + ShellQuote(out.string()) + " 2>" +
                                ShellQuote(err.string()) + " </dev/null";
    CliResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadWholeFile(out);
    result.err = ReadWholeFile(err);
    return result;
}
