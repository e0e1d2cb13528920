// The vertex-frame readers: every frame exactly, clips from frame names,
// facing per format and as the user names it, pictures the file names, the
// user names or the model's name suggests.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "StbImageWrite.h"
#include "FacingFiles.h"
#include "VertexFrameFiles.h"
#include "import/DeclaredFrames.h"
#include "import/Facing.h"
#include "import/ImportVertexFrames.h"
#include "import/VertexFrames.h"
#include "scene/Pcx.h"
#include "CliRunner.h"
#include "ImportTestSupport.h"
#include "mdl/MdlReader.h"

using quorvex::scene::NodeData;
using quorvex::scene::SceneDocument;

using namespace importtest;
using quorvex::importer::SignedAxis;

namespace {

// World positions turned into the model file's axes (x = -world y, y = world x).
std::vector<std::array<float, 3>> FilePoints(const SceneDocument& doc, const std::string& node, TimeValue t) {
    std::vector<std::array<float, 3>> out;
    for (const Point3& p : WorldVerts(doc, node, t)) out.push_back({-p.y + 0.0f, p.x, p.z});
    std::sort(out.begin(), out.end());
    return out;
}

// The marked shape at `o`: nose +x 2, left +y 1, top +z 3.
std::vector<std::array<float, 3>> Marked(std::array<float, 3> o) {
    std::vector<std::array<float, 3>> out;
    for (const auto& p : vftest::MarkedPoints())
        out.push_back({o[0] + float(p[0]), o[1] + float(p[1]), o[2] + float(p[2])});
    std::sort(out.begin(), out.end());
    return out;
}

std::array<float, 3> Lowest(const std::vector<std::array<float, 3>>& points) {
    std::array<float, 3> lo = points.empty() ? std::array<float, 3>{} : points[0];
    for (const auto& p : points)
        for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], p[c]);
    return lo;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

std::string WriteMarkedGltf(const std::string& path) {
    // glTF: front +Z, up +Y, left +X.
    GltfBuilder b;
    const int pos = b.Floats({0, 0, 0, 0, 0, 2, 1, 0, 0, 0, 3, 0}, "VEC3");
    const int idx = b.Indices({0, 2, 1, 0, 3, 2, 0, 1, 3, 1, 2, 3});
    b.Add("meshes", {{"primitives", {{{"attributes", {{"POSITION", pos}}}, {"indices", idx}}}}});
    b.Add("nodes", {{"name", "shape"}, {"mesh", 0}});
    b.Add("scenes", {{"nodes", {0}}});
    return b.Write(path);
}

}  // namespace

TEST(VertexFrames, FrameNamesGroupIntoClips) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::pair<std::string, size_t>> groups;
    } cases[] = {
        {{"stand01", "stand02", "run1", "run2", "run3", "stand03"}, {{"stand", 2}, {"run", 3}, {"stand", 1}}},
        {{"pain_1", "pain-2", "death"}, {{"pain", 2}, {"death", 1}}},
        {{"", "", "7"}, {{"", 3}}},
        {{"frame", "frame"}, {{"frame", 2}}},
    };
    for (const Case& c : cases) {
        const auto groups = quorvex::importer::GroupFrameNames(c.names);
        ASSERT_EQ(groups.size(), c.groups.size()) << c.names[0];
        size_t first = 0;
        for (size_t i = 0; i < groups.size(); ++i) {
            EXPECT_EQ(groups[i].name, c.groups[i].first);
            EXPECT_EQ(groups[i].count, c.groups[i].second);
            EXPECT_EQ(groups[i].first, first);
            first += groups[i].count;
        }
    }
}

