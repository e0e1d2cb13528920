// Running a reader we did not write in a process of its own. Such a reader
// may crash, loop or take all the memory on a hostile file; in a child
// process with limits, each of these ends the child, and the command goes on
// to say so in one line instead of dying with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "import/AnimatedScene.h"
#include "import/ReaderLimits.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;

// Reads in a child process: `read` runs there (forked from this process, so
// it sees everything this process had) and its result comes back through a
// pipe, checked as it arrives. True with `out` when `read` succeeded; false
// with `error` when it failed (its own error, as it gave it) or when the
// child ended without a result: a signal, a limit, the time running out.
// Then `error` is "<path>: the reader for this format failed (<why>); nothing
// was written", e.g. why = "segmentation fault". When no child can be
// started the read fails too (never runs unguarded). Blocks until the result
// is in; a child that handed over its whole result is left to end on its own
// and reaped by a later call (or by the system when this process ends).
bool ReadIsolated(const std::string& path, const ReaderLimits& limits,
                  const std::function<bool(AnimatedScene& out, LoadError& error)>& read, AnimatedScene& out,
                  LoadError& error);

}  // namespace quorvex::importer
