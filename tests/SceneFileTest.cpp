#include "scene/SceneFile.h"
#include "tests/ScratchDir.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using quorvex::scene::ConvertMode;
using quorvex::scene::LoadSceneFile;
using quorvex::scene::MapKind;
using quorvex::scene::MaterialKind;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::ObjectKind;
using quorvex::scene::ParseSceneText;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;

namespace quorvex::scene {
namespace {

// Parses `text` as "scene.json"; returns the error, or "" when it loaded.
std::string Refusal(const std::string& text) {
    SceneDocument doc;
    quorvex::scene::LoadError error;
    if (ParseSceneText(text, "scene.json", doc, error)) return "";
    return error.message;
}

SceneDocument Load(const std::string& text) {
    SceneDocument doc;
    quorvex::scene::LoadError error;
    EXPECT_TRUE(ParseSceneText(text, "scene.json", doc, error)) << error.message;
    return doc;
}

// A scene of one node whose members are `nodeFields`.
std::string OneNode(const std::string& nodeFields) { return R"({"version": 1, "nodes": [{)" + nodeFields + "}]}"; }

std::string OneMesh(const std::string& meshFields) {
    return OneNode(R"("object": {"kind": "mesh", "mesh": {)" + meshFields + "}}");
}

void ExpectMatrix(const Matrix3& m, const std::vector<float>& twelve) {
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(m.row[r].x, twelve[r * 3 + 0]) << "row " << r;
        EXPECT_EQ(m.row[r].y, twelve[r * 3 + 1]) << "row " << r;
        EXPECT_EQ(m.row[r].z, twelve[r * 3 + 2]) << "row " << r;
    }
}

const char* const kEveryKindOfField = R"({
      "version": 1,
      "ticksPerFrame": 4800,
      "animRange": {"start": -160, "end": 16000},
      "images": {
        "skin.png": {"width": 2, "height": 1, "pixels": [[65535, 0, 0, 65535], [0, 1, 2, 3]]},
        "plain": {"width": 4096, "height": 4096, "fill": [1, 2, 3, 4]},
        "empty": {"width": 0, "height": 7, "pixels": []}
      },
      "nodes": [
        {"name": "Hull", "hidden": true,
         "transform": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5],
         "object": {"kind": "mesh", "convert": "same", "mesh": {"keys": [
            {"time": 0, "value": {"verts": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "faces": [[0, 1, 2]],
                                  "tverts": [[0.1, 0.2], [1, 0, 0.5], [0, 1]], "tvfaces": [[2, 1, 0]]}},
            {"time": 160, "value": {"verts": [[0, 0, 1]]}}]}},
         "material": {"kind": "standard", "diffuse": {"kind": "bitmap", "file": "skin.png"}},
         "noteTracks": [[{"time": 0, "text": "walk"}, {"time": -5, "text": "run"}], []],
         "children": [
           {"name": "Eye", "object": {"kind": "helper"}, "material": {"kind": "other"},
            "transform": {"keys": [{"time": 10, "value": [1,0,0, 0,1,0, 0,0,1, 5,6,7]},
                                   {"time": 20, "value": [2,0,0, 0,2,0, 0,0,2, 0,0,0]}]}},
           {"object": null, "material": {"kind": "standard", "diffuse": {"kind": "other"}}},
           {"object": {"kind": "mesh", "convert": "none", "mesh": {}}, "material": {"kind": "standard", "diffuse": null}}
         ]},
        {"object": {"kind": "unconvertible"}}, {"object": {"kind": "target"}},
        {"object": {"kind": "camera"}}, {"object": {"kind": "light"}}
      ]
    })";

