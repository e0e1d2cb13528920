#include "view/PictureOutput.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>

#include <gif_lib.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
// The encoder's unused parts are static functions that would each warn.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image_write.h>

namespace quorvex::view {
#pragma GCC diagnostic pop

namespace {

bool HoldsPixels(const RenderImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.rgb.size() == uint64_t(image.width) * uint64_t(image.height) * 3;
}

std::string Reason() { return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string(); }

}  // namespace

PictureFormat PictureFormatOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".png") return PictureFormat::Png;
    if (ext == ".jpg" || ext == ".jpeg") return PictureFormat::Jpeg;
    if (ext == ".bmp") return PictureFormat::Bmp;
    if (ext == ".tga") return PictureFormat::Tga;
    if (ext == ".gif") return PictureFormat::Gif;
    return PictureFormat::Unknown;
}

// Why `image` cannot go to the PNG encoder, or "" when it can.
static std::string PngProblem(const RenderImage& image) {
    if (!HoldsPixels(image)) return "the picture is empty";
    // The encoder sizes its filter buffer as (width * 3 + 1) * height in int.
    if ((uint64_t(image.width) * 3 + 1) * uint64_t(image.height) > uint64_t(INT_MAX))
        return "the picture is too large for a PNG file";
    return "";
}

bool EncodePng(const RenderImage& image, std::vector<unsigned char>& bytes, std::string& error) {
    bytes.clear();
    if (const std::string problem = PngProblem(image); !problem.empty()) {
        error = problem;
        return false;
    }
    int length = 0;
    unsigned char* png =
        stbi_write_png_to_mem(image.rgb.data(), image.width * 3, image.width, image.height, 3, &length);
    if (!png) {
        error = "not enough memory to encode the picture";
        return false;
    }
    try {
        bytes.assign(png, png + length);
    } catch (...) {
        STBIW_FREE(png);
        error = "not enough memory to encode the picture";
        return false;
    }
    STBIW_FREE(png);
    return true;
}

bool WritePngFile(const std::string& path, const RenderImage& image, std::string& error) {
    if (const std::string problem = PngProblem(image); !problem.empty()) {
        error = "cannot write " + path + ": " + problem;
        return false;
    }
    errno = 0;
    if (stbi_write_png(path.c_str(), image.width, image.height, 3, image.rgb.data(), image.width * 3) == 0) {
        error = "cannot write " + path + Reason();
        return false;
    }
    return true;
}

bool WritePictureFile(const std::string& path, PictureFormat format, const RenderImage& image, std::string& error) {
    if (format == PictureFormat::Png) return WritePngFile(path, image, error);
    if (!HoldsPixels(image)) {
        error = "cannot write " + path + ": the picture is empty";
        return false;
    }
    errno = 0;
    int written = 0;
    switch (format) {
        case PictureFormat::Jpeg:
            written = stbi_write_jpg(path.c_str(), image.width, image.height, 3, image.rgb.data(), 90);
            break;
        case PictureFormat::Bmp:
            written = stbi_write_bmp(path.c_str(), image.width, image.height, 3, image.rgb.data());
            break;
        case PictureFormat::Tga:
            written = stbi_write_tga(path.c_str(), image.width, image.height, 3, image.rgb.data());
            break;
        default: error = "cannot write " + path + ": not a still picture format"; return false;
    }
    if (written == 0) {
        error = "cannot write " + path + Reason();
        return false;
    }
    return true;
}

std::vector<int> GifDelays(int frameCount, double fps) {
    std::vector<int> delays;
    long long shown = 0;
    for (int i = 1; i <= frameCount; ++i) {
        const long long due = std::llround(i * 100.0 / fps);
        // Players stretch delays under 2 to a tenth of a second.
        const long long delay = std::max(2LL, due - shown);
        delays.push_back(int(std::min(delay, 65535LL)));
        shown += delay;
    }
    return delays;
}

namespace {

constexpr int kGifUnchanged = 255;

// A 255-colour palette for every frame, made from a sample of them (at most
// eight, evenly spread), and a table from 15-bit colour to palette entry.
struct GifPalette {
    std::vector<GifColorType> colors;
    std::vector<uint8_t> lookup;  // 32768 entries

    uint8_t Index(const uint8_t* rgb) const {
        return lookup[size_t((rgb[0] >> 3) << 10 | (rgb[1] >> 3) << 5 | (rgb[2] >> 3))];
    }
};

int AppendGifBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(gif->UserData);
    try {
        bytes->insert(bytes->end(), data, data + length);
    } catch (...) {
        return 0;
    }
    return length;
}

