#include "model/Normals.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace quorvex {

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

// Vertices `from` to `to` - 1 of `out` from their summed face normals: the
// mean of each vertex's corners, normalized; none for a vertex without one.
// Each sum read is set back to zero for the next frame.
void FinishVertexNormals(float* sums, int32_t from, int32_t to, FrameNormals& out) {
    for (int32_t v = from; v < to; ++v) {
        const float count = out.cornerCount[v];
        ModelVec3 n{};
        if (count != 0.0f) {
            n = ModelVec3{sums[4 * v], sums[4 * v + 1], sums[4 * v + 2]};
            DivideBy(n, count);
            NormalizeInline(n);
        }
        std::memset(sums + 4 * v, 0, 4 * sizeof(float));
        out.x[v] = n.x;
        out.y[v] = n.y;
        out.z[v] = n.z;
    }
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

FrameNormals* CreateFrameNormals(const ModelData* model) {
    if (!model || model->vertexCount < 0) return nullptr;
    auto* out = static_cast<FrameNormals*>(std::calloc(1, sizeof(FrameNormals)));
    if (!out) return nullptr;
    const size_t n = static_cast<size_t>(model->vertexCount);
    // sums, then cornerCount, x, y, z; 16 bytes of slack for the alignment.
    out->block = std::calloc(1, n * 8 * sizeof(float) + 16);
    if (!out->block) {
        std::free(out);
        return nullptr;
    }
    const uintptr_t at = (reinterpret_cast<uintptr_t>(out->block) + 15) & ~uintptr_t(15);
    out->vertexCount = model->vertexCount;
    out->sums = reinterpret_cast<float*>(at);
    out->cornerCount = out->sums + 4 * n;
    out->x = out->cornerCount + n;
    out->y = out->x + n;
    out->z = out->y + n;
    // Counted in 64 bits, as ComputeFrameNormals counts (in the room of the
    // sums), then turned into the float it divides by.
    uint64_t* counts = reinterpret_cast<uint64_t*>(out->sums);
    for (int32_t t = 0; t < model->triangleCount; ++t) {
        for (int c = 0; c < 3; ++c) {
            const int32_t j = model->triangles[t].vertex[c];
            if (j < model->vertexCount) ++counts[2 * j];
        }
    }
    for (size_t j = 0; j < n; ++j) out->cornerCount[j] = static_cast<float>(counts[2 * j]);
    std::memset(out->sums, 0, n * 4 * sizeof(float));
    return out;
}

void DestroyFrameNormals(FrameNormals* normals) {
    if (!normals) return;
    std::free(normals->block);
    std::free(normals);
}

#if defined(__SSE2__) || defined(_M_X64)

namespace {

// Position i as (x, y, z, 0), reading only its 12 bytes.
inline __m128 LoadPosition(const ModelVec3* p, int32_t i) {
    const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p[i].x)));
    return _mm_movelh_ps(xy, _mm_load_ss(&p[i].z));
}

inline void AddTo(float* sums, int32_t j, __m128 n) {
    float* sum = sums + 4 * j;
    _mm_store_ps(sum, _mm_add_ps(_mm_load_ps(sum), n));
}

// (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x, 0): Cross, lane by lane.
inline __m128 Cross4(__m128 a, __m128 b) {
    const __m128 ayzx = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 azxy = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 1, 0, 2));
    const __m128 byzx = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 bzxy = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 1, 0, 2));
    const __m128 xyz = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    return _mm_and_ps(_mm_sub_ps(_mm_mul_ps(ayzx, bzxy), _mm_mul_ps(azxy, byzx)), xyz);
}

// Normalize of lanes x, y, z: the length as (x*x + y*y) + z*z in that order.
inline __m128 Normalize4(__m128 n) {
    const __m128 sq = _mm_mul_ps(n, n);
    const __m128 sum = _mm_add_ss(_mm_add_ss(sq, _mm_shuffle_ps(sq, sq, 1)), _mm_movehl_ps(sq, sq));
    const __m128 len = _mm_sqrt_ss(sum);
    if (_mm_cvtss_f32(len) == 0.0f) return _mm_setzero_ps();
    return _mm_div_ps(n, _mm_shuffle_ps(len, len, 0));
}

// Face normals of triangles t..t+3, every corner within the list, added to
// their corners in triangle order: Cross4 and Normalize4 lane by lane, four
// triangles at a time (one square root and three divisions for the four).
inline void AddFourFaceNormals(const ModelTriangle* tri, const ModelVec3* p, float* sums) {
    __m128 e1[4], e2[4];
    for (int k = 0; k < 4; ++k) {
        const __m128 a = LoadPosition(p, tri[k].vertex[0]);
        e1[k] = _mm_sub_ps(LoadPosition(p, tri[k].vertex[1]), a);
        e2[k] = _mm_sub_ps(LoadPosition(p, tri[k].vertex[2]), a);
    }
    // Rows x, y, z (and the unused fourth) of the four triangles' edges.
    _MM_TRANSPOSE4_PS(e1[0], e1[1], e1[2], e1[3]);
    _MM_TRANSPOSE4_PS(e2[0], e2[1], e2[2], e2[3]);
    __m128 x = _mm_sub_ps(_mm_mul_ps(e1[1], e2[2]), _mm_mul_ps(e1[2], e2[1]));
    __m128 y = _mm_sub_ps(_mm_mul_ps(e1[2], e2[0]), _mm_mul_ps(e1[0], e2[2]));
    __m128 z = _mm_sub_ps(_mm_mul_ps(e1[0], e2[1]), _mm_mul_ps(e1[1], e2[0]));
    const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
    const __m128 keep = _mm_cmpneq_ps(len, _mm_setzero_ps());
    x = _mm_and_ps(_mm_div_ps(x, len), keep);
    y = _mm_and_ps(_mm_div_ps(y, len), keep);
    z = _mm_and_ps(_mm_div_ps(z, len), keep);
    __m128 w = _mm_setzero_ps();
    _MM_TRANSPOSE4_PS(x, y, z, w);
    const __m128 n[4] = {x, y, z, w};
    for (int k = 0; k < 4; ++k) {
        AddTo(sums, tri[k].vertex[0], n[k]);
        AddTo(sums, tri[k].vertex[1], n[k]);
        AddTo(sums, tri[k].vertex[2], n[k]);
    }
}

}  // namespace

