// glTF files built by the tests, imported into the stand-in scene and checked
// against positions computed by hand.
#include "tests/StbImageWrite.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "export/ExportState.h"
#include "export/ModelExporter.h"
#include "import/Importer.h"
#include "standin/StandinHost.h"
#include "standin/Win32Standin.h"
#include "tests/ImportTestSupport.h"

using quorvex::importer::ImportScene;
using quorvex::scene::NodeData;

using namespace quorvex;

using namespace importtest;
using quorvex::importer::ImportOptions;
using quorvex::scene::ObjectKind;
using quorvex::scene::SceneDocument;
using json = nlohmann::json;

namespace {

const float kHalf = static_cast<float>(std::sqrt(0.5));

// One triangle (0,0,0), (1,0,0), (0,1,0) with texture coordinates.
json Triangle(GltfBuilder& b, int material = -1, bool uvs = true) {
    json prim = {{"attributes", {{"POSITION", b.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")}}}};
    if (uvs) prim["attributes"]["TEXCOORD_0"] = b.Floats({0, 0, 1, 0, 0, 1}, "VEC2");
    if (material >= 0) prim["material"] = material;
    return prim;
}

// A 2 x 1 PNG: red, then blue.
std::string RedBluePng() {
    const unsigned char rgb[6] = {255, 0, 0, 0, 0, 255};
    std::string png;
    stbi_write_png_to_func(
        [](void* ctx, void* data, int size) {
            static_cast<std::string*>(ctx)->append(static_cast<const char*>(data), static_cast<size_t>(size));
        },
        &png, 2, 1, 3, rgb, 6);
    return png;
}

SceneDocument Import(const std::string& path, ImportOptions options = {}) {
    SceneDocument doc;
    std::string error;
    EXPECT_TRUE(ImportScene(path, options, doc, error)) << error;
    return doc;
}

ImportOptions NoUpFix(int fps = 30) {
    ImportOptions o;
    o.upFix = false;
    o.fps = fps;
    return o;
}

TEST(ImportGltf, HierarchyNamesUpAxisAndScale) {
    const std::string dir = ScratchDir("gltf-hierarchy");
    GltfBuilder b;
    const int head = b.Add("meshes", {{"primitives", {Triangle(b, 0)}}});
    const int arms = b.Add("meshes", {{"primitives", {Triangle(b, 0), Triangle(b, 0)}}});
    b.Add("materials", {{"name", "plain"}});
    b.Add("nodes", {{"name", "Body"}, {"translation", {0, 2, 0}}, {"children", {1, 2}}});
    b.Add("nodes", {{"name", "Head"}, {"translation", {1, 0, 0}}, {"mesh", head}});
    b.Add("nodes", {{"name", "Arms"}, {"mesh", arms}});
    b.Add("nodes", {{"name", "Lamp"}, {"extensions", {{"KHR_node_visibility", {{"visible", false}}}}}});
    b.doc["scenes"] = {{{"nodes", {0, 3}}}};
    b.doc["scene"] = 0;
    const std::string path = b.Write(dir + "body.gltf");

    const SceneDocument doc = Import(path);
    ASSERT_EQ(doc.nodes.size(), 2u);  // no animation: no frame-name helper
    EXPECT_EQ(doc.nodes[0].name, "Body");
    EXPECT_EQ(doc.nodes[1].name, "Lamp");
    EXPECT_TRUE(doc.nodes[1].hidden);
    EXPECT_FALSE(doc.nodes[0].hidden);
    ASSERT_TRUE(doc.nodes[1].object.has_value());
    EXPECT_EQ(doc.nodes[1].object->kind, ObjectKind::Helper);
    ASSERT_EQ(doc.nodes[0].children.size(), 2u);
    EXPECT_EQ(doc.nodes[0].children[0].name, "Head");
    const NodeData& armsNode = doc.nodes[0].children[1];
    EXPECT_EQ(armsNode.name, "Arms");
    ASSERT_EQ(armsNode.children.size(), 2u);  // one child per primitive
    EXPECT_EQ(armsNode.children[0].name, "Arms_0");
    EXPECT_EQ(armsNode.children[1].name, "Arms_1");
    EXPECT_EQ(armsNode.children[1].object->kind, ObjectKind::Mesh);
    EXPECT_EQ(doc.ticksPerFrame, 160);
    EXPECT_EQ(doc.animRange.start, 0);
    EXPECT_EQ(doc.animRange.end, 0);
    EXPECT_EQ(doc.baseDir, dir);

    // Head's (0,1,0) sits at (1,3,0) in the file; upright, +Y becomes +Z.
    auto v = WorldVerts(doc, "Head", 0);
    ASSERT_EQ(v.size(), 3u);
    ExpectNear(v[2], 1, 0, 3);
    v = WorldVerts(Import(path, NoUpFix()), "Head", 0);
    ExpectNear(v[2], 1, 3, 0);
    ImportOptions scaled;
    scaled.scale = 2.0;
    v = WorldVerts(Import(path, scaled), "Head", 0);
    ExpectNear(v[2], 2, 0, 6);
    v = WorldVerts(Import(path), "Arms_1", 0);
    ExpectNear(v[1], 1, 0, 2);
}

TEST(ImportGltf, InvisibleNodeHidesItsWholeSubtree) {
    GltfBuilder b;
    b.Add("meshes", {{"primitives", {Triangle(b)}}});
    const json invisible = {{"KHR_node_visibility", {{"visible", false}}}};
    const json visible = {{"KHR_node_visibility", {{"visible", true}}}};
    b.Add("nodes", {{"name", "Lamp"}, {"extensions", invisible}, {"children", {1}}});
    b.Add("nodes", {{"name", "Shade"}, {"mesh", 0}, {"children", {2}}});
    b.Add("nodes", {{"name", "Bulb"}, {"mesh", 0}, {"extensions", visible}});
    b.Add("nodes", {{"name", "Table"}, {"mesh", 0}});
    const SceneDocument doc = Import(b.Write(ScratchDir("gltf-visibility") + "lamp.gltf"));
    for (const char* name : {"Lamp", "Shade", "Bulb"}) {
        ASSERT_NE(Find(doc, name), nullptr) << name;
        EXPECT_TRUE(Find(doc, name)->hidden) << name;
    }
    ASSERT_NE(Find(doc, "Table"), nullptr);
    EXPECT_FALSE(Find(doc, "Table")->hidden);
}

// A parent chain far deeper than any recursion could follow imports, hidden
// from its top; a cycle is refused naming the list that closes it, also where
// no scene lists it.
TEST(ImportGltf, DeepChainsImportAndCyclesAreRefused) {
    const int depth = 20000;
    GltfBuilder chain;
    chain.Add("meshes", {{"primitives", {Triangle(chain)}}});
    for (int k = 0; k < depth; ++k) {
        json node = {{"name", "n" + std::to_string(k)}};
        if (k + 1 < depth) node["children"] = {k + 1};
        if (k + 1 == depth) node["mesh"] = 0;
        if (k == 0) node["extensions"] = {{"KHR_node_visibility", {{"visible", false}}}};
        chain.Add("nodes", node);
    }
    const SceneDocument doc = Import(chain.Write(ScratchDir("gltf-deep") + "deep.gltf"));
    const quorvex::scene::NodeData* node = doc.nodes.empty() ? nullptr : &doc.nodes[0];
    int levels = 0;
    for (; node && !node->children.empty(); node = &node->children[0]) ++levels;
    EXPECT_EQ(levels, depth - 1);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->hidden);
    EXPECT_EQ(node->object->mesh.At(0).faces.size(), 1u);

    const std::string dir = ScratchDir("gltf-cycle");
    for (bool withScene : {false, true}) {
        GltfBuilder b;
        b.Add("meshes", {{"primitives", {Triangle(b)}}});
        b.Add("nodes", {{"name", "Shown"}, {"mesh", 0}});
        b.Add("nodes", {{"name", "A"}, {"children", {2}}});
        b.Add("nodes", {{"name", "B"}, {"children", {3}}});
        b.Add("nodes", {{"name", "C"}, {"children", {1}}, {"mesh", 0}});
        if (withScene) b.doc["scenes"] = {{{"nodes", {0}}}};
        SceneDocument out;
        std::string error;
        EXPECT_FALSE(ImportScene(b.Write(dir + "cycle.gltf"), ImportOptions{}, out, error));
        EXPECT_NE(error.find("cycle.gltf: nodes[3].children: node 1 is also an ancestor of node 3"), std::string::npos)
            << error;
        EXPECT_NE(error.find("a cycle of 3"), std::string::npos) << error;
    }
}

TEST(ImportGltf, SeamsAreWeldedAndVRunsUp) {
    // A cube whose six faces each have their own four corners (24 vertices),
    // as exporters write it when every face has its own texture patch.
    const float c[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
    std::vector<float> pos, uv;
    std::vector<uint16_t> idx;
    for (int f = 0; f < 6; ++f) {
        const float corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        for (int k = 0; k < 4; ++k) {
            pos.insert(pos.end(), c[quads[f][k]], c[quads[f][k]] + 3);
            uv.push_back((f + corner[k][0]) / 8.0f);
            uv.push_back(0.25f * corner[k][1]);
        }
        const uint16_t base = static_cast<uint16_t>(f * 4);
        for (uint16_t i : {0, 1, 2, 0, 2, 3}) idx.push_back(static_cast<uint16_t>(base + i));
    }
    GltfBuilder b;
    json prim;
    prim["attributes"] = {{"POSITION", b.Floats(pos, "VEC3")}, {"TEXCOORD_0", b.Floats(uv, "VEC2")}};
    prim["indices"] = b.Indices(idx);
    b.Add("meshes", {{"primitives", {prim}}});
    b.Add("nodes", {{"name", "Cube"}, {"mesh", 0}});
    const std::string path = b.Write(ScratchDir("gltf-seams") + "cube.gltf");

    ImportOptions asWritten = NoUpFix();
    asWritten.swatches = false;  // keep the coordinates although there is no picture
    const SceneDocument doc = Import(path, asWritten);
    const NodeData* cube = Find(doc, "Cube");
    ASSERT_NE(cube, nullptr);
    const quorvex::scene::MeshData& mesh = cube->object->mesh.At(0);
    EXPECT_EQ(mesh.verts.size(), 8u);
    ASSERT_EQ(mesh.faces.size(), 12u);
    ASSERT_EQ(mesh.tvfaces.size(), 12u);
    // Every corner keeps the position and texture coordinate it had, with v
    // turned to run up: 1 - v.
    for (size_t f = 0; f < 12; ++f) {
        for (int k = 0; k < 3; ++k) {
            const size_t src = idx[f * 3 + k];
            const Point3& p = mesh.verts[mesh.faces[f][k]];
            EXPECT_EQ(p.x, pos[src * 3]);
            EXPECT_EQ(p.y, pos[src * 3 + 1]);
            EXPECT_EQ(p.z, pos[src * 3 + 2]);
            const Point3& t = mesh.tverts[mesh.tvfaces[f][k]];
            EXPECT_FLOAT_EQ(t.x, uv[src * 2]);
            EXPECT_FLOAT_EQ(t.y, 1.0f - uv[src * 2 + 1]);
        }
    }
}

TEST(ImportGltf, MaterialsExternalAndEmbeddedPictures) {
    const std::string dir = ScratchDir("gltf-textures");
    const std::string png = RedBluePng();
    GltfBuilder b;
    b.Add("images", {{"uri", "skins/tex%20a.png"}});
    b.Add("images", {{"uri", "data:image/png;base64," + Base64(png)}});
    b.Add("textures", {{"source", 0}});
    b.Add("textures", {{"source", 1}});
    b.Add("materials", {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}});
    b.Add("materials", {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 1}}}}}});
    b.Add("materials", {{"name", "flat"}, {"pbrMetallicRoughness", {{"baseColorFactor", {1.0, 0.0, 0.0, 1.0}}}}});
    for (int m = 0; m < 4; ++m) {
        b.Add("meshes", {{"primitives", {Triangle(b, m < 3 ? m : -1)}}});
        b.Add("nodes", {{"name", "M" + std::to_string(m)}, {"mesh", m}});
    }
    const std::string path = b.Write(dir + "dressed.gltf");
    std::filesystem::create_directories(dir + "skins");
    WriteFile(dir + "skins/tex a.png", png);
    const SceneDocument doc = Import(path);

    const NodeData* external = Find(doc, "M0");
    ASSERT_TRUE(external && external->material && external->material->diffuse);
    EXPECT_EQ(external->material->kind, quorvex::scene::MaterialKind::Standard);
    EXPECT_EQ(external->material->diffuse->kind, quorvex::scene::MapKind::Bitmap);
    EXPECT_EQ(external->material->diffuse->file, "skins/tex a.png");
    EXPECT_EQ(doc.baseDir, dir);

    const NodeData* embedded = Find(doc, "M1");
    ASSERT_TRUE(embedded && embedded->material && embedded->material->diffuse);
    const auto picture = doc.images.find(embedded->material->diffuse->file);
    ASSERT_NE(picture, doc.images.end());
    ASSERT_EQ(picture->second.width, 2);
    ASSERT_EQ(picture->second.height, 1);
    ASSERT_EQ(picture->second.pixels.size(), 2u);
    EXPECT_EQ(picture->second.pixels[0].r, 65535);
    EXPECT_EQ(picture->second.pixels[0].b, 0);
    EXPECT_EQ(picture->second.pixels[1].b, 65535);
    EXPECT_EQ(picture->second.pixels[1].a, 65535);

    // No texture: the base colour's swatch; no material at all: white.
    for (auto [name, swatch] : {std::pair{"M2", "colour #ff0000"}, std::pair{"M3", "colour #ffffff"}}) {
        const NodeData* plain = Find(doc, name);
        ASSERT_TRUE(plain && plain->material && plain->material->diffuse) << name;
        EXPECT_EQ(plain->material->diffuse->file, swatch);
        ASSERT_TRUE(doc.images.count(swatch)) << swatch;
    }
    EXPECT_EQ(doc.images.at("colour #ff0000").pixels.at(0).r, 65535);
    EXPECT_EQ(doc.images.at("colour #ff0000").pixels.at(0).g, 0);
}

