#include "view/Renderer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MdlTestFile.h"
#include "view/PictureOutput.h"
#include "tests/ScratchDir.h"

using quorvex::view::DecodeSkinPixel;
using quorvex::view::FitSheetLabels;
using quorvex::view::kRenderMaxSide;
using quorvex::view::RenderColor;
using quorvex::view::RenderImage;
using quorvex::view::RenderModelFrame;
using quorvex::view::RenderModelSheet;
using quorvex::view::RenderOptions;
using quorvex::view::RenderResult;
using quorvex::view::RenderSkinPicture;
using quorvex::view::SheetLabels;
using quorvex::view::WritePngFile;

using namespace quorvex;
using namespace quorvex::view;

namespace {

namespace fs = std::filesystem;
using mdltest::Model;

constexpr uint16_t kRed565 = 0xF800;
constexpr uint16_t kBlue565 = 0x001F;

MdlFile Load(const Model& m) {
    const std::vector<uint8_t> b = mdltest::Bytes(m);
    MdlReadResult r = ReadMdlBytes(b.data(), b.size());
    EXPECT_TRUE(r.ok()) << r.error.message;
    return std::move(r.file);
}

// Head-on view and light, so a face turned to the viewer shows its texels
// unchanged; the square fills the middle half of a 64 x 64 picture.
RenderOptions FrontOptions() {
    RenderOptions o;
    o.width = o.height = 64;
    o.yawDegrees = 0.0f;
    o.pitchDegrees = 0.0f;
    o.margin = 0.25f;
    o.light[0] = o.light[1] = 0.0f;
    o.light[2] = 1.0f;
    o.ambient = 0.5f;
    o.background = {1, 2, 3};
    return o;
}

bool Same(RenderColor a, RenderColor b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

::testing::AssertionResult IsColor(const RenderImage& image, int x, int y, RenderColor want) {
    const RenderColor got = image.At(x, y);
    if (Same(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << int(got.r) << ", " << int(got.g)
                                         << ", " << int(got.b) << "), expected (" << int(want.r) << ", " << int(want.g)
                                         << ", " << int(want.b) << ")";
}

int CountNot(const RenderImage& image, RenderColor background) {
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) n += !Same(image.At(x, y), background);
    return n;
}

TEST(Renderer, DrawsAFrontFacingSquareWithItsSkin) {
    for (bool sixteen : {false, true}) {
        SCOPED_TRACE(sixteen ? "MDL4" : "MDL3");
        const MdlFile file = Load(mdltest::Square(kRed565, kBlue565, sixteen));
        const RenderOptions o = FrontOptions();
        const RenderResult r = RenderModelFrame(file, 0, o);
        ASSERT_TRUE(r.ok()) << r.error;
        ASSERT_EQ(r.image.width, 64);
        ASSERT_EQ(r.image.height, 64);
        // The square spans pixels 16..47 both ways; u = 0 on its left, 1 on its right.
        for (int y : {17, 32, 46}) {
            EXPECT_TRUE(IsColor(r.image, 17, y, {255, 0, 0}));
            EXPECT_TRUE(IsColor(r.image, 30, y, {255, 0, 0}));
            EXPECT_TRUE(IsColor(r.image, 33, y, {0, 0, 255}));
            EXPECT_TRUE(IsColor(r.image, 46, y, {0, 0, 255}));
        }
        for (auto [x, y] : {std::pair{0, 0}, {63, 63}, {14, 32}, {49, 32}, {32, 14}, {32, 49}})
            EXPECT_TRUE(IsColor(r.image, x, y, o.background));
        EXPECT_EQ(CountNot(r.image, o.background), 32 * 32);
    }
}

TEST(Renderer, CullsFacesTurnedAway) {
    Model reversed = mdltest::Square(kRed565, kBlue565);
    for (MdlTriangle& t : reversed.triangles) {
        std::swap(t.vertex[1], t.vertex[2]);
        std::swap(t.texCoord[1], t.texCoord[2]);
    }
    const RenderOptions o = FrontOptions();
    const RenderResult r = RenderModelFrame(Load(reversed), 0, o);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(CountNot(r.image, o.background), 0);

    // The front-facing square seen from behind is culled as well.
    RenderOptions behind = o;
    behind.yawDegrees = 180.0f;
    const RenderResult back = RenderModelFrame(Load(mdltest::Square(kRed565, kBlue565)), 0, behind);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(CountNot(back.image, o.background), 0);
}

TEST(Renderer, LightsWithTheStoredNormals) {
    // Stored normal (0, 0, -1): the lit side faces up, across the head-on
    // light, so only the ambient share of the texel remains.
    Model m = mdltest::Square(0xFFFF, 0xFFFF);
    for (mdltest::Vertex& v : m.frames[0].vertices) v.normalIndex = 84;
    const RenderResult r = RenderModelFrame(Load(m), 0, FrontOptions());
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(IsColor(r.image, 32, 32, {128, 128, 128}));

    // A normal pointing out of the front face keeps the full texel colour.
    const RenderResult lit = RenderModelFrame(Load(mdltest::Square(0xFFFF, 0xFFFF)), 0, FrontOptions());
    EXPECT_TRUE(IsColor(lit.image, 32, 32, {255, 255, 255}));
}

// A far red square (x = 0) and a smaller near blue one (x = 0.5) in front of it.
Model TwoSquares(bool nearFirst) {
    Model m = mdltest::Square(kRed565, kBlue565);
    m.scale[0] = 0.5f;
    m.vertexCount = 8;
    std::vector<mdltest::Vertex>& v = m.frames[0].vertices;
    v.push_back({1, 64, 64, 143});
    v.push_back({1, 64, 191, 143});
    v.push_back({1, 191, 191, 143});
    v.push_back({1, 191, 64, 143});
    m.frames[0].bboxMax.x = 1;
    const MdlTriangle farA{{0, 1, 2}, {0, 0, 0}}, farB{{0, 2, 3}, {0, 0, 0}};
    const MdlTriangle nearA{{4, 5, 6}, {1, 1, 1}}, nearB{{4, 6, 7}, {1, 1, 1}};
    m.triangles = nearFirst ? std::vector<MdlTriangle>{nearA, nearB, farA, farB}
                            : std::vector<MdlTriangle>{farA, farB, nearA, nearB};
    return m;
}

TEST(Renderer, NearerFacesWinWhateverTheOrder) {
    for (bool nearFirst : {false, true}) {
        SCOPED_TRACE(nearFirst ? "near first" : "far first");
        const RenderResult r = RenderModelFrame(Load(TwoSquares(nearFirst)), 0, FrontOptions());
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(IsColor(r.image, 32, 32, {0, 0, 255}));
        EXPECT_TRUE(IsColor(r.image, 18, 32, {255, 0, 0}));
        EXPECT_TRUE(IsColor(r.image, 32, 45, {255, 0, 0}));
    }
}

// Two frames of the square, the second moved ten units to the right.
Model MovingSquare() {
    Model m = mdltest::Square(kRed565, kBlue565, true);
    m.origin[1] = -1.0f;
    m.scale[1] = 12.0f / 65535.0f;
    const uint16_t one = uint16_t(2.0 / 12.0 * 65535.0);  // two units along y
    const uint16_t ten = uint16_t(10.0 / 12.0 * 65535.0);
    mdltest::Frame& f0 = m.frames[0];
    for (mdltest::Vertex& v : f0.vertices) v.y = v.y ? one : 0;
    f0.bboxMax.y = one;
    mdltest::Frame f1 = f0;
    f1.name = "square1";
    for (mdltest::Vertex& v : f1.vertices) v.y = uint16_t(v.y + ten);
    f1.bboxMin.y = ten;
    f1.bboxMax.y = uint16_t(one + ten);
    m.frames.push_back(f1);
    return m;
}

TEST(Renderer, CameraKeepsEveryFrameInThePicture) {
    const MdlFile file = Load(MovingSquare());
    const RenderOptions o = FrontOptions();
    int lastColumn[2] = {-1, -1}, firstColumn[2] = {64, 64};
    for (int f = 0; f < 2; ++f) {
        const RenderResult r = RenderModelFrame(file, f, o);
        ASSERT_TRUE(r.ok());
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                if (Same(r.image.At(x, y), o.background)) continue;
                EXPECT_TRUE(x > 0 && y > 0 && x < 63 && y < 63) << "frame " << f << " touches the border";
                firstColumn[f] = std::min(firstColumn[f], x);
                lastColumn[f] = std::max(lastColumn[f], x);
            }
    }
    ASSERT_GE(lastColumn[0], 0);
    ASSERT_GE(lastColumn[1], 0);
    // One camera for both frames: the second frame is drawn to the right of the first.
    EXPECT_LT(lastColumn[0], firstColumn[1]);
}

TEST(Renderer, SheetPlacesLabelledCellsInAGrid) {
    Model m = MovingSquare();
    mdltest::Frame extra = m.frames[0];
    extra.name = "stand";
    m.frames.push_back(extra);
    const MdlFile file = Load(m);
    RenderOptions o = FrontOptions();
    const RenderResult sheet = RenderModelSheet(file, 1, o);
    ASSERT_TRUE(sheet.ok()) << sheet.error;
    EXPECT_EQ(sheet.image.width, 128);  // three cells: 2 x 2, the last one empty
    EXPECT_EQ(sheet.image.height, 128);
    bool labelInk = false;
    for (int y = 64 - 14; y < 64; ++y)
        for (int x = 0; x < 64; ++x) labelInk |= Same(sheet.image.At(x, y), {230, 230, 230});
    EXPECT_TRUE(labelInk);
    for (int y = 64; y < 128; ++y)
        for (int x = 64; x < 128; ++x) ASSERT_TRUE(IsColor(sheet.image, x, y, o.background));
    // Every cell holds its frame: the first cell's model lies left of the second's.
    EXPECT_TRUE(IsColor(sheet.image, 20, 25, {255, 0, 0}) || IsColor(sheet.image, 20, 25, {0, 0, 255}));
    EXPECT_TRUE(IsColor(sheet.image, 64 + 20, 25, o.background));

    const RenderResult everyOther = RenderModelSheet(file, 2, o);
    ASSERT_TRUE(everyOther.ok());
    EXPECT_EQ(everyOther.image.width, 128);
    EXPECT_EQ(everyOther.image.height, 64);

    // Automatic step: 130 frames are drawn as at most 64 cells.
    Model many = mdltest::Square(kRed565, kBlue565);
    many.frames.resize(130, many.frames[0]);
    o.width = o.height = 8;
    const RenderResult automatic = RenderModelSheet(Load(many), 0, o);
    ASSERT_TRUE(automatic.ok());
    EXPECT_LE(automatic.image.width * automatic.image.height, 64 * 8 * 8);
}

TEST(Renderer, RefusesRequestsThatDoNotFit) {
    const MdlFile file = Load(mdltest::Square(kRed565, kBlue565));
    RenderOptions o = FrontOptions();
    for (int frame : {-1, 1}) {
        const RenderResult r = RenderModelFrame(file, frame, o);
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(r.badRequest);
        EXPECT_TRUE(r.image.rgb.empty());
    }
    for (auto [w, h] : {std::pair{0, 10}, {10, -1}, {kRenderMaxSide + 1, 10}}) {
        o.width = w;
        o.height = h;
        const RenderResult r = RenderModelFrame(file, 0, o);
        EXPECT_TRUE(!r.ok() && r.badRequest) << w << "x" << h;
    }
    o.width = o.height = 6000;
    Model two = mdltest::Square(kRed565, kBlue565);
    two.frames.push_back(two.frames[0]);
    const RenderResult sheet = RenderModelSheet(Load(two), 1, o);
    EXPECT_TRUE(!sheet.ok() && sheet.badRequest);
    EXPECT_TRUE(RenderModelSheet(Load(Model{}), 1, FrontOptions()).badRequest);  // no frames
    EXPECT_TRUE(RenderSkinPicture(Load(Model{})).badRequest);                    // no skin
}

TEST(Renderer, DecodesSkinPixels) {
    EXPECT_TRUE(Same(DecodeSkinPixel(0xFFFF, kSkinFormatRGB565), {255, 255, 255}));
    EXPECT_TRUE(Same(DecodeSkinPixel(0x8410, kSkinFormatRGB565), {132, 130, 132}));
    EXPECT_TRUE(Same(DecodeSkinPixel(0x07E0, kSkinFormatRGB565), {0, 255, 0}));
    // The alpha nibble is ignored: the exporter writes it as 0.
    EXPECT_TRUE(Same(DecodeSkinPixel(0x0F00, kSkinFormatARGB4444), {255, 0, 0}));
    EXPECT_TRUE(Same(DecodeSkinPixel(0xF0F0, kSkinFormatARGB4444), {0, 255, 0}));
    EXPECT_TRUE(Same(DecodeSkinPixel(0x0018, kSkinFormatARGB4444), {0, 17, 136}));

    Model m = mdltest::Square(0x0F00, 0x000F);
    m.skinType = kSkinFormatARGB4444;
    m.skinHeight = 2;
    m.skin = {0x0F00, 0x000F, 0x00F0, 0x0FFF};
    const RenderResult skin = RenderSkinPicture(Load(m));
    ASSERT_TRUE(skin.ok()) << skin.error;
    ASSERT_EQ(skin.image.width, 2);
    ASSERT_EQ(skin.image.height, 2);
    EXPECT_TRUE(IsColor(skin.image, 0, 0, {255, 0, 0}));
    EXPECT_TRUE(IsColor(skin.image, 1, 0, {0, 0, 255}));
    EXPECT_TRUE(IsColor(skin.image, 0, 1, {0, 255, 0}));
    EXPECT_TRUE(IsColor(skin.image, 1, 1, {255, 255, 255}));
}

// Whatever a readable file holds (extreme scales, texture coordinates far
// outside the skin, any normal index), drawing it stays within the picture.
TEST(Renderer, DrawsAnyReadableFileSafely) {
    const std::vector<uint8_t> valid = mdltest::Bytes(TwoSquares(true));
    RenderOptions o = FrontOptions();
    o.width = o.height = 24;
    int drawn = 0;
    for (size_t at = 0; at < valid.size(); ++at)
        for (uint8_t change : {0x01, 0x40, 0x80, 0xFF}) {
            std::vector<uint8_t> b = valid;
            b[at] ^= change;
            const MdlReadResult r = ReadMdlBytes(b.data(), b.size());
            if (!r.ok() || r.file.frames.empty()) continue;
            const RenderResult image = RenderModelFrame(r.file, 0, o);
            ASSERT_TRUE(image.ok()) << at << ": " << image.error;
            ASSERT_EQ(image.image.rgb.size(), 24u * 24u * 3u);
            ++drawn;
        }
    EXPECT_GT(drawn, 100);

    // Scales near the float limit decode to infinite positions.
    Model huge = TwoSquares(false);
    huge.scale[0] = huge.scale[1] = huge.scale[2] = 3.0e38f;
    huge.origin[1] = -3.0e38f;
    const RenderResult r = RenderModelFrame(Load(huge), 0, o);
    ASSERT_TRUE(r.ok());
}

class PngOutputTest : public ::testing::Test {
protected:
    ScratchDir scratch_{"png"};
    const std::filesystem::path& dir_ = scratch_.path;
};

uint32_t BigEndian32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST_F(PngOutputTest, WritesAPngOfThePictureSize) {
    const RenderResult r = RenderModelFrame(Load(mdltest::Square(kRed565, kBlue565)), 0, FrontOptions());
    RenderImage image = r.image;
    image.width = 32;
    image.height = 128;
    const fs::path path = dir_ / "out.png";
    std::string error;
    ASSERT_TRUE(WritePngFile(path.string(), image, error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(b.size(), 33u);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(std::equal(signature, signature + 8, b.begin()));
    EXPECT_EQ(std::string(b.begin() + 12, b.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(b, 16), 32u);
    EXPECT_EQ(BigEndian32(b, 20), 128u);
    EXPECT_EQ(b[24], 8);  // bits per channel
    EXPECT_EQ(b[25], 2);  // RGB

    const std::string bad = (dir_ / "missing" / "out.png").string();
    EXPECT_FALSE(WritePngFile(bad, image, error));
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    image.rgb.pop_back();  // size no longer matches
    EXPECT_FALSE(WritePngFile(path.string(), image, error));
}

}  // namespace

TEST(Renderer, SheetLabelsFitTheirCells) {
    struct Case {
        int32_t width, height;
        std::vector<int64_t> frames;
        std::vector<std::string> names;
        int32_t scale;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        // Whole labels at the larger size when all fit.
        {128, 128, {0, 5}, {"idle0", "idle5"}, 2, {"0 idle0", "5 idle5"}},
        // One too long for it: all at the smaller size, cut where needed (30 glyphs in 122 pixels).
        {128, 128, {120}, {"a_long_name_of_15"}, 1, {"120 a_long_name_of_15"}},
        {64, 64, {12}, {"attack_cycle12"}, 1, {"12 attack_cycl"}},
        // Too small for any label beside the model.
        {128, 30, {0}, {"idle0"}, 0, {}},
        {8, 128, {100}, {"x"}, 0, {}},
    };
    for (const Case& c : cases) {
        const SheetLabels labels = FitSheetLabels(c.frames, c.names, c.width, c.height);
        EXPECT_EQ(labels.scale, c.scale) << c.width << "x" << c.height;
        EXPECT_EQ(labels.texts, c.texts) << c.width << "x" << c.height;
    }
}
