// The checks `quorvex` makes on an output path before it loads or computes
// anything, so that a mistake costs no time and never touches the input.
#pragma once

#include <string>
#include <vector>

namespace quorvex::cli {

// Checks that `output` can be written: its folder exists, is a folder and is
// writable, `output` itself is not a folder, and it is none of `inputs` (the
// same file also through symbolic or hard links). Returns an empty string
// when it can; otherwise one line "Cannot write <output>: <reason>", the
// output as given and the system's words for the reason.
std::string CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs);

// The extensions `quorvex export` writes, lower case with their dot.
const std::vector<std::string>& WrittenExtensions();

// Checks the name of an output before anything else: "-" (standard output,
// which a model file is never written to) and an extension the command does
// not write (compared without case) are refused. Returns empty, or one line
// saying why and naming the extensions it writes.
std::string CheckOutputName(const std::string& output);

}  // namespace quorvex::cli
