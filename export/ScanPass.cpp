#include <cstdint>
#include <cstdio>

#include "export/ExportState.h"
#include "export/ScenePasses.h"
#include "export/SceneWalk.h"

namespace quorvex {

namespace {

// Totals saturate instead of overflowing: a saturated total is far beyond
// every limit the driver checks, so the export is refused rather than sized
// from a wrapped count.
int32_t AddCount(int32_t total, int count) {
    int64_t sum = static_cast<int64_t>(total) + count;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

// Why the node cannot be exported, or null when it can.
const char* ScanFailure(INode* node, const Mesh& mesh) {
    Mtl* material = node->GetMtl();
    if (!material) return ": No Material";
    if (material->ClassID() != STANDARD_MTL_CLASS_ID) return ": Not Standard Material";
    if (!material->GetSubTexmap(1)) return ": No Texture Map";
    if (mesh.getNumTVerts() <= 0) return " No Mapping";
    return nullptr;
}

}  // namespace

bool ScanNode(ExportState& state, INode* node) {
    TriangleMeshHandle handle = MeshNodePreamble(state, node, Scan);
    if (!handle.object) return false;
    const Mesh& mesh = handle.object->GetMesh();

    if (const char* reason = ScanFailure(node, mesh)) {
        // Every failing node overwrites the message: the last one in walk
        // order is the one the user sees.
        char text[sizeof(state.errorText)];
        std::snprintf(text, sizeof(text), "%s%s", node->GetName(), reason);
        SetErrorText(state, text);
        state.errorFlag = 1;
        ReleaseTriangleMesh(handle);
        return false;
    }

    state.triangleTotal = AddCount(state.triangleTotal, mesh.getNumFaces());
    state.vertexTotal = AddCount(state.vertexTotal, mesh.getNumVerts());
    state.texCoordTotal = AddCount(state.texCoordTotal, mesh.getNumTVerts());
    ReleaseTriangleMesh(handle);
    return true;
}

}  // namespace quorvex
