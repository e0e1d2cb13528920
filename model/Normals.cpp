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

}  // namespace

ModelVec3 Cross(const ModelVec3& a, const ModelVec3& b) {
    return ModelVec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

void Normalize(ModelVec3& v) { NormalizeInline(v); }

namespace {

// The unit normal of one triangle of positions `p`. An index past the vertex
// list has no position to read: the face normal is (0, 0, 0), yet its corners
// within the list still count.
inline ModelVec3 FaceNormal(const ModelVec3* p, int32_t vertexCount, const ModelTriangle& tri) {
    const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
    ModelVec3 n{};
    if (i0 < vertexCount && i1 < vertexCount && i2 < vertexCount) {
        ModelVec3 e1{p[i1].x - p[i0].x, p[i1].y - p[i0].y, p[i1].z - p[i0].z};
        ModelVec3 e2{p[i2].x - p[i0].x, p[i2].y - p[i0].y, p[i2].z - p[i0].z};
        n = Cross(e1, e2);
        NormalizeInline(n);
    }
    return n;
}

}  // namespace

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
        const ModelVec3 n = FaceNormal(p, vertexCount, tri);
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

namespace {

// Groups of vertices whose face normals are made before the groups are
// summed: small enough that the face normals they read are still in cache.
constexpr int32_t kChunkGroups = 64;

// Aligned to 16 bytes, zero-filled; released with std::free of *raw.
float* AlignedFloats(size_t count, void** raw) {
    *raw = std::calloc(1, count * sizeof(float) + 16);
    if (!*raw) return nullptr;
    return reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(*raw) + 15) & ~uintptr_t(15));
}

// What every thread's storage for one model shares: which triangles each
// vertex sums, and where their face normals sit in the ring.
bool MakeLayout(const ModelData* model, FrameNormals* out) {
    const int32_t vertexCount = model->vertexCount, triangleCount = model->triangleCount;
    const size_t groups = size_t(out->groupCount), padded = 4 * groups;
    const size_t chunks = (groups + kChunkGroups - 1) / kChunkGroups;
    out->groupRow = static_cast<size_t*>(std::calloc(groups + 1, sizeof(size_t)));
    out->chunkNeed = static_cast<int32_t*>(std::calloc(chunks + 1, sizeof(int32_t)));
    out->cornerCount = AlignedFloats(padded, &out->countBlock);
    auto* counts = static_cast<uint64_t*>(std::calloc(padded + 1, sizeof(uint64_t)));
    auto* firstNeed = static_cast<int32_t*>(std::malloc((chunks + 1) * sizeof(int32_t)));
    bool ok = out->groupRow && out->chunkNeed && out->cornerCount && counts && firstNeed;
    if (ok) {
        // Counted in 64 bits, as ComputeFrameNormals counts, then turned into
        // the float it divides by.
        const ModelTriangle* triangles = model->triangles;
        for (int32_t t = 0; t < triangleCount; ++t) {
            for (int c = 0; c < 3; ++c) {
                const int32_t j = triangles[t].vertex[c];
                if (j < vertexCount) ++counts[j];
            }
        }
        // A group's rows: as many as its most used vertex has corners.
        for (size_t g = 0; g < groups; ++g) {
            uint64_t rows = 0;
            for (size_t k = 0; k < 4; ++k) rows = counts[4 * g + k] > rows ? counts[4 * g + k] : rows;
            out->groupRow[g + 1] = out->groupRow[g] + size_t(rows);
        }
        for (size_t j = 0; j < padded; ++j) out->cornerCount[j] = static_cast<float>(counts[j]);
        const size_t entries = 4 * out->groupRow[groups];
        out->incidence = entries ? static_cast<uint32_t*>(std::malloc(entries * sizeof(uint32_t))) : nullptr;
        ok = !entries || out->incidence;
        if (ok) {
            // Each vertex's corners in triangle order (triangle numbers for now).
            for (size_t i = 0; i < entries; ++i) out->incidence[i] = UINT32_MAX;
            std::memset(counts, 0, (padded + 1) * sizeof(uint64_t));
            for (size_t c = 0; c <= chunks; ++c) firstNeed[c] = triangleCount;
            out->cornersInList = true;
            for (int32_t t = 0; t < triangleCount; ++t) {
                for (int c = 0; c < 3; ++c) {
                    const int32_t j = triangles[t].vertex[c];
                    if (j >= vertexCount) {
                        out->cornersInList = false;
                        continue;
                    }
                    out->incidence[4 * (out->groupRow[j / 4] + counts[j]++) + size_t(j % 4)] = uint32_t(t);
                    const size_t chunk = size_t(j / 4) / kChunkGroups;
                    if (t + 1 > out->chunkNeed[chunk]) out->chunkNeed[chunk] = t + 1;
                    if (t < firstNeed[chunk]) firstNeed[chunk] = t;
                }
            }
            // Face normals are made in triangle order up to what each run of
            // groups needs, into a ring: it must hold every face normal from
            // the first a run reads to the last made by then.
            int64_t made = 0, window = 4;
            for (size_t c = 0; c < chunks; ++c) {
                made = out->chunkNeed[c] > made ? out->chunkNeed[c] : made;
                if (made - firstNeed[c] > window) window = made - firstNeed[c];
            }
            uint32_t ring = 4;
            while (ring < window) ring *= 2;
            out->ringMask = ring - 1;
            // Slots in the ring, as byte offsets; the slot past it holds (0, 0,
            // 0) for the rows past a vertex's last corner.
            for (size_t i = 0; i < entries; ++i)
                out->incidence[i] = 16 * (out->incidence[i] == UINT32_MAX ? ring : out->incidence[i] & out->ringMask);
        }
    }
    std::free(counts);
    std::free(firstNeed);
    return ok;
}

}  // namespace

