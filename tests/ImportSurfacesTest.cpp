// What imported meshes show in the skin: texture lookup, tiles, swatches; and
// the texts clips name their frames with.
#include <cmath>

#include "import/ClipNames.h"
#include "import/Surfaces.h"
#include "tests/ImportTestSupport.h"
#include "tests/StbImageWrite.h"

using quorvex::importer::AnimatedScene;
using quorvex::importer::AnimMaterial;
using quorvex::importer::AnimMesh;
using quorvex::importer::ClipNoteTexts;
using quorvex::importer::ClipText;
using quorvex::importer::FindTextureFile;
using quorvex::importer::kMaxPictures;
using quorvex::importer::kMaxTiles;
using quorvex::importer::PrepareSurfaces;
using quorvex::importer::Wrap;
using quorvex::scene::Color64;
using quorvex::scene::Picture;

using namespace importtest;
using namespace quorvex::importer;
using namespace quorvex::scene;

namespace {

void WritePng(const std::string& path, int w, int h, const std::vector<unsigned char>& rgb) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3));
}

TEST(ImportSurfaces, TexturesAreFoundAsArtistsToolsFindThem) {
    const std::string root = ScratchDir("lookup");
    const std::string base = root + "model/";
    for (const char* file : {"textures/Wood.PNG", "model/leaf.png", "model/Sub/Bark.png"}) {
        WritePng(root + file, 1, 1, {1, 2, 3});
    }
    const struct {
        std::string written;
        const char* found;  // below root; "" for none
    } cases[] = {
        {"leaf.png", "model/leaf.png"},
        {".\\leaf.png", "model/leaf.png"},
        {"./leaf.png", "model/leaf.png"},
        {"\\..\\textures\\wood.png", "textures/Wood.PNG"},
        {"sub\\BARK.PNG", "model/Sub/Bark.png"},
        {"C:\\Users\\artist\\LEAF.PNG", "model/leaf.png"},
        {root + "model/leaf.png", "model/leaf.png"},
        {"missing.png", ""},
    };
    for (const auto& c : cases) {
        const std::string found = FindTextureFile(c.written, base);
        const std::string want = *c.found ? root + c.found : "";
        EXPECT_EQ(std::filesystem::path(found).lexically_normal(), std::filesystem::path(want).lexically_normal())
            << c.written;
    }
}

// The texel under (u, v) within 0..1, v counted up from the bottom row.
Color64 Sample(const Picture& p, double u, double v) {
    const int x = std::min(static_cast<int>(u * p.width), p.width - 1);
    const int y = std::min(static_cast<int>((1.0 - v) * p.height), p.height - 1);
    return p.pixels.at(static_cast<size_t>(y) * p.width + x);
}

// What the artist's tool shows at (u, v), for a picture that wraps each way.
Color64 Wrapped(const Picture& p, double u, double v, Wrap wu, Wrap wv) {
    auto fold = [](double t, Wrap w) {
        const double tile = std::floor(t);
        const double f = t - tile;
        return (w == Wrap::Mirror && static_cast<long>(tile) % 2 != 0) ? 1.0 - f : f;
    };
    return Sample(p, fold(u, wu), fold(v, wv));
}

// A 4 x 2 picture of eight distinct colours.
Picture Checker() {
    Picture p;
    p.width = 4;
    p.height = 2;
    for (uint16_t i = 0; i < 8; ++i) p.pixels.push_back({static_cast<uint16_t>(i * 8000), 0, 0, 65535});
    return p;
}

