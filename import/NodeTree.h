// Checks on an imported node hierarchy before anything walks it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/AnimatedScene.h"

namespace quorvex::importer {

// The deepest parent chain an imported scene may have, a root being at depth
// 1. Every walk over the hierarchy is iterative, so this bounds the work a
// small file can ask for, not the stack; deeper files are refused naming it.
constexpr size_t kMaxNodeDepth = 1000000;

struct TreeFault {
    std::string where;  // "nodes[N]" or "nodes[N].children"
    std::string what;
};

// Takes the hierarchy from the nodes' parent links (every `parent` is -1 or
// a valid index, and each node's `children` names exactly the nodes whose
// parent it is). Refuses a node that is its own ancestor, naming the parent
// whose children list closes the cycle, and a chain deeper than `maxDepth`
// (kMaxNodeDepth but in tests). On success marks every descendant of a
// hidden node hidden (the host hides node by node). Linear in the node
// count, without recursion. On failure `nodes` is unchanged.
bool SettleNodeTree(std::vector<AnimNode>& nodes, TreeFault& fault, size_t maxDepth = kMaxNodeDepth);

}  // namespace quorvex::importer