TEST(VertexFrames, Md2EveryFrameExactlyWithClipsFromItsNamesAtAnyFrameRate) {
    const std::string dir = ScratchDir("md2-frames");
    auto frames = vftest::MarkedMd2Frames({"stand01", "stand02", "stand03", "run1", "run2"});
    frames[4].scale[1] = 0.3f;  // a scale that is not a power of two
    frames[4].move[0] = -1.7f;
    WriteFile(dir + "hero.md2", vftest::Md2File(frames));
    for (int fps : {10, 30}) {
        quorvex::importer::ImportOptions options;
        options.fps = fps;
        SceneDocument doc;
        std::string error;
        ASSERT_TRUE(ImportScene(dir + "hero.md2", options, doc, error)) << error;
        const int32_t tpf = doc.ticksPerFrame;
        EXPECT_EQ(doc.animRange.end, 4 * tpf);
        const NodeData* names = Find(doc, "FrameNames");
        ASSERT_TRUE(names && names->noteTracks.size() == 1);
        ASSERT_EQ(names->noteTracks[0].size(), 2u);
        EXPECT_EQ(names->noteTracks[0][0].text, "stand");
        EXPECT_EQ(names->noteTracks[0][1].text, "run");
        EXPECT_EQ(names->noteTracks[0][1].time, 3 * tpf);
        for (int f = 0; f < 5; ++f) {
            std::vector<std::array<float, 3>> want;
            for (const auto& b : frames[f].bytes) {
                std::array<float, 3> p;
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<float>(b[c] * double(frames[f].scale[c]) + double(frames[f].move[c]));
                want.push_back(p);
            }
            std::sort(want.begin(), want.end());
            EXPECT_EQ(FilePoints(doc, "hero", f * tpf), want) << "frame " << f << " at " << fps;
        }
    }
}

TEST(VertexFrames, Md3SurfacesMergedFramesOneClipPicturesFromTheDefaultSkin) {
    const std::string dir = ScratchDir("md3-skin");
    WriteFile(dir + "lower.md3", vftest::Md3File({"(from ASE)", "(from ASE)", "(from ASE)"},
                                                 {{"l_legs", "models/players/x/legs.tga"}, {"l_belt", "belt.tga"}}));
    WriteFile(dir + "legs.pcx", vftest::PcxFile(2, 2, {1, 2, 3, 4}));
    WriteFile(dir + "belt.pcx", vftest::PcxFile(2, 1, {200, 201}));
    WriteFile(dir + "lower_default.skin", "tag_torso,\r\nL_LEGS,models/players/x/belt.pcx\r\n");
    SceneDocument doc;
    quorvex::importer::ImportNotes notes;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(quorvex::importer::ImportScene(dir + "lower.md3", {}, doc, notes, error)) << error.message;
    EXPECT_EQ(doc.animRange.end, 2 * doc.ticksPerFrame);
    EXPECT_EQ(Find(doc, "FrameNames")->noteTracks[0][0].text, "lower");
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(FilePoints(doc, "l_legs", f * doc.ticksPerFrame), Marked({0, 0, f + 1 / 64.0f}));
        EXPECT_EQ(FilePoints(doc, "l_belt", f * doc.ticksPerFrame), Marked({0, 1, f + 1 / 64.0f}));
    }
    // The skin names legs' picture; the belt keeps its shader, found under another extension.
    EXPECT_EQ(Find(doc, "l_legs")->material->diffuse->file, "belt.pcx");
    EXPECT_EQ(Find(doc, "l_belt")->material->diffuse->file, "belt.pcx");
    const std::string all = Joined(notes.warnings);
    EXPECT_NE(all.find("\"l_belt\" is not in lower_default.skin"), std::string::npos) << all;
    EXPECT_NE(all.find("\"belt.tga\" not found; using \"belt.pcx\""), std::string::npos) << all;
}

// The first node that holds vertices, depth first, with the nodes above it.
bool MeshChain(const std::vector<NodeData>& nodes, std::vector<const NodeData*>& chain) {
    for (const NodeData& n : nodes) {
        chain.push_back(&n);
        if ((n.object && !n.object->mesh.At(0).verts.empty()) || MeshChain(n.children, chain)) return true;
        chain.pop_back();
    }
    return false;
}

