// Picture files for the stand-in host's bitmap manager: PNG, JPEG, TGA and BMP,
// read at 16 bits per channel.
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "scene/Pictures.h"
#include "mdl/WholeFile.h"

// The decoder is compiled here, private to this unit, for the four formats the
// host reads and nothing else; static so it cannot clash with another copy
// linked in by a library.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_TGA
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#pragma GCC diagnostic pop

using namespace quorvex;

namespace standin {

namespace {

enum class PictureFormat { Unknown, Gif, Png, Jpeg, Bmp, Tga };

uint16_t Word(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// TGA files carry no signature, and the decoder's own test accepts almost any
// bytes, so a TGA is recognised only by a header that is consistent in every
// field the format defines.
bool IsTgaHeader(const unsigned char* d, size_t size) {
    if (size < 18) return false;
    const unsigned idLength = d[0], mapType = d[1], imageType = d[2];
    const unsigned mapLength = Word(d + 5), mapEntryBits = d[7];
    const unsigned width = Word(d + 12), height = Word(d + 14), bits = d[16], descriptor = d[17];
    if (width == 0 || height == 0 || (descriptor & 0xC0) != 0) return false;
    const bool indexed = imageType == 1 || imageType == 9;
    const bool truecolour = imageType == 2 || imageType == 10;
    const bool grey = imageType == 3 || imageType == 11;
    if (!indexed && !truecolour && !grey) return false;
    if (mapType > 1 || indexed != (mapType == 1)) return false;
    size_t mapBytes = 0;
    if (indexed) {
        if (mapLength == 0) return false;
        if (mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32) return false;
        if (bits != 8 && bits != 16) return false;
        mapBytes = static_cast<size_t>(mapLength) * ((mapEntryBits + 7) / 8);
    } else if (truecolour) {
        if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return false;
    } else if (bits != 8 && bits != 16) {
        return false;
    }
    // The header, the id field and the colour map must all be present.
    return size > 18 + idLength + mapBytes;
}

uint32_t Dword(const unsigned char* p) {
    return static_cast<uint32_t>(Word(p)) | (static_cast<uint32_t>(Word(p + 2)) << 16);
}

// The decoder reads missing TGA and BMP pixel data as zeros, which would turn
// a cut file into a partly black picture; these checks make sure every pixel
// is present before it decodes. The headers were validated already (TGA) or
// are checked by the decoder (BMP); a field it would refuse is let through
// here for it to refuse.
bool TgaPixelsComplete(const unsigned char* d, size_t size) {
    const unsigned mapLength = d[1] == 1 ? Word(d + 5) : 0;
    size_t at = 18 + d[0] + static_cast<size_t>(mapLength) * ((d[7] + 7u) / 8u);
    const uint64_t pixels = static_cast<uint64_t>(Word(d + 12)) * Word(d + 14);
    const size_t pixelBytes = (d[16] + 7u) / 8u;
    if (d[2] < 9) return size >= at && (size - at) / pixelBytes >= pixels;
    // Run-length packets: a count byte, then one pixel (a run) or count pixels.
    uint64_t seen = 0;
    while (seen < pixels) {
        if (at >= size) return false;
        const unsigned header = d[at++];
        const unsigned count = (header & 0x7Fu) + 1u;
        const size_t need = (header & 0x80u) ? pixelBytes : count * pixelBytes;
        if (size - at < need) return false;
        at += need;
        seen += count;
    }
    return true;
}

bool BmpPixelsComplete(const unsigned char* d, size_t size) {
    if (size < 26) return false;
    const uint32_t offset = Dword(d + 10);
    const uint32_t headerSize = Dword(d + 14);
    int64_t width = 0, height = 0;
    unsigned bits = 0;
    if (headerSize == 12) {
        width = Word(d + 18);
        height = Word(d + 20);
        bits = Word(d + 24);
    } else {
        if (size < 34) return false;
        width = static_cast<int32_t>(Dword(d + 18));
        height = static_cast<int32_t>(Dword(d + 22));
        bits = Word(d + 28);
        const uint32_t compression = Dword(d + 30);
        if (compression != 0 && compression != 3) return true;  // the decoder refuses these
    }
    if (width <= 0 || width > 65535 || height == 0 || bits == 0 || bits > 32) return true;
    if (height < 0) height = -height;
    if (height > 65535) return true;  // refused by the size limit
    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    return static_cast<uint64_t>(size) >= offset + stride * static_cast<uint64_t>(height);
}

PictureFormat DetectFormat(const unsigned char* d, size_t size) {
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(d, png, 8) == 0) return PictureFormat::Png;
    if (size >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return PictureFormat::Jpeg;
    if (size >= 2 && d[0] == 'B' && d[1] == 'M') return PictureFormat::Bmp;
    if (size >= 4 && std::memcmp(d, "GIF8", 4) == 0) return PictureFormat::Gif;
    if (IsTgaHeader(d, size)) return PictureFormat::Tga;
    return PictureFormat::Unknown;
}

}  // namespace

bool DecodePicture(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    if (!data || size == 0) {
        error = "empty picture file";
        return false;
    }
    const PictureFormat format = DetectFormat(data, size);
    if (format == PictureFormat::Gif) {
        error = "GIF pictures are not supported (only PNG, JPEG, TGA and BMP)";
        return false;
    }
    if (format == PictureFormat::Unknown) {
        error = "not a PNG, JPEG, TGA or BMP picture";
        return false;
    }
    if (size > static_cast<size_t>(INT_MAX)) {
        error = "picture file too large to decode";
        return false;
    }
    const int length = static_cast<int>(size);

    // The size first, from the header alone, so an oversized picture is
    // refused before its pixels are allocated.
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &w, &h, &channels)) {
        error = std::string("cannot decode picture: ") + stbi_failure_reason();
        return false;
    }
    if (w > 65535 || h > 65535) {
        error = "picture is " + std::to_string(w) + " x " + std::to_string(h) + "; at most 65535 x 65535 is supported";
        return false;
    }