TEST(ImportSurfaces, CoordinatesOverTilesSampleTheTexelsTheToolShows) {
    for (Wrap wrap : {Wrap::Repeat, Wrap::Mirror}) {
        SCOPED_TRACE(wrap == Wrap::Mirror ? "mirror" : "repeat");
        AnimatedScene scene;
        scene.pictures["tex"] = Checker();
        AnimMaterial mat;
        mat.diffuseMap = "tex";
        mat.wrapU = mat.wrapV = wrap;
        scene.materials.push_back(mat);
        AnimMesh mesh;
        mesh.material = 0;
        // A box face over coordinates 0..3, and a triangle far off in tile 5.
        mesh.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {3, 0, 0}, {2, 1, 0}};
        mesh.uvs = {{0, 0}, {3, 0}, {3, 3}, {0, 3}, {5.2, 0.1}, {5.8, 0.1}, {5.2, 0.9}};
        mesh.triangles = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}};
        const auto original = mesh.uvs;
        scene.meshes.push_back(mesh);
        PrepareSurfaces(scene, true);

        EXPECT_TRUE(scene.warnings.empty());
        const AnimMesh& out = scene.meshes[0];
        const Picture& tiled = scene.pictures.at(scene.materials[0].diffuseMap);
        EXPECT_EQ(tiled.width, 12);
        EXPECT_EQ(tiled.height, 6);
        // Points inside each triangle, as barycentric mixes of its corners.
        for (size_t t = 0; t < 3; ++t) {
            for (const auto& w : {std::array<double, 3>{0.6, 0.2, 0.2}, {0.2, 0.6, 0.2}, {0.2, 0.2, 0.6}}) {
                double src[2] = {0, 0}, dst[2] = {0, 0};
                for (int k = 0; k < 3; ++k) {
                    for (int a = 0; a < 2; ++a) {
                        src[a] += w[k] * original[mesh.triangles[t][k]][a];
                        dst[a] += w[k] * out.uvs[out.triangles[t][k]][a];
                    }
                }
                ASSERT_GE(dst[0], 0.0);
                ASSERT_LE(dst[0], 1.0);
                EXPECT_EQ(Sample(tiled, dst[0], dst[1]).r, Wrapped(Checker(), src[0], src[1], wrap, wrap).r)
                    << "triangle " << t << " at (" << src[0] << ", " << src[1] << ")";
            }
        }
    }
}

TEST(ImportSurfaces, SpansBeyondTheBoundAreClampedWithAWarning) {
    AnimatedScene scene;
    scene.pictures["tex"] = Checker();
    AnimMaterial mat;
    mat.name = "Floor";
    mat.diffuseMap = "tex";
    scene.materials.push_back(mat);
    AnimMesh mesh;
    mesh.material = 0;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.uvs = {{0, 0}, {40, 0}, {0, 0.5}};
    mesh.triangles = {{0, 1, 2}};
    scene.meshes.push_back(mesh);
    PrepareSurfaces(scene, true);
    ASSERT_EQ(scene.warnings.size(), 1u);
    EXPECT_NE(scene.warnings[0].find("\"Floor\""), std::string::npos) << scene.warnings[0];
    EXPECT_EQ(scene.pictures.at(scene.materials[0].diffuseMap).width, 4 * kMaxTiles);
    EXPECT_EQ(scene.meshes[0].uvs[1][0], 1.0);
}

