// The animated-scene description as bytes, to hand a scene read in one
// process to another. Both ends are the same program on the same machine, so
// numbers travel in the machine's own layout; the reading end still trusts
// nothing: every count is checked against the bytes the message says it holds
// before any memory is taken for it.
#pragma once

#include <cstdint>
#include <string>

#include "import/AnimatedScene.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;

// A read's outcome as one message: whether it succeeded, the error when it
// did not, and the scene when it did (an empty scene otherwise).
struct WireResult {
    bool ok = false;
    LoadError error;
    AnimatedScene scene;
};

// Writes `result` to the file descriptor `fd` (a pipe, usually) as one
// message: its length in 8 bytes, then its body. Writes in chunks and keeps no
// copy of the whole message. False when a write fails.
bool WriteWireResult(int fd, const WireResult& result);

// Where a message is read from: fills `buffer` with 1 to `capacity` bytes and
// returns their number, or 0 when the source has ended or failed.
struct WireSource {
    virtual ~WireSource() = default;
    virtual size_t Read(unsigned char* buffer, size_t capacity) = 0;
};

// Reads one message written by WriteWireResult from `source` into `out`.
// False with `why` when the message is cut short, longer than it says or
// inconsistent (a count beyond the bytes left); `out` is then unspecified.
bool ReadWireResult(WireSource& source, WireResult& out, std::string& why);

}  // namespace quorvex::importer
