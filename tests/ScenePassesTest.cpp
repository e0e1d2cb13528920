#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "PassTestSupport.h"
#include "export/ScenePasses.h"
#include "export/SceneWalk.h"
#include "model/ModelData.h"

using namespace quorvex;

namespace {

using namespace passtest;
using quorvex::scene::ConvertMode;
using quorvex::scene::ObjectKind;
using quorvex::standin::EvalCall;

// Runs single walks on a stand-in scene, with a model the test sizes itself.
struct WalkRig {
    quorvex::standin::StandinHost host;
    quorvex::standin::HostGlobalsScope scope;
    ExportState& state = exportState;

    explicit WalkRig(SceneDocument doc) : host(std::move(doc)), scope(&host) {
        // What a fresh export starts from; the rest each test sets itself.
        state.errorFlag = 0;
        state.errorText[0] = '\0';
        state.options = ExportOptionsRecord{0, 0, 0, 0};
        state.frameCount = 1;
        state.currentFrame = 0;
        state.texCoordBase = state.vertexBase = state.triangleBase = 0;
        state.gatheredMeshes.clear();
        state.sampleCursor = 0;
        ClearTextureTable(state.textures);
    }
    ~WalkRig() {
        exportState.model.reset();
        exportState.errorFlag = 0;
    }
    void Walk(ExportPass pass) {
        INode* root = host.GetRootNode();
        for (int i = 0; i < root->NumberOfChildren(); ++i) WalkNode(state, root->GetChildNode(i), pass);
    }
    INode* Node(const char* name) {
        INode* node = host.FindNode(name);
        EXPECT_NE(node, nullptr) << name;
        return node;
    }
};

std::vector<std::string> TimesOf(const std::vector<EvalCall>& log, const std::string& node) {
    std::vector<std::string> times;
    for (const EvalCall& call : log) {
        if (call.node == node) times.push_back(std::to_string(call.time));
    }
    return times;
}

MeshData Triangle() {
    MeshData m;
    m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.faces = {{0, 1, 2}};
    m.tverts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.tvfaces = {{0, 1, 2}};
    return m;
}

// ---------------------------------------------------------------- walk

TEST(SceneWalk, VisitsPreOrderAndActsOnlyOnVisibleMeshes) {
    NodeData a = MeshNode("A", Square());
    NodeData b = MeshNode("B", Square());
    b.hidden = true;
    b.children.push_back(MeshNode("C", Square()));
    a.children.push_back(b);
    NodeData helper = ObjectNode("Helper", ObjectKind::Helper);
    helper.hidden = true;
    NodeData empty;
    empty.name = "N";
    empty.children.push_back(MeshNode("D", Square()));
    NodeData hiddenAtRoot = MeshNode("E", Square());
    hiddenAtRoot.hidden = true;
    SceneDocument doc = SceneWith({a, helper, ObjectNode("T", ObjectKind::Target),
                                   ObjectNode("U", ObjectKind::Unconvertible), empty, hiddenAtRoot});

    ExportRun run = RunExport(doc, {.startFrame = 2, .endFrame = 2});
    ASSERT_EQ(run.result, 1) << run.errorText;

    // Time 0 classifies every node; the preamble and the conversion evaluate
    // the nodes that get a mesh action at the start frame's time (2 * 160).
    const std::vector<std::pair<std::string, TimeValue>> oneWalk = {
        {"A", 0},   {"A", 320}, {"A", 320}, {"B", 0},   {"C", 0}, {"C", 320}, {"C", 320}, {"Helper", 0}, {"T", 0},
        {"T", 320}, {"U", 0},   {"U", 320}, {"U", 320}, {"N", 0}, {"D", 0},   {"D", 320}, {"D", 320},    {"E", 0}};
    std::vector<std::pair<std::string, TimeValue>> expected;
    for (int walk = 0; walk < 3; ++walk) expected.insert(expected.end(), oneWalk.begin(), oneWalk.end());
    std::vector<std::pair<std::string, TimeValue>> actual;
    for (const EvalCall& call : run.evalLog) actual.emplace_back(call.node, call.time);
    EXPECT_EQ(actual, expected);

    ASSERT_TRUE(run.written);
    EXPECT_EQ(run.file.triangleCount, 6);  // A, C and D
    EXPECT_EQ(run.file.vertexCount, 12);
}

TEST(SceneWalk, ReleasesEveryConvertedCopyOnceAndNothingTheHostOwns) {
    SceneDocument doc = SceneWith({MeshNode("Copy", Square(), "skin.png", ConvertMode::Copy),
                                   MeshNode("Same", Square(), "skin.png", ConvertMode::Same),
                                   MeshNode("Nothing", Square(), "skin.png", ConvertMode::None)});
    ExportRun run = RunExport(doc, {.startFrame = 0, .endFrame = 2});
    ASSERT_EQ(run.result, 1) << run.errorText;
    // One copy per walk: scan, gather and three sample walks.
    EXPECT_EQ(run.counters.conversions, 5);
    EXPECT_EQ(run.counters.conversionsReleased, 5);
    EXPECT_EQ(run.counters.hostOwnedReleases, 0);
    EXPECT_EQ(run.counters.doubleReleases, 0);
    EXPECT_EQ(run.counters.bitmapsLoaded, run.counters.bitmapsReleased);
    EXPECT_TRUE(run.allReleasedOnce);
    ASSERT_TRUE(run.written);
    EXPECT_EQ(run.file.triangleCount, 4);  // the node whose conversion gives nothing adds nothing

    // A node the scan rejects still gives its copy back.
    NodeData bare = MeshNode("Bare", Square());
    bare.material.reset();
    ExportRun refused = RunExport(SceneWith({bare}));
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.counters.conversions, 1);
    EXPECT_TRUE(refused.allReleasedOnce);
}

