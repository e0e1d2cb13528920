// Budgets: meshes reduced to triangle and vertex budgets, skins fitted to a
// size, and the command's flags around them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "budget/Budgets.h"
#include "tests/CliRunner.h"
#include "tests/PassTestSupport.h"
#include "tests/support/SceneBuilder.h"
#include "view/Renderer.h"
#include "tests/ScratchDir.h"

using quorvex::budget::FitSkin;
using quorvex::budget::GeometryBudget;
using quorvex::budget::GeometryReport;
using quorvex::budget::ReduceGeometry;
using quorvex::budget::SkinReport;
using quorvex::scene::Color64;
using quorvex::scene::Keyed;
using quorvex::scene::MeshData;
using quorvex::scene::SceneDocument;
using quorvex::scene::ShareRepeatedTopology;
using quorvex::standin::HostGlobalsScope;
using quorvex::standin::ScriptedWin32;
using quorvex::standin::StandinHost;
using quorvex::standin::Win32Scope;
using quorvex::testkit::BitmapMaterial;
using quorvex::testkit::EveryFrame;
using quorvex::testkit::KeyedMesh;
using quorvex::testkit::MeshNode;
using quorvex::testkit::MeshObject;
using quorvex::testkit::Moved;
using quorvex::testkit::PixelPicture;
using quorvex::testkit::PlainPicture;
using quorvex::testkit::QuadMesh;
using quorvex::testkit::Rgba;
using quorvex::testkit::Scene;
using quorvex::testkit::UvSphere;
using quorvex::view::DecodeSkinPixel;
using quorvex::view::RenderColor;
using quorvex::view::RenderImage;
using quorvex::view::RenderModelFrame;
using quorvex::view::RenderOptions;
using quorvex::view::RenderResult;

using namespace quorvex::budget;
using namespace quorvex::scene;
using namespace quorvex::standin;
using namespace quorvex::testkit;
namespace fs = std::filesystem;

namespace {

// The sphere keyed at frames 0..3, bulging and stretching differently in each.
Keyed<MeshData> Breathing(const MeshData& sphere) {
    std::vector<MeshData> frames;
    for (int f = 0; f < 4; ++f) {
        MeshData m = sphere;
        for (Point3& p : m.verts) {
            p.x *= 1.0f + 0.1f * f;
            p.z += 0.1f * std::sin(3.0f * p.x + f);
        }
        frames.push_back(m);
    }
    Keyed<MeshData> keyed = EveryFrame(160, frames);
    ShareRepeatedTopology(keyed);
    return keyed;
}

SceneDocument BallScene(Keyed<MeshData> mesh) {
    SceneDocument doc =
        Scene({MeshNode("Ball", MeshObject(std::move(mesh)), BitmapMaterial("ball.png"))}, 160, {0, 3 * 160});
    doc.images["ball.png"] = PlainPicture(16, 16, Rgba(50000, 30000, 10000));
    return doc;
}

const Keyed<MeshData>& MeshOf(const SceneDocument& doc, size_t node = 0) { return doc.nodes[node].object->mesh; }

// Export with prompts suppressed, read back whole.
quorvex::MdlFile Export(SceneDocument doc, int32_t last) {
    const std::string path = passtest::TempModelPath();
    StandinHost host(std::move(doc));
    HostGlobalsScope globals(&host);
    ScriptedWin32 win32;
    Win32Scope win32Scope(&win32);
    quorvex::exportState.options = quorvex::ExportOptionsRecord{0, last, 0, 0};
    {
        quorvex::ModelExporter exporter;
        exporter.DoExport(path.c_str(), nullptr, &host, TRUE, 0);
    }
    quorvex::MdlReadResult read = quorvex::ReadMdlFile(path.c_str());
    std::remove(path.c_str());
    EXPECT_TRUE(read.ok()) << read.error.message;
    return read.file;
}

// Share of pixels covered by either frame's model that both cover.
double SilhouetteOverlap(const quorvex::MdlFile& a, const quorvex::MdlFile& b, int32_t frame) {
    RenderOptions options;
    options.width = options.height = 200;
    const RenderResult ra = RenderModelFrame(a, frame, options), rb = RenderModelFrame(b, frame, options);
    EXPECT_TRUE(ra.ok() && rb.ok());
    auto covered = [&](const RenderImage& image, size_t i) {
        return image.rgb[3 * i] != options.background.r || image.rgb[3 * i + 1] != options.background.g ||
               image.rgb[3 * i + 2] != options.background.b;
    };
    size_t both = 0, either = 0;
    for (size_t i = 0; i < ra.image.rgb.size() / 3; ++i) {
        both += covered(ra.image, i) && covered(rb.image, i);
        either += covered(ra.image, i) || covered(rb.image, i);
    }
    return either ? double(both) / double(either) : 1.0;
}

}  // namespace

