// The bundled import examples end to end: the built `quorvex` command exports
// examples/robot/robot.gltf (a skinned robot with three clips and a plain
// plate) and examples/crate/crate.obj, and the written files are read back
// with the model reader and compared with positions worked out by hand.
//
// Positions below are the examples' own coordinates (Y-up). The importer
// stands a Y-up file upright by turning (x, y, z) to (x, -z, y), and the model
// file stores world (x, y, z) as (-y, x, z); together a file point is
// (z, x, y) of the example's point. Frames are quantized with truncation, so a
// decoded coordinate may lie up to one step (the header's scale) below the
// exact one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "mdl/MdlReader.h"
#include "tests/CliRunner.h"
#include "tests/ScratchDir.h"

using namespace quorvex;

namespace fs = std::filesystem;

constexpr double kPi = std::numbers::pi;

namespace {

struct Vec {
    double x, y, z;
};

using CommandResult = CliResult;

// The eight corners of a box.
std::vector<Vec> Corners(double x0, double x1, double y0, double y1, double z0, double z1) {
    std::vector<Vec> out;
    for (double x : {x0, x1}) {
        for (double y : {y0, y1}) {
            for (double z : {z0, z1}) out.push_back({x, y, z});
        }
    }
    return out;
}

// The robot as the generator builds it: joints Base (0, 0, 0), Neck (0, 1, 0)
// and Head (0, 2, 0), one box on each, and the unskinned plate.
const std::vector<Vec> kBody = Corners(-0.4, 0.4, 0.0, 1.0, -0.3, 0.3);
const std::vector<Vec> kNeck = Corners(-0.2, 0.2, 1.0, 2.0, -0.2, 0.2);
const std::vector<Vec> kHead = Corners(-0.35, 0.35, 2.0, 2.6, -0.3, 0.3);
const std::vector<Vec> kPlate = Corners(-0.8, 0.8, -0.15, 0.0, -0.8, 0.8);

std::vector<Vec> Moved(const std::vector<Vec>& points, const std::function<Vec(const Vec&)>& move) {
    std::vector<Vec> out;
    for (const Vec& p : points) out.push_back(move(p));
    return out;
}

std::vector<Vec> Join(std::initializer_list<std::vector<Vec>> parts) {
    std::vector<Vec> out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A Y-up point as the file stores it after the upright turn.
Vec ToFile(const Vec& p) { return {p.z, p.x, p.y}; }

std::vector<Vec> Decoded(const MdlFile& file, size_t frame) {
    std::vector<Vec> out;
    for (const MdlPackedVertex& v : file.frames.at(frame).vertices) {
        const MdlVec3 p = DecodeMdlPosition(file.header, v);
        out.push_back({p.x, p.y, p.z});
    }
    return out;
}

bool Near(const MdlHeader& h, const Vec& decoded, const Vec& exact) {
    // Truncation puts a coordinate up to one step below; allow a hair above
    // for the single-precision decode.
    auto axis = [](double d, double e, float step) { return d <= e + 1e-4 && d >= e - step - 1e-4; };
    return axis(decoded.x, exact.x, h.scale[0]) && axis(decoded.y, exact.y, h.scale[1]) &&
           axis(decoded.z, exact.z, h.scale[2]);
}

// Every expected point (example coordinates) is one decoded vertex of the
// frame, and the frame holds no others.
void ExpectFrameHolds(const MdlFile& file, size_t frame, const std::vector<Vec>& expected,
                      const std::function<Vec(const Vec&)>& toFile = ToFile) {
    SCOPED_TRACE("frame " + std::to_string(frame) + " \"" + file.frames.at(frame).name + "\"");
    const std::vector<Vec> decoded = Decoded(file, frame);
    ASSERT_EQ(decoded.size(), expected.size());
    std::vector<bool> used(decoded.size(), false);
    for (const Vec& e : expected) {
        const Vec f = toFile(e);
        bool found = false;
        for (size_t i = 0; i < decoded.size() && !found; ++i) {
            if (!used[i] && Near(file.header, decoded[i], f)) used[i] = found = true;
        }
        EXPECT_TRUE(found) << "no vertex at (" << f.x << ", " << f.y << ", " << f.z << ")";
    }
}

bool SameVertices(const MdlFrame& a, const MdlFrame& b) {
    for (size_t i = 0; i < a.vertices.size(); ++i) {
        const MdlPackedVertex &p = a.vertices[i], &q = b.vertices[i];
        if (p.x != q.x || p.y != q.y || p.z != q.z) return false;
    }
    return true;
}

std::array<int, 3> Rgb565(uint16_t p) {
    return {(p >> 11) * 255 / 31, ((p >> 5) & 63) * 255 / 63, (p & 31) * 255 / 31};
}

struct ImportExamples : ::testing::Test {
    ScratchDir scratch{"examples"};
    const std::filesystem::path& dir = scratch.path;
    const std::string robot = std::string(QUORVEX_SOURCE_DIR) + "/examples/robot/robot.gltf";
    const std::string crate = std::string(QUORVEX_SOURCE_DIR) + "/examples/crate/crate.obj";

    CommandResult Run(const std::string& args) { return RunQuorvex(args, dir); }

    // Exports `model` with `flags` and reads the file back.
    MdlFile Export(const std::string& model, const std::string& flags = "") {
        const fs::path path = dir / "out.mdl";
        const CommandResult r = Run("export " + model + " -o " + path.string() + " " + flags);
        EXPECT_EQ(r.status, 0) << r.err;
        const MdlReadResult read = ReadMdlFile(path.string().c_str());
        EXPECT_TRUE(read.ok()) << read.error.message;
        EXPECT_TRUE(read.warnings.empty());
        return read.file;
    }
};

// (name, first frame, frame count) of every sequence.
std::vector<std::tuple<std::string, int, int>> Sequences(const MdlFile& file) {
    std::vector<std::tuple<std::string, int, int>> out;
    for (const MdlSequence& s : GroupMdlSequences(file.frames)) out.emplace_back(s.name, s.firstFrame, s.frameCount);
    return out;
}

}  // namespace

TEST_F(ImportExamples, RobotClipsAreListedWithTheirLengths) {
    // wave lasts 1 s, nod 1.25 s, bob 0.75 s: ceil(seconds x fps) + 1 frames.
    CommandResult r = Run("export " + robot + " --list-clips");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wave: 31 frames\nnod: 39 frames\nbob: 24 frames\n");
    r = Run("export " + robot + " --list-clips --fps 10");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wave: 11 frames\nnod: 14 frames\nbob: 9 frames\n");
}

TEST_F(ImportExamples, RobotExportsEveryClipAsANamedSequence) {
    const MdlFile file = Export(robot);
    ASSERT_FALSE(testing::Test::HasFailure());
    using Seq = std::tuple<std::string, int, int>;
    EXPECT_EQ(Sequences(file), (std::vector<Seq>{{"wave", 0, 31}, {"nod", 31, 39}, {"bob", 70, 24}}));
    EXPECT_EQ(file.header.frameCount, 94);
    EXPECT_EQ(file.frames[30].name, "wave30");
    EXPECT_EQ(file.frames[31].name, "nod0");

    // Four corners per box side in the file, welded back to the boxes' corners.
    EXPECT_EQ(file.header.vertexCount, 32);
    EXPECT_EQ(file.header.triangleCount, 48);

    // The 60 x 44 picture: the skin is as wide as the next multiple of 8.
    EXPECT_EQ(file.header.skinWidth, 64);
    EXPECT_EQ(file.header.skinHeight, 44);
    ASSERT_EQ(file.skinPixels.size(), 64u * 44u);
    // The picture is not upside down: the face (eyes and mouth) is at the top left.
    auto near = [](std::array<int, 3> got, std::array<int, 3> want) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(got[c] - want[c]) > 8) return false;
        }
        return true;
    };
    EXPECT_TRUE(near(Rgb565(file.skinPixels[8 * 64 + 11]), {30, 140, 255}));    // an eye's iris
    EXPECT_TRUE(near(Rgb565(file.skinPixels[2 * 64 + 40]), {235, 120, 30}));    // the orange chest
    EXPECT_TRUE(near(Rgb565(file.skinPixels[30 * 64 + 36]), {230, 235, 225}));  // a white plate square
}