// ---------------------------------------------------------------- scan

TEST(ScanPass, ReportsTheLastFailingNodeOnce) {
    NodeData hull = MeshNode("Hull", Square());
    hull.material.reset();
    NodeData mast = MeshNode("Mast", Square());
    mast.material->kind = quorvex::scene::MaterialKind::Other;
    ExportRun run = RunExport(SceneWith({hull, MeshNode("Deck", Square()), mast}));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.errorText, "Mast: Not Standard Material");
    ASSERT_EQ(run.messageBoxes.size(), 1u);
    EXPECT_EQ(run.messageBoxes[0].text, "Mast: Not Standard Material");
    EXPECT_EQ(run.messageBoxes[0].caption, "Aborting !");
    EXPECT_FALSE(run.written);
    EXPECT_TRUE(run.allReleasedOnce);
}

TEST(ScanPass, ChecksInOrderAndNamesTheReason) {
    MeshData untextured = Square();
    untextured.tverts.clear();
    untextured.tvfaces.clear();

    NodeData noMaterial = MeshNode("Hull", untextured);
    noMaterial.material.reset();
    EXPECT_EQ(RunExport(SceneWith({noMaterial})).errorText, "Hull: No Material");

    NodeData other = MeshNode("Hull", untextured);
    other.material->kind = quorvex::scene::MaterialKind::Other;
    EXPECT_EQ(RunExport(SceneWith({other})).errorText, "Hull: Not Standard Material");

    NodeData noMap = MeshNode("Hull", untextured);
    noMap.material->diffuse.reset();
    EXPECT_EQ(RunExport(SceneWith({noMap})).errorText, "Hull: No Texture Map");

    ExportRun noMapping = RunExport(SceneWith({MeshNode("Hull", untextured)}));
    EXPECT_EQ(noMapping.errorText, "Hull No Mapping");
    EXPECT_EQ(noMapping.result, 0);

    // A map of another kind passes the scan; a hidden failing mesh, a target
    // and an unconvertible object are not checked.
    NodeData procedural = MeshNode("Hull", Square());
    procedural.material->diffuse->kind = quorvex::scene::MapKind::Other;
    NodeData hidden = MeshNode("Hidden", untextured);
    hidden.material.reset();
    hidden.hidden = true;
    ExportRun accepted = RunExport(SceneWith(
        {procedural, hidden, ObjectNode("T", ObjectKind::Target), ObjectNode("U", ObjectKind::Unconvertible)}));
    EXPECT_EQ(accepted.result, 1) << accepted.errorText;
    EXPECT_EQ(accepted.errorFlagAfter, 0);
    EXPECT_TRUE(accepted.messageBoxes.empty());
}