TEST(Budget, ReducedSphereKeepsItsSeamClosedAndAnimatesTheKeptVertices) {
    // Reduced from the first frame, or from a bind pose: the sphere itself, or
    // one squashed flat, from which the frames' bulges cannot be told.
    enum Rest { None, Round, Flat };
    struct Case {
        GeometryBudget budget;
        Rest rest;
        bool warns;
    };
    const Case cases[] = {
        {{500, 0}, None, false}, {{0, 150}, None, false}, {{800, 300}, Round, false}, {{500, 0}, Flat, true}};
    const MeshData sphere = UvSphere(24, 48);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.budget.maxTriangles) + " triangles, " + std::to_string(c.budget.maxVertices) +
                     " vertices, rest pose " + std::to_string(c.rest));
        SceneDocument original = BallScene(Breathing(sphere));
        if (c.rest != None)
            for (Point3 p : sphere.verts)
                original.nodes[0].object->restPose.push_back({p.x, p.y, c.rest == Flat ? p.z * 0.01f : p.z});
        SceneDocument doc = original;
        GeometryReport report;
        std::string error;
        ASSERT_TRUE(ReduceGeometry(doc, {0, 3}, c.budget, report, error)) << error;
        ASSERT_TRUE(report.reduced);
        EXPECT_EQ(report.trianglesBefore, 2208);
        const MeshData& first = MeshOf(doc).keys[0].value;
        EXPECT_EQ(report.trianglesAfter, int64_t(first.faces.size()));
        EXPECT_EQ(report.verticesAfter, int64_t(first.verts.size()));
        EXPECT_LE(report.trianglesAfter, c.budget.maxTriangles ? c.budget.maxTriangles : 2208);
        EXPECT_LE(report.verticesAfter, c.budget.maxVertices ? c.budget.maxVertices : 1106);
        EXPECT_EQ(report.warnings.size(), c.warns ? 1u : 0u);
        EXPECT_GT(report.largestError, 0.0);
        if (c.warns) continue;
        EXPECT_LT(report.largestError, 0.05);

        // Closed: every edge between two places borders exactly two triangles.
        std::map<std::pair<uint32_t, uint32_t>, int> edges;
        for (const auto& f : first.faces)
            for (int k = 0; k < 3; ++k) ++edges[std::minmax(f[k], f[(k + 1) % 3])];
        for (const auto& [edge, count] : edges) ASSERT_EQ(count, 2) << edge.first << "-" << edge.second;
        // No triangle reaches across the seam to the picture's other side.
        for (const auto& tf : first.tvfaces) {
            const float u[3] = {first.tverts[tf[0]].x, first.tverts[tf[1]].x, first.tverts[tf[2]].x};
            ASSERT_LT(std::max({u[0], u[1], u[2]}) - std::min({u[0], u[1], u[2]}), 0.5f);
        }
        // Every key keeps the same original vertices.
        std::map<std::array<float, 3>, size_t> indexOf;
        const MeshData& before = MeshOf(original).keys[0].value;
        for (size_t j = 0; j < before.verts.size(); ++j)
            indexOf[{before.verts[j].x, before.verts[j].y, before.verts[j].z}] = j;
        for (size_t i = 0; i < first.verts.size(); ++i) {
            const size_t j = indexOf.at({first.verts[i].x, first.verts[i].y, first.verts[i].z});
            for (size_t k = 0; k < 4; ++k)
                ASSERT_EQ(std::memcmp(&MeshOf(doc).keys[k].value.verts[i], &MeshOf(original).keys[k].value.verts[j],
                                      sizeof(Point3)),
                          0);
        }
        // And every frame looks as before.
        const quorvex::MdlFile full = Export(original, 3), reduced = Export(doc, 3);
        for (int32_t frame = 0; frame < 4; ++frame) EXPECT_GT(SilhouetteOverlap(full, reduced, frame), 0.95);
    }
}

