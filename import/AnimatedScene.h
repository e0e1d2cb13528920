// The common description of an animated scene that every interchange-format
// loader fills: nodes with their rest transforms, meshes with texture
// coordinates, skin weights and morph targets, skins, materials and animation
// clips with their interpolation, all in double precision and in the file's
// own units and axes. SceneEvaluator.h samples it into a SceneDocument.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "import/ReaderLimits.h"
#include "scene/LoadError.h"
#include "scene/SceneDocument.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::Picture;

struct Vec3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// A rotation quaternion; loaders need not normalise it, evaluation does.
struct Quatd {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;
};

// A 4x4 affine matrix for column vectors: p' = M p, m[row][column].
struct Mat4d {
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

Mat4d operator*(const Mat4d& a, const Mat4d& b);
Vec3d TransformPoint(const Mat4d& m, const Vec3d& p);
// T * R * S. The quaternion is normalised first; a zero quaternion is no rotation.
Mat4d ComposeTrs(const Vec3d& t, const Quatd& r, const Vec3d& s);
// The inverse of an affine matrix; nullopt when it is singular.
std::optional<Mat4d> InverseAffine(const Mat4d& m);

enum class Interpolation { Step, Linear, CubicSpline };
enum class TrackTarget { Translation, Rotation, Scale, Weights };

// One animated property of one node. Rotations interpolate spherically when
// Linear; cubic splines follow the Hermite form with per-key tangents.
struct AnimTrack {
    int node = -1;  // index into AnimatedScene::nodes
    TrackTarget target = TrackTarget::Translation;
    Interpolation interpolation = Interpolation::Linear;
    size_t width = 3;           // values per key: 3, 4 (x, y, z, w) or the morph target count
    std::vector<double> times;  // seconds, strictly increasing, at least one
    // Per key `width` values; for CubicSpline three groups per key: in-tangent,
    // value, out-tangent. So values.size() == times.size() * width (* 3).
    std::vector<double> values;
};

struct AnimClip {
    std::string name;
    bool madeUp = false;    // the file gave no name; `name` is the importer's own
    double duration = 0.0;  // seconds; the clip plays from 0 to duration
    std::vector<AnimTrack> tracks;
};

struct SkinInfluence {
    uint32_t joint = 0;  // index into the skin's joints
    double weight = 0.0;
};

// One triangle list with one material (a glTF primitive, an Assimp mesh).
struct AnimMesh {
    std::string name;
    std::vector<Vec3d> positions;
    // Empty, or one per position: the first texture-coordinate set with v
    // pointing up (the host's orientation).
    std::vector<std::array<double, 2>> uvs;
    std::vector<std::array<uint32_t, 3>> triangles;  // indices below positions.size()
    // Empty, or one list per position (every influence the file gives).
    std::vector<std::vector<SkinInfluence>> influences;
    // Morph targets: position deltas, each one per position.
    std::vector<std::vector<Vec3d>> morphTargets;
    std::vector<double> defaultWeights;  // may be shorter than morphTargets (missing: 0)
    int material = -1;                   // index into materials, -1: none
    // Empty, or one RGBA colour (0..1) per position: the first colour set,
    // already multiplied by the material's colour where the format says so.
    std::vector<std::array<double, 4>> colours;
};

struct AnimSkin {
    std::vector<int> joints;         // node indices
    std::vector<Mat4d> inverseBind;  // one per joint: mesh space to joint space at bind time
};

struct MeshInstance {
    int mesh = -1;  // index into meshes
    int skin = -1;  // index into skins, -1: not skinned
};

struct AnimNode {
    std::string name;
    int parent = -1;
    std::vector<int> children;  // in file order
    bool hidden = false;
    // The rest transform: `matrix` when the file gives one (such nodes are not
    // animated), otherwise translation * rotation * scale.
    std::optional<Mat4d> matrix;
    Vec3d translation;
    Quatd rotation;
    Vec3d scale{1.0, 1.0, 1.0};
    std::vector<MeshInstance> meshes;
    // Morph weights at rest for this node's meshes; empty: each mesh's own.
    std::vector<double> weights;
};

// How texture coordinates outside 0..1 address the picture.
enum class Wrap { Repeat, Mirror, Clamp };

struct AnimMaterial {
    std::string name;
    // The diffuse or base-colour picture: a key of AnimatedScene::pictures
    // (embedded pictures), or the file name as the file writes it (any
    // separators, relative to baseDir or absolute). Empty: no such texture.
    std::string diffuseMap;
    // Why an embedded picture could not be used (diffuseMap is then empty).
    std::string mapProblem;
    std::array<double, 4> colour{1.0, 1.0, 1.0, 1.0};  // diffuse / base colour, RGBA 0..1
    Wrap wrapU = Wrap::Repeat;
    Wrap wrapV = Wrap::Repeat;
};

struct AnimatedScene {
    std::vector<AnimNode> nodes;
    std::vector<int> roots;  // in file order
    std::vector<AnimMesh> meshes;
    std::vector<AnimSkin> skins;
    std::vector<AnimMaterial> materials;
    std::vector<AnimClip> clips;              // in file order
    std::map<std::string, Picture> pictures;  // pictures embedded in the file
    // Turns the file's axes into the host's Z-up axes (a rotation).
    Mat4d toZUp;
    std::string baseDir;  // the model file's folder
    // Primitives without a surface that the loader left out.
    size_t skippedPoints = 0;
    size_t skippedLines = 0;
    // What the loader changed or left out, one line each, without the file name.
    std::vector<std::string> warnings;
};

// How a loader treats the files a model names, and what a reader we did not
// write may take.
struct LoadSettings {
    // Files the model names (buffers, pictures, material libraries, anything
    // Assimp opens) are opened only when they lie inside the model's folder
    // (scene/FolderCheck.h). A buffer outside fails the load; anything else
    // outside is left unread with a warning naming it.
    bool secure = false;
    ReaderLimits limits = DefaultReaderLimits();
};

// Loads a .gltf or .glb file. False with `error` naming the file and the place.
bool LoadGltfScene(const std::string& path, AnimatedScene& out, LoadError& error, const LoadSettings& settings = {});
// Loads any other format Assimp reads. False with `error` naming the file.
// The files the model names beside itself are looked up as textures are
// (FindTextureFile); one that is not a regular file is not opened. Assimp
// reads in a process of its own within `settings.limits`
// (import/IsolatedRead.h), on a thread with a large stack, so a node tree tens
// of thousands of levels deep fits; blocks until done.
bool LoadAssimpScene(const std::string& path, AnimatedScene& out, LoadError& error, const LoadSettings& settings = {});
// The same read in this process, without the guard: a crash in Assimp ends
// the caller, and settings.limits do not apply. Only for measuring what the
// guard costs; everything else calls LoadAssimpScene.
bool LoadAssimpSceneUnguarded(const std::string& path, AnimatedScene& out, LoadError& error,
                              const LoadSettings& settings = {});
// For a loader's catch (...): sets `error` to why the exception in flight
// failed the load of `path` (NotEnoughMemory, or Malformed with the
// exception's own words) and gives false. Call only inside a catch block.
bool LoadFailure(const std::string& path, LoadError& error);

// The turn that stands a Y-up file upright: (x, y, z) becomes (x, -z, y).
Mat4d YUpToZUp();

// The folder of `path` ("" for a bare file name) and its last component.
std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);

}  // namespace quorvex::importer
