#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/SceneBuilder.h"
#include "standin/HostProbe.h"
#include "standin/StandinHost.h"

#include "tests/StbImageWrite.h"

using quorvex::scene::ConvertMode;
using quorvex::scene::Keyed;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::ObjectKind;
using quorvex::scene::SceneDocument;
using quorvex::standin::HostGlobalsScope;
using quorvex::standin::HostProbe;
using quorvex::standin::ProgressCall;
using quorvex::standin::StandinHost;
using quorvex::testkit::BitmapMaterial;
using quorvex::testkit::EmptyNode;
using quorvex::testkit::EveryFrame;
using quorvex::testkit::FrameNames;
using quorvex::testkit::Hidden;
using quorvex::testkit::KeyedMesh;
using quorvex::testkit::KeyedTransform;
using quorvex::testkit::MatrixOf;
using quorvex::testkit::MeshNode;
using quorvex::testkit::MeshObject;
using quorvex::testkit::NodeOfKind;
using quorvex::testkit::OtherMap;
using quorvex::testkit::OtherMaterial;
using quorvex::testkit::PixelPicture;
using quorvex::testkit::PlainPicture;
using quorvex::testkit::QuadMesh;
using quorvex::testkit::QuarterTurnZ;
using quorvex::testkit::Rgba;
using quorvex::testkit::Scaling;
using quorvex::testkit::Scene;
using quorvex::testkit::StandardMaterial;
using quorvex::testkit::Translation;
using quorvex::testkit::TriangleMesh;
using quorvex::testkit::WithChildren;
using quorvex::testkit::WithTransform;

using namespace quorvex::scene;
using namespace quorvex::standin;
using namespace quorvex::testkit;

namespace {

// A fresh folder under the test temp directory, removed afterwards.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern = (std::filesystem::path(testing::TempDir()) / "standin-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// Writes a w x h RGBA picture whose every pixel is `rgba`.
void WritePng(const std::filesystem::path& file, int w, int h, std::array<unsigned char, 4> rgba) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), rgba.begin(), rgba.end());
    ASSERT_TRUE(stbi_write_png(file.string().c_str(), w, h, 4, pixels.data(), w * 4));
}

TriObject* AsTri(Object* object) {
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(object->ClassID(), TRIOBJ_CLASS_ID);
    return static_cast<TriObject*>(object);
}

bool SameMatrix(const Matrix3& a, const Matrix3& b) {
    for (int r = 0; r < 4; ++r) {
        if (a.row[r].x != b.row[r].x || a.row[r].y != b.row[r].y || a.row[r].z != b.row[r].z) return false;
    }
    return true;
}

}  // namespace

// ------------------------------------------------------------ ownership

TEST(StandinHostOwnership, CopyReleasedOnceBalancesAndSecondReleaseIsCounted) {
    StandinHost host(Scene({MeshNode("Box", QuadMesh(), BitmapMaterial("skin.png"))}));
    Object* object = host.FindNode("Box")->EvalWorldState(0, true).obj;
    ASSERT_EQ(object->CanConvertToType(TRIOBJ_CLASS_ID), 1);
    Object* copy = object->ConvertToType(0, TRIOBJ_CLASS_ID);
    ASSERT_NE(copy, object);
    EXPECT_EQ(AsTri(copy)->GetMesh().getNumFaces(), 2);
    EXPECT_EQ(host.Counters().conversions, 1);
    EXPECT_FALSE(host.AllReleasedOnce());

    copy->DeleteThis();
    EXPECT_EQ(host.Counters().conversionsReleased, 1);
    EXPECT_TRUE(host.AllReleasedOnce());

    copy->DeleteThis();  // kept alive by the host, so this is counted, not a crash
    EXPECT_EQ(host.Counters().doubleReleases, 1);
    EXPECT_EQ(host.Counters().conversionsReleased, 1);
    EXPECT_FALSE(host.AllReleasedOnce());
}

