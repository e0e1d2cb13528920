// Animation a file declares that its reader did not deliver. Some readers
// take only the first pose of a format; the file's own header still says how
// much animation it holds, and the user hears what was left out.
#pragma once

#include <string>

#include "import/AnimatedScene.h"

namespace quorvex::importer {

// One warning line (without the file name) when the header of the file at
// `path` declares animation that `scene` (as read from it) does not hold,
// e.g. "the file holds 1 animation of 101 frames that cannot be read;
// exporting the first pose", or of vertex frames of which only the first was
// read; "" otherwise, and for formats whose header says nothing of it (IQM and
// MDC say it). Reads only the header.
std::string UndeliveredAnimation(const std::string& path, const AnimatedScene& scene);

}  // namespace quorvex::importer
