#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PassTestSupport.h"
#include "model/ModelData.h"
#include "skin/SkinPainting.h"

using namespace quorvex;

namespace {

TEST(ConvertSkinPixel, KeepsTheTopBitsOfEachChannel) {
    EXPECT_EQ(ConvertSkinPixel(65535, 65535, 65535, 0), 0xFFFF);
    EXPECT_EQ(ConvertSkinPixel(65535, 65535, 65535, 1), 0x0FFF);
    // Nothing is rounded up.
    EXPECT_EQ(ConvertSkinPixel(0x07FF, 0x03FF, 0x07FF, 0), 0);
    EXPECT_EQ(ConvertSkinPixel(0x07FF, 0x03FF, 0x07FF, 1), 0);
    // Each channel lands in its own bits.
    EXPECT_EQ(ConvertSkinPixel(0xFFFF, 0, 0, 0), 0xF800);
    EXPECT_EQ(ConvertSkinPixel(0, 0xFFFF, 0, 0), 0x07E0);
    EXPECT_EQ(ConvertSkinPixel(0, 0, 0xFFFF, 0), 0x001F);
    EXPECT_EQ(ConvertSkinPixel(0xFFFF, 0, 0, 1), 0x0F00);
    EXPECT_EQ(ConvertSkinPixel(0, 0xFFFF, 0, 1), 0x00F0);
    EXPECT_EQ(ConvertSkinPixel(0, 0, 0xFFFF, 1), 0x000F);
    // 8-bit 0x80 widened to 0x8080: red 10000, green 100000, blue 10000.
    EXPECT_EQ(ConvertSkinPixel(0x8080, 0x8080, 0x8080, 0), 0x8410);
    EXPECT_EQ(ConvertSkinPixel(0x8080, 0x8080, 0x8080, 1), 0x0888);
}

using namespace passtest;

const BMM_Color_64 White{65535, 65535, 65535, 65535};
const BMM_Color_64 Red{65535, 0, 0, 65535};

uint16_t SkinAt(const MdlContents& file, int x, int y) { return file.skin[size_t(y) * file.skinWidth + x]; }

ExportRun ExportPicture(quorvex::scene::Picture picture, int alpha = 0) {
    SceneDocument doc = SceneWith({MeshNode("Hull", Square(), "p.png")});
    doc.images["p.png"] = picture;
    return RunExport(doc, {.alphaChannel = alpha});
}

TEST(SkinPainting, SkinWidthIsTheWidestPictureRoundedUpToEight) {
    const std::pair<uint16_t, int32_t> cases[] = {{1, 8}, {8, 8}, {9, 16}, {64, 64}};
    for (auto [width, expected] : cases) {
        ExportRun run = ExportPicture(Plain(width, 2));
        ASSERT_TRUE(run.written) << run.errorText;
        EXPECT_EQ(run.file.skinWidth, expected) << width;
        EXPECT_EQ(run.file.skinHeight, 2);
    }
    // A picture that does not load registers as 0 x 0: no skin at all.
    ExportRun missing = RunExport(SceneWith({MeshNode("Hull", Square(), "missing-picture.png")}));
    ASSERT_TRUE(missing.written) << missing.errorText;
    EXPECT_EQ(missing.file.skinWidth, 0);
    EXPECT_EQ(missing.file.skinHeight, 0);
    EXPECT_TRUE(missing.file.skin.empty());
}

TEST(SkinPainting, PaintsConvertedPixelsAndLeavesTheRestFilled) {
    ExportRun run = ExportPicture(Plain(5, 4, White));
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.skinType, 2);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(SkinAt(run.file, x, y), x < 5 ? 0xFFFF : 0x001F) << x << "," << y;
    }

    ExportRun alpha = ExportPicture(Plain(5, 4, BMM_Color_64{65535, 65535, 65535, 0}), 1);
    ASSERT_TRUE(alpha.written) << alpha.errorText;
    EXPECT_EQ(alpha.file.skinType, 3);
    EXPECT_EQ(SkinAt(alpha.file, 0, 0), 0x0FFF);  // transparent paints like opaque
    EXPECT_EQ(SkinAt(alpha.file, 7, 3), 0x001F);

    ExportRun dark = ExportPicture(Plain(8, 1, BMM_Color_64{0x07FF, 0x03FF, 0x07FF, 65535}));
    EXPECT_EQ(SkinAt(dark.file, 3, 0), 0);

    // Each pixel lands at its own column and row.
    ExportRun gradient = ExportPicture(Gradient(3, 2));
    ASSERT_TRUE(gradient.written) << gradient.errorText;
    EXPECT_EQ(SkinAt(gradient.file, 0, 0), 0);
    EXPECT_EQ(SkinAt(gradient.file, 2, 0), ConvertSkinPixel(8192, 0, 0, 0));
    EXPECT_EQ(SkinAt(gradient.file, 1, 1), ConvertSkinPixel(4096, 4096, 0, 0));
    EXPECT_EQ(gradient.counters.bitmapsLoaded, gradient.counters.bitmapsReleased);
}