TEST(StandinHostOwnership, ExportEndedFreesOnlyWhatWasReleased) {
    StandinHost host(Scene({MeshNode("Box", QuadMesh(), BitmapMaterial("skin.png"))}));
    Object* object = host.FindNode("Box")->EvalWorldState(0, true).obj;
    Object* first = object->ConvertToType(0, TRIOBJ_CLASS_ID);
    Object* second = object->ConvertToType(0, TRIOBJ_CLASS_ID);
    first->DeleteThis();
    EXPECT_EQ(host.HeldObjects(), 2u);
    host.ExportEnded();
    EXPECT_EQ(host.HeldObjects(), 1u);
    EXPECT_FALSE(host.AllReleasedOnce()) << "the unreleased copy is still reported";
    second->DeleteThis();
    host.ExportEnded();
    EXPECT_EQ(host.HeldObjects(), 0u);
    EXPECT_TRUE(host.AllReleasedOnce());
}

TEST(StandinHostOwnership, ReleasingHostOwnedObjectsIsAFault) {
    StandinHost host(Scene({MeshNode("Same", MeshObject(TriangleMesh(), ConvertMode::Same), std::nullopt),
                            MeshNode("Copy", TriangleMesh(), std::nullopt)}));
    Object* same = host.FindNode("Same")->EvalWorldState(0, true).obj;
    Object* converted = same->ConvertToType(0, TRIOBJ_CLASS_ID);
    EXPECT_EQ(converted, same);
    EXPECT_EQ(host.Counters().conversions, 0);
    EXPECT_TRUE(host.AllReleasedOnce());

    converted->DeleteThis();
    EXPECT_EQ(host.Counters().hostOwnedReleases, 1);
    EXPECT_FALSE(host.AllReleasedOnce());
    // Still intact: the release did nothing else.
    EXPECT_EQ(AsTri(same)->GetMesh().getNumVerts(), 3);

    host.FindNode("Copy")->EvalWorldState(0, true).obj->DeleteThis();
    EXPECT_EQ(host.Counters().hostOwnedReleases, 2);
}

TEST(StandinHostOwnership, ConvertModesAndTargets) {
    StandinHost host(Scene({MeshNode("None", MeshObject(TriangleMesh(), ConvertMode::None), std::nullopt),
                            NodeOfKind("Aim", ObjectKind::Target)}));
    Object* none = host.FindNode("None")->EvalWorldState(0, true).obj;
    EXPECT_EQ(none->CanConvertToType(TRIOBJ_CLASS_ID), 1);
    EXPECT_EQ(none->ConvertToType(0, TRIOBJ_CLASS_ID), nullptr);

    // An aim point converts to a mesh the caller owns, with no geometry.
    Object* aim = host.FindNode("Aim")->EvalWorldState(0, true).obj;
    Object* empty = aim->ConvertToType(0, TRIOBJ_CLASS_ID);
    ASSERT_NE(empty, nullptr);
    ASSERT_NE(empty, aim);
    const Mesh& mesh = AsTri(empty)->GetMesh();
    EXPECT_EQ(mesh.getNumVerts() + mesh.getNumFaces() + mesh.getNumTVerts(), 0);
    EXPECT_FALSE(host.AllReleasedOnce());
    empty->DeleteThis();
    EXPECT_TRUE(host.AllReleasedOnce());
}

