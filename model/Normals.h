// Face and vertex normals of a model's frames, in single precision, in a fixed
// order of operations so that every build gives the same bits.
#pragma once

#include "model/ModelData.h"

// (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x).
ModelVec3 Cross(const ModelVec3& a, const ModelVec3& b);

// In place: len = sqrt((x*x + y*y) + z*z), then each component divided by len.
// A vector of length exactly 0 becomes (0, 0, 0) instead of not-a-number.
void Normalize(ModelVec3& v);

// From the positions of frame `frameIndex` (0 <= frameIndex < frameCount):
// writes every triangle's faceNormal, that frame's vertex normals into
// model->normals and the corner counts into model->cornerCounts, in one pass
// over the triangles. A vertex no triangle uses keeps its entry in
// model->normals. An out-of-range frame changes nothing. Never allocates.
void ComputeFrameNormals(ModelData* model, int32_t frameIndex);
