#include "scene/Pcx.h"

#include <vector>

#include "scene/Limits.h"

namespace quorvex::scene {

namespace {

constexpr size_t kHeaderBytes = 128;
constexpr size_t kPaletteBytes = 769;  // a marker byte 12, then 256 RGB triples

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool LooksLikePcx(const unsigned char* data, size_t size) {
    return size >= kHeaderBytes && data[0] == 10 && data[2] == 1 && data[1] <= 5;
}

bool DecodePcx(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    if (!LooksLikePcx(data, size)) {
        error = "not a PCX picture";
        return false;
    }
    const int bits = data[3], planes = data[65];
    const uint32_t width = uint32_t(U16(data + 8)) - U16(data + 4) + 1;
    const uint32_t height = uint32_t(U16(data + 10)) - U16(data + 6) + 1;
    const size_t lineBytes = U16(data + 66);
    if (bits != 8 || (planes != 1 && planes != 3)) {
        error = "PCX pictures of " + std::to_string(bits) + " bits in " + std::to_string(planes) +
                " planes are not supported (only 8 bits in 1 or 3 planes)";
        return false;
    }
    if (U16(data + 8) < U16(data + 4) || U16(data + 10) < U16(data + 6) || width > kMaxPictureSide ||
        height > kMaxPictureSide || uint64_t(width) * height > kMaxPicturePixels) {
        error = "PCX picture size is out of range";
        return false;
    }
    if (lineBytes < width || lineBytes > width + 8) {
        error =
            "PCX picture has " + std::to_string(lineBytes) + " bytes a line for " + std::to_string(width) + " pixels";
        return false;
    }
    const unsigned char* palette = nullptr;
    if (planes == 1) {
        if (size < kHeaderBytes + kPaletteBytes || data[size - kPaletteBytes] != 12) {
            error = "PCX picture has no 256-colour palette at its end";
            return false;
        }
        palette = data + size - kPaletteBytes + 1;
    }
    const size_t end = planes == 1 ? size - kPaletteBytes : size;
    // Run-length coded lines: a byte with its top two bits set repeats the
    // next byte (its low six bits) times.
    const size_t rowBytes = lineBytes * static_cast<size_t>(planes);
    // No run is longer than 63 bytes: a file too short for its size is refused before the allocation.
    if (rowBytes * height > (end - kHeaderBytes) * 63) {
        error = "PCX picture is cut short";
        return false;
    }
    std::vector<unsigned char> rows(rowBytes * height);
    size_t at = kHeaderBytes, put = 0;
    while (put < rows.size()) {
        if (at >= end) {
            error = "PCX picture is cut short";
            return false;
        }
        unsigned char c = data[at++];
        size_t count = 1;
        if ((c & 0xC0) == 0xC0) {
            count = c & 0x3F;
            if (at >= end) {
                error = "PCX picture is cut short";
                return false;
            }
            c = data[at++];
        }
        // Runs may cross a line's end; what runs past the last line is padding.
        for (; count > 0 && put < rows.size(); --count) rows[put++] = c;
    }
    Picture picture;
    picture.width = static_cast<uint16_t>(width);
    picture.height = static_cast<uint16_t>(height);
    picture.pixels.resize(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y) {
        const unsigned char* row = rows.data() + rowBytes * y;
        for (uint32_t x = 0; x < width; ++x) {
            uint16_t rgb[3];
            for (int c = 0; c < 3; ++c) {
                const unsigned char v = planes == 1 ? palette[3 * row[x] + c] : row[lineBytes * c + x];
                rgb[c] = static_cast<uint16_t>(v * 257);
            }
            picture.pixels[static_cast<size_t>(y) * width + x] = {rgb[0], rgb[1], rgb[2], 65535};
        }
    }
    out = std::move(picture);
    return true;
}

}  // namespace quorvex::scene