TEST(StandinHostObjects, ClassIdsAndConvertibilityPerKind) {
    struct Expected {
        NodeData node;
        SClass_ID super;
        Class_ID id;
        int converts;
    };
    std::vector<Expected> cases = {
        {MeshNode("m", TriangleMesh(), std::nullopt), 0x10, {0x10, 0}, 1},
        {MeshNode("s", MeshObject(TriangleMesh(), ConvertMode::Same), std::nullopt), 0x10, {9, 0}, 1},
        {MeshNode("n", MeshObject(TriangleMesh(), ConvertMode::None), std::nullopt), 0x10, {0x10, 0}, 1},
        {NodeOfKind("u", ObjectKind::Unconvertible), 0x10, {0x20, 0}, 0},
        {NodeOfKind("t", ObjectKind::Target), 0x10, {0x1020, 0}, 1},
        {NodeOfKind("h", ObjectKind::Helper), 0x50, {2, 0}, 0},
        {NodeOfKind("c", ObjectKind::Camera), 0x20, {0x1001, 0}, 0},
        {NodeOfKind("l", ObjectKind::Light), 0x30, {0x1011, 0}, 0},
    };
    std::vector<NodeData> nodes;
    for (const auto& c : cases) nodes.push_back(c.node);
    StandinHost host(Scene(nodes));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node.name);
        Object* object = host.FindNode(c.node.name)->EvalWorldState(0, true).obj;
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->SuperClassID(), c.super);
        EXPECT_EQ(object->ClassID(), c.id);
        EXPECT_EQ(object->CanConvertToType(TRIOBJ_CLASS_ID), c.converts);
        EXPECT_EQ(object->CanConvertToType(Class_ID{0x10, 0}), 0);
        if (!c.converts) {
            EXPECT_EQ(object->ConvertToType(0, TRIOBJ_CLASS_ID), nullptr);
        }
    }
    EXPECT_EQ(host.FindNode("h")->EvalWorldState(0, true).obj, host.FindNode("h")->EvalWorldState(5, true).obj);
}

// ------------------------------------------------------------ tree, materials

TEST(StandinHostTree, RootChildrenOrderNamesAndLookup) {
    NodeData group = EmptyNode("Group", {EmptyNode("Twin"), Hidden(EmptyNode("Deep"))});
    StandinHost host(Scene({group, EmptyNode("Twin"), MeshNode("Mesh", TriangleMesh(), std::nullopt)}));

    INode* root = host.GetRootNode();
    EXPECT_STREQ(root->GetName(), "");
    EXPECT_EQ(root->EvalWorldState(0, true).obj, nullptr);
    ASSERT_EQ(root->NumberOfChildren(), 3);
    EXPECT_STREQ(root->GetChildNode(0)->GetName(), "Group");
    EXPECT_STREQ(root->GetChildNode(1)->GetName(), "Twin");
    EXPECT_STREQ(root->GetChildNode(2)->GetName(), "Mesh");
    EXPECT_EQ(root->GetChildNode(3), nullptr);
    EXPECT_EQ(root->GetChildNode(-1), nullptr);

    INode* first = root->GetChildNode(0);
    ASSERT_EQ(first->NumberOfChildren(), 2);
    // Pre-order: the twin inside the group comes before the root's second child.
    EXPECT_EQ(host.FindNode("Twin"), first->GetChildNode(0));
    EXPECT_EQ(host.FindNode("Deep")->IsHidden(0, false), 1);
    EXPECT_EQ(first->IsHidden(0, false), 0);
    EXPECT_EQ(host.FindNode("Absent"), nullptr);
    EXPECT_EQ(host.FindNode("Group")->EvalWorldState(0, true).obj, nullptr);
}