TEST(ScanPass, CutsALongMessageAt255Bytes) {
    const std::string name(250, 'n');
    NodeData node = MeshNode(name, Square());
    node.material.reset();
    ExportRun run = RunExport(SceneWith({node}));
    EXPECT_EQ(run.errorText, (name + ": No Material").substr(0, 255));
    EXPECT_EQ(run.errorText.size(), 255u);
}

TEST(ScanPass, CountsTheMeshesAtTheStartFrame) {
    MeshData big = Square();
    big.verts.push_back({5, 5, 5});
    big.tverts.push_back({0.5f, 0.5f, 0});
    NodeData growing = MeshNode("Grows", Square());
    growing.object->mesh.keys = {{0, Triangle()}, {800, big}};
    ExportRun run = RunExport(SceneWith({growing, MeshNode("Deck", Triangle())}), {.startFrame = 5, .endFrame = 5});
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.vertexCount, 5 + 3);
    EXPECT_EQ(run.file.triangleCount, 2 + 1);
    EXPECT_EQ(run.file.texCoordCount, 5 + 3);
}

// ---------------------------------------------------------------- gather

TEST(GatherPass, NumbersTrianglesAfterThePreviousMeshes) {
    MeshData first;
    for (int i = 0; i < 10; ++i) first.verts.push_back({float(i), 0, 0});
    for (int i = 0; i < 12; ++i) first.tverts.push_back({0, 0, 0});
    first.faces = {{0, 1, 2}};
    first.tvfaces = {{0, 1, 2}};
    MeshData second;
    for (int i = 0; i < 7; ++i) second.verts.push_back({0, float(i), 0});
    for (int i = 0; i < 7; ++i) second.tverts.push_back({0, 0, 0});
    second.tverts.push_back({0, 0, 0});
    second.tverts.push_back({1, 1, 0});
    second.tverts.push_back({0.5f, 0.25f, 0});
    second.faces = {{4, 5, 6}};
    second.tvfaces = {{7, 8, 9}};

    ExportRun run = RunExport(SceneWith({MeshNode("First", first), MeshNode("Second", second)}));
    ASSERT_TRUE(run.written) << run.errorText;
    ASSERT_EQ(run.file.triangleCount, 2);
    const auto& t0 = run.file.triangles[0];
    EXPECT_EQ((std::vector<int>{t0.vertex[0], t0.vertex[1], t0.vertex[2]}), (std::vector<int>{0, 2, 1}));
    const auto& t1 = run.file.triangles[1];
    EXPECT_EQ((std::vector<int>{t1.vertex[0], t1.vertex[1], t1.vertex[2]}), (std::vector<int>{14, 16, 15}));
    EXPECT_EQ((std::vector<int>{t1.texCoord[0], t1.texCoord[1], t1.texCoord[2]}), (std::vector<int>{19, 21, 20}));
    // 64 x 32 picture in slot 0, so the skin rows are the picture's rows.
    ASSERT_EQ(run.file.texCoordCount, 22);
    EXPECT_EQ(run.file.texCoords[19], (std::array<int16_t, 2>{0, 31}));
    EXPECT_EQ(run.file.texCoords[20], (std::array<int16_t, 2>{63, 0}));
    EXPECT_EQ(run.file.texCoords[21], (std::array<int16_t, 2>{31, 24}));
}

