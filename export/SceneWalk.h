// The walk every pass shares: pre-order, depth-first, children in index order.
#pragma once

#include "export/ExportState.h"
#include "export/ModelExporter.h"

namespace quorvex {

// A triangle mesh taken from a node. When mustDelete is set the caller owns
// `object` and releases it with DeleteThis() once it has read the mesh.
struct TriangleMeshHandle {
    TriObject* object;  // null: no mesh
    bool mustDelete;
};

// Visits `node` and its whole subtree, running the action of `pass` on every
// node it applies to. Classification evaluates at time 0.
void WalkNode(ExportState& state, INode* node, ExportPass pass);

// The node's object at `time` as a triangle mesh.
TriangleMeshHandle GetTriangleMesh(INode* node, TimeValue time);

// Releases the handle's object when the caller owns it; clears the handle.
void ReleaseTriangleMesh(TriangleMeshHandle& handle);

// The steps the three mesh actions share: for Scan and Gather, evalTime is set
// to the start frame's time; then the node is evaluated at evalTime, must be a
// geometric object that is not a target, and is converted. Returns a handle
// with a null object when any step gives nothing.
TriangleMeshHandle MeshNodePreamble(ExportState& state, INode* node, ExportPass pass);

}  // namespace quorvex