TEST(StandinHostTree, MaterialsAndMaps) {
    StandinHost host(Scene({
        MeshNode("Bitmap", TriangleMesh(), BitmapMaterial("dir\\skin.png")),
        MeshNode("Procedural", TriangleMesh(), StandardMaterial(OtherMap())),
        MeshNode("Bare", TriangleMesh(), StandardMaterial()),
        MeshNode("Other", TriangleMesh(), OtherMaterial()),
        MeshNode("None", TriangleMesh(), std::nullopt),
    }));
    Mtl* standard = host.FindNode("Bitmap")->GetMtl();
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(standard->ClassID(), STANDARD_MTL_CLASS_ID);
    Texmap* map = standard->GetSubTexmap(1);
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->ClassID(), BITMAP_TEX_CLASS_ID);
    EXPECT_STREQ(static_cast<BitmapTex*>(map)->GetMapName(), "dir\\skin.png");
    EXPECT_EQ(standard->GetSubTexmap(0), nullptr);

    Texmap* procedural = host.FindNode("Procedural")->GetMtl()->GetSubTexmap(1);
    ASSERT_NE(procedural, nullptr);
    EXPECT_EQ(procedural->ClassID(), (Class_ID{0x241, 0}));
    EXPECT_EQ(host.FindNode("Bare")->GetMtl()->GetSubTexmap(1), nullptr);
    EXPECT_EQ(host.FindNode("Other")->GetMtl()->ClassID(), (Class_ID{0x200, 0}));
    EXPECT_EQ(host.FindNode("Other")->GetMtl()->GetSubTexmap(1), nullptr);
    EXPECT_EQ(host.FindNode("None")->GetMtl(), nullptr);
}

// ------------------------------------------------------------ time

TEST(StandinHostTime, KeyedTransformHoldsLastKeyAtOrBefore) {
    NodeData node = WithTransform(
        EmptyNode("Mover"),
        KeyedTransform({{0, Translation(1, 0, 0)}, {160, Translation(2, 0, 0)}, {320, Translation(3, 0, 0)}}));
    StandinHost host(Scene({node}));
    INode* mover = host.FindNode("Mover");
    auto xAt = [&](TimeValue t) { return mover->GetObjTMAfterWSM(t, nullptr).row[3].x; };
    EXPECT_EQ(xAt(-1000), 1.0f);  // before the first key
    EXPECT_EQ(xAt(0), 1.0f);
    EXPECT_EQ(xAt(159), 1.0f);
    EXPECT_EQ(xAt(160), 2.0f);
    EXPECT_EQ(xAt(319), 2.0f);
    EXPECT_EQ(xAt(320), 3.0f);
    EXPECT_EQ(xAt(2147483647), 3.0f);
}

TEST(StandinHostTime, EveryFrameKeysLandOnFrameTicks) {
    NodeData node = WithTransform(
        EmptyNode("Walker"), EveryFrame(160, std::vector<Matrix3>{Translation(0, 0, 0), Translation(0, 0, 4)}, -1));
    ASSERT_EQ(node.transform.keys.size(), 2u);
    EXPECT_EQ(node.transform.keys[0].time, -160);
    StandinHost host(Scene({node}, 160));
    EXPECT_EQ(host.FindNode("Walker")->GetObjTMAfterWSM(0, nullptr).row[3].z, 4.0f);
    EXPECT_EQ(host.FindNode("Walker")->GetObjTMAfterWSM(-1, nullptr).row[3].z, 0.0f);
}

TEST(StandinHostTime, KeyedMeshPerModeAndEvalLog) {
    MeshData big = QuadMesh();
    Keyed<MeshData> keyed = KeyedMesh({{0, TriangleMesh()}, {160, big}});
    StandinHost host(Scene({MeshNode("Copy", MeshObject(keyed), std::nullopt),
                            MeshNode("Same", MeshObject(keyed, ConvertMode::Same), std::nullopt)}));
    HostProbe probe;
    host.probe = &probe;

    INode* copyNode = host.FindNode("Copy");
    Object* early = copyNode->EvalWorldState(100, true).obj->ConvertToType(100, TRIOBJ_CLASS_ID);
    Object* late = copyNode->EvalWorldState(160, true).obj->ConvertToType(160, TRIOBJ_CLASS_ID);
    // A copy is a snapshot: later conversions do not change it.
    EXPECT_EQ(AsTri(early)->GetMesh().getNumVerts(), 3);
    EXPECT_EQ(AsTri(late)->GetMesh().getNumVerts(), 4);
    early->DeleteThis();
    late->DeleteThis();

    INode* sameNode = host.FindNode("Same");
    auto* same = AsTri(sameNode->EvalWorldState(-5, true).obj);
    EXPECT_EQ(same->GetMesh().getNumFaces(), 1);
    sameNode->EvalWorldState(500, true);
    EXPECT_EQ(same->GetMesh().getNumFaces(), 2);
    EXPECT_EQ(same->GetMesh().faces[1].v[2], 3u);
    EXPECT_EQ(same->GetMesh().tvFace[1].t[1], 2u);
    EXPECT_TRUE(host.AllReleasedOnce());

    const auto& log = probe.evalLog;
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].node, "Copy");
    EXPECT_EQ(log[0].time, 100);
    EXPECT_EQ(log[2].node, "Same");
    EXPECT_EQ(log[3].time, 500);
}