FrameNormals* CreateFrameNormals(const ModelData* model, const FrameNormals* sibling) {
    if (!model || model->vertexCount < 0 || model->triangleCount < 0) return nullptr;
    if (sibling && (sibling->vertexCount != model->vertexCount || sibling->triangleCount != model->triangleCount))
        return nullptr;
    auto* out = static_cast<FrameNormals*>(std::calloc(1, sizeof(FrameNormals)));
    if (!out) return nullptr;
    out->vertexCount = model->vertexCount;
    out->triangleCount = model->triangleCount;
    out->groupCount = int32_t((size_t(model->vertexCount) + 3) / 4);
    if (sibling) {
        out->borrowed = true;
        out->groupRow = sibling->groupRow;
        out->incidence = sibling->incidence;
        out->chunkNeed = sibling->chunkNeed;
        out->cornerCount = sibling->cornerCount;
        out->ringMask = sibling->ringMask;
        out->cornersInList = sibling->cornersInList;
    } else if (!MakeLayout(model, out)) {
        DestroyFrameNormals(out);
        return nullptr;
    }
    const size_t padded = 4 * size_t(out->groupCount);
    out->faceNormals = AlignedFloats(4 * (size_t(out->ringMask) + 2), &out->faceBlock);
    out->x = AlignedFloats(3 * padded, &out->normalBlock);
    if (!out->faceNormals || !out->x) {
        DestroyFrameNormals(out);
        return nullptr;
    }
    out->y = out->x + padded;
    out->z = out->y + padded;
    return out;
}

void DestroyFrameNormals(FrameNormals* normals) {
    if (!normals) return;
    std::free(normals->faceBlock);
    std::free(normals->normalBlock);
    if (!normals->borrowed) {
        std::free(normals->groupRow);
        std::free(normals->chunkNeed);
        std::free(normals->incidence);
        std::free(normals->countBlock);
    }
    std::free(normals);
}

#if defined(__SSE2__) || defined(_M_X64)

namespace {

// Position i as (x, y, z, whatever follows), in one load: the frame block's
// spare bytes make the fourth lane readable for the last position too. Every
// use leaves that lane out of its results.
inline __m128 LoadPosition(const ModelVec3* p, int32_t i) { return _mm_loadu_ps(&p[i].x); }

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

// Face normals of triangles first..first+3 (at tri), every corner within the
// list, as (x, y, z, 0) into their ring slots of fn: Cross4 and Normalize4
// lane by lane, four triangles at a time (one square root and three divisions
// for the four).
inline void FourFaceNormals(const ModelTriangle* tri, uint32_t first, uint32_t mask, const ModelVec3* p, float* fn) {
    __m128 e1[4], e2[4];
    for (int k = 0; k < 4; ++k) {
        const __m128 a = LoadPosition(p, tri[k].vertex[0]);
        e1[k] = _mm_sub_ps(LoadPosition(p, tri[k].vertex[1]), a);
        e2[k] = _mm_sub_ps(LoadPosition(p, tri[k].vertex[2]), a);
    }
    // Rows x, y, z (and the fourth, never read) of the four triangles' edges.
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
    _mm_store_ps(fn + 4 * size_t(first & mask), x);
    _mm_store_ps(fn + 4 * size_t((first + 1) & mask), y);
    _mm_store_ps(fn + 4 * size_t((first + 2) & mask), z);
    _mm_store_ps(fn + 4 * size_t((first + 3) & mask), w);
}

// Face normals of triangles from..to - 1 into their ring slots of fn (4
// floats each); a triangle with a corner past the list gets (0, 0, 0).
void FaceNormals(const ModelTriangle* triangles, int32_t from, int32_t to, const ModelVec3* p, int32_t vertexCount,
                 bool cornersInList, uint32_t mask, float* fn) {
    if (cornersInList) {
        for (; from + 4 <= to; from += 4) FourFaceNormals(triangles + from, uint32_t(from), mask, p, fn);
    }
    for (int32_t t = from; t < to;) {
        if (t + 4 <= to) {
            int32_t largest = 0;
            for (int k = 0; k < 4; ++k)
                for (int c = 0; c < 3; ++c)
                    largest = triangles[t + k].vertex[c] > largest ? triangles[t + k].vertex[c] : largest;
            if (largest < vertexCount) {
                FourFaceNormals(triangles + t, uint32_t(t), mask, p, fn);
                t += 4;
                continue;
            }
        }
        const ModelTriangle& tri = triangles[t];
        const int32_t i0 = tri.vertex[0], i1 = tri.vertex[1], i2 = tri.vertex[2];
        __m128 n = _mm_setzero_ps();
        if (i0 < vertexCount && i1 < vertexCount && i2 < vertexCount) {
            const __m128 a = LoadPosition(p, i0);
            n = Normalize4(Cross4(_mm_sub_ps(LoadPosition(p, i1), a), _mm_sub_ps(LoadPosition(p, i2), a)));
        }
        _mm_store_ps(fn + 4 * size_t(uint32_t(t) & mask), n);
        ++t;
    }
}

}  // namespace

