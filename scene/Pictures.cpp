// Picture files for the stand-in host's bitmap manager: PNG, JPEG, TGA and BMP,
// read at 16 bits per channel. PNG and JPEG go through libpng and libjpeg,
// decoders built to face hostile files; TGA and BMP through stb, after the
// header and the completeness of the pixel data have been checked here.
#include <algorithm>
#include <bit>
#include <csetjmp>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "scene/Pcx.h"
#include "scene/InputFile.h"
#include "scene/Limits.h"
#include "scene/Pictures.h"
#include "model/Allocation.h"

// The Windows test host is cross-built without the system's libraries; there
// PNG and JPEG fall back to stb. The command line always has them.
#if __has_include(<png.h>) && __has_include(<jpeglib.h>)
#define QUORVEX_SYSTEM_DECODERS 1
// After the project's headers: the JPEG headers define TRUE and FALSE as
// macros unless they exist as such already.
#include <png.h>
#include <jpeglib.h>
#include <jerror.h>
#else
#define QUORVEX_SYSTEM_DECODERS 0
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#endif

// The decoder is compiled here, private to this unit, for the formats it
// still reads and nothing else; static so it cannot clash with another copy
// linked in by a library.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
// The decoder's memory goes through the gate the rest of the export's large
// arrays use, so that tests can fail it.
#define STBI_MALLOC(size) quorvex::GatedMalloc(size)
#define STBI_REALLOC(p, size) quorvex::GatedRealloc(p, size)
#define STBI_FREE(p) std::free(p)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <stb_image.h>
#pragma GCC diagnostic pop

using namespace quorvex;

