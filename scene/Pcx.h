// PCX pictures, the format classic vertex-frame models name as their skins:
// 8 bits per pixel, run-length coded, either one plane with a 256-colour
// palette at the end of the file or three planes of red, green and blue.
#pragma once

#include <cstddef>
#include <string>

#include "scene/SceneDocument.h"

namespace quorvex::scene {

// True when `data` starts like a PCX file (maker byte 10, run-length coding).
bool LooksLikePcx(const unsigned char* data, size_t size);

// Decodes a PCX file into `out` (channels widened by v * 257, alpha 65535).
// False with `error` for a cut file, a kind not listed above or a size beyond
// the limits of scene/Limits.h (refused from the header before any pixel is
// decoded); `out` is then left as it was.
bool DecodePcx(const unsigned char* data, size_t size, Picture& out, std::string& error);

}  // namespace quorvex::scene
