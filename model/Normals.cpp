#include "model/Normals.h"

#include <cmath>

namespace {

// Vertices whose corner counts are gathered per pass over the triangles. The
// counts live on the stack, so computing normals never allocates and cannot
// fail; triangle indices are 16 bits wide, so at most 65536 / this many passes.
constexpr int32_t VerticesPerPass = 4096;

}  // namespace

ModelVec3 Cross(const ModelVec3& a, const ModelVec3& b) {
    return ModelVec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

void Normalize(ModelVec3& v) {
    float len = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    if (len == 0.0f) {
        // A zero-area triangle has no direction; (0, 0, 0) adds nothing to its
        // corners, where dividing by zero would spread not-a-number.
        v = ModelVec3{};
        return;
    }
    v.x = v.x / len;
    v.y = v.y / len;
    v.z = v.z / len;
}

void ComputeFrameNormals(ModelData* model, int32_t frameIndex) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    ModelFrame& frame = model->frames[frameIndex];
    const ModelVec3* p = frame.positions;
    const int32_t vertexCount = model->vertexCount;

    for (int32_t t = 0; t < model->triangleCount; ++t) {
        ModelTriangle& tri = model->triangles[t];
        const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
        if (i0 >= vertexCount || i1 >= vertexCount || i2 >= vertexCount) {
            // An index past the vertex list has no position to read.
            tri.faceNormal = ModelVec3{};
            continue;
        }
        ModelVec3 e1{p[i1].x - p[i0].x, p[i1].y - p[i0].y, p[i1].z - p[i0].z};
        ModelVec3 e2{p[i2].x - p[i0].x, p[i2].y - p[i0].y, p[i2].z - p[i0].z};
        ModelVec3 n = Cross(e1, e2);
        Normalize(n);
        tri.faceNormal = n;
    }

    // Each vertex sums its corners' face normals in triangle order, corners 0,
    // 1, 2, then takes the mean and normalizes it. One pass over the triangles
    // per block of vertices adds the same terms in the same order.
    ModelVec3* normals = frame.normals;
    uint64_t count[VerticesPerPass];
    for (int32_t base = 0; base < vertexCount && base <= UINT16_MAX; base += VerticesPerPass) {
        const int32_t end = vertexCount - base < VerticesPerPass ? vertexCount : base + VerticesPerPass;
        for (int32_t j = 0; j < end - base; ++j) count[j] = 0;

        for (int32_t t = 0; t < model->triangleCount; ++t) {
            const ModelTriangle& tri = model->triangles[t];
            for (int c = 0; c < 3; ++c) {
                const int32_t j = tri.vertex[c];
                if (j < base || j >= end) continue;
                ModelVec3& sum = normals[j];
                if (count[j - base]++ == 0) sum = ModelVec3{};
                sum.x = sum.x + tri.faceNormal.x;
                sum.y = sum.y + tri.faceNormal.y;
                sum.z = sum.z + tri.faceNormal.z;
            }
        }

        for (int32_t j = base; j < end; ++j) {
            const uint64_t n = count[j - base];
            if (n == 0) continue;  // unused: keeps its normal
            ModelVec3& v = normals[j];
            const float divisor = static_cast<float>(n);
            v.x = v.x / divisor;
            v.y = v.y / divisor;
            v.z = v.z / divisor;
            Normalize(v);
        }
    }
}