namespace quorvex::scene {

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

// The decoder accepts more BMP headers than it reads soundly (a negative
// compression, odd bit counts); only the plain layouts are let through, and
// only with every pixel present.
const char* BmpProblem(const unsigned char* d, size_t size) {
    if (size < 26) return "picture file is cut short: the header is incomplete";
    const uint32_t offset = Dword(d + 10);
    const uint32_t headerSize = Dword(d + 14);
    int64_t width = 0, height = 0;
    unsigned planes = 0, bits = 0;
    uint32_t compression = 0;
    if (headerSize == 12) {
        width = Word(d + 18);
        height = Word(d + 20);
        planes = Word(d + 22);
        bits = Word(d + 24);
    } else if (headerSize == 40 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        if (size < 34) return "picture file is cut short: the header is incomplete";
        width = static_cast<int32_t>(Dword(d + 18));
        height = static_cast<int32_t>(Dword(d + 22));
        planes = Word(d + 26);
        bits = Word(d + 28);
        compression = Dword(d + 30);
    } else {
        return "unsupported BMP header";
    }
    const bool bitsKnown = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (planes != 1 || !bitsKnown || !(compression == 0 || (compression == 3 && (bits == 16 || bits == 32)))) {
        return "unsupported BMP layout (only uncompressed or bit-field pictures of 1, 4, 8, 16, 24 or 32 bits)";
    }
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0) return "picture has no pixels";
    if (width > kMaxPictureSide || height > kMaxPictureSide) return nullptr;  // the size check speaks
    const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
    if (static_cast<uint64_t>(size) < offset + stride * static_cast<uint64_t>(height)) {
        return "picture file is cut short: pixel data is missing";
    }
    return nullptr;
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

std::string SizeProblem(uint64_t w, uint64_t h) {
    if (w == 0 || h == 0) return "picture has no pixels";
    if (w > kMaxPictureSide || h > kMaxPictureSide) {
        return "picture is " + std::to_string(w) + " x " + std::to_string(h) + "; at most 65535 x 65535 is supported";
    }
    if (w * h > kMaxPicturePixels) {
        return "picture is " + std::to_string(w) + " x " + std::to_string(h) + "; at most " +
               std::to_string(kMaxPicturePixels) + " pixels are supported";
    }
    return "";
}

#if QUORVEX_SYSTEM_DECODERS

// Decoder state shared with the C callbacks. Everything a jump back may meet
// lives here, made before the jump point, so that no object is skipped.
struct DecodeState {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    char message[JMSG_LENGTH_MAX + 64] = "";
    bool cut = false;
    bool noMemory = false;
    bool done = false;    // every pixel decoded
    std::string refusal;  // the size check's verdict
    std::jmp_buf jump;
    Picture picture;
    std::vector<unsigned char*> rows;
    std::vector<unsigned char> line;
};

void SetMessage(DecodeState& state, const char* text) {
    std::snprintf(state.message, sizeof state.message, "%s", text);
}

// ---------------------------------------------------------------- PNG

void PngRead(png_structp png, png_bytep out, size_t n) {
    auto* state = static_cast<DecodeState*>(png_get_io_ptr(png));
    if (n > state->size - state->at) {
        state->cut = true;
        png_error(png, "picture file is cut short");
    }
    std::memcpy(out, state->data + state->at, n);
    state->at += n;
}

[[noreturn]] void PngError(png_structp png, png_const_charp text) {
    auto* state = static_cast<DecodeState*>(png_get_error_ptr(png));
    if (!state->cut) SetMessage(*state, text);
    std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// The decoder's memory, through the allocation gate; a refusal ends the
// decode as running out of memory.
png_voidp PngAllocate(png_structp png, png_alloc_size_t size) {
    void* p = GatedMalloc(size);
    if (!p) static_cast<DecodeState*>(png_get_mem_ptr(png))->noMemory = true;
    return p;
}

void PngRelease(png_structp, png_voidp p) { std::free(p); }

// The largest expansion deflate allows is 1032 : 1; a file too short to
// hold its pixels even so is cut, whatever its header says.
constexpr uint64_t kDeflateRatio = 1032;

bool DecodePng(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    // The header is judged before the decoder runs, so that an oversized
    // picture is refused with its size, whatever follows.
    if (size < 33 || std::memcmp(data + 12, "IHDR", 4) != 0) {
        error = "cannot decode picture: the PNG header is missing";
        return false;
    }
    const uint64_t w = (uint64_t(data[16]) << 24) | (data[17] << 16) | (data[18] << 8) | data[19];
    const uint64_t h = (uint64_t(data[20]) << 24) | (data[21] << 16) | (data[22] << 8) | data[23];
    if (std::string why = SizeProblem(w, h); !why.empty()) {
        error = why;
        return false;
    }
    const uint64_t leastRaw = h * (1 + (w + 7) / 8);  // one bit per pixel
    if (leastRaw / kDeflateRatio > size) {
        error = "picture file is cut short: " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels cannot fit in " + std::to_string(size) + " bytes";
        return false;
    }

    auto state = std::make_unique<DecodeState>();
    state->data = data;
    state->size = size;
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, state.get(), PngError, PngWarning, state.get(),
                                               PngAllocate, PngRelease);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "Not enough memory to decode the picture";
        return false;
    }
    if (setjmp(state->jump) == 0) {
        png_set_read_fn(png, state.get(), PngRead);
        png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
        png_read_info(png, info);
        const int colour = png_get_color_type(png, info);
        const int depth = png_get_bit_depth(png, info);
        if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
        if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
        if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
        // 8-bit channels widen by repeating the byte: v * 257.
        png_set_expand_16(png);
        png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
        if constexpr (std::endian::native == std::endian::little) png_set_swap(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        if (png_get_rowbytes(png, info) != width * sizeof(Color64)) png_error(png, "unexpected row layout");
        try {
            state->picture.pixels.resize(width * height);
            state->rows.resize(height);
        } catch (const std::bad_alloc&) {
            state->noMemory = true;
        }
        // Outside the handler: the jump must not leave a handler unfinished.
        if (state->noMemory) png_error(png, "out of memory");
        for (size_t y = 0; y < height; ++y) {
            state->rows[y] = reinterpret_cast<unsigned char*>(state->picture.pixels.data() + y * width);
        }
        png_read_image(png, state->rows.data());
        state->picture.width = static_cast<uint16_t>(width);
        state->picture.height = static_cast<uint16_t>(height);
        state->done = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!state->done) {
        error = state->noMemory ? "Not enough memory to decode the picture"
                : state->cut    ? "picture file is cut short: pixel data is missing"
                                : std::string("cannot decode picture: ") + state->message;
        return false;
    }
    out = std::move(state->picture);
    return true;
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
    jpeg_error_mgr base;
    DecodeState* state;
};

[[noreturn]] void JpegFail(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegError*>(info->err);
    char text[JMSG_LENGTH_MAX];
    info->err->format_message(info, text);
    SetMessage(*err->state, text);
    std::longjmp(err->state->jump, 1);
}

void JpegMessage(j_common_ptr info, int level) {
    // Running out of data makes the decoder pad with grey; such a file is
    // cut, and refused like a cut TGA or BMP.
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) {
        reinterpret_cast<JpegError*>(info->err)->state->cut = true;
    }
}

// Every 8 x 8 block of the first component takes at least one bit.
constexpr uint64_t kJpegPixelsPerByte = 512;