TEST(GatherPass, ScalesCoordinatesWithoutClamping) {
    MeshData mesh = Triangle();
    mesh.tverts = {{1.0f, 0, 0}, {2.0f, 2.0f, 0}, {-0.5f, -0.5f, 0}};
    SceneDocument doc = SceneWith({MeshNode("Hull", mesh, "wide.png")});
    doc.images["wide.png"] = Plain(256, 256);
    ExportRun run = RunExport(doc);
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.texCoords[0], (std::array<int16_t, 2>{255, 255}));
    EXPECT_EQ(run.file.texCoords[1], (std::array<int16_t, 2>{510, -255}));
    // -127.5 truncates toward zero; 256 - (-127) - 1 = 382.
    EXPECT_EQ(run.file.texCoords[2], (std::array<int16_t, 2>{-127, 382}));
}

TEST(GatherPass, SharesOneSlotPerPicture) {
    SceneDocument doc = SceneWith({MeshNode("A", Square(), "skin.png"), MeshNode("B", Square(), "other.png"),
                                   MeshNode("C", Square(), "skin.png")});
    doc.images["other.png"] = Plain(16, 8);
    ExportRun run = RunExport(doc);
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.skinWidth, 64);
    EXPECT_EQ(run.file.skinHeight, 40);
    // Texture vertex (1, 1) of each mesh: A and C in the 64 x 32 picture at
    // row 0, B in the 16 x 8 picture that starts at row 32.
    EXPECT_EQ(run.file.texCoords[2], (std::array<int16_t, 2>{63, 0}));
    EXPECT_EQ(run.file.texCoords[6], (std::array<int16_t, 2>{15, 32}));
    EXPECT_EQ(run.file.texCoords[10], (std::array<int16_t, 2>{63, 0}));
    EXPECT_EQ(run.file.texCoords[8], (std::array<int16_t, 2>{0, 31}));
    EXPECT_EQ(run.counters.bitmapsLoaded, run.counters.bitmapsReleased);
}

TEST(GatherPass, SixtyFifthPictureGetsNoSlot) {
    std::vector<NodeData> nodes;
    SceneDocument doc;
    for (int k = 0; k < 65; ++k) {
        const std::string file = "p" + std::to_string(k) + ".png";
        doc.images[file] = Plain(2, 1);
        nodes.push_back(MeshNode("M" + std::to_string(k), Square(), file));
    }
    doc.nodes = nodes;
    ExportRun run = RunExport(doc);
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.file.skinHeight, 64);
    EXPECT_EQ(run.file.skinWidth, 8);
    // Texture vertex (1, 1) of mesh k: column 1 of the picture at row k.
    EXPECT_EQ(run.file.texCoords[4 * 63 + 2], (std::array<int16_t, 2>{1, 63}));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(run.file.texCoords[4 * 64 + i], (std::array<int16_t, 2>{0, 0}));
}

TEST(GatherPass, MapsWithoutAPictureGiveNoTexture) {
    NodeData unnamed = MeshNode("Unnamed", Square(), "");
    NodeData procedural = MeshNode("Procedural", Square());
    procedural.material->diffuse->kind = quorvex::scene::MapKind::Other;
    ExportRun run = RunExport(SceneWith({unnamed, procedural}));
    ASSERT_TRUE(run.written) << run.errorText;
    EXPECT_EQ(run.counters.bitmapsLoaded, 0);
    EXPECT_EQ(run.file.skinWidth, 0);
    EXPECT_EQ(run.file.skinHeight, 0);
    for (const auto& tc : run.file.texCoords) EXPECT_EQ(tc, (std::array<int16_t, 2>{0, 0}));
}

