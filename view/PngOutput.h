// Writing pictures as PNG files.
#pragma once

#include <string>

#include "view/Renderer.h"

// Writes `image` (RGB, 8 bits per channel) as a PNG file at `path`, replacing
// a file already there. Returns true on success; false with `error` set (it
// names the path) when the picture is empty, too large for the PNG encoder
// (about 2^31 bytes of rows), or the file cannot be written.
bool WritePngFile(const std::string& path, const RenderImage& image, std::string& error);
