// The node actions of the three walks. Each returns true when it did its work
// on the node; the walk ignores the result.
#pragma once

#include "export/ModelExporter.h"

// Validates a visible mesh node and adds its counts to the totals; a failing
// node sets errorFlag and ErrorText ("<name>: No Material", ...).
bool ScanNode(ModelExporter& exporter, INode* node);

// Registers the mesh's texture, appends its texture coordinates and triangles
// to currentModel and records the mesh in gatheredMeshes.
bool GatherNode(ModelExporter& exporter, INode* node);

// Stores the mesh's world positions, in the file's axes (-y, x, z), into model
// frame currentFrame - startFrame. Refuses (RefuseOnce) a mesh that differs
// from the gather walk's record or has a non-finite position.
bool SampleNode(ModelExporter& exporter, INode* node);

// After a frame's sample walk: refuses the export when a recorded mesh was not
// met. Returns false when the export is refused.
bool FinishSampleFrame(ModelExporter& exporter);

// Names frames from the first note track of a helper named "FrameNames".
void NameFramesFromNotes(ModelExporter& exporter, INode* node);
