// Picture decoding for the stand-in host's bitmaps and the importers' embedded
// textures.
#pragma once

#include <cstddef>
#include <string>

#include "scene/SceneDocument.h"

namespace standin {

// Loads a picture file (PNG, JPEG, TGA or BMP only) at 16 bits per channel:
// 8-bit channels are widened by v * 257, pictures without alpha get 65535.
// False (and `error` says why) for any other format, an undecodable file, or a
// picture wider or taller than 65535.
bool LoadPictureFile(const std::string& path, Picture& out, std::string& error);

// Decodes an in-memory picture file with the same rules.
bool DecodePicture(const unsigned char* data, size_t size, Picture& out, std::string& error);

}  // namespace standin
