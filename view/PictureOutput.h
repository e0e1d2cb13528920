// Writing pictures to files: PNG, JPEG, BMP and TGA still pictures, and
// animated GIF pictures.
#pragma once

#include <string>
#include <vector>

#include "view/Renderer.h"

namespace quorvex::view {

enum class PictureFormat { Png, Jpeg, Bmp, Tga, Gif, Unknown };

// The format a file name asks for by its extension, without regard to case:
// .png, .jpg or .jpeg, .bmp, .tga, .gif; anything else is Unknown.
PictureFormat PictureFormatOf(const std::string& path);

// Writes `image` (RGB, 8 bits per channel) as a PNG file at `path`, replacing
// a file already there. Returns true on success; false with `error` set (it
// names the path) when the picture is empty, too large for the PNG encoder
// (about 2^31 bytes of rows), or the file cannot be written.
bool WritePngFile(const std::string& path, const RenderImage& image, std::string& error);

// Encodes `image` as the bytes of a PNG file into `bytes` (replaced). Returns
// false with `error` (without a path) when the picture is empty or too large
// for the encoder, as WritePngFile, or the encoder runs out of memory.
bool EncodePng(const RenderImage& image, std::vector<unsigned char>& bytes, std::string& error);

// Writes `image` in the still format `format` (Png, Jpeg at quality 90, Bmp,
// Tga), replacing a file already there. Returns false with `error` (naming
// the path) as WritePngFile does, and for the other formats.
bool WritePictureFile(const std::string& path, PictureFormat format, const RenderImage& image, std::string& error);

// Writes `frames` as one looping animated GIF at `path`, frame i shown for
// delays[i] hundredths of a second. All frames must be of one size and
// non-empty, and delays must have one entry per frame. The colours come from
// one 256-entry palette made from the frames. Returns false with `error`
// (naming the path) when the frames do not fit these rules or the file
// cannot be written; no partial file remains.
bool WriteAnimatedGif(const std::string& path, const std::vector<RenderImage>& frames, const std::vector<int>& delays,
                      std::string& error);

// The display time of each of `frameCount` frames shown `fps` frames a second,
// in hundredths of a second: whole numbers whose running sum follows the true
// time, so the animation keeps the rate even where one frame cannot.
std::vector<int> GifDelays(int frameCount, double fps);

}  // namespace quorvex::view