// Each format written the way its programs lay a model out (or as its axis
// settings say) stands with the nose +x, the left +y and the top +z.
TEST(VertexFrames, EveryFormatFacesTheSameWay) {
    using vftest::MarkedAlong;
    const vftest::Point px{1, 0, 0}, py{0, 1, 0}, pz{0, 0, 1}, nx{-1, 0, 0}, ny{0, -1, 0}, nz{0, 0, -1};
    const struct {
        const char* file;
        std::string bytes;
    } cases[] = {
        {"shape.md2", vftest::Md2File(vftest::MarkedMd2Frames({"a"}))},
        {"shape.md3", vftest::Md3File({"a"}, {{"shape", ""}})},
        {"shape.obj", vftest::ObjText(MarkedAlong(py, pz))},
        {"shape.3ds", vftest::ThreeDsFile(MarkedAlong(pz, ny))},      // Z up, front -Y
        {"shape.smd", vftest::SmdText(MarkedAlong(pz, px))},          // Z up, front +X
        {"shape.ac", vftest::AcText(MarkedAlong(py, nx))},            // Y up, nose -X
        {"shape.x", vftest::XText(MarkedAlong(py, pz))},              // left-handed, Y up, front -Z
        {"shape.md5mesh", vftest::Md5MeshText(MarkedAlong(pz, px))},  // Z up, front +X
        {"maya.fbx", vftest::FbxText(MarkedAlong(py, pz), 1, 1, 2, 1)},
        {"max.fbx", vftest::FbxText(MarkedAlong(pz, ny), 2, 1, 1, -1)},
        {"back.fbx", vftest::FbxText(MarkedAlong(py, nz), 1, 1, 2, -1)},
        {"side.fbx", vftest::FbxText(MarkedAlong(nx, py), 0, -1, 1, 1)},
    };
    const std::string dir = ScratchDir("facing");
    WriteMarkedGltf(dir + "shape.gltf");
    std::vector<std::string> files = {"shape.gltf"};
    for (const auto& c : cases) {
        WriteFile(dir + c.file, c.bytes);
        files.push_back(c.file);
    }
    for (const std::string& file : files) {
        SceneDocument doc;
        std::string error;
        ASSERT_TRUE(ImportScene(dir + file, {}, doc, error)) << file << ": " << error;
        std::vector<const NodeData*> chain;
        ASSERT_TRUE(MeshChain(doc.nodes, chain)) << file;
        Matrix3 world = chain.front()->transform.At(0);
        for (size_t i = 1; i < chain.size(); ++i) world = Mul(chain[i]->transform.At(0), world);
        std::vector<std::array<float, 3>> points;
        for (const Point3& p : chain.back()->object->mesh.At(0).verts) {
            const Point3 w = Apply(p, world);
            points.push_back({-w.y + 0.0f, w.x, w.z});
        }
        std::sort(points.begin(), points.end());
        EXPECT_EQ(points, Marked(Lowest(points))) << file;
    }
}

