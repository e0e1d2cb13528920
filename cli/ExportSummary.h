// The short summary `quorvex export` prints after writing a model file.
#pragma once

#include <cstdio>
#include <string>

// Prints one or two lines about the model file at `path` to `out`: its size,
// counts and frame sequences. Prints a warning instead when it cannot be read.
void PrintExportSummary(std::FILE* out, const std::string& path);
