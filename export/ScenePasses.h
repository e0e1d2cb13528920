// The node actions of the three walks. Each returns true when it did its work
// on the node; the walk ignores the result.
#pragma once

#include "export/ExportState.h"

namespace quorvex {

// Validates a visible mesh node and adds its counts to the totals; a failing
// node sets state.errorFlag and state.errorText ("<name>: No Material", ...).
bool ScanNode(ExportState& state, INode* node);

// Registers the mesh's texture, appends its texture coordinates and triangles
// to state.model and records the mesh in gatheredMeshes.
bool GatherNode(ExportState& state, INode* node);

// Stores the mesh's world positions, in the file's axes (-y, x, z), into model
// frame state.currentFrame - startFrame. Refuses (RefuseOnce) a mesh that differs
// from the gather walk's record or has a non-finite position.
bool SampleNode(ExportState& state, INode* node);

// After a frame's sample walk: refuses the export when a recorded mesh was not
// met. Returns false when the export is refused.
bool FinishSampleFrame(ExportState& state);

// Names frames from the first note track of a helper named "FrameNames".
void NameFramesFromNotes(ExportState& state, INode* node);

}  // namespace quorvex