TEST(SceneFile, ReadsEveryKindOfField) {
    const SceneDocument doc = Load(kEveryKindOfField);

    ASSERT_EQ(doc.nodes.size(), 5u);
    EXPECT_EQ(doc.ticksPerFrame, 4800);
    EXPECT_EQ(doc.animRange.start, -160);
    EXPECT_EQ(doc.animRange.end, 16000);
    EXPECT_EQ(doc.baseDir, "");

    ASSERT_EQ(doc.images.size(), 3u);
    const Picture& skin = doc.images.at("skin.png");
    EXPECT_EQ(skin.width, 2);
    EXPECT_EQ(skin.height, 1);
    EXPECT_FALSE(skin.plain);
    ASSERT_EQ(skin.pixels.size(), 2u);
    EXPECT_EQ(skin.pixels[0].r, 65535);
    EXPECT_EQ(skin.pixels[0].a, 65535);
    EXPECT_EQ(skin.pixels[1].g, 1);
    EXPECT_EQ(skin.pixels[1].b, 2);
    EXPECT_EQ(skin.pixels[1].a, 3);
    const Picture& plain = doc.images.at("plain");
    EXPECT_TRUE(plain.plain);
    EXPECT_EQ(plain.width, 4096);
    EXPECT_EQ(plain.height, 4096);
    EXPECT_TRUE(plain.pixels.empty());  // a plain picture costs no pixel storage
    EXPECT_EQ(plain.fill.r, 1);
    EXPECT_EQ(plain.fill.a, 4);
    EXPECT_TRUE(doc.images.at("empty").pixels.empty());

    const NodeData& hull = doc.nodes[0];
    EXPECT_EQ(hull.name, "Hull");
    EXPECT_TRUE(hull.hidden);
    ASSERT_EQ(hull.transform.keys.size(), 1u);
    ExpectMatrix(hull.transform.At(12345), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5f});

    ASSERT_TRUE(hull.object.has_value());
    EXPECT_EQ(hull.object->kind, ObjectKind::Mesh);
    EXPECT_EQ(hull.object->convert, ConvertMode::Same);
    ASSERT_EQ(hull.object->mesh.keys.size(), 2u);
    const MeshData& first = hull.object->mesh.At(-100);
    ASSERT_EQ(first.verts.size(), 3u);
    EXPECT_EQ(first.verts[1].x, 1.0f);
    ASSERT_EQ(first.faces.size(), 1u);
    EXPECT_EQ(first.faces[0], (std::array<uint32_t, 3>{0, 1, 2}));
    ASSERT_EQ(first.tverts.size(), 3u);
    EXPECT_EQ(first.tverts[0].x, 0.1f);
    EXPECT_EQ(first.tverts[0].y, 0.2f);
    EXPECT_EQ(first.tverts[0].z, 0.0f);  // w absent
    EXPECT_EQ(first.tverts[1].z, 0.5f);  // w carried
    EXPECT_EQ(first.tvfaces[0], (std::array<uint32_t, 3>{2, 1, 0}));
    const MeshData& second = hull.object->mesh.At(160);
    ASSERT_EQ(second.verts.size(), 1u);  // a keyed mesh may change its counts
    EXPECT_EQ(second.verts[0].z, 1.0f);
    EXPECT_EQ(&hull.object->mesh.At(159), &first);

    ASSERT_TRUE(hull.material.has_value());
    EXPECT_EQ(hull.material->kind, MaterialKind::Standard);
    ASSERT_TRUE(hull.material->diffuse.has_value());
    EXPECT_EQ(hull.material->diffuse->kind, MapKind::Bitmap);
    EXPECT_EQ(hull.material->diffuse->file, "skin.png");

    ASSERT_EQ(hull.noteTracks.size(), 2u);
    ASSERT_EQ(hull.noteTracks[0].size(), 2u);  // kept in the order given, times unsorted
    EXPECT_EQ(hull.noteTracks[0][1].time, -5);
    EXPECT_EQ(hull.noteTracks[0][1].text, "run");
    EXPECT_TRUE(hull.noteTracks[1].empty());

    ASSERT_EQ(hull.children.size(), 3u);
    const NodeData& eye = hull.children[0];
    EXPECT_EQ(eye.object->kind, ObjectKind::Helper);
    EXPECT_EQ(eye.material->kind, MaterialKind::Other);
    ExpectMatrix(eye.transform.At(0), {1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7});  // before the first key
    ExpectMatrix(eye.transform.At(19), {1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7});
    ExpectMatrix(eye.transform.At(20), {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_FALSE(hull.children[1].object.has_value());
    EXPECT_EQ(hull.children[1].material->diffuse->kind, MapKind::Other);
    EXPECT_EQ(hull.children[2].object->convert, ConvertMode::None);
    EXPECT_TRUE(hull.children[2].object->mesh.At(0).verts.empty());
    EXPECT_FALSE(hull.children[2].material->diffuse.has_value());

    EXPECT_EQ(doc.nodes[1].object->kind, ObjectKind::Unconvertible);
    EXPECT_EQ(doc.nodes[2].object->kind, ObjectKind::Target);
    EXPECT_EQ(doc.nodes[3].object->kind, ObjectKind::Camera);
    EXPECT_EQ(doc.nodes[4].object->kind, ObjectKind::Light);
}

TEST(SceneFile, AbsentFieldsTakeTheirDefaults) {
    const SceneDocument doc = Load(R"({"version": 1, "nodes": [{}, {"object": {"kind": "mesh", "mesh": {}}}]})");
    ASSERT_EQ(doc.nodes.size(), 2u);
    EXPECT_EQ(doc.ticksPerFrame, 160);
    EXPECT_EQ(doc.animRange.start, 0);
    EXPECT_EQ(doc.animRange.end, 0);
    EXPECT_TRUE(doc.images.empty());
    ASSERT_EQ(doc.nodes.size(), 2u);
    const NodeData& bare = doc.nodes[0];
    EXPECT_EQ(bare.name, "");
    EXPECT_FALSE(bare.hidden);
    EXPECT_FALSE(bare.object.has_value());
    EXPECT_FALSE(bare.material.has_value());
    EXPECT_TRUE(bare.noteTracks.empty());
    EXPECT_TRUE(bare.children.empty());
    ExpectMatrix(bare.transform.At(-99999), {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    EXPECT_EQ(doc.nodes[1].object->convert, ConvertMode::Copy);

    EXPECT_TRUE(Load(R"({"version": 1})").nodes.empty());
}

TEST(SceneFile, NumbersKeepTheirLiteralKind) {
    // -0 written as an integer is +0; -0.0 keeps its sign.
    const SceneDocument doc = Load(OneMesh(R"("verts": [[-0, -0.0, 0.1]])"));
    ASSERT_EQ(doc.nodes.size(), 1u);
    const Point3 v = doc.nodes[0].object->mesh.At(0).verts[0];
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_FALSE(std::signbit(v.x));
    EXPECT_TRUE(std::signbit(v.y));
    EXPECT_EQ(v.z, 0.1f);  // the nearest float, not a truncation

    // Just below halfway between the largest float and 2^128 still rounds to
    // the largest float; halfway itself rounds to infinity. An integer literal
    // wider than 64 bits is an ordinary number in a float field.
    const SceneDocument edge =
        Load(OneMesh(R"("verts": [[3.4028235677973362e38, -3.4028235e38, 100000000000000000000000]])"));
    ASSERT_EQ(edge.nodes.size(), 1u);
    const Point3 e = edge.nodes[0].object->mesh.At(0).verts[0];
    EXPECT_EQ(e.x, std::numeric_limits<float>::max());
    EXPECT_EQ(e.y, -std::numeric_limits<float>::max());
    EXPECT_EQ(e.z, 1e23f);
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0, 0, -3.4028235677973366e38]])")),
              "scene.json: nodes[0].object.mesh.verts[0][2]: number -3.4028235677973366e+38 is beyond the float range "
              "(its nearest float is infinite)");

    // An integer field written with -0 is simply 0.
    EXPECT_EQ(Load(R"({"version": 1, "animRange": {"start": -0, "end": 0}})").animRange.start, 0);
}