TEST(ImportGltf, MeshWithoutTextureCoordinatesGetsTheSwatchMiddle) {
    GltfBuilder b;
    b.Add("meshes", {{"primitives", {Triangle(b, -1, false)}}});
    b.Add("nodes", {{"name", "Bare"}, {"mesh", 0}});
    const std::string path = b.Write(ScratchDir("gltf-bare") + "bare.gltf");
    const quorvex::scene::MeshData swatched = Find(Import(path), "Bare")->object->mesh.At(0);
    ASSERT_EQ(swatched.tverts.size(), 1u);
    EXPECT_EQ(swatched.tverts[0].x, 0.5f);
    EXPECT_EQ(swatched.tverts[0].y, 0.5f);
    EXPECT_EQ(swatched.tvfaces.size(), 1u);

    ImportOptions noSwatches;
    noSwatches.swatches = false;
    const quorvex::scene::MeshData bare = Find(Import(path, noSwatches), "Bare")->object->mesh.At(0);
    EXPECT_EQ(bare.verts.size(), 3u);
    EXPECT_TRUE(bare.tverts.empty());
    EXPECT_TRUE(bare.tvfaces.empty());
}

// The sampler's wrap modes decide how a picture repeats, over the coordinates
// the texture transform gives; a picture that cannot
// be decoded falls back to the swatch with a warning naming it; compressed
// geometry is refused naming its extension.
TEST(ImportGltf, SamplerWrapUndecodablePictureAndCompressedMeshes) {
    const std::string dir = ScratchDir("gltf-wrap");
    GltfBuilder b;
    b.Add("images", {{"uri", "data:image/png;base64," + Base64(RedBluePng())}});
    b.Add("images", {{"uri", "data:image/png;base64," + Base64("not a picture")}});
    b.Add("samplers", {{"wrapS", 33648}, {"wrapT", 33071}});  // mirrored repeat, clamp to edge
    b.Add("textures", {{"source", 0}, {"sampler", 0}});
    b.Add("textures", {{"source", 1}});
    // Coordinates 0..1 scaled to 0..3 by a texture transform.
    const json transform = {{"KHR_texture_transform", {{"scale", {3.0, 3.0}}}}};
    b.Add("materials", {{"name", "tiled"},
                        {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}, {"extensions", transform}}}}}});
    b.Add("materials", {{"name", "broken"}, {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 1}}}}}});
    b.Add("meshes", {{"primitives", {Triangle(b, 0)}}});
    b.Add("meshes", {{"primitives", {Triangle(b, 1)}}});
    b.Add("nodes", {{"name", "Wide"}, {"mesh", 0}});
    b.Add("nodes", {{"name", "Broken"}, {"mesh", 1}});
    const std::string path = b.Write(dir + "wrap.gltf");

    SceneDocument doc;
    quorvex::importer::ImportNotes notes;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(quorvex::importer::ImportScene(path, ImportOptions{}, doc, notes, error)) << error.message;
    const quorvex::scene::Picture& tiled = doc.images.at(Find(doc, "Wide")->material->diffuse->file);
    EXPECT_EQ(tiled.width, 6);   // red blue | blue red | red blue
    EXPECT_EQ(tiled.height, 1);  // clamped: one tile
    EXPECT_EQ(tiled.pixels[2].b, 65535);
    EXPECT_EQ(tiled.pixels[3].r, 65535);
    EXPECT_EQ(Find(doc, "Broken")->material->diffuse->file, "colour #ffffff");
    ASSERT_EQ(notes.warnings.size(), 1u);
    EXPECT_NE(notes.warnings[0].find("images[1] cannot be read"), std::string::npos) << notes.warnings[0];

    // Compressed data that does not decode is refused naming the place; the
    // standard meshopt extension is refused by name.
    const std::map<std::string, std::string> refusals = {
        {"KHR_draco_mesh_compression", "meshes[0].primitives[0]: Draco data cannot be decoded"},
        {"EXT_meshopt_compression", "bufferViews[0]: EXT_meshopt_compression data cannot be decoded"},
        {"KHR_meshopt_compression",
         "meshes[0].primitives[0]: compressed with KHR_meshopt_compression, which this build does not decode"}};
    for (const auto& [name, refusal] : refusals) {
        const char* ext = name.c_str();
        GltfBuilder c;
        json prim = Triangle(c);
        if (std::string(ext) == "KHR_draco_mesh_compression") {
            prim["extensions"][ext] = {{"bufferView", 0}, {"attributes", {{"POSITION", 0}}}};
        } else {
            c.doc["bufferViews"][0]["extensions"][ext] = {
                {"buffer", 0}, {"byteLength", 36}, {"byteStride", 12}, {"count", 3}, {"mode", "ATTRIBUTES"}};
        }
        c.doc["extensionsUsed"] = {ext};
        c.Add("meshes", {{"primitives", {prim}}});
        c.Add("nodes", {{"name", "Packed"}, {"mesh", 0}});
        EXPECT_FALSE(quorvex::importer::ImportScene(c.Write(dir + "packed.gltf"), ImportOptions{}, doc, notes, error));
        EXPECT_NE(error.message.find(refusal), std::string::npos) << error.message;
    }
}