TEST(GatherPass, KeepsTheFirstRegisteredSize) {
    WalkRig rig(SceneWith({MeshNode("Hull", Square())}));  // skin.png loads as 64 x 32
    ASSERT_EQ(FindOrAddTexture(rig.state.textures, "skin.png", 10, 10), 0);
    exportState.model.reset(CreateModel(2, 4, 4, 1));
    ASSERT_NE(exportState.model, nullptr);
    rig.Walk(Gather);
    EXPECT_EQ(exportState.errorFlag, 0);
    EXPECT_EQ(exportState.model->texCoords[0].u, 0);
    EXPECT_EQ(exportState.model->texCoords[0].v, 9);
    EXPECT_EQ(exportState.model->texCoords[2].u, 9);
    EXPECT_EQ(exportState.model->texCoords[2].v, 0);
    EXPECT_EQ(exportState.model->triangles[1].textureSlot, 0);
    ASSERT_EQ(rig.state.gatheredMeshes.size(), 1u);
    EXPECT_EQ(rig.state.gatheredMeshes[0].node, rig.Node("Hull"));
    EXPECT_EQ(rig.state.gatheredMeshes[0].vertexCount, 4);
    EXPECT_EQ(rig.state.vertexBase, 4);
    EXPECT_EQ(rig.state.texCoordBase, 4);
    EXPECT_EQ(rig.state.triangleBase, 2);
}

TEST(GatherPass, RefusesAMeshThatNoLongerFitsTheModel) {
    // A model sized for fewer triangles than the mesh now has, as when the
    // scene changed between the scan and gather walks.
    WalkRig rig(SceneWith({MeshNode("Hull", Square())}));
    exportState.model.reset(CreateModel(1, 4, 4, 1));
    ASSERT_NE(exportState.model, nullptr);
    rig.Walk(Gather);
    EXPECT_EQ(exportState.errorFlag, 1);
    EXPECT_STREQ(exportState.errorText, "Hull: Mesh changed after scanning");
    EXPECT_EQ(exportState.model->triangles[0].vertex[1], 0);
    EXPECT_EQ(rig.state.triangleBase, 0);
    EXPECT_TRUE(rig.state.gatheredMeshes.empty());
    EXPECT_TRUE(rig.host.AllReleasedOnce());
}

TEST(GatherPass, RefusesFacesThatNameMissingVertices) {
    MeshData broken = Square();
    broken.faces.Edit()[1] = {0, 2, 4};
    ExportRun run = RunExport(SceneWith({MeshNode("Hull", broken)}));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.errorText, "Hull: Face uses a missing vertex");
    ASSERT_EQ(run.messageBoxes.size(), 1u);
    EXPECT_FALSE(run.written);

    MeshData brokenTex = Square();
    brokenTex.tvfaces.Edit()[0] = {0, 1, 7};
    EXPECT_EQ(RunExport(SceneWith({MeshNode("Hull", brokenTex)})).errorText, "Hull: Face uses a missing vertex");
}

// ---------------------------------------------------------------- sample

// A mesh whose translation along world x equals the scene frame number, at
// each frame from `first` to `last`.
NodeData Mover(int first, int last) {
    NodeData node = MeshNode("Mover", Triangle());
    node.transform.keys.clear();
    for (int f = first; f <= last; ++f) node.transform.keys.push_back({f * 160, Translation(float(f), 0, 0)});
    return node;
}

TEST(SamplePass, SamplesEachFrameOfTheRangeAtItsTime) {
    ExportRun run = RunExport(SceneWith({Mover(0, 10)}), {.startFrame = 5, .endFrame = 7, .hiPrecision = 1});
    ASSERT_TRUE(run.written) << run.errorText;
    ASSERT_EQ(run.file.frameCount, 3);
    EXPECT_EQ(TimesOf(run.evalLog, "Mover"), (std::vector<std::string>{"0", "800", "800", "0", "800", "800", "0", "800",
                                                                       "800", "0", "960", "960", "0", "1120", "1120"}));
    for (int k = 0; k < 3; ++k) {
        // Vertex (0, 0, 0) sits at world x = 5 + k; the file's y is world x.
        EXPECT_NEAR(run.file.positions[k][0].y, 5.0 + k, 2 * run.file.scale[1]) << k;
        EXPECT_NEAR(run.file.positions[k][0].x, 0.0, 2 * run.file.scale[0] + 1e-6) << k;
    }
}