TEST(SceneFile, TextsAreCutAtTheirFirstNul) {
    const SceneDocument doc = Load(R"({"version": 1,
      "images": {"a\u0000hidden": {"width": 0, "height": 0, "fill": [0, 0, 0, 0]}},
      "nodes": [{"name": "Hull\u0000tail",
        "material": {"kind": "standard", "diffuse": {"kind": "bitmap", "file": "a\u0000b.png"}},
        "noteTracks": [[{"time": 0, "text": "walk\u0000x"}]]}]})");
    ASSERT_EQ(doc.nodes.size(), 1u);
    EXPECT_EQ(doc.nodes[0].name, "Hull");
    EXPECT_EQ(doc.nodes[0].material->diffuse->file, "a");
    EXPECT_EQ(doc.nodes[0].noteTracks[0][0].text, "walk");
    EXPECT_EQ(doc.images.count("a"), 1u);  // found by the name the map reports

    EXPECT_EQ(Refusal(R"({"version": 1, "images": {"a": {"width": 0, "height": 0, "fill": [0,0,0,0]},
                          "a\u0000b": {"width": 0, "height": 0, "fill": [0,0,0,0]}}})"),
              R"(scene.json: images["a\u0000b"]: image name "a" appears twice once cut at its NUL character)");
}

TEST(SceneFile, RefusesMalformedJsonWithLineAndColumn) {
    const std::string error = Refusal("{\"version\": 1,\n  \"nodes\": [}\n");
    EXPECT_EQ(error.rfind("scene.json: line 2, column 13: ", 0), 0u) << error;
    EXPECT_NE(error.find("expected"), std::string::npos) << error;

    EXPECT_EQ(Refusal("").rfind("scene.json: line 1, column ", 0), 0u);
    EXPECT_NE(Refusal(R"({"version": 1} x)").find("line 1"), std::string::npos);
    EXPECT_NE(Refusal("{\"version\": 1 /* note */}").find("line 1"), std::string::npos);  // no comments
    EXPECT_NE(Refusal("{\"version\": 1, \"nodes\": [{\"name\": \"\xff\"}]}").find("UTF-8"), std::string::npos);
    EXPECT_EQ(Refusal("[1]"), "scene.json: the scene must be a JSON object, not an array");
}

