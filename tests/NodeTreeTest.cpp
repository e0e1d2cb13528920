#include "import/NodeTree.h"

#include <gtest/gtest.h>

using quorvex::importer::AnimNode;
using quorvex::importer::SettleNodeTree;
using quorvex::importer::TreeFault;

using namespace quorvex::importer;

namespace {

// Nodes linked by parent index (-1: a root), with matching children lists.
std::vector<AnimNode> Linked(const std::vector<int>& parents) {
    std::vector<AnimNode> nodes(parents.size());
    for (size_t n = 0; n < parents.size(); ++n) {
        nodes[n].parent = parents[n];
        if (parents[n] >= 0) nodes[parents[n]].children.push_back(static_cast<int>(n));
    }
    return nodes;
}

}  // namespace

// Hiding reaches every descendant whatever the order nodes are listed in; a
// chain beyond the limit is refused at its first node too deep.
TEST(NodeTree, HidesDescendantsAndRefusesChainsBeyondTheLimit) {
    std::vector<AnimNode> nodes = Linked({3, 0, -1, 2, 1});  // 2 -> 3 -> 0 -> 1 -> 4
    nodes[3].hidden = true;
    TreeFault fault;
    ASSERT_TRUE(SettleNodeTree(nodes, fault, 5));
    const bool expected[] = {true, true, false, true, true};
    for (size_t n = 0; n < nodes.size(); ++n) EXPECT_EQ(nodes[n].hidden, expected[n]) << n;

    nodes = Linked({3, 0, -1, 2, 1});
    EXPECT_FALSE(SettleNodeTree(nodes, fault, 4));
    EXPECT_EQ(fault.where, "nodes[4]");
    EXPECT_EQ(fault.what, "the node hierarchy is deeper than the limit of 4 levels");
    EXPECT_FALSE(nodes[4].hidden);
}
