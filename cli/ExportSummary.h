// The short summary `quorvex export` prints after writing a model file.
#pragma once

#include <cstdio>
#include <string>

#include "mdl/MdlReader.h"

namespace quorvex::cli {

// Prints one or two lines about the model file at `path`, as `read` (the
// reader's result for it, which must have read) holds it: its size, counts
// and frame sequences.
void PrintExportSummary(std::FILE* out, const std::string& path, const quorvex::MdlReadResult& read);

}  // namespace quorvex::cli
