#include "model/Normals.h"

#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

// Each component divided by d. The three quotients are independent, correctly
// rounded single-precision divisions; with SSE they are taken in one
// instruction, which gives the same bits as three.
inline void DivideBy(ModelVec3& v, float d) {
#if defined(__SSE2__) || defined(_M_X64)
    alignas(16) float q[4];
    _mm_store_ps(q, _mm_div_ps(_mm_setr_ps(v.x, v.y, v.z, 0.0f), _mm_set1_ps(d)));
    v = ModelVec3{q[0], q[1], q[2]};
#else
    v.x = v.x / d;
    v.y = v.y / d;
    v.z = v.z / d;
#endif
}

inline void NormalizeInline(ModelVec3& v) {
    float len = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    if (len == 0.0f) {
        // A zero-area triangle has no direction; (0, 0, 0) adds nothing to its
        // corners, where dividing by zero would spread not-a-number.
        v = ModelVec3{};
        return;
    }
    DivideBy(v, len);
}

}  // namespace

ModelVec3 Cross(const ModelVec3& a, const ModelVec3& b) {
    return ModelVec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

void Normalize(ModelVec3& v) { NormalizeInline(v); }

void ComputeFrameNormals(ModelData* model, int32_t frameIndex) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* p = model->frames[frameIndex].positions;
    const int32_t vertexCount = model->vertexCount;
    ModelVec3* normals = model->normals;
    uint64_t* count = model->cornerCounts;
    for (int32_t j = 0; j < vertexCount; ++j) count[j] = 0;

    // Each vertex sums its corners' face normals in triangle order, corners 0,
    // 1, 2: each face normal is added to its corners as soon as it is known.
    for (int32_t t = 0; t < model->triangleCount; ++t) {
        ModelTriangle& tri = model->triangles[t];
        const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
        ModelVec3 n{};
        // An index past the vertex list has no position to read: the face
        // normal is (0, 0, 0), yet its corners within the list still count.
        if (i0 < vertexCount && i1 < vertexCount && i2 < vertexCount) {
            ModelVec3 e1{p[i1].x - p[i0].x, p[i1].y - p[i0].y, p[i1].z - p[i0].z};
            ModelVec3 e2{p[i2].x - p[i0].x, p[i2].y - p[i0].y, p[i2].z - p[i0].z};
            n = Cross(e1, e2);
            NormalizeInline(n);
        }
        tri.faceNormal = n;
        for (int c = 0; c < 3; ++c) {
            const int32_t j = tri.vertex[c];
            if (j >= vertexCount) continue;
            ModelVec3& sum = normals[j];
            if (count[j]++ == 0) sum = ModelVec3{};
            sum.x = sum.x + n.x;
            sum.y = sum.y + n.y;
            sum.z = sum.z + n.z;
        }
    }

    // Then the mean, normalized.
    for (int32_t j = 0; j < vertexCount; ++j) {
        const uint64_t c = count[j];
        if (c == 0) continue;  // unused: keeps its normal
        ModelVec3& v = normals[j];
        DivideBy(v, static_cast<float>(c));
        NormalizeInline(v);
    }
}
