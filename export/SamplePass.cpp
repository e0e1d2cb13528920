#include <cmath>
#include <cstdint>
#include <cstdio>

#include "export/ExportState.h"
#include "export/ScenePasses.h"
#include "export/SceneWalk.h"

namespace quorvex {

namespace {

void RefuseAtFrame(ExportState& state, INode* node, const char* what) {
    char text[sizeof(state.errorText)];
    std::snprintf(text, sizeof(text), "%s: %s at frame %lld", node->GetName(), what,
                  static_cast<long long>(state.currentFrame));
    RefuseOnce(state, text);
}

void RefuseChangedCount(ExportState& state, INode* node) { RefuseAtFrame(state, node, "Vertex count changes"); }

bool IsFinite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

}  // namespace

bool SampleNode(ExportState& state, INode* node) {
    // Once the export is refused the rest of the frame has nothing to add.
    if (state.errorFlag) return false;
    ModelData* model = state.model.get();
    if (!model) return false;
    TriangleMeshHandle handle = MeshNodePreamble(state, node, Sample);
    if (!handle.object) return false;
    const Mesh& mesh = handle.object->GetMesh();
    const int vertexCount = mesh.getNumVerts();

    // The gather walk fixed which meshes own which vertex numbers; a mesh met
    // out of that order, or with another count, would shift every later mesh.
    const size_t cursor = state.sampleCursor;
    if (cursor >= state.gatheredMeshes.size() || state.gatheredMeshes[cursor].node != node ||
        state.gatheredMeshes[cursor].vertexCount != vertexCount ||
        static_cast<int64_t>(state.vertexBase) + vertexCount > model->vertexCount || (vertexCount > 0 && !mesh.verts)) {
        RefuseChangedCount(state, node);
        ReleaseTriangleMesh(handle);
        return false;
    }

    const int64_t frame = state.currentFrame - state.options.startFrame;
    if (frame < 0 || frame >= model->frameCount) {
        ReleaseTriangleMesh(handle);
        return false;
    }
    ModelVec3* positions = model->frames[frame].positions + state.vertexBase;

    const Matrix3 toWorld = node->GetObjTMAfterWSM(state.evalTime, nullptr);
    for (int i = 0; i < vertexCount; ++i) {
        const Point3 world = mesh.verts[i] * toWorld;
        if (!IsFinite(world)) {
            // Quantization has no meaningful place for such a position.
            RefuseAtFrame(state, node, "Invalid vertex position");
            ReleaseTriangleMesh(handle);
            return false;
        }
        // The file's axes: world x becomes the file's y, world y its -x.
        positions[i] = ModelVec3{-world.y, world.x, world.z};
    }

    state.sampleCursor = cursor + 1;
    state.vertexBase += vertexCount;
    ReleaseTriangleMesh(handle);
    return true;
}

bool FinishSampleFrame(ExportState& state) {
    if (state.errorFlag) return false;
    if (state.sampleCursor < state.gatheredMeshes.size()) {
        // Meshes are met in gather order, so the first one not met is at the cursor.
        RefuseChangedCount(state, state.gatheredMeshes[state.sampleCursor].node);
        return false;
    }
    return true;
}

}  // namespace quorvex
