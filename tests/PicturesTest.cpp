#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "standin/StandinHost.h"

#include "tests/StbImageWrite.h"

using quorvex::scene::Color64;
using quorvex::scene::DecodePicture;
using quorvex::scene::LoadPictureFile;
using quorvex::scene::Picture;

using namespace quorvex::scene;

namespace {

using Bytes = std::vector<unsigned char>;

void Collect(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    auto* p = static_cast<unsigned char*>(data);
    out->insert(out->end(), p, p + size);
}

enum class Writer { Png, Bmp, Tga, TgaRle, Jpeg };

Bytes Encode(Writer writer, int w, int h, int comp, const Bytes& pixels) {
    Bytes out;
    int ok = 0;
    switch (writer) {
        case Writer::Png: ok = stbi_write_png_to_func(Collect, &out, w, h, comp, pixels.data(), w * comp); break;
        case Writer::Bmp: ok = stbi_write_bmp_to_func(Collect, &out, w, h, comp, pixels.data()); break;
        case Writer::Tga:
        case Writer::TgaRle:
            stbi_write_tga_with_rle = writer == Writer::TgaRle ? 1 : 0;
            ok = stbi_write_tga_to_func(Collect, &out, w, h, comp, pixels.data());
            break;
        case Writer::Jpeg: ok = stbi_write_jpg_to_func(Collect, &out, w, h, comp, pixels.data(), 100); break;
    }
    EXPECT_TRUE(ok);
    return out;
}

// A PNG built by hand, for what the encoder above cannot write: 16-bit
// channels and palettes. The image data goes in stored (uncompressed) blocks.
uint32_t Crc(const unsigned char* p, size_t n, uint32_t crc = 0xFFFFFFFFu) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

void Be32(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

void Chunk(Bytes& png, const char* type, const Bytes& data) {
    Be32(png, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Be32(png, Crc(body.data(), body.size()) ^ 0xFFFFFFFFu);
}

// `rows` holds each row's bytes without the filter byte; empty `rows` writes
// a file with a header and no image data.
Bytes HandPng(uint32_t w, uint32_t h, int depth, int colourType, const std::vector<Bytes>& rows,
              const Bytes& palette = {}) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    Be32(ihdr, w);
    Be32(ihdr, h);
    ihdr.insert(ihdr.end(), {static_cast<unsigned char>(depth), static_cast<unsigned char>(colourType), 0, 0, 0});
    Chunk(png, "IHDR", ihdr);
    if (!palette.empty()) Chunk(png, "PLTE", palette);
    if (!rows.empty()) {
        Bytes raw;
        for (const Bytes& row : rows) {
            raw.push_back(0);
            raw.insert(raw.end(), row.begin(), row.end());
        }
        Bytes z = {0x78, 0x01};
        for (size_t at = 0; at < raw.size() || at == 0;) {
            const size_t n = std::min<size_t>(65535, raw.size() - at);
            z.push_back(at + n == raw.size() ? 1 : 0);
            z.insert(z.end(), {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                               static_cast<unsigned char>(~n), static_cast<unsigned char>(~n >> 8)});
            z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                     raw.begin() + static_cast<std::ptrdiff_t>(at + n));
            at += n;
            if (n == 0) break;
        }
        uint32_t a = 1, b = 0;
        for (unsigned char c : raw) {
            a = (a + c) % 65521;
            b = (b + a) % 65521;
        }
        Be32(z, (b << 16) | a);
        Chunk(png, "IDAT", z);
    }
    Chunk(png, "IEND", {});
    return png;
}

Picture Decode(const Bytes& bytes) {
    Picture picture;
    std::string error;
    EXPECT_TRUE(DecodePicture(bytes.data(), bytes.size(), picture, error)) << error;
    return picture;
}

std::string Refusal(const Bytes& bytes) {
    Picture picture;
    std::string error;
    EXPECT_FALSE(DecodePicture(bytes.data(), bytes.size(), picture, error));
    EXPECT_FALSE(error.empty());
    return error;
}

void ExpectColour(const Color64& c, uint16_t r, uint16_t g, uint16_t b, uint16_t a) {
    EXPECT_EQ(c.r, r);
    EXPECT_EQ(c.g, g);
    EXPECT_EQ(c.b, b);
    EXPECT_EQ(c.a, a);
}

}  // namespace

TEST(Pictures, LosslessFormatsWidenEightBitChannelsAndKeepRowOrder) {
    // Two rows so that a bottom-up format stored the wrong way round shows.
    const Bytes rgba = {0, 128, 255, 7, 1, 2, 3, 255, 9, 8, 7, 6, 250, 251, 252, 253};
    for (Writer writer : {Writer::Png, Writer::Tga, Writer::TgaRle, Writer::Bmp}) {
        SCOPED_TRACE(static_cast<int>(writer));
        Picture p = Decode(Encode(writer, 2, 2, 4, rgba));
        ASSERT_EQ(p.width, 2);
        ASSERT_EQ(p.height, 2);
        ASSERT_EQ(p.pixels.size(), 4u);
        EXPECT_FALSE(p.plain);
        ExpectColour(p.pixels[0], 0, 128 * 257, 65535, 7 * 257);
        ExpectColour(p.pixels[1], 257, 2 * 257, 3 * 257, 65535);
        ExpectColour(p.pixels[2], 9 * 257, 8 * 257, 7 * 257, 6 * 257);
    }
    // Without alpha every pixel is opaque.
    const Bytes rgb = {10, 20, 30, 40, 50, 60};
    for (Writer writer : {Writer::Png, Writer::Tga, Writer::Bmp}) {
        Picture p = Decode(Encode(writer, 1, 2, 3, rgb));
        ASSERT_EQ(p.pixels.size(), 2u);
        ExpectColour(p.pixels[1], 40 * 257, 50 * 257, 60 * 257, 65535);
    }
}