void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* p = model->frames[frameIndex].positions;
    const float* fn = out.faceNormals;
    int32_t made = 0;  // face normals made so far, from the first triangle
    for (int32_t g = 0; g < out.groupCount; ++g) {
        if (g % kChunkGroups == 0 && out.chunkNeed[g / kChunkGroups] > made) {
            const int32_t need = out.chunkNeed[g / kChunkGroups];
            FaceNormals(model->triangles, made, need, p, model->vertexCount, out.cornersInList, out.ringMask,
                        out.faceNormals);
            made = need;
        }
        // Four vertices' sums of their corners' face normals in triangle
        // order, from +0 (which gives the bits a sum started at the first face
        // normal gives); a vertex with fewer corners adds the zero normal
        // after its last, which changes no sum (none is ever -0).
        __m128 s0 = _mm_setzero_ps(), s1 = s0, s2 = s0, s3 = s0;
        const uint32_t* row = out.incidence + 4 * out.groupRow[g];
        const uint32_t* end = out.incidence + 4 * out.groupRow[g + 1];
        const char* ring = reinterpret_cast<const char*>(fn);
        for (; row < end; row += 4) {
            s0 = _mm_add_ps(s0, _mm_load_ps(reinterpret_cast<const float*>(ring + row[0])));
            s1 = _mm_add_ps(s1, _mm_load_ps(reinterpret_cast<const float*>(ring + row[1])));
            s2 = _mm_add_ps(s2, _mm_load_ps(reinterpret_cast<const float*>(ring + row[2])));
            s3 = _mm_add_ps(s3, _mm_load_ps(reinterpret_cast<const float*>(ring + row[3])));
        }
        // The mean, normalized, as DivideBy then Normalize; an unused vertex
        // (no corners) and a zero-length mean give (0, 0, 0).
        _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
        const size_t v = 4 * size_t(g);
        const __m128 count = _mm_load_ps(out.cornerCount + v);
        const __m128 x = _mm_div_ps(s0, count), y = _mm_div_ps(s1, count), z = _mm_div_ps(s2, count);
        const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
        const __m128 zero = _mm_setzero_ps();
        const __m128 keep = _mm_andnot_ps(_mm_or_ps(_mm_cmpeq_ps(count, zero), _mm_cmpeq_ps(len, zero)),
                                          _mm_castsi128_ps(_mm_set1_epi32(-1)));
        _mm_store_ps(out.x + v, _mm_and_ps(_mm_div_ps(x, len), keep));
        _mm_store_ps(out.y + v, _mm_and_ps(_mm_div_ps(y, len), keep));
        _mm_store_ps(out.z + v, _mm_and_ps(_mm_div_ps(z, len), keep));
    }
}

#else

void ComputeFrameNormalsInto(const ModelData* model, int32_t frameIndex, FrameNormals& out) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* p = model->frames[frameIndex].positions;
    const int32_t vertexCount = model->vertexCount;
    float* fn = out.faceNormals;
    int32_t made = 0;
    for (int32_t g = 0; g < out.groupCount; ++g) {
        if (g % kChunkGroups == 0 && out.chunkNeed[g / kChunkGroups] > made) {
            for (const int32_t need = out.chunkNeed[g / kChunkGroups]; made < need; ++made) {
                const ModelVec3 n = FaceNormal(p, vertexCount, model->triangles[made]);
                float* slot = fn + 4 * size_t(uint32_t(made) & out.ringMask);
                slot[0] = n.x;
                slot[1] = n.y;
                slot[2] = n.z;
            }
        }
        for (size_t k = 0; k < 4; ++k) {
            const size_t v = 4 * size_t(g) + k;
            ModelVec3 n{};
            for (size_t r = out.groupRow[g]; r < out.groupRow[g + 1]; ++r) {
                const float* f = fn + out.incidence[4 * r + k] / 4;
                n = ModelVec3{n.x + f[0], n.y + f[1], n.z + f[2]};
            }
            if (out.cornerCount[v] != 0.0f) {
                DivideBy(n, out.cornerCount[v]);
                NormalizeInline(n);
            } else {
                n = ModelVec3{};
            }
            out.x[v] = n.x;
            out.y[v] = n.y;
            out.z[v] = n.z;
        }
    }
}

#endif

}  // namespace quorvex
