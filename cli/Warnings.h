// Warnings of one command: collected while it runs, printed together on
// standard error once the progress display is done, so that neither breaks
// the other.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace standin {

struct WarningLine {
    std::string text;
    size_t count = 1;  // how many times the same text was given
};

// Identical texts merged into one line with their count, in order of first
// appearance.
std::vector<WarningLine> MergeWarnings(const std::vector<std::string>& texts);

// Prints "quorvex: warning: <file>: <text>" for each merged line, with
// " (N times)" appended where a text repeats. `out` is borrowed.
void PrintWarnings(std::FILE* out, const std::string& file, const std::vector<std::string>& texts);

}  // namespace standin
