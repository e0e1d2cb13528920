// Model files back to glTF: the steps, the document read back with tinygltf,
// the Khronos validator on every example, and the round trip through our own
// importer.
#include <gtest/gtest.h>
#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gltfout/GltfExport.h"
#include "mdl/MdlReader.h"
#include "tests/CliRunner.h"
#include "tests/MdlTestFile.h"
#include "tests/ScratchDir.h"

using quorvex::gltfout::ExportModelToGltf;
using quorvex::gltfout::GltfExportOptions;
using quorvex::gltfout::GltfExportResult;
using quorvex::gltfout::GltfKeyTime;
using quorvex::gltfout::GltfSplitMesh;
using quorvex::gltfout::GltfUtf8;
using quorvex::gltfout::SplitModelVertices;

using namespace quorvex;
using namespace quorvex::gltfout;
namespace fs = std::filesystem;

namespace {

TEST(GltfSteps, KeyTimesNeverPassTheFrameAndGiveBackTheFrameCount) {
    for (int fps : {10, 24, 30, 60, 4800}) {
        float previous = -1.0f;
        for (int64_t key : {0, 1, 2, 7, 19, 59, 1000, 99999}) {
            const float t = GltfKeyTime(key, fps);
            EXPECT_LE(double(t), double(key) / fps) << key << " at " << fps;
            EXPECT_GT(t, previous);
            previous = t;
            // The importer counts ceil(duration * fps - 1e-6) + 1 frames.
            EXPECT_EQ(int64_t(std::ceil(double(t) * fps - 1e-6)), key) << key << " at " << fps;
        }
    }
}

TEST(GltfSteps, VerticesSplitWhereTextureCoordinatesDifferAndKeepTheirOrder) {
    // Vertex 1 is used with texture coordinates 0 and 2, vertex 3 by no triangle.
    const std::vector<MdlTriangle> triangles = {{{2, 1, 0}, {1, 0, 0}}, {{0, 1, 4}, {0, 2, 3}}};
    const GltfSplitMesh mesh = SplitModelVertices(triangles, 5);
    const std::vector<std::pair<uint32_t, int32_t>> expected = {{0, 0}, {1, 0}, {1, 2}, {2, 1}, {3, -1}, {4, 3}};
    ASSERT_EQ(mesh.vertices.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(mesh.vertices[i].vertex, expected[i].first) << i;
        EXPECT_EQ(mesh.vertices[i].texCoord, expected[i].second) << i;
    }
    // Corners 0, 2, 1 of each triangle.
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{3, 0, 1, 0, 5, 2}));
}

TEST(GltfSteps, NamesBecomeValidUtf8) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"walk0", "walk0"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"a\xe9z", "a\\xe9z"},               // a Latin-1 byte
        {"\xc0\xaf", "\\xc0\\xaf"},          // overlong
        {"\xe2\x82", "\\xe2\\x82"},          // cut short
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"}  // a surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(GltfUtf8(c.in), c.out) << c.in;
}

// A glTF file read back with tinygltf; accessors as floats or indices.
struct ReadBack {
    tinygltf::Model model;
    std::vector<float> Floats(int accessor) const {
        const tinygltf::Accessor& a = model.accessors[accessor];
        const tinygltf::BufferView& v = model.bufferViews[a.bufferView];
        const size_t n = a.count * (a.type == TINYGLTF_TYPE_VEC3 ? 3 : a.type == TINYGLTF_TYPE_VEC2 ? 2 : 1);
        std::vector<float> out(n);
        std::memcpy(out.data(), model.buffers[v.buffer].data.data() + v.byteOffset + a.byteOffset, n * 4);
        return out;
    }
    std::vector<uint32_t> Indices(int accessor) const {
        const tinygltf::Accessor& a = model.accessors[accessor];
        const tinygltf::BufferView& v = model.bufferViews[a.bufferView];
        const unsigned char* p = model.buffers[v.buffer].data.data() + v.byteOffset + a.byteOffset;
        std::vector<uint32_t> out(a.count);
        for (size_t i = 0; i < a.count; ++i) out[i] = p[2 * i] | p[2 * i + 1] << 8;  // unsigned short here
        return out;
    }
};

bool NoImages(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int, void*) {
    return true;
}