// ------------------------------------------------------------ transforms

TEST(StandinHostTransforms, WorldIsLocalTimesParentWorld) {
    NodeData child = WithTransform(EmptyNode("Child"), Scaling(2, 2, 2));
    NodeData parent = WithChildren(WithTransform(EmptyNode("Parent"), Translation(1, 0, 0)), {child});
    NodeData turned = WithChildren(WithTransform(EmptyNode("Turned"), QuarterTurnZ()),
                                   {WithTransform(EmptyNode("Offset"), Translation(1, 0, 0))});
    StandinHost host(Scene({parent, turned}));

    Point3 p = Point3{1, 0, 0} * host.FindNode("Child")->GetObjTMAfterWSM(0, nullptr);
    // Scale first, then the parent's move: 1*2 + 1. The other order gives 4.
    EXPECT_EQ(p.x, 3.0f);

    Matrix3 offset = host.FindNode("Offset")->GetObjTMAfterWSM(0, nullptr);
    // The child's translation is carried through the parent's quarter turn.
    EXPECT_EQ(offset.row[3].x, 0.0f);
    EXPECT_EQ(offset.row[3].y, 1.0f);
    EXPECT_EQ(offset.row[0].y, 1.0f);

    Interval valid{-1, -1};
    host.GetRootNode()->GetObjTMAfterWSM(7, &valid);
    EXPECT_EQ(valid.start, 7);
    EXPECT_TRUE(SameMatrix(host.GetRootNode()->GetObjTMAfterWSM(0, nullptr), Matrix3{}));
}

// World matrices are kept per node for the time last asked: asking across
// times and depths in any order must give the product of the keys at that time.
TEST(StandinHostTransforms, DeepChainAskedAcrossTimesInAnyOrder) {
    const int depth = 3000;
    NodeData chain = EmptyNode("n" + std::to_string(depth - 1));
    for (int k = depth - 1; k >= 0; --k) {
        chain.transform = KeyedTransform({{0, Translation(1, 0, 0)}, {160, Translation(2, 0, 0)}});
        if (k == 0) break;
        NodeData parent = EmptyNode("n" + std::to_string(k - 1));
        parent.children.push_back(std::move(chain));
        chain = std::move(parent);
    }
    StandinHost host(Scene({std::move(chain)}));
    INode* deepest = host.FindNode("n" + std::to_string(depth - 1));
    INode* middle = host.FindNode("n1499");
    auto x = [](INode* node, TimeValue t) { return node->GetObjTMAfterWSM(t, nullptr).row[3].x; };
    EXPECT_EQ(x(deepest, 0), float(depth));
    EXPECT_EQ(x(middle, 160), 3000.0f);
    EXPECT_EQ(x(deepest, 160), 2.0f * depth);
    EXPECT_EQ(x(middle, 100), 1500.0f);
    EXPECT_EQ(x(deepest, 100), float(depth));
}