    if ((format == PictureFormat::Tga && !TgaPixelsComplete(data, size)) ||
        (format == PictureFormat::Bmp && !BmpPixelsComplete(data, size))) {
        error = "picture file is cut short: pixel data is missing";
        return false;
    }

    stbi_us* pixels = stbi_load_16_from_memory(data, length, &w, &h, &channels, 4);
    if (!pixels) {
        error = std::string("cannot decode picture: ") + stbi_failure_reason();
        return false;
    }
    // The decoder may see a different size than its header scan did.
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535) {
        stbi_image_free(pixels);
        error = "picture is " + std::to_string(w) + " x " + std::to_string(h) + "; at most 65535 x 65535 is supported";
        return false;
    }

    Picture picture;
    picture.width = static_cast<uint16_t>(w);
    picture.height = static_cast<uint16_t>(h);
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    try {
        picture.pixels.resize(count);
    } catch (const std::bad_alloc&) {
        stbi_image_free(pixels);
        error = "not enough memory for the picture";
        return false;
    }
    // 8-bit channels arrive already widened (v * 257), missing alpha as 65535
    // and grey as r = g = b: the decoder's 16-bit conversion does all three.
    for (size_t i = 0; i < count; ++i) {
        const stbi_us* p = pixels + i * 4;
        picture.pixels[i] = Color64{p[0], p[1], p[2], p[3]};
    }
    stbi_image_free(pixels);
    out = std::move(picture);
    return true;
}

bool LoadPictureFile(const std::string& path, Picture& out, std::string& error) {
    std::string bytes;
    switch (ReadWholeFile(path.c_str(), bytes).status) {
        case FileReadStatus::Ok: break;
        case FileReadStatus::CannotOpen: error = path + ": cannot open the file"; return false;
        case FileReadStatus::NoMemory: error = path + ": not enough memory to read the file"; return false;
        case FileReadStatus::CannotRead: error = path + ": cannot read the file"; return false;
    }
    std::string why;
    if (!DecodePicture(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace standin