TEST(SamplePass, SamplesNegativeFrames) {
    ExportRun run = RunExport(SceneWith({Mover(-5, 0)}), {.startFrame = -3, .endFrame = -1, .hiPrecision = 1});
    ASSERT_TRUE(run.written) << run.errorText;
    ASSERT_EQ(run.file.frameCount, 3);
    EXPECT_EQ(TimesOf(run.evalLog, "Mover"),
              (std::vector<std::string>{"0", "-480", "-480", "0", "-480", "-480", "0", "-480", "-480", "0", "-320",
                                        "-320", "0", "-160", "-160"}));
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(run.file.positions[k][0].y, -3.0 + k, 2 * run.file.scale[1]) << k;
}

TEST(SamplePass, StoresWorldPositionsInFileAxesMeshAfterMesh) {
    MeshData eight;
    for (int i = 0; i < 8; ++i) eight.verts.push_back({float(i), 0, 0});
    MeshData four;
    four.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    NodeData moved = MeshNode("Four", four);
    moved.transform = Translation(1, 2, 3);
    WalkRig rig(SceneWith({MeshNode("Eight", eight), moved}));
    exportState.model.reset(CreateModel(0, 12, 0, 1));
    ASSERT_NE(exportState.model, nullptr);
    rig.state.gatheredMeshes = {{rig.Node("Eight"), 8}, {rig.Node("Four"), 4}};
    rig.Walk(Sample);
    EXPECT_TRUE(FinishSampleFrame(rig.state));
    EXPECT_EQ(exportState.errorFlag, 0);
    EXPECT_EQ(rig.state.vertexBase, 12);
    const ModelVec3* p = exportState.model->frames[0].positions;
    EXPECT_EQ(p[7].x, -0.0f);
    EXPECT_EQ(p[7].y, 7.0f);
    // (1, 2, 3) in the world is (-2, 1, 3) in the file.
    EXPECT_EQ(p[8].x, -2.0f);
    EXPECT_EQ(p[8].y, 1.0f);
    EXPECT_EQ(p[8].z, 3.0f);
    EXPECT_EQ(p[9].x, -2.0f);
    EXPECT_EQ(p[9].y, 2.0f);
    EXPECT_EQ(p[11].z, 4.0f);
}

TEST(SamplePass, RefusesAVertexCountThatChanges) {
    NodeData hull = MeshNode("Hull", Square());
    hull.object->mesh.keys = {{0, Square()}, {960, Triangle()}};
    ExportRun run = RunExport(SceneWith({MeshNode("Deck", Triangle()), hull}), {.startFrame = 5, .endFrame = 7});
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.errorText, "Hull: Vertex count changes at frame 6");
    ASSERT_EQ(run.messageBoxes.size(), 1u);
    EXPECT_EQ(run.messageBoxes[0].caption, "Aborting !");
    EXPECT_FALSE(run.written);
    EXPECT_TRUE(run.allReleasedOnce);

    // The message is cut like every other, whatever the node's name.
    const std::string longName(300, 'h');
    hull.name = longName;
    ExportRun cut = RunExport(SceneWith({hull}), {.startFrame = 5, .endFrame = 7});
    EXPECT_EQ(cut.errorText, longName.substr(0, 255));
}