bool DecodeJpeg(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    auto state = std::make_unique<DecodeState>();
    jpeg_decompress_struct info;
    JpegError err;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = JpegFail;
    err.base.emit_message = JpegMessage;
    err.state = state.get();
    if (setjmp(state->jump) == 0) {
        jpeg_create_decompress(&info);
        // The decoder's own working memory is bounded too (progressive files
        // keep every coefficient).
        info.mem->max_memory_to_use = 1024L * 1024L * 1024L;
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
        jpeg_read_header(&info, TRUE);
        state->refusal = SizeProblem(info.image_width, info.image_height);
        // Arithmetic coding has no lower bound of bits per block to judge a
        // file's completeness by; such pictures were never read.
        if (state->refusal.empty() && info.arith_code)
            state->refusal = "arithmetic-coded JPEG pictures are not supported";
        if (state->refusal.empty() && uint64_t(info.image_width) * info.image_height / kJpegPixelsPerByte > size) {
            state->cut = true;
        }
    }
    if (state->refusal.empty() && !state->cut && !state->message[0] && setjmp(state->jump) == 0) {
        const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
        info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
        jpeg_start_decompress(&info);
        const size_t width = info.output_width, height = info.output_height;
        const size_t comps = static_cast<size_t>(info.output_components);
        try {
            state->line.resize(width * comps);
            state->picture.pixels.resize(width * height);
        } catch (const std::bad_alloc&) {
            state->noMemory = true;
        }
        Color64* pixel = state->picture.pixels.data();
        while (!state->noMemory && info.output_scanline < height && !state->cut) {
            JSAMPROW row = state->line.data();
            if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
            for (size_t x = 0; x < width; ++x, ++pixel) {
                const unsigned char* p = state->line.data() + x * comps;
                unsigned r = p[0], g = p[1], b = p[2];
                if (cmyk) {
                    // Inverted CMYK as such files store it: colour times key.
                    r = (p[0] * p[3] + 127) / 255;
                    g = (p[1] * p[3] + 127) / 255;
                    b = (p[2] * p[3] + 127) / 255;
                }
                *pixel = Color64{static_cast<uint16_t>(r * 257), static_cast<uint16_t>(g * 257),
                                 static_cast<uint16_t>(b * 257), 65535};
            }
        }
        if (!state->noMemory && info.output_scanline < height) state->cut = true;
        state->picture.width = static_cast<uint16_t>(width);
        state->picture.height = static_cast<uint16_t>(height);
        state->done = !state->cut && !state->noMemory;
    }
    jpeg_destroy_decompress(&info);
    if (!state->done) {
        if (!state->refusal.empty()) {
            error = state->refusal;
        } else if (state->noMemory) {
            error = "Not enough memory to decode the picture";
        } else if (state->cut) {
            error = "picture file is cut short: pixel data is missing";
        } else {
            error = std::string("cannot decode picture: ") + state->message;
        }
        return false;
    }
    out = std::move(state->picture);
    return true;
}

#endif  // QUORVEX_SYSTEM_DECODERS

}  // namespace

namespace {

bool DecodeUnguarded(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    if (!data || size == 0) {
        error = "empty picture file";
        return false;
    }
    const PictureFormat format = DetectFormat(data, size);
    if (format == PictureFormat::Unknown && LooksLikePcx(data, size)) return DecodePcx(data, size, out, error);
    if (format == PictureFormat::Gif) {
        error = "GIF pictures are not supported (only PNG, JPEG, TGA and BMP)";
        return false;
    }
    if (format == PictureFormat::Unknown) {
        error = "not a PNG, JPEG, TGA or BMP picture";
        return false;
    }
#if QUORVEX_SYSTEM_DECODERS
    if (format == PictureFormat::Png) return DecodePng(data, size, out, error);
    if (format == PictureFormat::Jpeg) return DecodeJpeg(data, size, out, error);
#endif
    if (size > static_cast<size_t>(INT_MAX)) {
        error = "picture file too large to decode";
        return false;
    }
    const int length = static_cast<int>(size);

    // The size first, from the header alone, so an oversized picture is
    // refused before its pixels are allocated; then every pixel must be there.
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &w, &h, &channels)) {
        error = std::string("cannot decode picture: ") + stbi_failure_reason();
        return false;
    }
    if (std::string why = SizeProblem(static_cast<uint64_t>(w), static_cast<uint64_t>(h)); !why.empty()) {
        error = why;
        return false;
    }
    const char* problem = format == PictureFormat::Bmp ? BmpProblem(data, size)
                          : format == PictureFormat::Tga && !TgaPixelsComplete(data, size)
                              ? "picture file is cut short: pixel data is missing"
                              : nullptr;
    if (problem) {
        error = problem;
        return false;
    }

    stbi_us* pixels = stbi_load_16_from_memory(data, length, &w, &h, &channels, 4);
    if (!pixels) {
        const std::string reason = stbi_failure_reason();
        error = reason == "outofmem" ? "Not enough memory to decode the picture" : "cannot decode picture: " + reason;
        return false;
    }
    // The decoder may see a different size than its header scan did.
    if (std::string why = SizeProblem(static_cast<uint64_t>(std::max(w, 0)), static_cast<uint64_t>(std::max(h, 0)));
        !why.empty()) {
        stbi_image_free(pixels);
        error = why;
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
        error = "Not enough memory to decode the picture";
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

}  // namespace

bool DecodePicture(const unsigned char* data, size_t size, Picture& out, std::string& error) {
    // The decoders' own memory failures are results already; this catches the
    // bookkeeping around them (their state, the messages).
    try {
        return DecodeUnguarded(data, size, out, error);
    } catch (const std::bad_alloc&) {
        error = "Not enough memory to decode the picture";
        return false;
    }
}

bool LoadPictureFile(const std::string& path, Picture& out, std::string& error) {
    std::vector<unsigned char> bytes;
    LoadError unread;
    if (!ReadInputFile(path, bytes, unread, kMaxInputFileBytes)) {
        error = path + ": " + unread.message;
        return false;
    }
    std::string why;
    if (!DecodePicture(bytes.data(), bytes.size(), out, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace quorvex::scene