TEST(Pictures, GreyPalettesAndSixteenBitChannels) {
    Picture grey = Decode(Encode(Writer::Png, 1, 1, 1, {100}));
    ExpectColour(grey.pixels[0], 25700, 25700, 25700, 65535);
    Picture greyAlpha = Decode(Encode(Writer::Tga, 1, 1, 2, {100, 50}));
    ExpectColour(greyAlpha.pixels[0], 25700, 25700, 25700, 50 * 257);

    const Bytes palette = {10, 20, 30, 200, 100, 50};
    Picture indexed = Decode(HandPng(2, 1, 8, 3, {{1, 0}}, palette));
    ExpectColour(indexed.pixels[0], 200 * 257, 100 * 257, 50 * 257, 65535);
    ExpectColour(indexed.pixels[1], 10 * 257, 20 * 257, 30 * 257, 65535);

    // 16-bit channels are taken as they are, not narrowed and widened again.
    Picture deep = Decode(HandPng(1, 1, 16, 2, {{0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}}));
    ExpectColour(deep.pixels[0], 0x1234, 0xABCD, 0x0001, 65535);
    Picture deepGrey = Decode(HandPng(1, 1, 16, 0, {{0x80, 0x01}}));
    ExpectColour(deepGrey.pixels[0], 0x8001, 0x8001, 0x8001, 65535);
}

TEST(Pictures, JpegDecodesToWidenedValues) {
    const Bytes flat(16 * 8 * 3, 200);
    Picture p = Decode(Encode(Writer::Jpeg, 16, 8, 3, flat));
    ASSERT_EQ(p.width, 16);
    ASSERT_EQ(p.height, 8);
    for (const Color64& c : p.pixels) {
        EXPECT_EQ(c.r % 257, 0);
        EXPECT_NEAR(c.r / 257, 200, 3);
        EXPECT_EQ(c.a, 65535);
    }
}

TEST(Pictures, SizeLimit) {
    // Exactly 65535 wide still loads.
    Picture widest = Decode(HandPng(65535, 1, 8, 0, {Bytes(65535, 7)}));
    EXPECT_EQ(widest.width, 65535);
    ASSERT_EQ(widest.pixels.size(), 65535u);
    EXPECT_EQ(widest.pixels[65534].g, 7 * 257);

    // Beyond that the header alone refuses it, before any pixel is decoded.
    EXPECT_NE(Refusal(HandPng(65536, 1, 8, 0, {})).find("65535"), std::string::npos);
    EXPECT_NE(Refusal(HandPng(1, 70000, 8, 0, {})).find("65535"), std::string::npos);
}

TEST(Pictures, OtherFormatsAndBrokenFilesAreRefused) {
    const std::string gif = "GIF89a\x01\x00\x01\x00\x00\x00\x00;";
    EXPECT_NE(Refusal(Bytes(gif.begin(), gif.end())).find("GIF"), std::string::npos);

    const std::string text = "hello, this is not a picture at all\n";
    Refusal(Bytes(text.begin(), text.end()));
    Refusal(Bytes(64, 0));  // would pass a loose TGA test
    Refusal(Bytes{});

    Bytes png = Encode(Writer::Png, 4, 4, 3, Bytes(48, 9));
    png.resize(png.size() / 2);
    Refusal(png);
    Refusal(HandPng(4, 4, 8, 2, {}));  // a header and no image data

    Bytes tga = Encode(Writer::Tga, 2, 2, 3, Bytes(12, 9));
    tga[2] = 7;  // no such TGA image type
    Refusal(tga);
}

TEST(Pictures, LoadPictureFileNamesThePathInErrors) {
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir());
    const std::string missing = (dir / "no-such-picture.png").string();
    Picture picture;
    std::string error;
    EXPECT_FALSE(LoadPictureFile(missing, picture, error));
    EXPECT_NE(error.find(missing), std::string::npos);

    const std::string fake = (dir / "pictures-test-fake.tga").string();
    {
        std::ofstream out(fake, std::ios::binary);
        out << "just some words, not a targa header";
    }
    error.clear();
    EXPECT_FALSE(LoadPictureFile(fake, picture, error));
    EXPECT_NE(error.find(fake), std::string::npos);

    const std::string real = (dir / "pictures-test-real.bmp").string();
    {
        Bytes bmp = Encode(Writer::Bmp, 3, 1, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
        std::ofstream out(real, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    }
    ASSERT_TRUE(LoadPictureFile(real, picture, error)) << error;
    EXPECT_EQ(picture.width, 3);
    ExpectColour(picture.pixels[2], 7 * 257, 8 * 257, 9 * 257, 65535);
    std::filesystem::remove(fake);
    std::filesystem::remove(real);
}

TEST(Pictures, TruncatedPixelDataIsRefused) {
    // The decoder pads missing TGA and BMP pixel data with zeros; a cut file
    // must be refused, not read as a partly black picture.
    for (Writer writer : {Writer::Tga, Writer::TgaRle, Writer::Bmp}) {
        SCOPED_TRACE(static_cast<int>(writer));
        Bytes varied;
        for (int i = 0; i < 4 * 4 * 3; ++i) varied.push_back(static_cast<unsigned char>(i * 37));
        Bytes whole = Encode(writer, 4, 4, 3, varied);
        Decode(whole);
        Bytes cut(whole.begin(), whole.end() - 5);
        if (writer != Writer::Bmp) {
            // TGA files may end in a footer; cut into the pixels themselves.
            cut.assign(whole.begin(), whole.begin() + 18 + 20);
        }
        Refusal(cut);
    }
}