TEST(StandinHostTransforms, ProductWithIdentityIsComputedAndClearsNegativeZero) {
    Matrix3 local = Translation(-0.0f, 5, 0);
    local.row[0].y = -0.0f;
    StandinHost host(Scene({WithTransform(EmptyNode("Signed"), local)}));
    Matrix3 world = host.FindNode("Signed")->GetObjTMAfterWSM(0, nullptr);
    // (1*0 + -0*1) + 0*0 is +0, and -0 + 0 in the translation row is +0.
    EXPECT_FALSE(std::signbit(world.row[0].y));
    EXPECT_FALSE(std::signbit(world.row[3].x));
    EXPECT_EQ(world.row[3].y, 5.0f);
}

TEST(StandinHostTransforms, PinnedSummationOrder) {
    // Each check cancels two large terms; summed in another order the small
    // term is lost (or kept) and the result changes.
    Matrix3 m = MatrixOf({1e8f, 0, 0, -1e8f, 0, 0, 1, 0, 0, 0, 0, 0});
    EXPECT_EQ((Point3{1, 1, 1} * m).x, 1.0f);  // ((1e8 - 1e8) + 1) + 0
    Matrix3 t = MatrixOf({1e8f, 0, 0, 0, 0, 0, 1, 0, 0, -1e8f, 0, 0});
    EXPECT_EQ((Point3{1, 0, 1} * t).x, 0.0f);  // ((1e8 + 0) + 1) - 1e8; the translation first gives 1

    Matrix3 a = MatrixOf({1e8f, -1e8f, 1, 0, 1, 0, 0, 0, 1, 1e8f, -1e8f, 1});
    Matrix3 b = MatrixOf({1, 0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0});
    Matrix3 c = a * b;
    EXPECT_EQ(c.row[0].x, 1.0f);  // (1e8 - 1e8) + 1
    EXPECT_EQ(c.row[3].x, 0.0f);  // ((1e8 - 1e8) + 1) - 1
    Matrix3 d = MatrixOf({1, 0, 0, 0, 1, 0, 0, 0, 1, 1e8f, 0, 1});
    Matrix3 e = MatrixOf({1, 0, 0, 0, 1, 0, 1, 0, 1, -1e8f, 0, 0});
    // Row 3: ((1e8*1 + 0*0) + 1*1) + -1e8 = 0; adding B's translation first gives 1.
    EXPECT_EQ((d * e).row[3].x, 0.0f);
}

// ------------------------------------------------------------ bitmaps

TEST(StandinHostBitmaps, ImagesMapFirstThenFilesAgainstBaseDir) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path / "sub");
    WritePng(folder.path / "skin.png", 3, 2, {255, 0, 0, 255});
    WritePng(folder.path / "sub" / "a\\b.png", 1, 1, {0, 1, 0, 255});
    WritePng(folder.path / "abs.png", 2, 2, {0, 0, 2, 255});

    SceneDocument doc = Scene({});
    doc.images["skin.png"] = PlainPicture(5, 7, Rgba(1, 2, 3, 4));
    doc.baseDir = folder.path.string();
    StandinHost host(std::move(doc));
    HostGlobalsScope scope(&host);
    BitmapManager* manager = TheManager();
    ASSERT_EQ(manager, host.Manager());

    auto load = [&](const std::string& name, uint16_t* status = nullptr) {
        BitmapInfo info;
        info.SetName(name.c_str());
        return manager->Load(&info, status);
    };
    Bitmap* inline_ = load("skin.png");
    ASSERT_NE(inline_, nullptr);
    EXPECT_EQ(inline_->Width(), 5);  // the document's image, not the 3 x 2 file

    Bitmap* relative = load("sub/a\\b.png");
    ASSERT_NE(relative, nullptr);
    BMM_Color_64 px;
    ASSERT_EQ(relative->GetPixels(0, 0, 1, &px), 1);
    EXPECT_EQ(px.g, 257);
    EXPECT_EQ(px.a, 65535);

    Bitmap* absolute = load((folder.path / "abs.png").string());
    ASSERT_NE(absolute, nullptr);
    EXPECT_EQ(absolute->Height(), 2);

    uint16_t status = 0;
    EXPECT_EQ(load("missing.png", &status), nullptr);
    EXPECT_NE(status, 0);
    EXPECT_EQ(load(""), nullptr);
    EXPECT_EQ(manager->Load(nullptr, nullptr), nullptr);

    EXPECT_EQ(host.Counters().bitmapsLoaded, 3);
    inline_->DeleteThis();
    relative->DeleteThis();
    EXPECT_FALSE(host.AllReleasedOnce());
    absolute->DeleteThis();
    EXPECT_TRUE(host.AllReleasedOnce());
    absolute->DeleteThis();
    EXPECT_EQ(host.Counters().doubleReleases, 1);
}