TEST(SceneFile, NamesWhereAndWhyTextIsNotJson) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"{\"version\": 1,\n \"nodes\": [{\"name\": \"a\nb\"}]}",
         "line 2, column 23: a control character (byte 0x0A) must be escaped in a string"},
        {R"({"version": 1, "nodes": [{"name": "\q"}]})", "line 1, column 36: invalid escape in a string"},
        {R"({"version": 1, "nodes": [{"name": "\ud800"}]})",
         "line 1, column 36: a high surrogate escape must be followed by a low one"},
        {R"({"version": 1, "nodes": [{"name": "open}]})", "line 1, column 35: a string is not closed"},
        {R"({"version": 01})", "line 1, column 14: unexpected '1'; expected ',' or '}'"},
        {R"({"version": 1, "nodes": [{"hidden": tru}]})",
         "line 1, column 37: unexpected 't'; expected a value (true, false and null are written in full)"},
        {R"({"version": 1} {})", "line 1, column 16: unexpected '{' after the scene's value"},
        {R"({"version": 1, "nodes": [{"name": "a"},]})", "line 1, column 40: unexpected ']'; expected a value"},
    };
    for (const auto& c : cases) EXPECT_EQ(Refusal(c.text), std::string("scene.json: ") + c.error) << c.text;
    // Text that is not JSON speaks before a broken rule elsewhere, as does the version.
    EXPECT_EQ(Refusal(R"({"colour": 1, "version": 2})"), "scene.json: version: version 2 is not supported; expected 1");
    EXPECT_EQ(Refusal(R"({"version": 1, "colour": 1, "nodes": [})"),
              "scene.json: line 1, column 39: unexpected '}'; expected a value");
}

TEST(SceneFile, RefusesUnknownRepeatedAndMissingFields) {
    EXPECT_EQ(Refusal(R"({"version": 1, "nodes": [{"name": "a", "colour": 1}]})"),
              R"(scene.json: nodes[0].colour: unknown field "colour")");
    EXPECT_EQ(Refusal(R"({"version": 1, "nodes": [{}, {"children": [{"name": "a", "hidden": false, "name": "b"}]}]})"),
              R"(scene.json: nodes[1].children[0].name: the key "name" appears twice)");
    EXPECT_EQ(Refusal(R"({"version": 1, "version": 1})"), R"(scene.json: version: the key "version" appears twice)");
    EXPECT_EQ(Refusal(R"({"nodes": []})"), R"(scene.json: missing required field "version")");
    EXPECT_EQ(Refusal(OneNode(R"("object": {"mesh": {}})")),
              R"(scene.json: nodes[0].object: missing required field "kind")");
    EXPECT_EQ(Refusal(OneNode(R"("object": {"kind": "mesh"})")),
              R"(scene.json: nodes[0].object: missing required field "mesh")");
    EXPECT_EQ(Refusal(OneNode(R"("material": {"kind": "standard", "diffuse": {"kind": "bitmap"}})")),
              R"(scene.json: nodes[0].material.diffuse: missing required field "file")");
    EXPECT_EQ(Refusal(OneNode(R"("noteTracks": [[{"time": 3}]])")),
              R"(scene.json: nodes[0].noteTracks[0][0]: missing required field "text")");
    EXPECT_EQ(Refusal(R"({"version": 1, "animRange": {"start": 0}})"),
              R"(scene.json: animRange: missing required field "end")");
    EXPECT_EQ(Refusal(OneNode(R"("transform": {"keys": [{"value": [1,0,0,0,1,0,0,0,1,0,0,0]}]})")),
              R"(scene.json: nodes[0].transform.keys[0]: missing required field "time")");
    EXPECT_EQ(Refusal(R"({"version": 1, "images": {"x": {"width": 1, "pixels": [[0,0,0,0]]}}})"),
              R"(scene.json: images.x: missing required field "height")");
}

