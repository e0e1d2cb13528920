#include "export/SceneWalk.h"

#include <new>
#include <vector>

#include "export/ScenePasses.h"
#include "model/Numeric.h"

namespace quorvex {

namespace {

// The action of one node, judged by what the node evaluates to at time 0.
void VisitNode(ExportState& state, INode* node, ExportPass pass) {
    ObjectState evaluated = node->EvalWorldState(0, true);
    Object* obj = evaluated.obj;
    if (!obj) return;
    SClass_ID superClass = obj->SuperClassID();
    if (superClass == GEOMOBJECT_CLASS_ID) {
        if (node->IsHidden(0, false)) return;
        switch (pass) {
            case Scan: ScanNode(state, node); break;
            case Gather: GatherNode(state, node); break;
            case Sample: SampleNode(state, node); break;
            default: break;
        }
    } else if (superClass == HELPER_CLASS_ID && pass == Gather) {
        // Helpers name frames whether they are hidden or not: the naming helper
        // is usually hidden so that it does not clutter the viewports.
        NameFramesFromNotes(state, node);
    }
}

struct PendingNode {
    INode* node;
    int nextChild;
};

}  // namespace

void WalkNode(ExportState& state, INode* node, ExportPass pass) {
    if (!node) return;
    // An explicit stack instead of recursion, so that a scene file with a very
    // deep hierarchy cannot exhaust the call stack. The order is the recursive
    // one: a node before its children, children in index order, and the child
    // count asked again after every child.
    std::vector<PendingNode> stack;
    try {
        stack.reserve(32);
        VisitNode(state, node, pass);
        stack.push_back({node, 0});
        while (!stack.empty()) {
            PendingNode& top = stack.back();
            if (top.nextChild >= top.node->NumberOfChildren()) {
                stack.pop_back();
                continue;
            }
            INode* child = top.node->GetChildNode(top.nextChild++);
            if (!child) continue;
            VisitNode(state, child, pass);
            stack.push_back({child, 0});
        }
    } catch (const std::bad_alloc&) {
        // A walk that cannot finish would leave the model half filled.
        RefuseOnce(state, kNoMemoryText);
    }
}

TriangleMeshHandle GetTriangleMesh(INode* node, TimeValue time) {
    TriangleMeshHandle handle{nullptr, false};
    if (!node) return handle;
    Object* obj = node->EvalWorldState(time, true).obj;
    if (!obj) return handle;
    if (!obj->CanConvertToType(TRIOBJ_CLASS_ID)) return handle;
    Object* converted = obj->ConvertToType(time, TRIOBJ_CLASS_ID);
    if (!converted) return handle;
    bool owned = converted != obj;
    auto* tri = dynamic_cast<TriObject*>(converted);
    if (!tri) {
        // A conversion that does not give a triangle mesh has no mesh to read;
        // a copy made for us is still ours to release.
        if (owned) converted->DeleteThis();
        return handle;
    }
    handle.object = tri;
    handle.mustDelete = owned;
    return handle;
}

void ReleaseTriangleMesh(TriangleMeshHandle& handle) {
    if (handle.object && handle.mustDelete) handle.object->DeleteThis();
    handle.object = nullptr;
    handle.mustDelete = false;
}

TriangleMeshHandle MeshNodePreamble(ExportState& state, INode* node, ExportPass pass) {
    TriangleMeshHandle none{nullptr, false};
    if (!node) return none;
    if (pass == Scan || pass == Gather) {
        // Scan and gather see every mesh as it is at the first exported frame.
        int64_t ticks = static_cast<int64_t>(state.options.startFrame) * GetTicksPerFrame();
        state.evalTime = WrapToInt32(ticks);
    }
    Object* obj = node->EvalWorldState(state.evalTime, true).obj;
    if (!obj) return none;
    if (obj->SuperClassID() != GEOMOBJECT_CLASS_ID) return none;
    // Targets are geometric only so that they show in the viewports.
    if (obj->ClassID() == TARGET_CLASS_ID) return none;
    return GetTriangleMesh(node, state.evalTime);
}

}  // namespace quorvex