void Load(const fs::path& path, ReadBack& out) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(NoImages, nullptr);
    std::string err, warn;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&out.model, &err, &warn, path.string())) << err;
}

class GltfExport : public ::testing::Test {
protected:
    CliResult Quorvex(const std::vector<std::string>& args) const {
        std::string words;
        for (const std::string& a : args) words += " " + ShellQuote(a);
        return RunQuorvex(words, dir_);
    }
    fs::path WriteModel(const std::string& name, const mdltest::Model& model) const {
        const std::vector<uint8_t> bytes = mdltest::Bytes(model);
        std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return dir_ / name;
    }
    // The validator over `files`: no error and no warning. Absent, it fails
    // CI and skips on a developer's machine.
    void Validate(const std::vector<fs::path>& files) const {
        const fs::path tools = fs::path(QUORVEX_SOURCE_DIR) / "tests" / "tools";
        if (!fs::exists(tools / "node_modules" / "gltf-validator") || std::system("node --version >/dev/null 2>&1")) {
            const std::string why = "the glTF validator is not installed: run `npm ci` in " + tools.string() +
                                    " (scripts/test.sh does) with Debian's nodejs and npm";
            if (std::getenv("CI")) FAIL() << why;
            GTEST_SKIP() << why;
        }
        std::string command = "node " + ShellQuote((tools / "validate-gltf.js").string());
        for (const fs::path& f : files) command += " " + ShellQuote(f.string());
        const fs::path log = dir_ / "validator.txt";
        const int status = std::system((command + " >" + ShellQuote(log.string()) + " 2>&1").c_str());
        EXPECT_EQ(status, 0) << ReadWholeFile(log);
    }
    ScratchDir scratch_{"gltf"};
    const std::filesystem::path& dir_ = scratch_.path;
};

TEST_F(GltfExport, TheDocumentHoldsDecodedPositionsOutwardNormalsTexelCentresAndStepKeys) {
    mdltest::Model square = mdltest::Square(0xF800, 0x001F);
    mdltest::Frame raised = square.frames[0];
    raised.name =
        "sq\xe9"
        "1";
    square.frames[0].name =
        "sq\xe9"
        "0";  // not UTF-8
    for (auto& v : raised.vertices) v.x = 3;
    square.frames.push_back(raised);
    const fs::path model = WriteModel("square.mdl", square);
    GltfExportOptions options;
    options.fps = 10;
    const GltfExportResult result = ExportModelToGltf(model.string(), (dir_ / "square.glb").string(), options);
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find("2 frame names are not UTF-8"), std::string::npos);
    EXPECT_EQ(result.vertices, 4);
    EXPECT_EQ(result.morphTargets, 2);

    ReadBack gltf;
    Load(dir_ / "square.glb", gltf);
    ASSERT_FALSE(HasFatalFailure());
    const tinygltf::Primitive& prim = gltf.model.meshes[0].primitives[0];
    const std::vector<float> positions = gltf.Floats(prim.attributes.at("POSITION"));
    const std::vector<float> normals = gltf.Floats(prim.attributes.at("NORMAL"));
    const std::vector<float> uvs = gltf.Floats(prim.attributes.at("TEXCOORD_0"));
    const std::vector<uint32_t> indices = gltf.Indices(prim.indices);
    const MdlReadResult read = ReadMdlFile(model.c_str());
    for (int v = 0; v < 4; ++v) {
        const MdlVec3 p = DecodeMdlPosition(read.file.header, read.file.frames[0].vertices[v]);
        EXPECT_EQ(positions[v * 3], p.y);  // glTF x is the file's y, y its z, z its x
        EXPECT_EQ(positions[v * 3 + 1], p.z);
        EXPECT_EQ(positions[v * 3 + 2], p.x);
        // The square faces the file's +x, its front: glTF's +z.
        EXPECT_NEAR(normals[v * 3 + 2], 1.0f, 1e-6f);
    }
    // Counter-clockwise from the front: the face normal points to +z.
    for (size_t t = 0; t < indices.size(); t += 3) {
        auto at = [&](int c, int axis) { return positions[indices[t + c] * 3 + axis]; };
        const float ax = at(1, 0) - at(0, 0), ay = at(1, 1) - at(0, 1);
        const float bx = at(2, 0) - at(0, 0), by = at(2, 1) - at(0, 1);
        EXPECT_GT(ax * by - ay * bx, 0.0f) << "triangle " << t / 3;
    }
    // Texture coordinates (0, 0) and (1, 0) of a 2 x 1 skin: texel centres.
    for (size_t i = 0; i < uvs.size(); i += 2) {
        EXPECT_TRUE(uvs[i] == 0.25f || uvs[i] == 0.75f) << uvs[i];
        EXPECT_EQ(uvs[i + 1], 0.5f);
    }
    const std::vector<float> target1 = gltf.Floats(prim.targets[1].at("POSITION"));
    for (size_t v = 0; v < 4; ++v) EXPECT_EQ(target1[v * 3 + 2], 3.0f);  // x = 3 packed steps of 1.0
    const tinygltf::Value& names = gltf.model.meshes[0].extras.Get("targetNames");
    ASSERT_EQ(names.ArrayLen(), 2u);
    EXPECT_EQ(names.Get(1).Get<std::string>(), "sq\\xe91");
    ASSERT_EQ(gltf.model.animations.size(), 1u);
    EXPECT_EQ(gltf.model.animations[0].name, "sq\\xe9");
    EXPECT_EQ(gltf.model.animations[0].samplers[0].interpolation, "STEP");
    EXPECT_EQ(gltf.Floats(gltf.model.animations[0].samplers[0].input),
              (std::vector<float>{0.0f, std::nextafter(0.1f, 0.0f)}));  // 0.1f lies above 0.1
    EXPECT_EQ(gltf.Floats(gltf.model.animations[0].samplers[0].output), (std::vector<float>{1, 0, 0, 1}));
    EXPECT_EQ(gltf.model.samplers[0].magFilter, TINYGLTF_TEXTURE_FILTER_NEAREST);
    EXPECT_EQ(gltf.model.samplers[0].minFilter, TINYGLTF_TEXTURE_FILTER_NEAREST);
    Validate({dir_ / "square.glb"});
}