TEST(SceneFile, RefusesBadValues) {
    EXPECT_EQ(Refusal(R"({"version": 2})"), "scene.json: version: version 2 is not supported; expected 1");
    EXPECT_EQ(Refusal(R"({"version": 1.0})"),
              "scene.json: version: expected an integer written without fraction or exponent");
    EXPECT_EQ(Refusal(R"({"version": 1, "ticksPerFrame": 2e0})"),
              "scene.json: ticksPerFrame: expected an integer written without fraction or exponent");
    EXPECT_EQ(Refusal(R"({"version": 1, "ticksPerFrame": 0})"),
              "scene.json: ticksPerFrame: integer 0 is out of range 1 to 2147483647");
    EXPECT_EQ(Refusal(R"({"version": 1, "animRange": {"start": 0, "end": 2147483648}})"),
              "scene.json: animRange.end: integer 2147483648 is out of range -2147483648 to 2147483647");
    EXPECT_EQ(Refusal(R"({"version": 1, "animRange": {"start": 0, "end": 99999999999999999999999}})"),
              "scene.json: animRange.end: integer 99999999999999999999999 is out of range -2147483648 to 2147483647");
    EXPECT_EQ(Refusal(R"({"version": 1, "animRange": {"start": 5, "end": 4}})"),
              "scene.json: animRange.end: end 4 is below start 5");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0, 1e39, 0]])")),
              "scene.json: nodes[0].object.mesh.verts[0][1]: number 1e+39 is beyond the float range (its nearest float "
              "is infinite)");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0, 0, -1e400]])")),
              "scene.json: nodes[0].object.mesh.verts[0][2]: number -1e400 is beyond the float range (its nearest "
              "float is infinite)");
    EXPECT_EQ(Refusal(R"({"version": 1, "animRange": {"start": 1e400}})"),
              "scene.json: animRange.start: number 1e400 is beyond the float range (its nearest float is infinite)");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0, "1", 0]])")),
              "scene.json: nodes[0].object.mesh.verts[0][1]: expected a number, got a string");
    EXPECT_EQ(Refusal(OneNode(R"("hidden": 1)")), "scene.json: nodes[0].hidden: expected true or false, got a number");
    EXPECT_EQ(Refusal(OneNode(R"("transform": [1,0,0, 0,1,0, 0,0,1])")),
              "scene.json: nodes[0].transform: a matrix needs 12 numbers, got 9");
    EXPECT_EQ(
        Refusal(OneNode(R"("object": {"kind": "lamp"})")),
        R"(scene.json: nodes[0].object.kind: unknown object kind "lamp"; expected mesh, unconvertible, target, helper, camera or light)");
    EXPECT_EQ(Refusal(OneNode(R"("object": {"kind": "mesh", "convert": "move", "mesh": {}})")),
              R"(scene.json: nodes[0].object.convert: unknown convert mode "move"; expected copy, same or none)");
    EXPECT_EQ(Refusal(OneNode(R"("object": {"kind": "helper", "convert": "copy"})")),
              "scene.json: nodes[0].object.convert: only mesh objects take convert");
    EXPECT_EQ(Refusal(OneNode(R"("material": {"kind": "other", "diffuse": null})")),
              "scene.json: nodes[0].material.diffuse: only standard materials take a diffuse map");
    EXPECT_EQ(Refusal(OneNode(R"("material": {"kind": "standard", "diffuse": {"kind": "other", "file": "a.png"}})")),
              "scene.json: nodes[0].material.diffuse.file: only bitmap maps take a file");
}

TEST(SceneFile, RefusesBrokenMeshes) {
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]], "faces": [[0,1,2],[1,2,5]])")),
              "scene.json: nodes[0].object.mesh.faces[1][2]: index 5 is not below the vertex count 4");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0,0,0]], "faces": [[0,0,-1]])")),
              "scene.json: nodes[0].object.mesh.faces[0][2]: integer -1 is out of range 0 to 4294967295");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0,0,0]], "faces": [[0,0]])")),
              "scene.json: nodes[0].object.mesh.faces[0]: a face needs 3 indices, got 2");
    EXPECT_EQ(Refusal(OneMesh(R"("verts": [[0,0]])")),
              "scene.json: nodes[0].object.mesh.verts[0]: a vertex needs 3 numbers, got 2");
    EXPECT_EQ(Refusal(OneMesh(R"("tverts": [[0,0,0,0]])")),
              "scene.json: nodes[0].object.mesh.tverts[0]: a texture vertex needs 2 or 3 numbers, got 4");
    const std::string tri = R"("verts": [[0,0,0],[1,0,0],[0,1,0]], "faces": [[0,1,2],[2,1,0]], )";
    EXPECT_EQ(Refusal(OneMesh(tri + R"("tverts": [[0,0],[1,0],[0,1]], "tvfaces": [[0,1,2]])")),
              "scene.json: nodes[0].object.mesh.tvfaces: tvfaces has 1 entries but faces has 2");
    EXPECT_EQ(Refusal(OneMesh(tri + R"("tverts": [[0,0],[1,0],[0,1]], "tvfaces": [[0,1,2],[0,1,3]])")),
              "scene.json: nodes[0].object.mesh.tvfaces[1][2]: index 3 is not below the texture-vertex count 3");
    EXPECT_EQ(Refusal(OneMesh(tri + R"("tvfaces": [[0,0,0],[0,0,0]])")),
              "scene.json: nodes[0].object.mesh.tvfaces[0][0]: index 0 is not below the texture-vertex count 0");
    EXPECT_EQ(Refusal(OneMesh(tri + R"("tvfaces": [])")), "");  // no texture data at all is fine

    // Each key of a keyed mesh is checked on its own.
    EXPECT_EQ(Refusal(OneNode(R"("object": {"kind": "mesh", "mesh": {"keys": [
                {"time": 0, "value": {"verts": [[0,0,0]], "faces": [[0,0,0]]}},
                {"time": 1, "value": {"faces": [[0,0,0]]}}]}})")),
              "scene.json: nodes[0].object.mesh.keys[1].value.faces[0][0]: index 0 is not below the vertex count 0");
}

