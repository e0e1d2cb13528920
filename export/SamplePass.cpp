#include <cmath>
#include <cstdint>
#include <cstdio>

#include "export/ExportState.h"
#include "export/ScenePasses.h"
#include "export/SceneWalk.h"

namespace {

void RefuseAtFrame(INode* node, const char* what) {
    char text[sizeof(ErrorText)];
    std::snprintf(text, sizeof(text), "%s: %s at frame %lld", node->GetName(), what,
                  static_cast<long long>(currentFrame));
    RefuseOnce(text);
}

void RefuseChangedCount(INode* node) { RefuseAtFrame(node, "Vertex count changes"); }

bool IsFinite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

}  // namespace

bool SampleNode(ModelExporter& exporter, INode* node) {
    // Once the export is refused the rest of the frame has nothing to add.
    if (errorFlag) return false;
    ModelData* model = currentModel;
    if (!model) return false;
    TriangleMeshHandle handle = MeshNodePreamble(exporter, node, Sample);
    if (!handle.object) return false;
    const Mesh& mesh = handle.object->GetMesh();
    const int vertexCount = mesh.getNumVerts();

    // The gather walk fixed which meshes own which vertex numbers; a mesh met
    // out of that order, or with another count, would shift every later mesh.
    const size_t cursor = exporter.sampleCursor;
    if (cursor >= exporter.gatheredMeshes.size() || exporter.gatheredMeshes[cursor].node != node ||
        exporter.gatheredMeshes[cursor].vertexCount != vertexCount ||
        static_cast<int64_t>(exporter.vertexBase) + vertexCount > model->vertexCount ||
        (vertexCount > 0 && !mesh.verts)) {
        RefuseChangedCount(node);
        ReleaseTriangleMesh(handle);
        return false;
    }

    const int64_t frame = currentFrame - ExportOptions.startFrame;
    if (frame < 0 || frame >= model->frameCount) {
        ReleaseTriangleMesh(handle);
        return false;
    }
    ModelVec3* positions = model->frames[frame].positions + exporter.vertexBase;

    const Matrix3 toWorld = node->GetObjTMAfterWSM(exporter.evalTime, nullptr);
    for (int i = 0; i < vertexCount; ++i) {
        const Point3 world = mesh.verts[i] * toWorld;
        if (!IsFinite(world)) {
            // Quantization has no meaningful place for such a position.
            RefuseAtFrame(node, "Invalid vertex position");
            ReleaseTriangleMesh(handle);
            return false;
        }
        // The file's axes: world x becomes the file's y, world y its -x.
        positions[i] = ModelVec3{-world.y, world.x, world.z};
    }

    exporter.sampleCursor = cursor + 1;
    exporter.vertexBase += vertexCount;
    ReleaseTriangleMesh(handle);
    return true;
}

bool FinishSampleFrame(ModelExporter& exporter) {
    if (errorFlag) return false;
    if (exporter.sampleCursor < exporter.gatheredMeshes.size()) {
        // Meshes are met in gather order, so the first one not met is at the cursor.
        RefuseChangedCount(exporter.gatheredMeshes[exporter.sampleCursor].node);
        return false;
    }
    return true;
}