TEST(ImportGltf, NodeAnimationSampledAtFrameTimes) {
    GltfBuilder b;
    b.Add("meshes", {{"primitives", {Triangle(b)}}});
    b.Add("nodes", {{"name", "Spinner"}, {"mesh", 0}});
    const int t01 = b.Floats({0, 1}, "SCALAR");
    const int tStep = b.Floats({0, 0.5f}, "SCALAR");
    const int move = b.Floats({0, 0, 0, 3, 0, 0}, "VEC3");
    const int turn = b.Floats({0, 0, 0, 1, 0, 0, kHalf, kHalf}, "VEC4");
    // Cubic scale: key 0 value (1,1,1) leaving with tangent (3,0,0); key 1 value (2,1,1).
    const int grow = b.Floats({0, 0, 0, 1, 1, 1, 3, 0, 0, 0, 0, 0, 2, 1, 1, 0, 0, 0}, "VEC3");
    b.Add("animations", {{"name", "move"},
                         {"samplers",
                          {{{"input", t01}, {"output", move}},
                           {{"input", tStep}, {"output", turn}, {"interpolation", "STEP"}},
                           {{"input", t01}, {"output", grow}, {"interpolation", "CUBICSPLINE"}}}},
                         {"channels",
                          {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}},
                           {{"sampler", 1}, {"target", {{"node", 0}, {"path", "rotation"}}}},
                           {{"sampler", 2}, {"target", {{"node", 0}, {"path", "scale"}}}}}}});
    const SceneDocument doc = Import(b.Write(ScratchDir("gltf-anim") + "spin.gltf"), NoUpFix());

    EXPECT_EQ(doc.ticksPerFrame, 160);
    EXPECT_EQ(doc.animRange.end, 30 * 160);  // 1 s at 30 fps: 31 frames
    EXPECT_EQ(Find(doc, "Spinner")->transform.keys.size(), 31u);
    // Frame 10, t = 1/3: translation 1, no turn yet, scale x by Hermite:
    // h00 + h10 * 3 + h01 * 2 = 20/27 + 4/27 * 3 + 7/27 * 2 = 46/27.
    auto v = WorldVerts(doc, "Spinner", 10 * 160);
    ExpectNear(v[1], 1.0f + 46.0f / 27.0f, 0, 0);
    ExpectNear(v[2], 1, 1, 0);
    // Frame 20, t = 2/3: translation 2, a quarter turn about z (step), scale
    // x = 7/27 + 2/27 * 3 + 20/27 * 2 = 53/27.
    v = WorldVerts(doc, "Spinner", 20 * 160);
    ExpectNear(v[1], 2, 53.0f / 27.0f, 0);
    ExpectNear(v[2], 1, 0, 0);
    // Past the end the last frame holds the final pose.
    v = WorldVerts(doc, "Spinner", 30 * 160);
    ExpectNear(v[1], 3, 2, 0);
}

