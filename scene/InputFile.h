// Reading a whole input file for the tools, in their words: only regular files
// (never a device, a pipe or a folder, which may never end) and at most a
// limit of bytes. The reading itself is mdl/WholeFile.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/LoadError.h"

namespace quorvex::scene {

// Reads `path` into `out` (replacing its content), then `padding` zero bytes.
// False with `error` saying why, its message starting "cannot read the file: "
// or "Not enough memory" (not naming the path: callers prefix it), when the
// file cannot be opened, is not a regular file, holds more than `limit` bytes
// (OverLimit), or reading fails; `out` is then empty.
bool ReadInputFile(const std::string& path, std::vector<unsigned char>& out, LoadError& error, uint64_t limit);
bool ReadInputFile(const std::string& path, std::string& out, LoadError& error, uint64_t limit, size_t padding = 0);

}  // namespace quorvex::scene