TEST(VertexFrames, UpAndForwardChooseTheTurn) {
    const SignedAxis none, px{0, 1}, py{1, 1}, pz{2, 1}, nx{0, -1}, ny{1, -1}, nz{2, -1};
    const quorvex::importer::Mat4d md2 = quorvex::importer::FacingTurn(pz, px), gltf = quorvex::importer::YUpToZUp(),
                                   asStored;
    struct Case {
        const char* what;
        quorvex::importer::Mat4d own;
        SignedAxis up, forward;
        SignedAxis wantUp, wantForward;  // axis -1: refused
    } cases[] = {
        {"--up y on a z-up file", asStored, py, none, py, pz},
        {"--up z on a y-up file", gltf, pz, none, pz, ny},
        {"--up z keeps a square front", md2, pz, none, pz, px},
        {"--up -y", asStored, ny, none, ny, nz},
        {"--up x keeps a square front", gltf, px, none, px, pz},
        {"--forward alone keeps the up", md2, none, ny, pz, ny},
        {"both", gltf, nx, pz, nx, pz},
        {"front along the file's up", gltf, none, py, none, none},
    };
    for (const Case& c : cases) {
        quorvex::importer::Mat4d turn;
        std::string error;
        const bool ok = quorvex::importer::ChooseFacing(c.own, c.up, c.forward, turn, error);
        ASSERT_EQ(ok, c.wantUp.Given()) << c.what << ": " << error;
        if (!ok) continue;
        // The up goes to +Z, the front to -Y, and the turn is a rotation.
        const quorvex::importer::Vec3d up = quorvex::importer::TransformPoint(
            turn, {c.wantUp.axis == 0 ? double(c.wantUp.sign) : 0, c.wantUp.axis == 1 ? double(c.wantUp.sign) : 0,
                   c.wantUp.axis == 2 ? double(c.wantUp.sign) : 0});
        double f[3] = {0, 0, 0};
        f[c.wantForward.axis] = c.wantForward.sign;
        const quorvex::importer::Vec3d front = quorvex::importer::TransformPoint(turn, {f[0], f[1], f[2]});
        EXPECT_EQ(up.z, 1.0) << c.what;
        EXPECT_EQ(front.y, -1.0) << c.what;
        const auto& m = turn.m;
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        EXPECT_EQ(det, 1.0) << c.what;
    }
    // Naming the up axis alone turns y-up and z-up files as it always did.
    quorvex::importer::Mat4d turn;
    std::string error;
    ASSERT_TRUE(quorvex::importer::ChooseFacing(asStored, py, none, turn, error));
    EXPECT_EQ(0, std::memcmp(&turn, &gltf, sizeof turn));
    ASSERT_TRUE(quorvex::importer::ChooseFacing(gltf, pz, none, turn, error));
    EXPECT_EQ(0, std::memcmp(&turn, &asStored, sizeof turn));
}

TEST(VertexFrames, PicturesFromTheFileTheUserOrTheModelsName) {
    const std::string dir = ScratchDir("md2-pictures");
    namespace fs = std::filesystem;
    fs::create_directories(dir + "root/models/hero");
    fs::create_directories(dir + "root/textures");
    fs::create_directories(dir + "elsewhere");
    const std::string pcx = vftest::PcxFile(2, 2, {9, 9, 9, 9});
    WriteFile(dir + "root/textures/hero.pcx", pcx);
    WriteFile(dir + "elsewhere/only.pcx", pcx);
    WriteFile(dir + "user.pcx", pcx);
    const unsigned char rgb[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9};
    ASSERT_TRUE(stbi_write_png((dir + "root/models/hero/bare.png").c_str(), 2, 2, 3, rgb, 6));
    const auto frames = vftest::MarkedMd2Frames({"a"});
    const std::string model = dir + "root/models/hero/";
    WriteFile(model + "hero.md2", vftest::Md2File(frames, {"textures/hero.pcx"}));
    WriteFile(model + "bare.md2", vftest::Md2File(frames));
    WriteFile(model + "other.md2", vftest::Md2File(frames, {"skins/only.pcx"}));
    struct Case {
        const char* file;
        std::vector<std::string> dirs, byMaterial;
        std::string fallback;
        std::string picture;  // the key the mesh's material names, ending so
        std::string warning;  // a part of the one warning, or "" for none
    } cases[] = {
        {"hero.md2", {}, {}, "", "root/textures/hero.pcx", ""},
        {"bare.md2", {}, {}, "", "bare.png", "the file names no picture; guessed \"bare.png\""},
        {"other.md2", {dir + "elsewhere"}, {}, "", "elsewhere/only.pcx", ""},
        {"other.md2", {}, {}, dir + "user.pcx", "user.pcx", "\"skins/only.pcx\" not found; using"},
        {"hero.md2", {}, {"hero", dir + "user.pcx"}, "", "user.pcx", ""},
        {"hero.md2", {}, {"nobody", dir + "user.pcx"}, "", "root/textures/hero.pcx", "no material \"nobody\""},
    };
    for (const Case& c : cases) {
        quorvex::importer::ImportOptions options;
        options.pictures.dirs = c.dirs;
        if (!c.byMaterial.empty()) options.pictures.byMaterial[c.byMaterial[0]] = c.byMaterial[1];
        options.pictures.fallback = c.fallback;
        SceneDocument doc;
        quorvex::importer::ImportNotes notes;
        quorvex::scene::LoadError error;
        ASSERT_TRUE(quorvex::importer::ImportScene(model + c.file, options, doc, notes, error)) << error.message;
        const std::string stem = std::string(c.file).substr(0, std::string(c.file).find('.'));
        const std::string key = Find(doc, stem)->material->diffuse->file;
        EXPECT_TRUE(key.size() >= c.picture.size() && key.substr(key.size() - c.picture.size()) == c.picture)
            << c.file << ": " << key;
        EXPECT_TRUE(doc.images.count(key)) << key;
        const std::string all = Joined(notes.warnings);
        if (c.warning.empty()) {
            EXPECT_TRUE(notes.warnings.empty()) << c.file << ": " << all;
        } else {
            EXPECT_EQ(notes.warnings.size(), 1u) << all;
            EXPECT_NE(all.find(c.warning), std::string::npos) << c.file << ": " << all;
        }
        EXPECT_EQ(all.find("texture_dummy"), std::string::npos) << all;
    }
}