TEST(SamplePass, RefusesMeshesThatAppearOrDisappear) {
    NodeData hidden = MeshNode("H", Triangle());
    hidden.hidden = true;
    SceneDocument doc =
        SceneWith({MeshNode("A", Triangle()), MeshNode("B", Triangle()), MeshNode("C", Triangle()), hidden});

    {  // B was not gathered: it is met where C was expected.
        WalkRig rig(doc);
        exportState.model.reset(CreateModel(0, 6, 0, 1));
        exportState.currentFrame = 4;
        exportState.options.startFrame = 4;
        rig.state.gatheredMeshes = {{rig.Node("A"), 3}, {rig.Node("C"), 3}};
        rig.Walk(Sample);
        EXPECT_FALSE(FinishSampleFrame(rig.state));
        EXPECT_STREQ(exportState.errorText, "B: Vertex count changes at frame 4");
        EXPECT_EQ(rig.state.vertexBase, 3);
        EXPECT_TRUE(rig.host.AllReleasedOnce());
    }
    {  // A mesh after all recorded ones, in a model with no room for it.
        WalkRig rig(doc);
        exportState.model.reset(CreateModel(0, 6, 0, 1));
        rig.state.gatheredMeshes = {{rig.Node("A"), 3}, {rig.Node("B"), 3}};
        rig.Walk(Sample);
        EXPECT_STREQ(exportState.errorText, "C: Vertex count changes at frame 0");
        EXPECT_EQ(rig.state.vertexBase, 6);
    }
    {  // A recorded mesh that is no longer met: the first one missing is named
       // once the frame's walk is over.
        WalkRig rig(doc);
        exportState.model.reset(CreateModel(0, 12, 0, 1));
        rig.state.gatheredMeshes = {{rig.Node("A"), 3}, {rig.Node("B"), 3}, {rig.Node("C"), 3}, {rig.Node("H"), 3}};
        rig.Walk(Sample);
        EXPECT_EQ(exportState.errorFlag, 0);
        EXPECT_FALSE(FinishSampleFrame(rig.state));
        EXPECT_STREQ(exportState.errorText, "H: Vertex count changes at frame 0");
    }
    {  // The same vertex count from another mesh is still another mesh.
        WalkRig rig(doc);
        exportState.model.reset(CreateModel(0, 9, 0, 1));
        rig.state.gatheredMeshes = {{rig.Node("B"), 3}, {rig.Node("A"), 3}, {rig.Node("C"), 3}};
        rig.Walk(Sample);
        EXPECT_STREQ(exportState.errorText, "A: Vertex count changes at frame 0");
        EXPECT_EQ(rig.state.vertexBase, 0);
    }
}

TEST(SamplePass, RefusesNonFinitePositions) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
    for (float value : bad) {
        NodeData hull = MeshNode("Hull", Square());
        hull.transform.keys = {{0, Matrix3{}}, {160, Translation(0, value, 0)}, {320, Matrix3{}}};
        ExportRun run = RunExport(SceneWith({hull}), {.startFrame = 0, .endFrame = 2});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.errorText, "Hull: Invalid vertex position at frame 1");
        EXPECT_EQ(run.messageBoxes.size(), 1u);
        EXPECT_FALSE(run.written);
        EXPECT_TRUE(run.allReleasedOnce);
    }
}

TEST(SamplePass, FirstProblemInFrameAndWalkOrderSpeaks) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // At frame 1 a mesh both changes its count and has a bad position: the
    // count speaks.
    NodeData both = MeshNode("Both", Square());
    both.object->mesh.keys = {{0, Square()}, {160, Triangle()}};
    both.transform.keys = {{0, Matrix3{}}, {160, Translation(nan, 0, 0)}};
    EXPECT_EQ(RunExport(SceneWith({both}), {.endFrame = 1}).errorText, "Both: Vertex count changes at frame 1");

    // A bad position at frame 1 comes before a changed count at frame 2, and
    // within a frame the earlier mesh in walk order speaks.
    NodeData early = MeshNode("Early", Square());
    early.transform.keys = {{0, Matrix3{}}, {160, Translation(nan, 0, 0)}};
    NodeData late = MeshNode("Late", Square());
    late.object->mesh.keys = {{0, Square()}, {160, Triangle()}};
    NodeData later = MeshNode("Later", Square());
    later.object->mesh.keys = {{0, Square()}, {320, Triangle()}};
    EXPECT_EQ(RunExport(SceneWith({later, early, late}), {.endFrame = 2}).errorText,
              "Early: Invalid vertex position at frame 1");
}

}  // namespace
