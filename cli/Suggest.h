// Nearest-word suggestions for mistyped commands and flags.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quorvex::cli {

// The candidate closest to `word` by edit distance (insertions, deletions,
// substitutions and swaps of neighbours), or empty when none is close enough
// to be a likely typo. Ties go to the earlier candidate.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// Looks at the words of a command line (without the program name) before
// CLI11 parses them: an unknown command or an unknown long flag of the chosen
// command gets one message on standard error naming it and, when one is
// close, the nearest known name. Returns true when the words may be parsed.
bool CheckCommandWords(const CLI::App& app, const std::vector<std::string>& words);

}  // namespace quorvex::cli
