// Face and vertex normals of a model's frames, in single precision, in a fixed
// order of operations so that every build gives the same bits.
#pragma once

#include "model/ModelData.h"

namespace quorvex {

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

// Working storage for the vertex normals of one frame at a time, for one
// thread, so that several frames can be worked on at once. It holds what
// ComputeFrameNormals keeps in the model, laid out for vector arithmetic:
// per vertex a running sum (4 floats, 16-byte aligned), the number of
// triangle corners that name the vertex (a float; 0 for an unused vertex) and
// the resulting normal, one array per component.
struct FrameNormals {
    int32_t vertexCount;
    float* sums;         // 4 * vertexCount, aligned to 16 bytes; all zero between frames
    float* cornerCount;  // vertexCount
    float* x;            // vertexCount each: the normals of the frame last computed
    float* y;
    float* z;
    void* block;  // the one allocation behind the arrays
};

// Storage for `model`'s vertex count, the corner counts worked out from its
// triangles (which must not change while it is used) and every normal
// (0, 0, 0). Owned by the caller, released with DestroyFrameNormals. Null when
// memory runs out. About 32 bytes per vertex.
FrameNormals* CreateFrameNormals(const ModelData* model);
void DestroyFrameNormals(FrameNormals* normals);

// Frame `frameIndex`'s vertex normals into `out` (created for this model):
// bit for bit what ComputeFrameNormals leaves in model->normals, given that
// an unused vertex keeps (0, 0, 0). Reads only the frame's positions and the
// triangles' vertex indices, so frames may be computed on several threads at
// once, each with its own FrameNormals. An out-of-range frame changes nothing.
void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out);

}  // namespace quorvex