bool MakeGifPalette(const std::vector<RenderImage>& frames, GifPalette& palette) {
    const size_t pixels = size_t(frames[0].width) * size_t(frames[0].height);
    const size_t step = std::max<size_t>(1, (frames.size() + 7) / 8);
    // At most about four million sample pixels: enough for 256 colours.
    const size_t sampled = (frames.size() + step - 1) / step;
    const size_t stride = std::max<size_t>(1, pixels * sampled / (size_t(1) << 22));
    std::vector<GifByteType> r, g, b;
    for (size_t f = 0; f < frames.size(); f += step) {
        const std::vector<uint8_t>& rgb = frames[f].rgb;
        for (size_t p = 0; p < pixels; p += stride) {
            r.push_back(rgb[p * 3]);
            g.push_back(rgb[p * 3 + 1]);
            b.push_back(rgb[p * 3 + 2]);
        }
    }
    std::vector<GifByteType> out(r.size());
    // The last entry is kept for "as in the frame before".
    int count = kGifUnchanged;
    palette.colors.assign(256, GifColorType{0, 0, 0});
    if (GifQuantizeBuffer(unsigned(r.size()), 1, &count, r.data(), g.data(), b.data(), out.data(),
                          palette.colors.data()) == GIF_ERROR)
        return false;
    // The nearest entry for every 15-bit colour (the centre of its cell).
    palette.lookup.resize(32768);
    for (int key = 0; key < 32768; ++key) {
        const int cr = ((key >> 10) & 31) * 8 + 4, cg = ((key >> 5) & 31) * 8 + 4, cb = (key & 31) * 8 + 4;
        int best = 0, bestDistance = INT_MAX;
        for (int i = 0; i < count; ++i) {
            const GifColorType& c = palette.colors[size_t(i)];
            const int dr = c.Red - cr, dg = c.Green - cg, db = c.Blue - cb;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) bestDistance = distance, best = i;
        }
        palette.lookup[size_t(key)] = uint8_t(best);
    }
    return true;
}

}  // namespace

bool WriteAnimatedGif(const std::string& path, const std::vector<RenderImage>& frames, const std::vector<int>& delays,
                      std::string& error) {
    error.clear();
    if (frames.empty() || delays.size() != frames.size()) {
        error = "cannot write " + path + ": no frames to animate";
        return false;
    }
    for (const RenderImage& frame : frames) {
        if (!HoldsPixels(frame) || frame.width != frames[0].width || frame.height != frames[0].height ||
            frame.width > 65535 || frame.height > 65535) {
            error = "cannot write " + path + ": the frames are empty or differ in size";
            return false;
        }
    }
    GifPalette palette;
    if (!MakeGifPalette(frames, palette)) {
        error = "cannot write " + path + ": the colours cannot be reduced to a palette";
        return false;
    }

    // Encoded in memory, so that the encoder's only failure is memory, and
    // written out in one go.
    std::vector<uint8_t> bytes;
    int code = 0;
    GifFileType* gif = EGifOpen(&bytes, AppendGifBytes, &code);
    if (!gif) {
        error = "cannot write " + path + ": not enough memory";
        return false;
    }
    // Written record by record: the library's whole-file writer keeps
    // ownership of what it is given unclear.
    const int width = frames[0].width, height = frames[0].height;
    ColorMapObject* map = GifMakeMapObject(256, palette.colors.data());
    EGifSetGifVersion(gif, true);  // the frame timing and the loop need GIF89a
    bool ok = map && EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);  // the file holds its own copy
    // Loop forever: the application block every player knows.
    unsigned char name[] = "NETSCAPE2.0";
    unsigned char loop[] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, name) == GIF_OK && EGifPutExtensionBlock(gif, 3, loop) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
    std::vector<GifPixelType> raster(size_t(width) * size_t(height)), previous(raster.size());
    for (size_t f = 0; ok && f < frames.size(); ++f) {
        const uint8_t* rgb = frames[f].rgb.data();
        for (size_t p = 0; p < raster.size(); ++p) {
            const uint8_t index = palette.Index(rgb + p * 3);
            // A pixel the frame before left as it is stays see-through, which
            // compresses far better.
            raster[p] = f > 0 && previous[p] == index ? kGifUnchanged : index;
            previous[p] = index;
        }
        GraphicsControlBlock control{DISPOSE_DO_NOT, false, delays[f], f > 0 ? kGifUnchanged : NO_TRANSPARENT_COLOR};
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK &&
             EGifPutLine(gif, raster.data(), int(raster.size())) == GIF_OK;
    }
    // Closing writes the trailer and frees the structure whatever happened.
    ok = EGifCloseFile(gif, &code) == GIF_OK && ok;
    if (!ok) {
        error = "cannot write " + path + ": not enough memory";
        return false;
    }
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write " + path + Reason();
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        errno = written ? errno : writeErrno;
        error = "cannot write " + path + Reason();
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace quorvex::view