TEST(Budget, TheBudgetIsSharedByTrianglesAndMeshesThatCannotShrinkKeepTheirs) {
    MeshData prop = UvSphere(4, 6);
    for (Point3& p : prop.verts) p = {p.x * 0.2f + 3, p.y * 0.2f, p.z * 0.2f};
    // A mesh whose triangles change between keys is kept whole.
    Keyed<MeshData> changing =
        KeyedMesh({{0, Moved(UvSphere(6, 8), -3, 0, 0)}, {160, Moved(UvSphere(6, 9), -3, 0, 0)}});
    SceneDocument doc = BallScene(Keyed<MeshData>(UvSphere(24, 48)));
    doc.nodes.push_back(MeshNode("Prop", prop, BitmapMaterial("ball.png")));
    doc.nodes.push_back(MeshNode("Changing", MeshObject(changing), BitmapMaterial("ball.png")));
    const size_t propTriangles = prop.faces.size(), changingTriangles = changing.keys[0].value.faces.size();

    GeometryReport report;
    std::string error;
    ASSERT_TRUE(ReduceGeometry(doc, {0, 0}, {600, 0}, report, error)) << error;
    EXPECT_LE(report.trianglesAfter, 600);
    EXPECT_EQ(report.meshesReduced, 2);
    EXPECT_GT(MeshOf(doc, 1).keys[0].value.faces.size(), 0u);  // the prop is not erased
    EXPECT_LT(MeshOf(doc, 1).keys[0].value.faces.size(), propTriangles);
    EXPECT_EQ(MeshOf(doc, 2).keys[0].value.faces.size(), changingTriangles);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].find("Changing"), std::string::npos);

    // Below what the fixed mesh and the others can reach: refused, saying how far it got.
    SceneDocument again = doc;
    EXPECT_FALSE(ReduceGeometry(again, {0, 0}, {40, 0}, report, error));
    EXPECT_NE(error.find("cannot be reduced to 40 triangles"), std::string::npos) << error;
}

TEST(Budget, SkinBudgetKeepsTheTexelsAtEveryCoordinate) {
    // Three smooth pictures on three quads; the texel each corner addresses
    // must look alike before and after.
    auto gradient = [](uint16_t w, uint16_t h, int seed) {
        std::vector<Color64> pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels.push_back(
                    Rgba(uint16_t(65535 * x / (w - 1)), uint16_t(65535 * y / (h - 1)), uint16_t(seed * 20000)));
        return PixelPicture(w, h, pixels);
    };
    SceneDocument original = Scene({MeshNode("A", QuadMesh(), BitmapMaterial("a.png")),
                                    MeshNode("B", Moved(QuadMesh(), 2, 0, 0), BitmapMaterial("b.png")),
                                    MeshNode("C", Moved(QuadMesh(), 4, 0, 0), BitmapMaterial("c.png"))});
    original.images["a.png"] = gradient(128, 128, 0);
    original.images["b.png"] = gradient(256, 64, 1);
    original.images["c.png"] = gradient(64, 192, 2);
    struct Case {
        int64_t width, height;
        bool atlas;
    };
    const Case cases[] = {{128, 128, true}, {256, 96, true}, {40, 400, false}, {64, 512, false}, {200, 200, true}};
    const quorvex::MdlFile before = Export(original, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        SceneDocument doc = original;
        SkinReport report;
        std::string error;
        ASSERT_TRUE(FitSkin(doc, c.width, c.height, report, error)) << error;
        EXPECT_TRUE(report.reduced);
        EXPECT_EQ(report.atlas, c.atlas);
        EXPECT_EQ(report.widthBefore, 256);
        EXPECT_EQ(report.heightBefore, 384);
        const quorvex::MdlFile after = Export(doc, 0);
        EXPECT_EQ(after.header.skinWidth, report.widthAfter);
        EXPECT_EQ(after.header.skinHeight, report.heightAfter);
        EXPECT_LE(after.header.skinWidth, c.width);
        EXPECT_LE(after.header.skinHeight, c.height);
        ASSERT_EQ(after.triangles.size(), before.triangles.size());
        auto texel = [](const quorvex::MdlFile& f, uint16_t tc) {
            const auto& t = f.texCoords[tc];
            const RenderColor colour =
                DecodeSkinPixel(f.skinPixels[size_t(t.v) * f.header.skinWidth + size_t(t.u)], f.skinType);
            return std::array<int, 3>{colour.r, colour.g, colour.b};
        };
        for (size_t i = 0; i < after.triangles.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                const auto a = texel(before, before.triangles[i].texCoord[k]);
                const auto b = texel(after, after.triangles[i].texCoord[k]);
                for (int ch = 0; ch < 3; ++ch) ASSERT_NEAR(a[ch], b[ch], 24) << "triangle " << i << " corner " << k;
            }
    }
    // Coordinates beyond the picture cannot move into an atlas; stacked, three
    // pictures need three rows.
    SkinReport report;
    std::string error;
    SceneDocument doc = original;
    doc.nodes[0].object->mesh.keys[0].value.tverts = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}};
    EXPECT_FALSE(FitSkin(doc, 8, 2, report, error));
    EXPECT_NE(error.find("cannot fit 8x2"), std::string::npos) << error;
}

