#include "scene/SceneMirror.h"

#include <array>
#include <cstdint>
#include <map>
#include <utility>

namespace quorvex::scene {

namespace {

float& Component(Point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

using FaceList = SharedList<std::array<uint32_t, 3>>;

// The rewound copy of each list met so far, by the storage of the original,
// so that keys sharing a list share its rewound copy too. The originals are
// kept alive here, so no storage of another list can take their place.
using Rewound = std::map<const void*, std::pair<FaceList, FaceList>>;

void RewindList(FaceList& list, Rewound& done) {
    const void* identity = list.Identity();
    if (!identity) return;
    auto found = done.find(identity);
    if (found == done.end()) {
        FaceList original = list;
        for (auto& face : list.Edit()) std::swap(face[1], face[2]);
        found = done.emplace(identity, std::make_pair(std::move(original), list)).first;
    }
    list = found->second.second;
}

void Rewind(std::vector<NodeData>& nodes, Rewound& done) {
    for (NodeData& node : nodes) {
        if (node.object && node.object->kind == ObjectKind::Mesh) {
            for (auto& key : node.object->mesh.keys) {
                RewindList(key.value.faces, done);
                RewindList(key.value.tvfaces, done);
            }
        }
        Rewind(node.children, done);
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
    Rewound done;
    Rewind(document.nodes, done);
}

}  // namespace quorvex::scene
