// Reading a whole input file into memory, safely: only regular files (never a
// device, a pipe or a folder, which may never end) and at most
// kMaxInputFileBytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/LoadError.h"

namespace standin {

// Reads `path` into `out` (replacing its content). False with `error` saying
// why, its message starting "cannot read the file: " or "Not enough memory"
// (not naming the path: callers prefix it), when the file cannot be opened, is
// not a regular file, holds more than `limit` bytes (OverLimit), or reading
// fails; `out` is then empty.
bool ReadInputFile(const std::string& path, std::vector<unsigned char>& out, LoadError& error, uint64_t limit);
bool ReadInputFile(const std::string& path, std::string& out, LoadError& error, uint64_t limit);

}  // namespace standin
