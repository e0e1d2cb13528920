#include "scene/SceneDocument.h"

#include <new>

namespace standin {

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

}  // namespace standin