TEST(VertexFrames, DamagedFilesAreRefusedNamingTheFileAndPlace) {
    const std::string dir = ScratchDir("md2-damaged");
    const std::string md2 = vftest::Md2File(vftest::MarkedMd2Frames({"a", "b"}));
    const std::string md3 = vftest::Md3File({"a"}, {{"s", ""}});
    std::string badIndex = md2;
    badIndex[68 + 4 * 4] = 9;  // the first triangle's first vertex (after the texture coordinates)
    std::string badSurface = md3;
    badSurface[108 + 56 + 72] = 2;  // the surface claims two frames
    struct Case {
        const char* name;
        std::string bytes;
        const char* want;
    } cases[] = {
        {"cut.md2", md2.substr(0, md2.size() - 1), "frames"}, {"header.md2", md2.substr(0, 40), "not an MD2 file"},
        {"index.md2", badIndex, "triangle 0 names vertex 9"}, {"cut.md3", md3.substr(0, md3.size() - 1), "surface 0"},
        {"frames.md3", badSurface, "holds 2 frames"},
    };
    for (const Case& c : cases) {
        WriteFile(dir + c.name, c.bytes);
        SceneDocument doc;
        std::string error;
        EXPECT_FALSE(ImportScene(dir + c.name, {}, doc, error)) << c.name;
        EXPECT_EQ(error.rfind(dir + c.name + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.want), std::string::npos) << error;
    }
}

TEST(VertexFrames, DeclaredAnimationThatWasNotReadIsNamed) {
    const std::string dir = ScratchDir("declared");
    auto iqm = [](int32_t anims, int32_t frames) {
        vftest::Writer w;
        w.Text("INTERQUAKEMODEL", 16);
        for (int i = 0; i < 17; ++i) w.I32(i == 0 ? 2 : 0);
        w.I32(anims);
        w.I32(0);
        w.I32(frames);
        return w.bytes;
    };
    auto mdc = [](int32_t frames) {
        vftest::Writer w;
        w.Raw("IDPC", 4);
        w.I32(2);
        w.Text("shape", 64);
        w.I32(0);
        for (int32_t v : {frames, 0, 1, 0, 0}) w.I32(v);
        return w.bytes;
    };
    const struct {
        const char* file;
        std::string bytes;
        bool clips;  // the reader delivered animation
        const char* want;
    } cases[] = {
        {"one.iqm", iqm(1, 101), false,
         "the file holds 1 animation of 101 frames that cannot be read; exporting the first pose"},
        {"two.iqm", iqm(2, 40), false,
         "the file holds 2 animations of 40 frames in all that cannot be read; exporting the first pose"},
        {"still.iqm", iqm(0, 0), false, ""},
        {"read.iqm", iqm(1, 101), true, ""},
        {"walk.mdc", mdc(40), false, "the file holds 40 frames; only the first can be read and is exported"},
        {"pose.mdc", mdc(1), false, ""},
        {"other.mdc", iqm(1, 101), false, ""},  // not its magic
        {"one.obj", iqm(1, 101), false, ""},
    };
    for (const auto& c : cases) {
        WriteFile(dir + c.file, c.bytes);
        quorvex::importer::AnimatedScene scene;
        scene.clips.resize(c.clips ? 1 : 0);
        EXPECT_EQ(quorvex::importer::UndeliveredAnimation(dir + c.file, scene), c.want) << c.file;
    }
}