// A two-bone arm: Root at the origin, Bone at (0,1,0) turning a quarter turn
// about z over one second; a mesh whose node sits at (5,5,5), which skinning
// ignores; a morph target lifting vertex 0 by 1 in z as its weight goes 0 to 1.
std::string SkinnedArm(const std::string& dir, bool textured = false, bool mapped = true) {
    GltfBuilder b;
    const int pos = b.Floats({0, 0, 0, 0, 2, 0, 1, 1, 0}, "VEC3");
    json attributes;
    if (textured) {
        if (mapped) attributes["TEXCOORD_0"] = b.Floats({0, 0, 1, 0, 0, 1}, "VEC2");
        b.Add("images", {{"uri", "data:image/png;base64," + Base64(RedBluePng())}});
        b.Add("textures", {{"source", 0}});
        b.Add("materials", {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}});
    }
    const int joints = b.Indices({0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0}, "VEC4");
    const int weights = b.Floats({1, 0, 0, 0, 1, 0, 0, 0, 0.5f, 0.5f, 0, 0}, "VEC4");
    const int lift = b.Floats({0, 0, 1, 0, 0, 0, 0, 0, 0}, "VEC3");
    attributes["POSITION"] = pos;
    attributes["JOINTS_0"] = joints;
    attributes["WEIGHTS_0"] = weights;
    json prim = {{"attributes", attributes}, {"targets", {{{"POSITION", lift}}}}};
    if (textured) prim["material"] = 0;
    b.Add("meshes", {{"primitives", {prim}}, {"weights", {0}}});
    const int ibm = b.Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0,  0, 1,   // root: identity
                              1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1},  // bone: back by 1 in y
                             "MAT4");
    b.Add("skins", {{"joints", {0, 1}}, {"inverseBindMatrices", ibm}});
    b.Add("nodes", {{"name", "Root"}, {"children", {1}}});
    b.Add("nodes", {{"name", "Bone"}, {"translation", {0, 1, 0}}});
    b.Add("nodes", {{"name", "Arm"}, {"mesh", 0}, {"skin", 0}, {"translation", {5, 5, 5}}});
    b.doc["scenes"] = {{{"nodes", {0, 2}}}};
    const int t01 = b.Floats({0, 1}, "SCALAR");
    const int turn = b.Floats({0, 0, 0, 1, 0, 0, kHalf, kHalf}, "VEC4");
    const int w01 = b.Floats({0, 1}, "SCALAR");
    b.Add("animations", {{"name", "flex"},
                         {"samplers", {{{"input", t01}, {"output", turn}}, {{"input", t01}, {"output", w01}}}},
                         {"channels",
                          {{{"sampler", 0}, {"target", {{"node", 1}, {"path", "rotation"}}}},
                           {{"sampler", 1}, {"target", {{"node", 2}, {"path", "weights"}}}}}}});
    return b.Write(dir + "arm.gltf");
}