TEST(StandinHostBitmaps, PixelReadsPlainAndEmptyPictures) {
    SceneDocument doc = Scene({});
    doc.images["big"] = PlainPicture(65535, 65535, Rgba(10, 20, 30, 40));
    doc.images["flat"] = PixelPicture(0, 9, {});
    doc.images["plainflat"] = PlainPicture(4, 0, Rgba(1, 1, 1));
    doc.images["grid"] = PixelPicture(2, 2, {Rgba(1, 0, 0), Rgba(2, 0, 0), Rgba(3, 0, 0), Rgba(4, 0, 0)});
    StandinHost host(std::move(doc));
    auto load = [&](const char* name) {
        BitmapInfo info;
        info.SetName(name);
        return host.Manager()->Load(&info, nullptr);
    };

    Bitmap* big = load("big");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->Width(), 65535);
    BMM_Color_64 px[3];
    ASSERT_EQ(big->GetPixels(65532, 65534, 3, px), 1);
    EXPECT_EQ(px[2].b, 30);
    EXPECT_EQ(px[2].a, 40);
    EXPECT_EQ(big->GetPixels(65533, 0, 3, px), 0);  // runs past the right edge

    for (const char* name : {"flat", "plainflat"}) {
        Bitmap* empty = load(name);
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->Width(), 0);
        EXPECT_EQ(empty->Height(), 0);
        EXPECT_EQ(empty->GetPixels(0, 0, 1, px), 0);
        empty->DeleteThis();
    }

    Bitmap* grid = load("grid");
    ASSERT_EQ(grid->GetPixels(1, 1, 1, px), 1);
    EXPECT_EQ(px[0].r, 4);  // row 0 first: (1, 1) is the fourth pixel
    ASSERT_EQ(grid->GetPixels(0, 1, 2, px), 1);
    EXPECT_EQ(px[0].r, 3);
    EXPECT_EQ(grid->GetPixels(-1, 0, 1, px), 0);
    EXPECT_EQ(grid->GetPixels(0, -1, 1, px), 0);
    EXPECT_EQ(grid->GetPixels(0, 2, 1, px), 0);
    EXPECT_EQ(grid->GetPixels(2, 0, 1, px), 0);
    EXPECT_EQ(grid->GetPixels(0, 0, 0, px), 0);
    EXPECT_EQ(grid->GetPixels(0, 0, 1, nullptr), 0);
    big->DeleteThis();
    grid->DeleteThis();
    EXPECT_TRUE(host.AllReleasedOnce());
}

// ------------------------------------------------------------ note tracks