TEST(SkinPainting, StacksPicturesAndMovesCoordinatesToTheirRows) {
    // B's three triangles share texture vertex 0, which must move only once.
    MeshData fan;
    fan.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    fan.faces = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}};
    fan.tverts = {{0, 0.8f, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    fan.tvfaces = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}};
    SceneDocument doc = SceneWith({MeshNode("A", Square(), "skin.png"), MeshNode("B", fan, "b.png")});
    doc.images["b.png"] = Plain(8, 50, Red);
    ExportRun run = RunExport(doc);
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.skinWidth, 64);
    EXPECT_EQ(run.file.skinHeight, 82);
    EXPECT_EQ(SkinAt(run.file, 0, 31), 0xFFFF);
    EXPECT_EQ(SkinAt(run.file, 0, 32), 0xF800);
    EXPECT_EQ(SkinAt(run.file, 7, 81), 0xF800);
    EXPECT_EQ(SkinAt(run.file, 8, 81), 0x001F);
    // A's coordinates stay; B's texture vertex 0 had v = 50 - 39 - 1 = 10.
    EXPECT_EQ(run.file.texCoords[0], (std::array<int16_t, 2>{0, 31}));
    EXPECT_EQ(run.file.texCoords[4], (std::array<int16_t, 2>{0, 42}));
    EXPECT_EQ(run.file.texCoords[5], (std::array<int16_t, 2>{7, 81}));
    EXPECT_EQ(run.file.texCoords[6], (std::array<int16_t, 2>{7, 32}));
}

TEST(SkinPainting, LongPictureNamesShareASlotAndLoadByTheFullName) {
    const std::string first = std::string(280, 'd') + "/first.png";
    const std::string second = std::string(280, 'd') + "/second.png";
    SceneDocument doc =
        SceneWith({MeshNode("A", Square(), first), MeshNode("B", Square(), first), MeshNode("C", Square(), second)});
    doc.images[first] = Plain(8, 2, Red);
    doc.images[second] = Plain(16, 16, White);
    ExportRun run = RunExport(doc);
    ASSERT_TRUE(run.written) << run.errorText;
    // Names alike in their first 255 bytes are one picture: the first one.
    EXPECT_EQ(run.file.skinWidth, 8);
    EXPECT_EQ(run.file.skinHeight, 2);
    EXPECT_EQ(SkinAt(run.file, 0, 0), 0xF800);
    EXPECT_EQ(SkinAt(run.file, 7, 1), 0xF800);
}

// Painting straight from a texture table the test fills, so that pictures can
// load with other sizes than they were registered with.
struct PaintRig {
    quorvex::standin::StandinHost host;
    quorvex::standin::HostGlobalsScope scope;
    TextureTable table{};
    SkinImage* skin = nullptr;

    explicit PaintRig(SceneDocument doc) : host(std::move(doc)), scope(&host) {}
    ~PaintRig() { FreeSkinImage(skin); }
    uint16_t At(int x, int y) const { return skin->pixels[size_t(y) * skin->width + x]; }
};

SceneDocument Pictures() {
    SceneDocument doc;
    doc.images["grad.png"] = Gradient(6, 3);
    doc.images["red.png"] = Plain(4, 2, Red);
    return doc;
}