// Positions within one quantization step of the original on every axis, the
// same triangles, texture coordinates within a texel, sequence names and skin.
void ExpectSameModel(const MdlFile& a, const MdlFile& b, const std::string& what) {
    ASSERT_EQ(a.frames.size(), b.frames.size()) << what;
    ASSERT_EQ(a.header.vertexCount, b.header.vertexCount) << what;
    ASSERT_EQ(a.triangles.size(), b.triangles.size()) << what;
    for (size_t t = 0; t < a.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(a.triangles[t].vertex[c], b.triangles[t].vertex[c]) << what << " triangle " << t;
            const MdlTexCoord ta = a.texCoords[a.triangles[t].texCoord[c]],
                              tb = b.texCoords[b.triangles[t].texCoord[c]];
            EXPECT_LE(std::abs(ta.u - tb.u), 1) << what << " triangle " << t;
            EXPECT_LE(std::abs(ta.v - tb.v), 1) << what << " triangle " << t;
        }
    for (size_t f = 0; f < a.frames.size(); ++f)
        for (int32_t v = 0; v < a.header.vertexCount; ++v) {
            const MdlVec3 pa = DecodeMdlPosition(a.header, a.frames[f].vertices[v]);
            const MdlVec3 pb = DecodeMdlPosition(b.header, b.frames[f].vertices[v]);
            const float d[3] = {pa.x - pb.x, pa.y - pb.y, pa.z - pb.z};
            const float m = std::max({std::fabs(pa.x), std::fabs(pa.y), std::fabs(pa.z)});
            // One step, and the rounding of two single-precision positions.
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_LE(std::fabs(d[axis]), a.header.scale[axis] + 4 * FLT_EPSILON * m)
                    << what << " frame " << f << " vertex " << v << " axis " << axis;
        }
    const std::vector<MdlSequence> sa = GroupMdlSequences(a.frames), sb = GroupMdlSequences(b.frames);
    ASSERT_EQ(sa.size(), sb.size()) << what;
    for (size_t s = 0; s < sa.size(); ++s) {
        EXPECT_EQ(sa[s].name, sb[s].name) << what;
        EXPECT_EQ(sa[s].frameCount, sb[s].frameCount) << what;
    }
    EXPECT_EQ(a.header.skinWidth, b.header.skinWidth) << what;
    EXPECT_EQ(a.header.skinHeight, b.header.skinHeight) << what;
    if (a.skinType == b.skinType) {
        EXPECT_EQ(a.skinPixels, b.skinPixels) << what;
    }
}