namespace {

struct BudgetCli : ::testing::Test {
    ScratchDir scratch{"budget"};
    const std::filesystem::path& dir = scratch.path;
    const std::string examples = std::string(QUORVEX_SOURCE_DIR) + "/examples/";
    CliResult Run(const std::string& args) { return RunQuorvex(args, dir); }
};

}  // namespace

TEST_F(BudgetCli, BudgetsMetChangeNoByteAndDryRunsStateTheExactSize) {
    const std::string scenes[] = {"windmill/windmill.scene.json", "robot/robot.gltf", "crate/crate.obj"};
    const std::string variants[] = {"", " --hi-precision --alpha", " --frames 3:7"};
    const std::string met = " --max-triangles 100000 --max-vertices 60000 --max-skin 1024x1024";
    for (const std::string& scene : scenes)
        for (const std::string& variant : variants) {
            // The crate has one frame: a range past it is bad usage.
            if (scene == "crate/crate.obj" && variant == " --frames 3:7") continue;
            SCOPED_TRACE(scene + variant);
            const std::string in = examples + scene, plain = (dir / "plain.mdl").string(),
                              budgeted = (dir / "budgeted.mdl").string();
            ASSERT_EQ(Run("export " + in + " -q -o " + plain + variant).status, 0);
            ASSERT_EQ(Run("export " + in + " -q -o " + budgeted + variant + met).status, 0);
            EXPECT_EQ(ReadWholeFile(plain), ReadWholeFile(budgeted));
            const std::string bytes = std::to_string(fs::file_size(plain)) + " bytes";
            const fs::path none = dir / "none.mdl";
            const CliResult dry = Run("export " + in + " -o " + none.string() + variant + met + " --dry-run");
            EXPECT_EQ(dry.status, 0) << dry.err;
            EXPECT_NE(dry.out.find(bytes), std::string::npos) << dry.out;
            EXPECT_FALSE(fs::exists(none));
        }
    // A reduction is named with the original counts, and the dry run's size is
    // what the export then writes.
    const std::string in = examples + "windmill/windmill.scene.json", out = (dir / "small.mdl").string();
    const CliResult dry = Run("export " + in + " --dry-run --max-skin 16x48");
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("Reduced skin 32x96 -> 16x48"), std::string::npos) << dry.out;
    const CliResult real = Run("export " + in + " -o " + out + " --max-skin 16x48");
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_NE(real.out.find("Reduced skin 32x96 -> 16x48"), std::string::npos) << real.out;
    EXPECT_NE(dry.out.find(std::to_string(fs::file_size(out)) + " bytes"), std::string::npos) << dry.out;
}

TEST_F(BudgetCli, BudgetsThatCannotBeMetAreRefused) {
    struct Case {
        std::string flags;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"--max-triangles 0", 2, "--max-triangles 0"},
        {"--max-triangles lots", 2, "--max-triangles lots"},
        {"--max-vertices 2", 2, "three vertices"},
        {"--max-skin 4x64", 2, "W from 8"},
        {"--max-skin 64", 2, "wants WxH"},
        {"--max-skin 64x0", 2, "H from 1"},
        {"--max-triangles 10", 1, "cannot be reduced to 10 triangles"},
    };
    const std::string out = (dir / "out.mdl").string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        const CliResult r = Run("export " + examples + "windmill/windmill.scene.json -o " + out + " " + c.flags);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}