TEST(SceneFile, RefusesBadKeyedValues) {
    const std::string m = "[1,0,0, 0,1,0, 0,0,1, 0,0,0]";
    EXPECT_EQ(Refusal(OneNode(R"("transform": {"keys": []})")),
              "scene.json: nodes[0].transform.keys: a keyed value needs at least one key");
    EXPECT_EQ(Refusal(OneNode(R"("transform": {"keys": [{"time": 5, "value": )" + m + R"(}, {"time": 5, "value": )" +
                              m + "}]}")),
              "scene.json: nodes[0].transform.keys[1].time: key time 5 is not after the previous key's time 5");
    EXPECT_EQ(Refusal(OneNode(R"("transform": {"keys": [{"time": 5, "value": )" + m + R"(}, {"time": 4, "value": )" +
                              m + "}]}")),
              "scene.json: nodes[0].transform.keys[1].time: key time 4 is not after the previous key's time 5");
    const std::string keyedRule = "a keyed value is allowed only for a node's transform and a mesh object's mesh";
    EXPECT_EQ(Refusal(OneNode(R"("hidden": {"keys": [{"time": 0, "value": true}]})")),
              "scene.json: nodes[0].hidden: " + keyedRule);
    EXPECT_EQ(Refusal(OneNode(R"("material": {"keys": [{"time": 0, "value": {"kind": "other"}}]})")),
              "scene.json: nodes[0].material: " + keyedRule);
    EXPECT_EQ(Refusal(OneMesh(R"("verts": {"keys": [{"time": 0, "value": []}]})")),
              "scene.json: nodes[0].object.mesh.verts: " + keyedRule);
    // A keyed value's key holds a plain value, not another keyed one.
    EXPECT_EQ(Refusal(OneNode(R"("transform": {"keys": [{"time": 0, "value": {"keys": [{"time": 0, "value": )" + m +
                              "}]}}]}")),
              "scene.json: nodes[0].transform.keys[0].value: " + keyedRule);
}

TEST(SceneFile, RefusesBadImages) {
    auto image = [](const std::string& fields) {
        return R"({"version": 1, "images": {"skin.png": {)" + fields + "}}}";
    };
    EXPECT_EQ(Refusal(image(R"("width": 2, "height": 2, "pixels": [[0,0,0,0],[0,0,0,0],[0,0,0,0]])")),
              R"(scene.json: images["skin.png"].pixels: pixels has 3 entries; a 2 x 2 image needs 4)");
    EXPECT_EQ(Refusal(image(R"("width": 1, "height": 1, "pixels": [[0,0,0,0]], "fill": [0,0,0,0])")),
              R"(scene.json: images["skin.png"]: an image needs exactly one of pixels and fill)");
    EXPECT_EQ(Refusal(image(R"("width": 1, "height": 1)")),
              R"(scene.json: images["skin.png"]: an image needs exactly one of pixels and fill)");
    EXPECT_EQ(Refusal(image(R"("width": 1, "height": 1, "pixels": [[0,65536,0,0]])")),
              R"(scene.json: images["skin.png"].pixels[0][1]: integer 65536 is out of range 0 to 65535)");
    EXPECT_EQ(Refusal(image(R"("width": 1, "height": 1, "fill": [0,0,0])")),
              R"(scene.json: images["skin.png"].fill: a colour needs 4 channels (r, g, b, a), got 3)");
    EXPECT_EQ(Refusal(image(R"("width": 65536, "height": 1, "fill": [0,0,0,0])")),
              R"(scene.json: images["skin.png"].width: integer 65536 is out of range 0 to 65535)");
    EXPECT_EQ(Refusal(image(R"("width": 0, "height": 3, "pixels": [[0,0,0,0]])")),
              R"(scene.json: images["skin.png"].pixels: pixels has 1 entries; a 0 x 3 image needs 0)");
    EXPECT_EQ(
        Refusal(image(R"("width": 1, "height": 1, "pixels": [[0,0,0,1.0]])")),
        R"(scene.json: images["skin.png"].pixels[0][3]: expected an integer written without fraction or exponent)");
}