TEST_F(GltfExport, ExamplesPassTheValidatorAndComeBackThroughTheImporter) {
    const fs::path examples = fs::path(QUORVEX_SOURCE_DIR) / "examples";
    const struct {
        std::string name, scene;
        std::vector<std::string> flags;
    } cases[] = {
        {"windmill", "windmill/windmill.scene.json", {}},
        {"windmill16", "windmill/windmill.scene.json", {"--hi-precision", "--alpha"}},
        {"robot", "robot/robot.gltf", {}},
        {"crate", "crate/crate.obj", {"--hi-precision"}},
    };
    std::vector<fs::path> written;
    for (const auto& c : cases) {
        const fs::path model = dir_ / (c.name + ".mdl");
        std::vector<std::string> args = {"export", (examples / c.scene).string(), "-o", model.string(), "-q"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Quorvex(args).status, 0) << c.name;
        const MdlReadResult original = ReadMdlFile(model.c_str());
        ASSERT_TRUE(original.ok());
        for (const std::string ext : {".glb", ".gltf"}) {
            const fs::path gltf = dir_ / (c.name + ext), back = dir_ / (c.name + "-back" + ext + ".mdl");
            const CliResult made = Quorvex({"export", model.string(), "-o", gltf.string()});
            ASSERT_EQ(made.status, 0) << made.err;
            EXPECT_EQ(made.err, "");
            written.push_back(gltf);
            // Back at the original's precision, and its skin type.
            std::vector<std::string> again = {"export", gltf.string(), "-o", back.string(), "-q"};
            if (original.file.sixteenBit) again.push_back("--hi-precision");
            if (original.file.skinType == kSkinFormatARGB4444) again.push_back("--alpha");
            const CliResult imported = Quorvex(again);
            ASSERT_EQ(imported.status, 0) << imported.err;
            const MdlReadResult returned = ReadMdlFile(back.c_str());
            ASSERT_TRUE(returned.ok());
            ExpectSameModel(original.file, returned.file, c.name + ext);
        }
    }
    Validate(written);
}

TEST_F(GltfExport, FailuresWriteNothingAndSayWhy) {
    const fs::path square = WriteModel("square.mdl", mdltest::Square(1, 2));
    mdltest::Model bare = mdltest::Square(1, 2);
    bare.skinWidth = bare.skinHeight = 0;
    bare.skin.clear();
    const fs::path skinless = WriteModel("bare.mdl", bare);
    std::ofstream(dir_ / "cut.mdl", std::ios::binary) << "MDL3";
    std::ofstream(dir_ / "kept.glb") << "kept";
    const std::string scene = (fs::path(QUORVEX_SOURCE_DIR) / "tests/fixtures/triangle.scene.json").string();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"export", (dir_ / "missing.mdl").string(), "-o", (dir_ / "x.glb").string()}, 2, "missing.mdl"},
        {{"export", (dir_ / "cut.mdl").string(), "-o", (dir_ / "kept.glb").string()}, 1, "malformed model file"},
        {{"export", square.string(), "-o", (dir_ / "x.obj").string()}, 2, "wants a .glb or .gltf"},
        {{"export", square.string(), "-o", (dir_ / "x.glb").string(), "--hi-precision"}, 2, "--hi-precision"},
        {{"export", scene, "-o", (dir_ / "x.glb").string()}, 2, "export " + scene + " to a .mdl file first"},
        {{"export", square.string(), "-o", (dir_ / "no/x.glb").string()}, 1, "Cannot write"},
        {{"export", skinless.string(), "-o", (dir_ / "kept.glb").string(), "--strict"}, 1, "no skin"},
    };
    for (const auto& c : cases) {
        const CliResult r = Quorvex(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1] << " " << c.args.back() << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadWholeFile(dir_ / "kept.glb"), "kept");
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    EXPECT_FALSE(fs::exists(dir_ / "x.glb"));
    // Without --strict the skinless model is written, with its warning.
    const CliResult plain = Quorvex({"export", skinless.string(), "-o", (dir_ / "bare.gltf").string()});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.err.find("warning"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "bare.png"));
    Validate({dir_ / "bare.gltf"});
}

}  // namespace
