#include "scene/SceneDocument.h"

#include <cstring>
#include <new>

namespace quorvex::scene {

namespace {

template <class T>
void ShareIfSame(SharedList<T>& list, const SharedList<T>& before) {
    if (list.Identity() == before.Identity() || list.size() != before.size()) return;
    if (std::memcmp(list.data(), before.data(), list.size() * sizeof(T)) == 0) list = before;
}

}  // namespace

void ShareRepeatedTopology(Keyed<MeshData>& mesh) {
    for (size_t k = 1; k < mesh.keys.size(); ++k) {
        const MeshData& before = mesh.keys[k - 1].value;
        MeshData& key = mesh.keys[k].value;
        ShareIfSame(key.faces, before.faces);
        ShareIfSame(key.tverts, before.tverts);
        ShareIfSame(key.tvfaces, before.tvfaces);
    }
}

SceneDocument::~SceneDocument() {
    // Each node is detached from its children before it dies, so no node's
    // destruction reaches further than its own members.
    try {
        std::vector<NodeData> pending = std::move(nodes);
        while (!pending.empty()) {
            if (pending.back().children.empty()) {
                pending.pop_back();
                continue;
            }
            std::vector<NodeData> children = std::move(pending.back().children);
            pending.pop_back();
            for (NodeData& child : children) pending.push_back(std::move(child));
        }
    } catch (const std::bad_alloc&) {
        // What is left goes the ordinary way.
    }
}

}  // namespace quorvex::scene