TEST(ImportSurfaces, MaterialsWithoutAPictureShareTheirColoursSwatch) {
    const std::string dir = ScratchDir("swatch");
    AnimatedScene scene;
    scene.baseDir = dir;
    for (const char* name : {"RedA", "RedB"}) {
        AnimMaterial mat;
        mat.name = name;
        mat.colour = {1, 0, 0, 1};
        scene.materials.push_back(mat);
    }
    scene.materials[1].diffuseMap = "gone.png";
    for (int m : {0, 1, -1}) {
        AnimMesh mesh;
        mesh.name = "m" + std::to_string(m);
        mesh.material = m;
        mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        mesh.triangles = {{0, 1, 2}};
        scene.meshes.push_back(mesh);
    }
    PrepareSurfaces(scene, true);
    EXPECT_EQ(scene.meshes[0].material, scene.meshes[1].material);
    EXPECT_NE(scene.meshes[0].material, scene.meshes[2].material);
    EXPECT_EQ(scene.materials[scene.meshes[2].material].diffuseMap, "colour #ffffff");
    for (const AnimMesh& mesh : scene.meshes) {
        ASSERT_EQ(mesh.uvs.size(), 3u);
        EXPECT_EQ(mesh.uvs[0], (std::array<double, 2>{0.5, 0.5}));
    }
    ASSERT_EQ(scene.warnings.size(), 3u);
    EXPECT_EQ(scene.warnings[0], "mesh \"m0\" (material \"RedA\"): no diffuse texture; using its colour");
    EXPECT_EQ(scene.warnings[1], "mesh \"m1\" (material \"RedB\"): picture \"gone.png\" not found; using its colour");
    EXPECT_EQ(scene.warnings[2], "mesh \"m-1\" (no material): no material; using white");

    // More pictures than the skin holds is said, not left to show nothing.
    AnimatedScene many;
    for (int m = 0; m <= static_cast<int>(kMaxPictures); ++m) {
        AnimMaterial mat;
        mat.colour = {m / 255.0, 0, 0, 1};
        many.materials.push_back(mat);
        AnimMesh mesh = scene.meshes[0];
        mesh.material = m;
        many.meshes.push_back(mesh);
    }
    PrepareSurfaces(many, true);
    EXPECT_EQ(many.warnings.back(), "65 pictures, but the skin holds 64: meshes using the later ones show no texture");
}

// Vertex colours that are one per triangle show exactly; colours that vary
// within a triangle cannot, and the material's colour stands in.
TEST(ImportSurfaces, FlatVertexColoursAreBakedOthersFallBackToTheMaterial) {
    AnimatedScene scene;
    AnimMaterial mat;
    mat.name = "Paint";
    mat.colour = {0, 0, 1, 1};
    scene.materials.push_back(mat);
    const std::array<double, 4> red{1, 0, 0, 1}, green{0, 1, 0, 1};
    AnimMesh flat;  // two triangles, one red and one green
    flat.name = "Flat";
    flat.material = 0;
    flat.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    flat.colours = {red, red, red, green, green, green};
    flat.triangles = {{0, 1, 2}, {3, 4, 5}};
    AnimMesh graded = flat;  // red fading into green across each triangle
    graded.name = "Graded";
    graded.colours = {red, red, green, green, red, red};
    scene.meshes = {flat, graded};
    PrepareSurfaces(scene, true);

    const AnimMesh& baked = scene.meshes[0];
    const Picture& palette = scene.pictures.at(scene.materials[baked.material].diffuseMap);
    for (size_t t = 0; t < 2; ++t) {
        const auto& uv = baked.uvs[baked.triangles[t][0]];
        const Color64 c = Sample(palette, uv[0], uv[1]);
        EXPECT_EQ(c.r, t == 0 ? 65535 : 0) << t;
        EXPECT_EQ(c.g, t == 0 ? 0 : 65535) << t;
    }
    EXPECT_EQ(scene.materials[scene.meshes[1].material].diffuseMap, "colour #0000ff");
    ASSERT_EQ(scene.warnings.size(), 2u);
    EXPECT_EQ(scene.warnings[0], "mesh \"Flat\" (material \"Paint\"): no diffuse texture; using its vertex colours");
    EXPECT_NE(scene.warnings[1].find("vary within triangles"), std::string::npos) << scene.warnings[1];
}

TEST(ImportSurfaces, ClipNamesBecomeDistinctFrameNameTexts) {
    const std::vector<ClipText> clips = {
        {"attack1", 31},
        {"attack2", 31},
        {"Armature|mixamo.com|Layer0", 40},
        {"walk \xc3\xa9t\xc3\xa9", 10},
        {"\xe6\x97\xa5\xe6\x9c\xac", 5},
        {"averyveryverylongname", 100},
        {"run", 5},
        {"run", 5},
        {"truncated \xc3", 1},
    };
    const std::vector<std::string> want = {
        "attack1_", "attack2_", "Layer0_", "walk_ete", "clip", "averyveryvery", "run", "run2_", "truncated_",
    };
    EXPECT_EQ(ClipNoteTexts(clips), want);
}

}  // namespace
