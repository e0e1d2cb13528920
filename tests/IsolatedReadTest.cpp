// A reader in a process of its own: a fault or a limit there ends as one
// refusal, and what a good read found arrives whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "import/IsolatedRead.h"
#include "import/SceneWire.h"

using quorvex::importer::AnimatedScene;
using quorvex::importer::AnimClip;
using quorvex::importer::AnimMaterial;
using quorvex::importer::AnimMesh;
using quorvex::importer::AnimNode;
using quorvex::importer::AnimSkin;
using quorvex::importer::AnimTrack;
using quorvex::importer::Interpolation;
using quorvex::importer::Mat4d;
using quorvex::importer::ReaderLimits;
using quorvex::importer::ReaderMemoryLimitHolds;
using quorvex::importer::ReadIsolated;
using quorvex::importer::ReadWireResult;
using quorvex::importer::TrackTarget;
using quorvex::importer::WireResult;
using quorvex::importer::WireSource;
using quorvex::importer::Wrap;
using quorvex::importer::WriteWireResult;
using quorvex::importer::YUpToZUp;
using quorvex::scene::Picture;

using namespace quorvex::importer;
using namespace quorvex::scene;

namespace {

// A scene with every kind of field filled, and none at its default.
AnimatedScene FullScene() {
    AnimatedScene s;
    AnimNode node;
    node.name = "Arm";
    node.parent = 0;
    node.children = {2, 3};
    node.hidden = true;
    node.matrix = Mat4d{};
    node.matrix->m[0][3] = 5.0;
    node.translation = {1, 2, 3};
    node.rotation = {0.5, 0.5, 0.5, 0.5};
    node.scale = {2, 2, 2};
    node.meshes = {{0, 0}};
    node.weights = {0.25};
    s.nodes = {AnimNode{}, node};
    s.roots = {0};
    AnimMesh mesh;
    mesh.name = "Body";
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.uvs = {{0, 0}, {1, 0}, {0, 1}};
    mesh.triangles = {{0, 1, 2}};
    mesh.influences = {{{0, 1.0}}, {}, {{0, 0.5}, {1, 0.5}}};
    mesh.morphTargets = {{{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}};
    mesh.defaultWeights = {0.75};
    mesh.material = 0;
    mesh.colours = {{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
    s.meshes = {mesh};
    s.meshes[0].positions[1].x = 0.1;  // not a float: this array travels as doubles
    s.skins = {AnimSkin{{1}, {Mat4d{}}}};
    s.materials = {AnimMaterial{"Paint", "pics/a.png", "why", {0.1, 0.2, 0.3, 0.4}, Wrap::Mirror, Wrap::Clamp}};
    AnimTrack track{1, TrackTarget::Rotation, Interpolation::CubicSpline, 4, {0.0, 1.0}, std::vector<double>(24, 0.5)};
    s.clips = {AnimClip{"wave", true, 1.0, {track}}};
    Picture picture;
    picture.width = 2;
    picture.height = 1;
    picture.pixels = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    s.pictures["a.obj#0"] = picture;
    s.toZUp = YUpToZUp();
    s.baseDir = "models/";
    s.skippedPoints = 7;
    s.skippedLines = 9;
    s.warnings = {"something was guessed"};
    return s;
}

// The wire bytes of a result, as one string.
std::string WireBytes(const WireResult& result) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(file && WriteWireResult(fileno(file), result));
    std::string bytes;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<char>(c));
    std::fclose(file);
    return bytes;
}

struct StringSource : WireSource {
    std::string bytes;
    size_t at = 0;
    size_t Read(unsigned char* buffer, size_t capacity) override {
        const size_t n = std::min(capacity, bytes.size() - at);
        std::copy(bytes.begin() + at, bytes.begin() + at + n, buffer);
        at += n;
        return n;
    }
};

ReaderLimits NoLimits() { return ReaderLimits{}; }

}  // namespace

TEST(IsolatedRead, AGoodReadArrivesWholeAndTheReadersOwnErrorUnchanged) {
    AnimatedScene got;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(ReadIsolated(
        "m.obj", NoLimits(),
        [](AnimatedScene& out, quorvex::scene::LoadError&) {
            out = FullScene();
            return true;
        },
        got, error))
        << error.message;
    EXPECT_EQ(WireBytes({true, {}, got}), WireBytes({true, {}, FullScene()}));

    // Large arrays, one whose values are all floats and one whose are not.
    AnimatedScene large;
    large.meshes.resize(1);
    for (int i = 0; i < 200000; ++i) {
        large.meshes[0].positions.push_back({i * 0.1, 1.0 / (i + 3), -i * 1e-7});
        large.meshes[0].uvs.push_back({float(i) * 0.25f, -float(i)});
    }
    ASSERT_TRUE(ReadIsolated(
        "m.obj", NoLimits(),
        [&large](AnimatedScene& out, quorvex::scene::LoadError&) {
            out = large;
            return true;
        },
        got, error))
        << error.message;
    EXPECT_EQ(WireBytes({true, {}, got}), WireBytes({true, {}, large}));

    EXPECT_FALSE(ReadIsolated(
        "m.obj", NoLimits(),
        [](AnimatedScene&, quorvex::scene::LoadError& why) {
            why = {quorvex::scene::LoadErrorKind::NotEnoughMemory, "m.obj: line 3: bad number"};
            return false;
        },
        got, error));
    EXPECT_EQ(error.message, "m.obj: line 3: bad number");
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::NotEnoughMemory);  // the kind crosses too
}