TEST(ImportGltf, SkinAndMorphTargetMatchHandComputedPositions) {
    const std::string path = SkinnedArm(ScratchDir("gltf-skin"));
    const SceneDocument doc = Import(path, NoUpFix());
    const NodeData* arm = Find(doc, "Arm");
    ASSERT_TRUE(arm && arm->object);
    EXPECT_EQ(arm->object->mesh.keys.size(), 31u);  // a key at every frame

    auto v = WorldVerts(doc, "Arm", 0);
    ASSERT_EQ(v.size(), 3u);
    ExpectNear(v[0], 0, 0, 0);
    ExpectNear(v[1], 0, 2, 0);
    ExpectNear(v[2], 1, 1, 0);
    // Half way: an eighth turn and half the lift.
    v = WorldVerts(doc, "Arm", 15 * 160);
    ExpectNear(v[0], 0, 0, 0.5f);
    ExpectNear(v[1], -kHalf, 1 + kHalf, 0);
    ExpectNear(v[2], 0.5f * (1 + kHalf), 0.5f * (1 + 1 + kHalf), 0);
    // The end: the bone's tip lies at (-1,1,0); vertex 2 is half on each bone:
    // ((1,1,0) + (0,2,0)) / 2.
    v = WorldVerts(doc, "Arm", 30 * 160);
    ExpectNear(v[0], 0, 0, 1);
    ExpectNear(v[1], -1, 1, 0);
    ExpectNear(v[2], 0.5f, 1.5f, 0);

    // Upright, the same arm turns (x, y, z) to (x, -z, y).
    v = WorldVerts(Import(path), "Arm", 30 * 160);
    ExpectNear(v[0], 0, -1, 0);
    ExpectNear(v[1], -1, 0, 1);
    ExpectNear(v[2], 0.5f, 0, 1.5f);
}