TEST(SceneFile, AnyImageNameIsAName) {
    // Image names are free text: one that happens to read "keys" is a picture,
    // not a keyed value.
    const SceneDocument doc =
        Load(R"({"version": 1, "images": {"keys": {"width": 1, "height": 1, "fill": [1, 2, 3, 4]}}})");
    ASSERT_EQ(doc.images.count("keys"), 1u);
    EXPECT_EQ(doc.images.at("keys").fill.a, 4);
}

TEST(SceneFile, RefusesNestingDeepEnoughToExhaustTheStack) {
    std::string deep = R"({"version": 1, "nodes": )";
    for (int k = 0; k < 5000; ++k) deep += '[';
    const std::string error = Refusal(deep);
    EXPECT_NE(error.find("nested deeper than"), std::string::npos) << error.substr(0, 200);
}

TEST(SceneFile, FailureLeavesTheDocumentAsItWas) {
    SceneDocument doc;
    doc.ticksPerFrame = 7;
    doc.nodes.resize(2);
    quorvex::scene::LoadError error;
    EXPECT_FALSE(
        ParseSceneText(R"({"version": 1, "ticksPerFrame": 9, "nodes": [{"name": 5}]})", "scene.json", doc, error));
    EXPECT_EQ(error.message, "scene.json: nodes[0].name: expected a string, got a number");
    EXPECT_EQ(doc.ticksPerFrame, 7);
    EXPECT_EQ(doc.nodes.size(), 2u);
}

TEST(SceneFile, FloatsAreTheNearestToTheirLiteral) {
    // Literals of many shapes, through the quick reading of vertices: each must
    // be the nearest double to its literal, then the nearest float to that.
    std::vector<std::string> literals = {"0.1",
                                         "-0",
                                         "-0.0",
                                         "-0e0",
                                         "1e22",
                                         "1e-22",
                                         "9007199254740993",
                                         "123456789012345678901",
                                         "0.30000000000000004",
                                         "1E+5",
                                         "4.5e-30",
                                         "16777217",
                                         "-16777219"};
    std::mt19937 random(21);
    const auto digits = [&](int count, bool leadingZero) {
        std::string out;
        for (int k = 0; k < count; ++k) out += char('0' + (k == 0 && !leadingZero ? 1 + random() % 9 : random() % 10));
        return out;
    };
    while (literals.size() < 3000) {
        std::string literal = random() % 2 ? "-" : "";
        literal += random() % 4 == 0 ? "0" : digits(1 + random() % 12, false);
        if (random() % 3) literal += "." + digits(1 + random() % 12, true);
        if (random() % 3 == 0) literal += "e" + std::to_string(int(random() % 56) - 30);
        literals.push_back(literal);
    }
    std::string verts;
    for (size_t k = 0; k < literals.size(); k += 3) {
        verts += (k ? ", [" : "[") + literals[k] + ", " + literals[k + 1] + ", " + literals[k + 2] + "]";
    }
    const SceneDocument doc = Load(OneMesh(R"("verts": [)" + verts + "]"));
    ASSERT_EQ(doc.nodes.size(), 1u);
    const std::vector<Point3>& read = doc.nodes[0].object->mesh.At(0).verts;
    ASSERT_EQ(read.size() * 3, literals.size());
    for (size_t k = 0; k < literals.size(); ++k) {
        const std::string& literal = literals[k];
        double nearest = 0.0;
        std::from_chars(literal.data(), literal.data() + literal.size(), nearest);
        // -0 written as an integer is plain 0.
        const bool integer = literal.find_first_of(".eE") == std::string::npos;
        const float expected = integer && nearest == 0.0 ? 0.0f : static_cast<float>(nearest);
        const Point3& p = read[k / 3];
        const float got = k % 3 == 0 ? p.x : k % 3 == 1 ? p.y : p.z;
        EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(expected)) << literal;
    }
}

TEST(SceneFile, KeysReadTheSameHoweverWritten) {
    // Members in another order or names written with escapes take the careful
    // way through a keyed transform; what it reads is the same.
    const std::string m = "[1,0,0, 0,1,0, 0,0,1, 0,0,2]";
    for (const std::string& keys :
         {R"({"time": 0, "value": )" + m + R"(}, {"time": 9, "value": )" + m + "}",
          R"({"value": )" + m + R"(, "time": 0}, { "t\u0069me" : 9 , "value" : )" + m + " }"}) {
        const SceneDocument doc = Load(OneNode(R"("transform": {"keys": [)" + keys + "]}"));
        ASSERT_EQ(doc.nodes.size(), 1u);
        const auto& read = doc.nodes[0].transform.keys;
        ASSERT_EQ(read.size(), 2u) << keys;
        EXPECT_EQ(read[1].time, 9);
        ExpectMatrix(read[1].value, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 2});
    }
}

