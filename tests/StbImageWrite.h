// Picture-file writing for tests that need real PNG, BMP, TGA or JPEG files.
// The implementation is compiled once, in StbImageWrite.cpp.
#pragma once

#include <stb_image_write.h>
