#include "scene/SceneMirror.h"

#include <utility>

namespace standin {

namespace {

float& Component(Point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

void Rewind(std::vector<NodeData>& nodes) {
    for (NodeData& node : nodes) {
        if (node.object && node.object->kind == ObjectKind::Mesh) {
            for (auto& key : node.object->mesh.keys) {
                for (auto& face : key.value.faces) std::swap(face[1], face[2]);
                for (auto& face : key.value.tvfaces) std::swap(face[1], face[2]);
            }
        }
        Rewind(node.children);
    }
}

}  // namespace

void MirrorScene(SceneDocument& document, int axis) {
    if (axis < 0 || axis > 2) return;
    // Points are rows, so the top nodes' transforms times the mirror move
    // every world position; the mirror negates one column, which is exact.
    for (NodeData& node : document.nodes)
        for (auto& key : node.transform.keys)
            for (Point3& row : key.value.row) Component(row, axis) = -Component(row, axis);
    Rewind(document.nodes);
}

}  // namespace standin