TEST(StandinHostNoteTracks, CopyPasteKeepsKeysInOrderAndLimitApplies) {
    StandinHost host(Scene({FrameNames({{0, "walk"}, {-160, "run"}, {320, "jump"}})}));
    HostGlobalsScope scope(&host);
    INode* names = host.FindNode("FrameNames");
    ASSERT_EQ(names->NumNoteTracks(), 1);
    EXPECT_EQ(names->GetNoteTrack(1), nullptr);
    NoteTrack* track = names->GetNoteTrack(0);
    ASSERT_EQ(track->NumKeys(), 3);
    EXPECT_EQ(track->GetKeyTime(1), -160);

    const Interval all{INT32_MIN, INT32_MIN};
    TrackClipObject* clip = track->CopyTrack(all, 0);
    DefNoteTrack* copy = NewDefaultNoteTrack();
    ASSERT_NE(clip, nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->PasteTrack(clip, all, 0), 1);
    ASSERT_EQ(copy->NumKeys(), 3);
    EXPECT_EQ(copy->GetKeyTime(1), -160);
    EXPECT_STREQ(copy->keys[1].note.data(), "run");
    EXPECT_STREQ(copy->keys[2].note.data(), "jump");

    HostProbe probe;
    probe.pasteKeyLimit = 1;
    host.probe = &probe;
    DefNoteTrack* limited = NewDefaultNoteTrack();
    EXPECT_EQ(limited->PasteTrack(clip, all, 0), 1);
    ASSERT_EQ(limited->NumKeys(), 1);
    EXPECT_STREQ(limited->keys[0].note.data(), "walk");

    clip->DeleteThis();
    EXPECT_EQ(limited->PasteTrack(clip, all, 0), 0);  // a released clip never pastes
    copy->DeleteThis();
    EXPECT_FALSE(host.AllReleasedOnce());
    limited->DeleteThis();
    EXPECT_EQ(host.Counters().clipsMade, 1);
    EXPECT_EQ(host.Counters().noteTracksMade, 2);
    EXPECT_TRUE(host.AllReleasedOnce());
    clip->DeleteThis();
    EXPECT_FALSE(host.AllReleasedOnce());
}

// ------------------------------------------------------------ globals, progress

TEST(StandinHostGlobals, FreeFunctionsDispatchAndCount) {
    {
        StandinHost host(Scene({}, 200, {-400, 800}));
        HostProbe probe;
        host.probe = &probe;
        HostGlobals* before = GetHostGlobals();
        {
            HostGlobalsScope scope(&host);
            EXPECT_EQ(GetTicksPerFrame(), 200);
            EXPECT_EQ(GetTicksPerFrame(), 200);
            InitCustomControls(nullptr);
            CenterWindow(nullptr, host.GetMAXHWnd());
            CenterWindow(nullptr, nullptr);
        }
        EXPECT_EQ(GetHostGlobals(), before);
        EXPECT_EQ(probe.ticksPerFrameCalls, 2);
        EXPECT_EQ(host.Counters().initCustomControlsCalls, 1);
        EXPECT_EQ(host.Counters().centerWindowCalls, 2);
        EXPECT_EQ(host.GetAnimRange().start, -400);
        EXPECT_EQ(host.GetAnimRange().end, 800);
        EXPECT_NE(host.GetMAXHWnd(), nullptr);
        EXPECT_EQ(host.GetMAXHWnd(), host.GetMAXHWnd());
        SetHostGlobals(&host);
    }
    // A host that dies while installed uninstalls itself.
    EXPECT_EQ(GetHostGlobals(), nullptr);
    EXPECT_EQ(GetTicksPerFrame(), 0);
}

TEST(StandinHostGlobals, ProgressCallsAreLoggedAndForwarded) {
    StandinHost host(Scene({}));
    std::vector<ProgressCall> seen;
    host.onProgress = [&](const ProgressCall& call) { seen.push_back(call); };
    HostProbe probe;
    host.probe = &probe;
    host.ProgressStart("Scanning...", true, nullptr, nullptr);
    host.ProgressUpdate(50, true, nullptr);
    host.ProgressUpdate(75, true, "Writing Frames");
    host.ProgressEnd();
    const auto& log = probe.progressLog;
    ASSERT_EQ(log.size(), 4u);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(log[0].kind, ProgressCall::Start);
    EXPECT_EQ(log[0].caption, "Scanning...");
    EXPECT_EQ(log[1].percent, 50);
    EXPECT_EQ(log[1].caption, "");
    EXPECT_EQ(seen[2].caption, "Writing Frames");
    EXPECT_EQ(seen[3].kind, ProgressCall::End);
}
