// Picture decoding for the stand-in host's bitmaps and the importers' embedded
// textures.
#pragma once

#include <cstddef>
#include <string>

#include "scene/SceneDocument.h"

namespace quorvex::scene {

// Loads a picture file (PNG, JPEG, TGA, BMP or PCX only) at 16 bits per channel:
// 16-bit channels are kept, 8-bit channels are widened by v * 257, pictures
// without alpha get 65535. False (and `error`, naming the path, says why) for
// anything but a regular file of at most kMaxInputFileBytes, any other format,
// an undecodable or cut file, or a picture beyond the limits of
// scene/Limits.h (65535 a side, kMaxPicturePixels in all), which is refused
// from its header before any pixel is decoded. Errors that start with "Not
// enough memory" mean just that.
bool LoadPictureFile(const std::string& path, Picture& out, std::string& error);

// Decodes an in-memory picture file with the same rules (`error` without a
// path). `out` is left as it was on failure.
bool DecodePicture(const unsigned char* data, size_t size, Picture& out, std::string& error);

}  // namespace quorvex::scene
