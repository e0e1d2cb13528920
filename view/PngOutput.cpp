#include "view/PngOutput.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdint>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
// The encoder's other writers are unused here; as static functions they would
// each warn.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image_write.h>
#pragma GCC diagnostic pop

bool WritePngFile(const std::string& path, const RenderImage& image, std::string& error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != uint64_t(image.width) * uint64_t(image.height) * 3) {
        error = "cannot write " + path + ": the picture is empty";
        return false;
    }
    // The encoder sizes its filter buffer as (width * 3 + 1) * height in int.
    if ((uint64_t(image.width) * 3 + 1) * uint64_t(image.height) > uint64_t(INT_MAX)) {
        error = "cannot write " + path + ": the picture is too large for a PNG file";
        return false;
    }
    errno = 0;
    if (stbi_write_png(path.c_str(), image.width, image.height, 3, image.rgb.data(), image.width * 3) == 0) {
        error = "cannot write " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }
    return true;
}
