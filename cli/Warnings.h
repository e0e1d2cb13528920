// Warnings of one command: collected while it runs, printed together on
// standard error once the progress display is done, so that neither breaks
// the other. Many warnings of one kind (one per mesh, say) print as one line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace quorvex::cli {

struct WarningLine {
    std::string text;
    size_t count = 1;  // how many times the same text was given
};

// Identical texts merged into one line with their count, in order of first
// appearance.
std::vector<WarningLine> MergeWarnings(const std::vector<std::string>& texts);

// A stable tag for what a warning is about ("swatch", "primitives-left-out",
// "clip-renamed", "texture-clamped", "too-many-pictures", "picture",
// "partial-read", or "other"), for reports and scripts.
std::string WarningKind(const std::string& text);

// The lines to print, without the file name: warnings about a named mesh,
// material or clip that say the same of two or more of them become one line,
// "N meshes: <what>: name1, name2, ... (-v lists all)" at the place of the
// first; the rest as MergeWarnings gives them, with " (N times)" where a text
// repeats. `all` prints every line as MergeWarnings gives it.
std::vector<std::string> SummariseWarnings(const std::vector<std::string>& texts, bool all);

// Prints "quorvex: warning: <file>: <line>" for each line of
// SummariseWarnings(texts, all). `out` is borrowed.
void PrintWarnings(std::FILE* out, const std::string& file, const std::vector<std::string>& texts, bool all = false);

}  // namespace quorvex::cli