TEST(VertexFrames, PcxPicturesDecodeOrSayWhyNot) {
    const std::string good = vftest::PcxFile(3, 2, {0, 1, 2, 200, 254, 255});
    quorvex::scene::Picture p;
    std::string error;
    ASSERT_TRUE(quorvex::scene::DecodePcx(reinterpret_cast<const unsigned char*>(good.data()), good.size(), p, error))
        << error;
    ASSERT_EQ(p.width, 3);
    ASSERT_EQ(p.height, 2);
    const uint8_t want[6] = {0, 1, 2, 200, 254, 255};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p.pixels[i].r, want[i] * 257);
        EXPECT_EQ(p.pixels[i].g, (255 - want[i]) * 257);
        EXPECT_EQ(p.pixels[i].b, 7 * 257);
    }
    std::string noPalette = good;
    noPalette[good.size() - 769] = 0;
    std::string cut = good.substr(0, 130) + good.substr(good.size() - 769);
    std::string planes = good;
    planes[65] = 4;
    for (const std::string* bad : {&noPalette, &cut, &planes}) {
        EXPECT_FALSE(
            quorvex::scene::DecodePcx(reinterpret_cast<const unsigned char*>(bad->data()), bad->size(), p, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(VertexFrames, CommandLineCutsFramesPastTheEndAndChecksTheNewFlags) {
    const std::string dir = ScratchDir("md2-cli");
    WriteFile(dir + "hero.md2", vftest::Md2File(vftest::MarkedMd2Frames({"run1", "run2", "run3", "run4"})));
    const std::string in = ShellQuote(dir + "hero.md2"), out = ShellQuote(dir + "hero.mdl");
    struct Case {
        std::string args;
        int status;
        std::string err;  // a part of standard error
        int frames;       // in the written file; -1: none written
    } cases[] = {
        {"--frames 1:500", 0, "--frames 1:500 runs past the file's last frame 3; exporting 1:3", 3},
        {"--frames 1:500 --strict", 1, "not written", -1},
        {"--frames 9:12", 2, "the file's frames are 0 to 3", -1},
        {"--fps 10", 0, "--fps 10 does not apply", 4},
        {"--up z --forward -z", 2, "parallel", -1},
        {"--up q", 2, "--up wants x, y or z", -1},
        {"--no-up-fix --forward x", 2, "--no-up-fix takes the axes as stored", -1},
        {"--texture " + ShellQuote(dir + "none.pcx"), 2, "no such file", -1},
        {"--texture-dir " + ShellQuote(dir + "nowhere"), 2, "no such folder", -1},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir + "hero.mdl");
        const CliResult r = RunQuorvex("export " + in + " -o " + out + " -q " + c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << "\n" << r.err;
        const quorvex::MdlReadResult file = quorvex::ReadMdlFile((dir + "hero.mdl").c_str());
        EXPECT_EQ(file.ok() ? static_cast<int>(file.file.frames.size()) : -1, c.frames) << c.args;
    }
}