TEST(SceneFile, RefusalsCarryTheirKind) {
    std::string deep = R"({"version": 1, "nodes": )";
    deep.append(5000, '[');
    std::string deepNodes = R"({"version": 1, "nodes": [)";
    for (int k = 0; k < 1100; ++k) deepNodes += R"({"children": [)";
    for (int k = 0; k < 1100; ++k) deepNodes += "]}";
    deepNodes += "]}";
    const auto image = [](const std::string& side) {
        return R"({"version": 1, "images": {"a": {"width": )" + side + R"(, "height": 1, "fill": [0,0,0,0]}}})";
    };
    const struct {
        const char* what;
        std::string text;
        LoadErrorKind kind;
    } cases[] = {
        {"text that is not JSON", R"({"version": 1,})", LoadErrorKind::Malformed},
        {"a broken rule", OneNode(R"("name": 5)"), LoadErrorKind::Malformed},
        {"another version", R"({"version": 2})", LoadErrorKind::Malformed},
        {"nesting past the limit", deep, LoadErrorKind::OverLimit},
        {"nodes nested past the limit", deepNodes, LoadErrorKind::OverLimit},
        {"a picture side past the limit", image("65536"), LoadErrorKind::OverLimit},
        {"a picture side far past the limit", image("100000000000000000000000"), LoadErrorKind::OverLimit},
        {"a negative picture side", image("-1"), LoadErrorKind::Malformed},
    };
    for (const auto& c : cases) {
        SceneDocument doc;
        LoadError error;
        EXPECT_FALSE(ParseSceneText(c.text, "scene.json", doc, error)) << c.what;
        EXPECT_EQ(error.kind, c.kind) << c.what << ": " << error.message.substr(0, 200);
    }
}

// The example in the user documentation must stay a scene that loads.
TEST(SceneFile, DocumentedExampleLoads) {
    std::ifstream docs(std::string(QUORVEX_SOURCE_DIR) + "/docs/scene-files.md");
    ASSERT_TRUE(docs.good());
    const std::string text((std::istreambuf_iterator<char>(docs)), std::istreambuf_iterator<char>());
    const size_t begin = text.find("```json\n");
    ASSERT_NE(begin, std::string::npos);
    const size_t end = text.find("```", begin + 8);
    ASSERT_NE(end, std::string::npos);
    const SceneDocument doc = Load(text.substr(begin + 8, end - begin - 8));
    ASSERT_EQ(doc.nodes.size(), 2u);
    EXPECT_EQ(doc.animRange.end, 320);
    EXPECT_EQ(doc.nodes[0].transform.At(200).row[3].z, 1.0f);
    EXPECT_EQ(doc.nodes[1].name, "FrameNames");
    EXPECT_EQ(doc.nodes[1].object->kind, ObjectKind::Helper);
}

class SceneFileOnDisk : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const std::filesystem::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    ScratchDir scratch_{"scene"};
    const std::filesystem::path& dir_ = scratch_.path;
};

TEST_F(SceneFileOnDisk, LoadsAndRemembersTheFolder) {
    const std::string path = Write("ship.scene.json", R"({"version": 1, "nodes": [{"name": "Hull"}]})");
    SceneDocument doc;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(LoadSceneFile(path, doc, error)) << error.message;
    EXPECT_EQ(doc.baseDir, dir_.string());
    ASSERT_EQ(doc.nodes.size(), 1u);
    EXPECT_EQ(doc.nodes[0].name, "Hull");
}

TEST_F(SceneFileOnDisk, NamesTheFileInEveryRefusal) {
    const std::string bad = Write("bad.json", R"({"version": 1, "nodes": [{"nmae": "Hull"}]})");
    SceneDocument doc;
    doc.ticksPerFrame = 3;
    quorvex::scene::LoadError error;
    EXPECT_FALSE(LoadSceneFile(bad, doc, error));
    EXPECT_EQ(error.message, bad + R"(: nodes[0].nmae: unknown field "nmae")");
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::Malformed);
    EXPECT_EQ(doc.ticksPerFrame, 3);
    EXPECT_EQ(doc.baseDir, "");

    const std::string missing = (dir_ / "missing.json").string();
    EXPECT_FALSE(LoadSceneFile(missing, doc, error));
    EXPECT_EQ(error.message.rfind(missing + ": cannot read the file: ", 0), 0u) << error.message;
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::Unreadable);

    EXPECT_FALSE(LoadSceneFile(dir_.string(), doc, error));  // a folder is no file
    EXPECT_EQ(error.message.rfind(dir_.string() + ": cannot read the file: ", 0), 0u) << error.message;
}

}  // namespace
}  // namespace quorvex::scene
