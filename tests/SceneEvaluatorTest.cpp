// The evaluator on scenes described in code: interpolation, frame counts,
// transforms composed in double precision, welding rules and the timeline.
#include <cmath>

#include "import/SceneEvaluator.h"
#include "tests/ImportTestSupport.h"

using quorvex::importer::AnimatedScene;
using quorvex::importer::AnimClip;
using quorvex::importer::AnimMesh;
using quorvex::importer::AnimTrack;
using quorvex::importer::ClipFrameCount;
using quorvex::importer::ImportOptions;
using quorvex::importer::Interpolation;
using quorvex::importer::Mat4d;
using quorvex::importer::SampleScene;
using quorvex::importer::SampleTrack;
using quorvex::importer::TrackTarget;
using quorvex::importer::ValidFps;
using quorvex::scene::MeshData;
using quorvex::scene::SceneDocument;

using namespace importtest;
using namespace quorvex::importer;
using namespace quorvex::scene;

namespace {

AnimTrack Track(TrackTarget target, Interpolation interp, size_t width, std::vector<double> times,
                std::vector<double> values) {
    AnimTrack t;
    t.node = 0;
    t.target = target;
    t.interpolation = interp;
    t.width = width;
    t.times = std::move(times);
    t.values = std::move(values);
    return t;
}

TEST(SceneEvaluator, TrackInterpolation) {
    const double h = std::sqrt(0.5);
    // Spherical: half way from no turn to a quarter turn about z is an eighth turn.
    const AnimTrack rot = Track(TrackTarget::Rotation, Interpolation::Linear, 4, {0, 1}, {0, 0, 0, 1, 0, 0, h, h});
    auto q = SampleTrack(rot, 0.5);
    EXPECT_NEAR(q[2], std::sin(M_PI / 8), 1e-12);
    EXPECT_NEAR(q[3], std::cos(M_PI / 8), 1e-12);
    // The same end given as its negation still takes the short way.
    const AnimTrack neg = Track(TrackTarget::Rotation, Interpolation::Linear, 4, {0, 1}, {0, 0, 0, 1, 0, 0, -h, -h});
    q = SampleTrack(neg, 0.5);
    EXPECT_NEAR(std::abs(q[2]), std::sin(M_PI / 8), 1e-12);
    EXPECT_NEAR(std::abs(q[3]), std::cos(M_PI / 8), 1e-12);
    EXPECT_GT(q[2] * q[3], 0.0);

    const AnimTrack step =
        Track(TrackTarget::Translation, Interpolation::Step, 3, {0, 1, 2}, {0, 0, 0, 5, 0, 0, 9, 0, 0});
    EXPECT_EQ(SampleTrack(step, 0.99)[0], 0.0);
    EXPECT_EQ(SampleTrack(step, 1.0)[0], 5.0);
    EXPECT_EQ(SampleTrack(step, -3.0)[0], 0.0);  // before the first key: the first value
    EXPECT_EQ(SampleTrack(step, 7.0)[0], 9.0);   // after the last: the last

    // Cubic spline over a two-second span: tangents are scaled by the span.
    // Keys (t=0, v=0, out=1) and (t=2, v=0, in=1): at s = 0.5,
    // h10 * 2 * 1 + h11 * 2 * 1 = 0.125 * 2 - 0.125 * 2 = 0.
    const AnimTrack cubic = Track(TrackTarget::Translation, Interpolation::CubicSpline, 1, {0, 2}, {0, 0, 1, 1, 0, 0});
    EXPECT_NEAR(SampleTrack(cubic, 1.0)[0], 0.0, 1e-12);
    EXPECT_NEAR(SampleTrack(cubic, 0.5)[0], (0.25 * 0.25 * 0.25 - 2 * 0.0625 + 0.25) * 2 + (0.015625 - 0.0625) * 2,
                1e-12);
    // Weights interpolate linearly, component by component.
    const AnimTrack w = Track(TrackTarget::Weights, Interpolation::Linear, 2, {0, 1}, {0, 1, 1, 0});
    EXPECT_EQ(SampleTrack(w, 0.25), (std::vector<double>{0.25, 0.75}));
}

TEST(SceneEvaluator, ClipFrameCounts) {
    EXPECT_EQ(ClipFrameCount(1.0, 30), 31);
    EXPECT_EQ(ClipFrameCount(1.01, 30), 32);  // the last frame at or after the end
    EXPECT_EQ(ClipFrameCount(static_cast<float>(0.1), 30), 4);
    EXPECT_EQ(ClipFrameCount(0.0, 30), 1);
    EXPECT_TRUE(ValidFps(30));
    EXPECT_TRUE(ValidFps(4800));
    EXPECT_FALSE(ValidFps(0));
    EXPECT_FALSE(ValidFps(-30));
    EXPECT_FALSE(ValidFps(7));
}

AnimMesh Point(double x, double y, double z) {
    AnimMesh m;
    m.positions = {{x, y, z}, {x, y, z}, {x, y, z}};
    m.triangles = {{0, 1, 2}};
    return m;
}

TEST(SceneEvaluator, UnevenScaleUnderRotatedParent) {
    // Parent turned a quarter about z; child stretched 2x along its own x and
    // moved 1 along it. The child's (1,0,0) lies at 2 + 1 = 3 along the
    // parent's x, which the turn points along world y.
    AnimatedScene scene;
    scene.nodes.resize(2);
    scene.nodes[0].name = "Parent";
    scene.nodes[0].rotation = {0, 0, std::sqrt(0.5), std::sqrt(0.5)};
    scene.nodes[0].children = {1};
    scene.nodes[1].name = "Child";
    scene.nodes[1].parent = 0;
    scene.nodes[1].translation = {1, 0, 0};
    scene.nodes[1].scale = {2, 1, 1};
    scene.nodes[1].meshes = {{0, -1}};
    scene.roots = {0};
    scene.meshes = {Point(1, 0, 0)};
    scene.meshes[0].positions[1] = {0, 1, 0};
    SceneDocument doc;
    quorvex::scene::LoadError error;
    ImportOptions options;
    options.upFix = false;
    ASSERT_TRUE(SampleScene(scene, options, doc, error)) << error.message;
    const auto v = WorldVerts(doc, "Child", 0);
    ExpectNear(v[0], 0, 3, 0);
    ExpectNear(v[1], -1, 1, 0);  // the child's y is not stretched
}

TEST(SceneEvaluator, WeldingKeepsVerticesThatMoveDifferently) {
    // Four corners at two places; at each place one pair differs only in
    // texture coordinates (welded), at the other in bone (kept apart).
    AnimatedScene scene;
    scene.nodes.resize(2);
    scene.nodes[0].name = "Bone";
    scene.nodes[0].translation = {0, 0, 1};
    scene.nodes[1].name = "Mesh";
    scene.nodes[1].meshes = {{0, 0}};
    scene.roots = {0, 1};
    AnimMesh m;
    m.positions = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 0}};
    m.uvs = {{0, 0}, {1, 0}, {0, 1}, {0, 1}};
    m.influences = {{{0, 1.0}}, {{0, 1.0}}, {{0, 1.0}}, {{1, 1.0}}};
    m.triangles = {{0, 2, 3}, {1, 2, 3}};
    scene.meshes = {m};
    scene.skins = {{{0, -1}, {Mat4d{}, Mat4d{}}}};
    scene.skins[0].joints = {0, 0};
    SceneDocument doc;
    quorvex::scene::LoadError error;
    ImportOptions options;
    options.upFix = false;
    ASSERT_TRUE(SampleScene(scene, options, doc, error)) << error.message;
    const MeshData& mesh = Find(doc, "Mesh")->object->mesh.At(0);
    EXPECT_EQ(mesh.verts.size(), 3u);
    EXPECT_EQ(mesh.tverts.size(), 3u);
    EXPECT_EQ(mesh.faces[0][0], mesh.faces[1][0]);
    EXPECT_NE(mesh.tvfaces[0][0], mesh.tvfaces[1][0]);
    // Both bones are the moved node: everything lifts by 1.
    for (const Point3& p : WorldVerts(doc, "Mesh", 0)) EXPECT_NEAR(p.z, 1.0f, 1e-6f);
}

TEST(SceneEvaluator, TimelineBeyondTheHostsTicksIsRefused) {
    AnimatedScene scene;
    scene.nodes.resize(1);
    scene.nodes[0].name = "N";
    scene.roots = {0};
    AnimClip clip;
    clip.name = "forever";
    clip.duration = 1e6;  // 30 million frames of 160 ticks
    scene.clips = {clip};
    SceneDocument doc;
    quorvex::scene::LoadError error;
    EXPECT_FALSE(SampleScene(scene, ImportOptions{}, doc, error));
    EXPECT_NE(error.message.find("frames"), std::string::npos) << error.message;
    ImportOptions fast;
    fast.fps = 30;
    fast.scale = 0.0;
    scene.clips[0].duration = 1.0;
    EXPECT_FALSE(SampleScene(scene, fast, doc, error));
}

}  // namespace
