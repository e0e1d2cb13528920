// Short-hands for stating a stand-in scene in code, a few lines per scene:
//
//   SceneDocument doc = Scene({
//       MeshNode("Body", QuadMesh(), BitmapMaterial("skin.png")),
//       WithTransform(MeshNode("Arm", TriangleMesh(), BitmapMaterial("skin.png")), Translation(1, 0, 0)),
//       FrameNames({{0, "walk"}, {800, "run"}}),
//   }, 160, {0, 1600});
//   doc.images["skin.png"] = PlainPicture(4, 4, Rgba(65535, 0, 0));
//
// Every function returns a plain record, so a test can adjust any field
// afterwards (node.hidden = true, mesh.verts[0].x = 5, ...).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scene/SceneDocument.h"

namespace quorvex::testkit {
using quorvex::scene::Color64;
using quorvex::scene::ConvertMode;
using quorvex::scene::Keyed;
using quorvex::scene::MapData;
using quorvex::scene::MaterialData;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::NoteKeyData;
using quorvex::scene::ObjectData;
using quorvex::scene::ObjectKind;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;

// ---------------------------------------------------------------- matrices

// The matrix from its 12 values, row by row (x axis, y axis, z axis, translation).
Matrix3 MatrixOf(const std::array<float, 12>& values);
// Identity axes, translation (x, y, z).
Matrix3 Translation(float x, float y, float z);
// Axes scaled by (x, y, z), no translation.
Matrix3 Scaling(float x, float y, float z);
// A quarter turn about z (x axis -> y axis) with exact 0 / 1 entries, for
// rotations whose results a test can state exactly.
Matrix3 QuarterTurnZ();

// A transform with a key at each (time, matrix), in the order given; the times
// must increase strictly.
Keyed<Matrix3> KeyedTransform(std::initializer_list<std::pair<TimeValue, Matrix3>> keys);
// The same from a vector built in a loop.
Keyed<Matrix3> KeyedTransform(std::vector<std::pair<TimeValue, Matrix3>> keys);

// A keyed value (transform or mesh) with one key per frame: values[i] at
// frame firstFrame + i, that is at tick (firstFrame + i) x ticksPerFrame.
template <class T>
Keyed<T> EveryFrame(int32_t ticksPerFrame, std::vector<T> values, int32_t firstFrame = 0) {
    Keyed<T> keyed;
    for (size_t i = 0; i < values.size(); ++i) {
        const int64_t tick = (static_cast<int64_t>(firstFrame) + static_cast<int64_t>(i)) * ticksPerFrame;
        keyed.keys.push_back({static_cast<TimeValue>(tick), std::move(values[i])});
    }
    return keyed;
}

// ---------------------------------------------------------------- meshes

// One face (0, 1, 2) over (0,0,0), (1,0,0), (0,1,0), with texture vertices
// (0,0), (1,0), (0,1) and one texture face.
MeshData TriangleMesh();
// The same triangle without texture vertices or texture faces.
MeshData UntexturedTriangleMesh();
// The unit square in the z = 0 plane: verts (0,0,0), (1,0,0), (1,1,0), (0,1,0),
// faces (0,1,2) and (0,2,3), texture vertices the verts' (x, y) and texture
// faces equal to the faces.
MeshData QuadMesh();
// A unit sphere of `rings` x `segments` quads (rings >= 2, segments >= 3):
// one vertex per place, one at each pole, and (rings + 1) x (segments + 1)
// texture vertices with a seam where u wraps from 1 back to 0; 2 x rings x
// segments - 2 x segments triangles.
MeshData UvSphere(int rings, int segments);
// `mesh` with every vertex moved by (x, y, z) (texture vertices unchanged).
MeshData Moved(MeshData mesh, float x, float y, float z);
// A mesh with a key at each (time, mesh); the times must increase strictly.
Keyed<MeshData> KeyedMesh(std::vector<std::pair<TimeValue, MeshData>> keys);

// ---------------------------------------------------------------- objects

// A mesh object (super class 0x10) converting as `convert` says.
ObjectData MeshObject(MeshData mesh, ConvertMode convert = ConvertMode::Copy);
ObjectData MeshObject(Keyed<MeshData> mesh, ConvertMode convert = ConvertMode::Copy);
// An object of a kind without a mesh of its own (Unconvertible, Target,
// Helper, Camera, Light).
ObjectData ObjectOfKind(ObjectKind kind);

// ---------------------------------------------------------------- materials

MapData BitmapMap(std::string file);
MapData OtherMap();
// A standard material whose diffuse map is a bitmap map of `file`.
MaterialData BitmapMaterial(std::string file);
// A standard material with the given diffuse map (none: no diffuse map).
MaterialData StandardMaterial(std::optional<MapData> diffuse = std::nullopt);
// A material of another class: it has no diffuse map.
MaterialData OtherMaterial();

// ---------------------------------------------------------------- nodes

// A node holding a mesh object (converting by copy) and the material.
NodeData MeshNode(std::string name, MeshData mesh, std::optional<MaterialData> material);
// A node holding a mesh object with any keys and conversion mode.
NodeData MeshNode(std::string name, ObjectData object, std::optional<MaterialData> material);
// A node holding an object of `kind` (see ObjectOfKind), no material.
NodeData NodeOfKind(std::string name, ObjectKind kind);
// A node without object; evaluating it yields none.
NodeData EmptyNode(std::string name, std::vector<NodeData> children = {});
// A helper node with the given children.
NodeData HelperNode(std::string name, std::vector<NodeData> children = {});
// The helper node named "FrameNames" with one note track holding `keys` in the
// order given.
NodeData FrameNames(std::vector<NoteKeyData> keys);
// `node` with its transform replaced (plain or keyed).
NodeData WithTransform(NodeData node, Keyed<Matrix3> transform);
// `node` with `children` appended.
NodeData WithChildren(NodeData node, std::vector<NodeData> children);
// `node` marked hidden.
NodeData Hidden(NodeData node);

// ---------------------------------------------------------------- pictures

Color64 Rgba(uint16_t r, uint16_t g, uint16_t b, uint16_t a = 65535);
// A width x height picture of one colour, stored as that colour only.
Picture PlainPicture(uint16_t width, uint16_t height, Color64 colour);
// A picture from its pixels, row 0 (top) first; `pixels` must hold width x
// height entries.
Picture PixelPicture(uint16_t width, uint16_t height, std::vector<Color64> pixels);

// ---------------------------------------------------------------- scenes

// A document whose root children are `nodes`, with the given ticks per frame
// and animation range; no images, relative picture names against the working
// directory.
SceneDocument Scene(std::vector<NodeData> nodes, int32_t ticksPerFrame = 160, Interval animRange = {0, 0});

}  // namespace quorvex::testkit