TEST(ImportGltf, SkinnedNodeWithoutWeightsKeepsItsBindPose) {
    // A skin on a node whose mesh has no joints or weights: nothing moves the
    // vertices, so they stay where the file puts them.
    GltfBuilder b;
    b.Add("meshes", {{"primitives", {Triangle(b)}}});
    b.Add("skins", {{"joints", {0}}});
    b.Add("nodes", {{"name", "Bone"}, {"translation", {0, 0, 4}}});
    b.Add("nodes", {{"name", "Loose"}, {"mesh", 0}, {"skin", 0}});
    const SceneDocument doc = Import(b.Write(ScratchDir("gltf-unweighted") + "loose.gltf"), NoUpFix());
    const auto v = WorldVerts(doc, "Loose", 0);
    ASSERT_EQ(v.size(), 3u);
    ExpectNear(v[0], 0, 0, 0);
    ExpectNear(v[1], 1, 0, 0);
    ExpectNear(v[2], 0, 1, 0);
}

// Two clips: "walk" moves A over half a second, "run" moves B over 0.2 s.
std::string TwoClips(const std::string& dir) {
    GltfBuilder b;
    b.Add("meshes", {{"primitives", {Triangle(b)}}});
    b.Add("nodes", {{"name", "A"}, {"mesh", 0}});
    b.Add("nodes", {{"name", "B"}, {"mesh", 0}, {"translation", {0, 5, 0}}});
    const int tw = b.Floats({0, 0.5f}, "SCALAR");
    const int tr = b.Floats({0, 0.2f}, "SCALAR");
    const int walk = b.Floats({0, 0, 0, 1, 0, 0}, "VEC3");
    const int run = b.Floats({0, 5, 0, 0, 5, 2}, "VEC3");
    b.Add("animations", {{"name", "walk"},
                         {"samplers", {{{"input", tw}, {"output", walk}}}},
                         {"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}}}}});
    b.Add("animations", {{"name", "run"},
                         {"samplers", {{{"input", tr}, {"output", run}}}},
                         {"channels", {{{"sampler", 0}, {"target", {{"node", 1}, {"path", "translation"}}}}}}});
    return b.Write(dir + "clips.gltf");
}

TEST(ImportGltf, ClipsLaidOutNamedAndSelected) {
    const std::string path = TwoClips(ScratchDir("gltf-clips"));
    // 10 fps: walk takes ceil(5) + 1 = 6 frames, run ceil(2) + 1 = 3.
    const SceneDocument doc = Import(path, NoUpFix(10));
    EXPECT_EQ(doc.ticksPerFrame, 480);
    EXPECT_EQ(doc.animRange.end, 8 * 480);
    const NodeData* names = Find(doc, "FrameNames");
    ASSERT_TRUE(names && names->object);
    EXPECT_EQ(names->object->kind, ObjectKind::Helper);
    ASSERT_EQ(names->noteTracks.size(), 1u);
    ASSERT_EQ(names->noteTracks[0].size(), 2u);
    EXPECT_EQ(names->noteTracks[0][0].time, 0);
    EXPECT_EQ(names->noteTracks[0][0].text, "walk");
    EXPECT_EQ(names->noteTracks[0][1].time, 6 * 480);
    EXPECT_EQ(names->noteTracks[0][1].text, "run");

    ExpectNear(WorldVerts(doc, "A", 5 * 480)[0], 1, 0, 0);  // walk's end
    // In run, A is back at rest, not where walk left it; B moves.
    ExpectNear(WorldVerts(doc, "A", 6 * 480)[0], 0, 0, 0);
    ExpectNear(WorldVerts(doc, "B", 7 * 480)[0], 0, 5, 1);
    ExpectNear(WorldVerts(doc, "B", 5 * 480)[0], 0, 5, 0);  // and rests in walk

    ImportOptions only = NoUpFix(10);
    only.clips = {"run"};
    const SceneDocument runOnly = Import(path, only);
    EXPECT_EQ(runOnly.animRange.end, 2 * 480);
    const NodeData* runNames = Find(runOnly, "FrameNames");
    ASSERT_TRUE(runNames && runNames->noteTracks.size() == 1 && runNames->noteTracks[0].size() == 1);
    EXPECT_EQ(runNames->noteTracks[0][0].text, "run");
    EXPECT_EQ(runNames->noteTracks[0][0].time, 0);
    ExpectNear(WorldVerts(runOnly, "B", 2 * 480)[0], 0, 5, 2);

    std::vector<quorvex::importer::ClipInfo> clips;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(quorvex::importer::ListClips(path, ImportOptions{}, clips, error)) << error.message;
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].name, "walk");
    EXPECT_EQ(clips[0].frames, 16);  // 30 fps: ceil(15) + 1
    EXPECT_EQ(clips[1].name, "run");
    EXPECT_EQ(clips[1].frames, 7);  // 0.2f s is a hair above 0.2: still ceil(6) + 1
}

TEST(ImportGltf, RefusalsNameTheFileAndThePlace) {
    const std::string dir = ScratchDir("gltf-errors");
    const std::string clips = TwoClips(dir);
    SceneDocument doc;
    std::string error;
    ImportOptions unknown;
    unknown.clips = {"jump"};
    EXPECT_FALSE(ImportScene(clips, unknown, doc, error));
    EXPECT_NE(error.find("jump"), std::string::npos) << error;
    ImportOptions badFps;
    badFps.fps = 7;
    EXPECT_FALSE(ImportScene(clips, badFps, doc, error));
    EXPECT_NE(error.find("frame rate 7"), std::string::npos) << error;
    EXPECT_EQ(error.find("--"), std::string::npos) << "a library error names no flag: " << error;

    // Indices pointing past the vertices, and an accessor longer than its view.
    GltfBuilder b;
    json prim = Triangle(b);
    prim["indices"] = b.Indices({0, 1, 7});
    b.Add("meshes", {{"primitives", {prim}}});
    b.Add("nodes", {{"name", "Broken"}, {"mesh", 0}});
    const std::string badIndex = b.Write(dir + "index.gltf");
    EXPECT_FALSE(ImportScene(badIndex, ImportOptions{}, doc, error));
    EXPECT_NE(error.find("index.gltf"), std::string::npos) << error;
    EXPECT_NE(error.find("meshes[0].primitives[0].indices"), std::string::npos) << error;

    b.doc["accessors"][0]["count"] = 1000;
    const std::string overrun = b.Write(dir + "overrun.gltf");
    EXPECT_FALSE(ImportScene(overrun, ImportOptions{}, doc, error));
    EXPECT_NE(error.find("accessors[0]"), std::string::npos) << error;

    EXPECT_FALSE(ImportScene(dir + "missing.glb", ImportOptions{}, doc, error));
    EXPECT_NE(error.find("missing.glb"), std::string::npos) << error;
}

int32_t Int32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
    return static_cast<int32_t>(v);
}