TEST_F(ImportExamples, RobotPosesMatchTheSkeleton) {
    const MdlFile file = Export(robot);
    ASSERT_FALSE(testing::Test::HasFailure());
    ASSERT_EQ(file.frames.size(), 94u);
    const auto rest = Join({kBody, kNeck, kHead, kPlate});

    // The first frame of each clip where nothing has moved yet is the bind pose:
    // the inverse bind matrices bring every box back where it was modelled.
    ExpectFrameHolds(file, 0, rest);

    // wave: the neck's linear rotation reaches 90 degrees about z at 0.5 s
    // (frame 15); about the neck joint (0, 1, 0), (x, y) turns to (1 - y, 1 + x)
    // and the head goes with it.
    const auto bend = [](const Vec& p) { return Vec{1.0 - p.y, 1.0 + p.x, p.z}; };
    ExpectFrameHolds(file, 15, Join({kBody, Moved(kNeck, bend), Moved(kHead, bend), kPlate}));
    // Half way to the key (frame 5 is a third of the way, 30 degrees).
    const double c30 = std::cos(kPi / 6), s30 = std::sin(kPi / 6);
    const auto lean = [&](const Vec& p) {
        return Vec{-(p.y - 1.0) * s30 + p.x * c30, 1.0 + (p.y - 1.0) * c30 + p.x * s30, p.z};
    };
    ExpectFrameHolds(file, 5, Join({kBody, Moved(kNeck, lean), Moved(kHead, lean), kPlate}));

    // nod: stepped keys at 0 (0 deg), 0.25 s (35 deg), 0.5 s (0 deg). Frame 7
    // (0.233 s) still holds the first key, frames 8..14 the second, and frame 15
    // lands exactly on the third: the rest pose again.
    const int nod = 31;
    ExpectFrameHolds(file, nod + 7, rest);
    const double c35 = std::cos(35 * kPi / 180), s35 = std::sin(35 * kPi / 180);
    const auto tilt = [&](const Vec& p) {
        return Vec{p.x, 2.0 + (p.y - 2.0) * c35 - p.z * s35, (p.y - 2.0) * s35 + p.z * c35};
    };
    ExpectFrameHolds(file, nod + 8, Join({kBody, kNeck, Moved(kHead, tilt), kPlate}));
    for (int f = nod + 9; f <= nod + 14; ++f) EXPECT_TRUE(SameVertices(file.frames[nod + 8], file.frames[f])) << f;
    ExpectFrameHolds(file, nod + 15, rest);

    // bob: cubic spline on the base's height, keys 0 -> 0.4 at 0 and 0.5 s with
    // an out-tangent of 1.6 per second at the start and a flat top. At frame 6
    // (s = 0.4 of the 0.5 s span) the Hermite form gives
    // 0.144 * 0.5 * 1.6 + 0.352 * 0.4 = 0.256; frame 15 is the key, 0.4.
    const int bob = 70;
    for (const auto& [frame, lift] : {std::pair{6, 0.256}, std::pair{15, 0.4}}) {
        const auto up = [lift = lift](const Vec& p) { return Vec{p.x, p.y + lift, p.z}; };
        ExpectFrameHolds(file, bob + frame, Join({Moved(kBody, up), Moved(kNeck, up), Moved(kHead, up), kPlate}));
    }
}