// A child whose whole result is in is not waited for, but a later read
// reaps it: finished readers do not pile up as zombies.
TEST(IsolatedRead, FinishedReadersDoNotPileUp) {
    constexpr int kReads = 20;
    for (int i = 0; i < kReads; ++i) {
        AnimatedScene got;
        quorvex::scene::LoadError error;
        ASSERT_TRUE(ReadIsolated(
            "m.obj", NoLimits(), [](AnimatedScene&, quorvex::scene::LoadError&) { return true; }, got, error));
    }
    int unreaped = 0;
    while (waitpid(-1, nullptr, 0) > 0) ++unreaped;
    EXPECT_LT(unreaped, kReads / 2);
}

TEST(IsolatedRead, AFaultOrALimitInTheChildIsOneRefusal) {
    struct Case {
        const char* name;
        ReaderLimits limits;
        std::function<bool(AnimatedScene&, quorvex::scene::LoadError&)> read;
        std::string why;
    };
    const std::vector<Case> cases = {
        {"segmentation fault",
         {},
         [](AnimatedScene&, quorvex::scene::LoadError&) { return raise(SIGSEGV) == 0; },
         "segmentation fault"},
        {"abort", {}, [](AnimatedScene&, quorvex::scene::LoadError&) -> bool { std::abort(); }, "abort"},
        {"exception",
         {},
         [](AnimatedScene&, quorvex::scene::LoadError&) -> bool { throw 42; },
         "an unexpected exception"},
        {"memory",
         {uint64_t{512} << 20, 0, 0},
         [](AnimatedScene&, quorvex::scene::LoadError&) {
             std::vector<std::unique_ptr<char[]>> hoard;
             for (;;) hoard.emplace_back(new char[size_t{64} << 20]);
             return true;
         },
         "more than its memory limit of 512 MiB"},
        {"processor time",
         {0, 1, 0},
         [](AnimatedScene&, quorvex::scene::LoadError&) {
             volatile uint64_t spin = 0;
             for (;;) spin = spin + 1;
             return true;
         },
         "more than its limit of 1 s of processor time"},
        {"waiting",
         {0, 0, 1},
         [](AnimatedScene&, quorvex::scene::LoadError&) {
             for (;;) pause();
             return true;
         },
         "no result after 1 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.limits.memoryBytes > 0 && !ReaderMemoryLimitHolds()) continue;
        AnimatedScene got;
        quorvex::scene::LoadError error;
        EXPECT_FALSE(ReadIsolated("dir/in.obj", c.limits, c.read, got, error));
        EXPECT_EQ(error.message, "dir/in.obj: the reader for this format failed (" + c.why + "); nothing was written");
        // A limit is said as such; anything else is the file's fault.
        const bool limit = c.limits.memoryBytes + c.limits.cpuSeconds + c.limits.wallSeconds > 0;
        EXPECT_EQ(error.kind,
                  limit ? quorvex::scene::LoadErrorKind::OverLimit : quorvex::scene::LoadErrorKind::Malformed);
    }
}

// What comes through the pipe is checked: a message cut anywhere, or one
// whose count runs past its end, is refused without reading past it.
TEST(IsolatedRead, ABrokenMessageIsRefused) {
    const std::string whole = WireBytes({true, {}, FullScene()});
    WireResult out;
    std::string why;
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        StringSource source;
        source.bytes = whole.substr(0, cut);
        ASSERT_FALSE(ReadWireResult(source, out, why)) << cut;
    }
    StringSource longer;
    longer.bytes = whole;
    longer.bytes[0] = static_cast<char>(longer.bytes[0] + 1);  // says one byte more than it holds
    EXPECT_FALSE(ReadWireResult(longer, out, why));
    // The first node's name claims 2^40 bytes: refused before any allocation.
    StringSource huge;
    huge.bytes = whole;
    const size_t nameCount = 8 + 1 + 8 + 8;  // length, ok, empty error, node count
    huge.bytes[nameCount + 5] = 1;
    EXPECT_FALSE(ReadWireResult(huge, out, why));
    EXPECT_NE(why.find("beyond the message"), std::string::npos) << why;
}