float FloatAt(const std::string& bytes, size_t at) {
    const int32_t bits = Int32At(bytes, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// The imported arm through the exporter: the model file holds every frame,
// named after the clip, with each position within a quantization step of the
// hand-computed one. And an arm without texture coordinates is refused.
TEST(ImportGltf, ExportedModelShowsTheImportedAnimation) {
    const std::string dir = ScratchDir("gltf-export");
    SceneDocument doc;
    std::string error;
    ASSERT_TRUE(ImportScene(SkinnedArm(dir, true), ImportOptions{}, doc, error)) << error;
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope win32Scope{&win32};
    quorvex::standin::StandinHost host(std::move(doc));
    quorvex::standin::HostGlobalsScope scope(&host);
    exportState.options = {0, 30, 1, 0};
    ModelExporter exporter;
    const std::string out = dir + "arm.mdl";
    ASSERT_EQ(exporter.DoExport(out.c_str(), nullptr, &host, TRUE, 0), 1);
    EXPECT_TRUE(win32.messageBoxes.empty());
    std::ifstream in(out, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(bytes.size(), 84u);
    EXPECT_EQ(bytes.substr(0, 4), "MDL4");
    const int32_t verts = Int32At(bytes, 60), tris = Int32At(bytes, 64), frames = Int32At(bytes, 68);
    const int32_t tcs = Int32At(bytes, 72), w = Int32At(bytes, 52), h = Int32At(bytes, 56);
    EXPECT_EQ(verts, 3);
    EXPECT_EQ(tris, 1);
    ASSERT_EQ(frames, 31);
    const size_t frameSize = 4 + 8 + 8 + 16 + 8 * static_cast<size_t>(verts);
    const size_t first =
        84 + 4 + static_cast<size_t>(w) * h * 2 + static_cast<size_t>(tcs) * 4 + static_cast<size_t>(tris) * 12;
    ASSERT_EQ(bytes.size(), first + frameSize * frames);
    float scale[3], origin[3];
    for (int a = 0; a < 3; ++a) {
        scale[a] = FloatAt(bytes, 8 + 4 * a);
        origin[a] = FloatAt(bytes, 20 + 4 * a);
    }
    auto position = [&](int frame, int v) {
        const size_t at = first + frameSize * frame + 36 + 8 * static_cast<size_t>(v);
        float p[3];
        for (int a = 0; a < 3; ++a) {
            const uint16_t q = static_cast<uint16_t>(static_cast<uint8_t>(bytes[at + 2 * a]) |
                                                     (static_cast<uint8_t>(bytes[at + 2 * a + 1]) << 8));
            p[a] = origin[a] + q * scale[a];
        }
        return Point3{p[0], p[1], p[2]};
    };
    const float step = std::max({scale[0], scale[1], scale[2]}) * 1.01f;
    EXPECT_EQ(bytes.substr(first + frameSize * 30 + 20, 7), std::string("flex30\0", 7));
    // Upright: the arm's end pose (see above) with (x, y, z) turned to (x, -z, y);
    // the model file holds a host position (x, y, z) as (-y, x, z).
    auto expectAt = [&](int frame, int v, float x, float y, float z) {
        SCOPED_TRACE("frame " + std::to_string(frame) + " vertex " + std::to_string(v));
        ExpectNear(position(frame, v), -y, x, z, step);
    };
    expectAt(30, 0, 0, -1, 0);
    expectAt(30, 1, -1, 0, 1);
    expectAt(30, 2, 0.5f, 0, 1.5f);
    expectAt(15, 1, -kHalf, 0, 1 + kHalf);
    expectAt(0, 1, 0, 0, 2);

    // Textured but without texture coordinates, and no swatches: the export
    // refuses the mesh by name.
    ImportOptions noSwatches;
    noSwatches.swatches = false;
    ASSERT_TRUE(ImportScene(SkinnedArm(dir, true, false), noSwatches, doc, error)) << error;
    quorvex::standin::StandinHost bare(std::move(doc));
    quorvex::standin::HostGlobalsScope bareScope(&bare);
    EXPECT_EQ(exporter.DoExport((dir + "bare.mdl").c_str(), nullptr, &bare, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].text, "Arm No Mapping");
}

}  // namespace
