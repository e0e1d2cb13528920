// What an export of a scene document will hold, found without running it: the
// meshes the exporter's walk takes, their counts at the first exported frame,
// the pictures its texture table registers, and from these the exact size of
// the model file. The reductions use the same walk, so they change exactly the
// meshes and pictures the exporter would write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/SceneDocument.h"

namespace quorvex::budget {
using quorvex::scene::NodeData;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;


// The scene frames an export takes, first to last inclusive.
struct FrameSpan {
    int32_t first = 0;
    int32_t last = 0;
    int64_t Count() const { return int64_t(last) - first + 1; }
};

// The frames the options dialog offers for `document`: its animation range,
// each end truncated to a frame (a tick rate of 0 or below gives frame 0).
FrameSpan AnimationFrames(const SceneDocument& document);

// Host time of scene frame `frame`, wrapped to 32 bits as the exporter does.
TimeValue FrameTime(const SceneDocument& document, int64_t frame);

// One mesh node the exporter takes: visible, holding a mesh object that
// converts. `path` runs from a root child down to the node itself; pointers
// into the document, valid while its hierarchy is not changed.
struct ExportedMesh {
    std::vector<NodeData*> path;
    NodeData& Node() const { return *path.back(); }
};

// The exported mesh nodes in the exporter's walk order (a node before its
// children, children in order; hidden nodes are skipped but their children
// are not).
std::vector<ExportedMesh> ExportedMeshes(SceneDocument& document);

// The world transform of the mesh's node at `time`: each node's transform
// times its parent's, in the host's order.
Matrix3 WorldTransform(const ExportedMesh& mesh, TimeValue time);

// A picture as the texture table sees it: the first 255 bytes of the name are
// the slot's key; `picture` is null when it does not load (the exporter then
// registers 0 x 0). `users` lists the meshes (indices into the list given)
// whose material names it, under any of `names`.
struct PlannedPicture {
    std::vector<std::string> names;  // the full names materials use, first first
    const Picture* picture = nullptr;
    std::vector<size_t> users;
    int Width() const { return picture ? picture->width : 0; }
    int Height() const { return picture ? picture->height : 0; }
};

// The pictures of `meshes` in slot order, at most 64 (later names get no
// slot, as in the exporter). Pictures that are not in the document's images
// are loaded from files into `loaded` (which must outlive the result);
// `problems` gets one line per picture that does not load.
std::vector<PlannedPicture> PlannedPictures(const SceneDocument& document, const std::vector<ExportedMesh>& meshes,
                                            std::vector<std::unique_ptr<Picture>>& loaded,
                                            std::vector<std::string>& problems);

// Skin size for stacked pictures: the widest rounded up to a multiple of 8,
// and the heights added.
void StackedSkinSize(const std::vector<PlannedPicture>& pictures, int64_t& width, int64_t& height);

struct ModelPlan {
    int64_t vertices = 0;
    int64_t triangles = 0;
    int64_t texCoords = 0;
    int64_t frames = 0;
    int64_t skinWidth = 0;
    int64_t skinHeight = 0;
    int64_t pictures = 0;
};

// The counts the exporter will write for `document` over `span`.
ModelPlan PlanModel(SceneDocument& document, FrameSpan span);

// The model file's size in bytes for `plan` in the 16-bit (`hiPrecision`) or
// 8-bit variant: header, skin, texture coordinates, triangles and frames.
uint64_t ModelFileBytes(const ModelPlan& plan, bool hiPrecision);

}  // namespace quorvex::budget
