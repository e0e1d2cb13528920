// Face and vertex normals of a model's frames, in single precision, in a fixed
// order of operations so that every build gives the same bits.
#pragma once

#include <cstddef>
#include <cstdint>

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
// ComputeFrameNormals keeps in the model, laid out for vector arithmetic: for
// each group of four vertices the triangles whose corners name them, in
// triangle order, so that a vertex sums its corners without writing to memory
// in between, and the face normals those sums read, kept in a ring just large
// enough for the triangles in use at once. Arrays per vertex have room for a
// multiple of four.
struct FrameNormals {
    int32_t vertexCount;
    int32_t triangleCount;
    int32_t groupCount;  // (vertexCount + 3) / 4
    // The layout, the same for every thread (borrowed from a sibling, or owned):
    size_t* groupRow;     // groupCount + 1: group g's rows are groupRow[g] .. groupRow[g + 1] - 1
    uint32_t* incidence;  // 4 per row, one per vertex of the group: where in faceNormals a triangle's face
                          // normal sits, in bytes (16 per ring slot)
    int32_t* chunkNeed;   // per run of groups: how many triangles' face normals its sums read
    float* cornerCount;   // per vertex: the triangle corners that name it (0 for an unused vertex)
    uint32_t ringMask;    // ring slots - 1 (a power of two less one)
    bool cornersInList;   // every triangle's corners are within the vertex list
    bool borrowed;
    // This thread's own:
    float* faceNormals;  // 4 * (ringMask + 2), aligned to 16 bytes: triangle t in slot t & ringMask; the
                         // last slot stays (0, 0, 0, 0)
    float* x;            // per vertex each: the normals of the frame last computed
    float* y;
    float* z;
    void* faceBlock;  // the allocations behind the arrays
    void* normalBlock;
    void* countBlock;
};

// Storage for `model`'s vertex count, the layout worked out from its
// triangles (which must not change while it is used) and every normal
// (0, 0, 0). With `sibling` (storage for the same model) the layout is
// borrowed from it, which must then outlive this storage. Owned by the
// caller, released with DestroyFrameNormals. Null when memory runs out, or
// when the sibling's counts differ. About 12 bytes per vertex of its own, and
// 16 per vertex and 13 per triangle in the layout for meshes whose triangles
// come in a local order (each face normal in the ring is 16 bytes).
FrameNormals* CreateFrameNormals(const ModelData* model, const FrameNormals* sibling = nullptr);
void DestroyFrameNormals(FrameNormals* normals);

// Frame `frameIndex`'s vertex normals into `out` (created for this model):
// bit for bit what ComputeFrameNormals leaves in model->normals, given that
// an unused vertex keeps (0, 0, 0). The model must come from CreateModel,
// whose frames leave room to read a position as 16 bytes. Reads only the
// frame's positions and the triangles' vertex indices, so frames may be
// computed on several threads at once, each with its own FrameNormals. An
// out-of-range frame changes nothing.
void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out);

}  // namespace quorvex