TEST(SkinPainting, PaintsAtTheRegisteredPlaceAndSizeWhenAPictureChanged) {
    {  // Registered smaller than it now loads: cut to the registered 4 x 2.
        PaintRig rig(Pictures());
        FindOrAddTexture(rig.table, "grad.png", 4, 2);
        FindOrAddTexture(rig.table, "red.png", 4, 2);
        rig.skin = CreateSkinImage(8, 4, kSkinFormatRGB565);
        ASSERT_NE(rig.skin, nullptr);
        EXPECT_EQ(PaintTextures(rig.table, rig.skin, 8, 0), 1);
        EXPECT_EQ(rig.At(3, 1), ConvertSkinPixel(3 * 4096, 4096, 0, 0));
        EXPECT_EQ(rig.At(4, 1), kSkinFillValue);
        EXPECT_EQ(rig.At(0, 2), 0xF800);
        EXPECT_EQ(rig.At(3, 3), 0xF800);
        EXPECT_EQ(rig.host.Counters().bitmapsLoaded, 2);
        EXPECT_EQ(rig.host.Counters().bitmapsReleased, 2);
    }
    {  // Registered larger, or missing now: the next picture keeps its rows.
        PaintRig rig(Pictures());
        FindOrAddTexture(rig.table, "grad.png", 8, 5);
        FindOrAddTexture(rig.table, "gone.png", 8, 2);
        FindOrAddTexture(rig.table, "red.png", 4, 2);
        rig.skin = CreateSkinImage(8, 9, kSkinFormatRGB565);
        ASSERT_NE(rig.skin, nullptr);
        PaintTextures(rig.table, rig.skin, 8, 0);
        EXPECT_EQ(rig.At(5, 2), ConvertSkinPixel(5 * 4096, 2 * 4096, 0, 0));
        EXPECT_EQ(rig.At(6, 2), kSkinFillValue);
        EXPECT_EQ(rig.At(0, 3), kSkinFillValue);
        EXPECT_EQ(rig.At(0, 6), kSkinFillValue);
        EXPECT_EQ(rig.At(0, 7), 0xF800);
        EXPECT_EQ(rig.At(3, 8), 0xF800);
    }
    {  // A skin smaller than the table asks for is never written past.
        PaintRig rig(Pictures());
        FindOrAddTexture(rig.table, "grad.png", 6, 3);
        FindOrAddTexture(rig.table, "red.png", 4, 2);
        rig.skin = CreateSkinImage(8, 4, kSkinFormatRGB565);
        ASSERT_NE(rig.skin, nullptr);
        PaintTextures(rig.table, rig.skin, 8, 0);
        EXPECT_EQ(rig.At(5, 2), ConvertSkinPixel(5 * 4096, 2 * 4096, 0, 0));
        EXPECT_EQ(rig.At(0, 3), 0xF800);
    }
}

TEST(ShiftTexCoords, MovesEachCoordinateOnceAndWraps) {
    TextureTable table{};
    FindOrAddTexture(table, "a.png", 8, 70000);
    FindOrAddTexture(table, "b.png", 8, 8);
    ModelData* model = CreateModel(3, 3, 4, 1);
    ASSERT_NE(model, nullptr);
    for (int t = 0; t < 3; ++t) {
        model->triangles[t].texCoord[0] = 0;
        model->triangles[t].texCoord[1] = static_cast<uint16_t>(t + 1);
        model->triangles[t].texCoord[2] = 0;
        model->triangles[t].textureSlot = 1;
    }
    model->triangles[2].texCoord[1] = 3;
    model->triangles[2].textureSlot = -1;
    for (int i = 0; i < 4; ++i) model->texCoords[i].v = 5;
    ShiftTexCoords(table, model);
    // (5 + 70000) mod 65536
    EXPECT_EQ(model->texCoords[0].v, 4469);
    EXPECT_EQ(model->texCoords[1].v, 4469);
    EXPECT_EQ(model->texCoords[2].v, 4469);
    EXPECT_EQ(model->texCoords[3].v, 5);  // only used by the untextured triangle
    EXPECT_EQ(model->texCoords[3].shifted, 0);
    EXPECT_EQ(model->texCoords[0].shifted, 1);
    DestroyModel(model);
}

}  // namespace