void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* p = model->frames[frameIndex].positions;
    const int32_t vertexCount = model->vertexCount;
    float* sums = out.sums;  // all zero between frames

    // Face normals added to their corners in triangle order, as in
    // ComputeFrameNormals; a sum that starts at +0 gives the same bits as one
    // that starts at the first face normal.
    const ModelTriangle* triangles = model->triangles;
    for (int32_t t = 0; t < model->triangleCount;) {
        if (t + 4 <= model->triangleCount) {
            int32_t largest = 0;
            for (int k = 0; k < 4; ++k)
                for (int c = 0; c < 3; ++c)
                    largest = triangles[t + k].vertex[c] > largest ? triangles[t + k].vertex[c] : largest;
            if (largest < vertexCount) {
                AddFourFaceNormals(triangles + t, p, sums);
                t += 4;
                continue;
            }
        }
        const ModelTriangle& tri = triangles[t++];
        const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
        if (i0 < vertexCount && i1 < vertexCount && i2 < vertexCount) {
            const __m128 a = LoadPosition(p, i0);
            const __m128 n = Normalize4(Cross4(_mm_sub_ps(LoadPosition(p, i1), a), _mm_sub_ps(LoadPosition(p, i2), a)));
            AddTo(sums, i0, n);
            AddTo(sums, i1, n);
            AddTo(sums, i2, n);
            continue;
        }
        // A corner past the list: the face normal is (0, 0, 0), and it is
        // still added to the corners within the list (it turns a -0 sum into +0).
        for (int c = 0; c < 3; ++c) {
            if (tri.vertex[c] < vertexCount) AddTo(sums, tri.vertex[c], _mm_setzero_ps());
        }
    }

    // The mean, normalized, four vertices at a time; an unused vertex (no
    // corners) and a zero-length mean give (0, 0, 0).
    int32_t v = 0;
    for (; v + 4 <= vertexCount; v += 4) {
        __m128 x = _mm_load_ps(sums + 4 * v), y = _mm_load_ps(sums + 4 * v + 4);
        __m128 z = _mm_load_ps(sums + 4 * v + 8), w = _mm_load_ps(sums + 4 * v + 12);
        for (int k = 0; k < 4; ++k) _mm_store_ps(sums + 4 * v + 4 * k, _mm_setzero_ps());
        _MM_TRANSPOSE4_PS(x, y, z, w);
        const __m128 count = _mm_loadu_ps(out.cornerCount + v);
        x = _mm_div_ps(x, count);
        y = _mm_div_ps(y, count);
        z = _mm_div_ps(z, count);
        const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
        const __m128 zero = _mm_setzero_ps();
        const __m128 keep = _mm_andnot_ps(_mm_or_ps(_mm_cmpeq_ps(count, zero), _mm_cmpeq_ps(len, zero)),
                                          _mm_castsi128_ps(_mm_set1_epi32(-1)));
        _mm_storeu_ps(out.x + v, _mm_and_ps(_mm_div_ps(x, len), keep));
        _mm_storeu_ps(out.y + v, _mm_and_ps(_mm_div_ps(y, len), keep));
        _mm_storeu_ps(out.z + v, _mm_and_ps(_mm_div_ps(z, len), keep));
    }
    FinishVertexNormals(sums, v, vertexCount, out);
}

#else

void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* p = model->frames[frameIndex].positions;
    const int32_t vertexCount = model->vertexCount;
    float* sums = out.sums;  // all zero between frames
    for (int32_t t = 0; t < model->triangleCount; ++t) {
        const ModelTriangle& tri = model->triangles[t];
        const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
        ModelVec3 n{};
        if (i0 < vertexCount && i1 < vertexCount && i2 < vertexCount) {
            ModelVec3 e1{p[i1].x - p[i0].x, p[i1].y - p[i0].y, p[i1].z - p[i0].z};
            ModelVec3 e2{p[i2].x - p[i0].x, p[i2].y - p[i0].y, p[i2].z - p[i0].z};
            n = Cross(e1, e2);
            NormalizeInline(n);
        }
        for (int c = 0; c < 3; ++c) {
            const int32_t j = tri.vertex[c];
            if (j >= vertexCount) continue;
            float* sum = sums + 4 * j;
            sum[0] = sum[0] + n.x;
            sum[1] = sum[1] + n.y;
            sum[2] = sum[2] + n.z;
        }
    }
    FinishVertexNormals(sums, 0, vertexCount, out);
}

#endif

}  // namespace quorvex
