#include "import/NodeTree.h"

#include <algorithm>
#include <cstdint>

namespace quorvex::importer {

namespace {

enum class Mark : uint8_t { New, OnPath, Done };

TreeFault CycleFault(const std::vector<AnimNode>& nodes, int onCycle) {
    // Named by its lowest node, so the message does not depend on where the
    // search happened to enter the cycle.
    int lowest = onCycle;
    size_t length = 1;
    for (int n = nodes[onCycle].parent; n != onCycle; n = nodes[n].parent, ++length) lowest = std::min(lowest, n);
    const int parent = nodes[lowest].parent;
    return {"nodes[" + std::to_string(parent) + "].children",
            "node " + std::to_string(lowest) + " is also an ancestor of node " + std::to_string(parent) +
                ": the nodes form a cycle of " + std::to_string(length)};
}

}  // namespace

bool SettleNodeTree(std::vector<AnimNode>& nodes, TreeFault& fault, size_t maxDepth) {
    std::vector<Mark> mark(nodes.size(), Mark::New);
    std::vector<size_t> depth(nodes.size(), 0);
    std::vector<bool> hidden(nodes.size(), false);  // the node or an ancestor is hidden
    std::vector<int> path;
    for (size_t start = 0; start < nodes.size(); ++start) {
        // Up from `start` to the first node already settled (or past a root),
        // then settle the path from the top down.
        path.clear();
        int n = static_cast<int>(start);
        for (; n >= 0 && mark[n] == Mark::New; n = nodes[n].parent) {
            mark[n] = Mark::OnPath;
            path.push_back(n);
        }
        if (n >= 0 && mark[n] == Mark::OnPath) {
            fault = CycleFault(nodes, n);
            return false;
        }
        size_t level = n >= 0 ? depth[n] : 0;
        bool above = n >= 0 && hidden[n];
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (++level > maxDepth) {
                fault = {"nodes[" + std::to_string(*it) + "]",
                         "the node hierarchy is deeper than the limit of " + std::to_string(maxDepth) + " levels"};
                return false;
            }
            depth[*it] = level;
            above = above || nodes[*it].hidden;
            hidden[*it] = above;
            mark[*it] = Mark::Done;
        }
    }
    for (size_t k = 0; k < nodes.size(); ++k) nodes[k].hidden = hidden[k];
    return true;
}

}  // namespace quorvex::importer
