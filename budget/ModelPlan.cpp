#include "budget/ModelPlan.h"

#include <algorithm>
#include <cstring>

#include "mdl/MdlFormat.h"
#include "scene/Pictures.h"

namespace quorvex::budget {
using quorvex::scene::ConvertMode;
using quorvex::scene::LoadPictureFile;
using quorvex::scene::MapData;
using quorvex::scene::MapKind;
using quorvex::scene::MaterialKind;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::ObjectData;
using quorvex::scene::ObjectKind;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;


namespace {

int32_t FrameOfTime(TimeValue ticks, int32_t ticksPerFrame) {
    return ticksPerFrame <= 0 ? 0 : static_cast<int32_t>(ticks / ticksPerFrame);
}

// The texture table compares names by their first 255 bytes.
std::string SlotKey(const std::string& name) { return name.substr(0, 255); }

const MapData* BitmapOf(const NodeData& node) {
    if (!node.material || node.material->kind != MaterialKind::Standard) return nullptr;
    const auto& diffuse = node.material->diffuse;
    if (!diffuse || diffuse->kind != MapKind::Bitmap || diffuse->file.empty()) return nullptr;
    return &*diffuse;
}

}  // namespace

FrameSpan AnimationFrames(const SceneDocument& document) {
    return {FrameOfTime(document.animRange.start, document.ticksPerFrame),
            FrameOfTime(document.animRange.end, document.ticksPerFrame)};
}

TimeValue FrameTime(const SceneDocument& document, int64_t frame) {
    return static_cast<TimeValue>(static_cast<uint32_t>(static_cast<uint64_t>(frame * document.ticksPerFrame)));
}

std::vector<ExportedMesh> ExportedMeshes(SceneDocument& document) {
    std::vector<ExportedMesh> out;
    // Without recursion, as the exporter walks: a deep hierarchy must not
    // exhaust the stack.
    struct Pending {
        std::vector<NodeData>* siblings;
        size_t next;
    };
    std::vector<Pending> stack{{&document.nodes, 0}};
    std::vector<NodeData*> path;
    while (!stack.empty()) {
        Pending& top = stack.back();
        if (top.next >= top.siblings->size()) {
            stack.pop_back();
            if (!path.empty()) path.pop_back();
            continue;
        }
        NodeData& node = (*top.siblings)[top.next++];
        path.push_back(&node);
        const ObjectData* object = node.object ? &*node.object : nullptr;
        if (!node.hidden && object && object->kind == ObjectKind::Mesh && object->convert != ConvertMode::None)
            out.push_back({path});
        stack.push_back({&node.children, 0});
    }
    return out;
}

Matrix3 WorldTransform(const ExportedMesh& mesh, TimeValue time) {
    Matrix3 world;
    for (const NodeData* node : mesh.path) world = node->transform.At(time) * world;
    return world;
}

std::vector<PlannedPicture> PlannedPictures(const SceneDocument& document, const std::vector<ExportedMesh>& meshes,
                                            std::vector<std::unique_ptr<Picture>>& loaded,
                                            std::vector<std::string>& problems) {
    std::vector<PlannedPicture> out;
    std::vector<std::string> keys;
    for (size_t m = 0; m < meshes.size(); ++m) {
        const MapData* map = BitmapOf(meshes[m].Node());
        if (!map) continue;
        const std::string key = SlotKey(map->file);
        auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            if (keys.size() == 64) continue;  // the table is full: no slot, no picture
            keys.push_back(key);
            PlannedPicture planned;
            planned.names.push_back(map->file);
            if (auto image = document.images.find(map->file); image != document.images.end()) {
                planned.picture = &image->second;
            } else {
                std::string path = map->file;
                if (path.front() != '/' && !document.baseDir.empty())
                    path = document.baseDir + (document.baseDir.back() == '/' ? "" : "/") + path;
                auto picture = std::make_unique<Picture>();
                std::string error;
                if (LoadPictureFile(path, *picture, error)) {
                    planned.picture = picture.get();
                    loaded.push_back(std::move(picture));
                } else {
                    problems.push_back(error);
                }
            }
            out.push_back(std::move(planned));
            found = keys.end() - 1;
        }
        PlannedPicture& planned = out[static_cast<size_t>(found - keys.begin())];
        if (std::find(planned.names.begin(), planned.names.end(), map->file) == planned.names.end())
            planned.names.push_back(map->file);
        planned.users.push_back(m);
    }
    return out;
}

void StackedSkinSize(const std::vector<PlannedPicture>& pictures, int64_t& width, int64_t& height) {
    int64_t widest = 0;
    height = 0;
    for (const PlannedPicture& p : pictures) {
        widest = std::max<int64_t>(widest, p.Width());
        height += p.Height();
    }
    width = (widest + 7) / 8 * 8;
}

ModelPlan PlanModel(SceneDocument& document, FrameSpan span) {
    ModelPlan plan;
    const std::vector<ExportedMesh> meshes = ExportedMeshes(document);
    const TimeValue start = FrameTime(document, span.first);
    for (const ExportedMesh& mesh : meshes) {
        const MeshData& data = mesh.Node().object->mesh.At(start);
        plan.vertices += static_cast<int64_t>(data.verts.size());
        plan.triangles += static_cast<int64_t>(data.faces.size());
        plan.texCoords += static_cast<int64_t>(data.tverts.size());
    }
    plan.frames = std::max<int64_t>(0, span.Count());
    std::vector<std::unique_ptr<Picture>> loaded;
    std::vector<std::string> problems;
    const std::vector<PlannedPicture> pictures = PlannedPictures(document, meshes, loaded, problems);
    StackedSkinSize(pictures, plan.skinWidth, plan.skinHeight);
    plan.pictures = static_cast<int64_t>(pictures.size());
    return plan;
}

uint64_t ModelFileBytes(const ModelPlan& plan, bool hiPrecision) {
    using namespace quorvex;
    const int32_t vertices = static_cast<int32_t>(std::min<int64_t>(plan.vertices, INT32_MAX));
    return kMdlHeaderSize + kMdlSkinTypeSize +
           kMdlSkinPixelSize * static_cast<uint64_t>(plan.skinWidth) * static_cast<uint64_t>(plan.skinHeight) +
           kMdlTexCoordSize * static_cast<uint64_t>(plan.texCoords) +
           kMdlTriangleSize * static_cast<uint64_t>(plan.triangles) +
           static_cast<uint64_t>(plan.frames) * MdlFrameSize(hiPrecision, vertices);
}

}  // namespace quorvex::budget