TEST_F(ImportExamples, RobotFramesMoveOnlyWhereTheAnimationDoes) {
    const MdlFile file = Export(robot);
    ASSERT_FALSE(testing::Test::HasFailure());
    ASSERT_EQ(file.frames.size(), 94u);
    // The linear wave never rests: each frame differs from the one before.
    for (int f = 1; f <= 30; ++f) EXPECT_FALSE(SameVertices(file.frames[f - 1], file.frames[f])) << f;

    // The plate is not skinned and not animated: its vertices hold still.
    const std::vector<Vec> decoded = Decoded(file, 0);
    std::vector<size_t> plate;
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (std::abs(decoded[i].x) > 0.7) plate.push_back(i);  // only the plate reaches 0.8 to front and back
    }
    ASSERT_EQ(plate.size(), 8u);
    for (const MdlFrame& frame : file.frames) {
        for (size_t i : plate) {
            const MdlPackedVertex &p = frame.vertices[i], &q = file.frames[0].vertices[i];
            EXPECT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z) << frame.name << " vertex " << i;
        }
    }
}

TEST_F(ImportExamples, RobotFaceIsMappedUpright) {
    const MdlFile file = Export(robot, "--clip wave");
    ASSERT_FALSE(testing::Test::HasFailure());
    // The head's front side (file x = 0.3, above z = 2) shows the face, the
    // picture's top-left 30 x 22 region: its top edge at row 0, its left edge
    // (the robot's right, x = -0.35) at column 0.
    const std::vector<Vec> decoded = Decoded(file, 0);
    const float stepX = file.header.scale[0];
    int checked = 0;
    for (const MdlTriangle& tri : file.triangles) {
        bool front = true;
        for (uint16_t v : tri.vertex) front = front && decoded[v].x > 0.3 - 2 * stepX && decoded[v].z > 1.95;
        if (!front) continue;
        for (int k = 0; k < 3; ++k) {
            const Vec& p = decoded[tri.vertex[k]];
            const MdlTexCoord& tc = file.texCoords[tri.texCoord[k]];
            EXPECT_NEAR(tc.u, p.y < 0 ? 0 : 29, 1) << "column of the corner at y " << p.y;
            EXPECT_NEAR(tc.v, p.z > 2.3 ? 0 : 22, 1) << "row of the corner at z " << p.z;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 2);
}

TEST_F(ImportExamples, ClipSelectionAndAxisOptions) {
    // --clip keeps one clip, with its frames counted from 0.
    MdlFile file = Export(robot, "--clip nod");
    ASSERT_FALSE(testing::Test::HasFailure());
    using Seq = std::tuple<std::string, int, int>;
    EXPECT_EQ(Sequences(file), (std::vector<Seq>{{"nod", 0, 39}}));
    const double c35 = std::cos(35 * kPi / 180), s35 = std::sin(35 * kPi / 180);
    const auto tilt = [&](const Vec& p) {
        return Vec{p.x, 2.0 + (p.y - 2.0) * c35 - p.z * s35, (p.y - 2.0) * s35 + p.z * c35};
    };
    ExpectFrameHolds(file, 8, Join({kBody, kNeck, Moved(kHead, tilt), kPlate}));

    // --no-up-fix keeps the file's axes: world is the file's own (x, y, z), stored as (-y, x, z).
    file = Export(robot, "--clip bob --no-up-fix");
    ASSERT_FALSE(testing::Test::HasFailure());
    EXPECT_EQ(Sequences(file), (std::vector<Seq>{{"bob", 0, 24}}));
    ExpectFrameHolds(file, 0, Join({kBody, kNeck, kHead, kPlate}), [](const Vec& p) { return Vec{-p.y, p.x, p.z}; });

    // --scale multiplies every position.
    file = Export(robot, "--clip wave --scale 2");
    ASSERT_FALSE(testing::Test::HasFailure());
    const auto twice = [](const Vec& p) { return Vec{2 * p.z, 2 * p.x, 2 * p.y}; };
    ExpectFrameHolds(file, 0, Join({kBody, kNeck, kHead, kPlate}), twice);

    // A clip the file does not have is refused and nothing is written.
    const CommandResult r = Run("export " + robot + " -o " + (dir / "none.mdl").string() + " --clip dance");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("dance"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "none.mdl"));
}

TEST_F(ImportExamples, CrateExportsOneFrameOfEightCorners) {
    const CommandResult listed = Run("export " + crate + " --list-clips");
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("no animation clips"), std::string::npos) << listed.out;

    const MdlFile file = Export(crate);
    ASSERT_FALSE(testing::Test::HasFailure());
    // The cross-shaped unwrap cuts the box along seams: 14 texture vertices,
    // but the corners stay 8.
    EXPECT_EQ(file.header.vertexCount, 8);
    EXPECT_EQ(file.header.triangleCount, 12);
    EXPECT_EQ(file.header.texCoordCount, 14);
    EXPECT_EQ(file.header.frameCount, 1);
    EXPECT_EQ(file.header.skinWidth, 64);
    EXPECT_EQ(file.header.skinHeight, 48);
    ExpectFrameHolds(file, 0, Corners(-0.5, 0.5, 0.0, 1.0, -0.5, 0.5));
}
