// The fast nearest-normal search against the full scan, which defines it: the
// same index for every input, including ties, boundaries and junk.
#include "mdl/NormalTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "model/ModelData.h"
#include "model/Normals.h"

using namespace quorvex;

namespace {

// Debug and sanitizer builds run the same cases, fewer of them.
#ifdef NDEBUG
constexpr int kRounds = 1 << 19;
constexpr int kLatticeRounds = 16;
#else
constexpr int kRounds = 1 << 16;
constexpr int kLatticeRounds = 2;
#endif

struct Random {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t Bits() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 32);
    }
    float Uniform(float lo, float hi) { return lo + (hi - lo) * float(Bits() >> 8) * (1.0f / 16777216.0f); }
};

float FromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Counts disagreements, one at a time and in batches, and reports the first few.
struct Checker {
    int64_t checked = 0;
    int64_t wrong = 0;
    // 603 at a time: more than two of the batched search's blocks, and a
    // rest of three that goes one at a time.
    static constexpr int kBatch = 603;
    float batch[3][kBatch];
    int pending = 0;
    void Compare(float x, float y, float z, int fast, const char* way) {
        const int scan = NearestNormalIndexByScan(x, y, z);
        if (fast != scan && wrong++ < 5)
            ADD_FAILURE() << way << " (" << x << ", " << y << ", " << z << "): " << fast << " instead of " << scan;
    }
    void operator()(float x, float y, float z) {
        ++checked;
        Compare(x, y, z, NearestNormalIndex(x, y, z), "one");
        batch[0][pending] = x, batch[1][pending] = y, batch[2][pending] = z;
        if (++pending == kBatch) Flush();
    }
    void Flush() {
        uint8_t out[kBatch];
        NearestNormalIndices(batch[0], batch[1], batch[2], pending, out);
        for (int i = 0; i < pending; ++i) Compare(batch[0][i], batch[1][i], batch[2][i], out[i], "batch");
        pending = 0;
    }
    // The vector and its float neighbours, one step either way on every axis.
    void Around(float x, float y, float z) {
        const float inf = std::numeric_limits<float>::infinity();
        for (float a : {std::nextafter(x, -inf), x, std::nextafter(x, inf)})
            for (float b : {std::nextafter(y, -inf), y, std::nextafter(y, inf)})
                for (float c : {std::nextafter(z, -inf), z, std::nextafter(z, inf)}) (*this)(a, b, c);
    }
};

void CheckAgainstFullScan(Checker& check) {
    Random r;
    for (int i = 0; i < kRounds; ++i) {
        // Anywhere in and just around the unit cube.
        check(r.Uniform(-1.2f, 1.2f), r.Uniform(-1.2f, 1.2f), r.Uniform(-1.2f, 1.2f));
        // Unit vectors, normalized as the exporter normalizes them.
        ModelVec3 v{r.Uniform(-1, 1), r.Uniform(-1, 1), r.Uniform(-1, 1)};
        Normalize(v);
        check(v.x, v.y, v.z);
        // Raw bit patterns: junk, infinities, not-a-number, denormals ...
        check(FromBits(r.Bits()), FromBits(r.Bits()), FromBits(r.Bits()));
        // ... and with exponents that keep them near the unit cube.
        auto near = [&r] { return FromBits((r.Bits() & 0x807FFFFFu) | ((100u + r.Bits() % 28u) << 23)); };
        check(near(), near(), near());
    }

    // Near-ties: the midpoint of every pair of entries, as it is and
    // normalized, with its neighbours.
    for (int i = 0; i < kNormalTableSize; ++i) {
        for (int j = i + 1; j < kNormalTableSize; ++j) {
            const double* a = NormalTable[i];
            const double* b = NormalTable[j];
            ModelVec3 m{float((a[0] + b[0]) / 2), float((a[1] + b[1]) / 2), float((a[2] + b[2]) / 2)};
            check.Around(m.x, m.y, m.z);
            Normalize(m);
            check.Around(m.x, m.y, m.z);
        }
    }

    // Coordinates on a fine lattice (any cell boundary of a grid of 1/512
    // steps) and their neighbours, with the others random or completing a
    // unit vector.
    for (int k = -540; k <= 540; ++k) {
        const float c = float(k) / 512.0f;
        for (int n = 0; n < kLatticeRounds; ++n) {
            const float rest = std::sqrt(std::fmax(0.0f, 1.0f - c * c));
            const float angle = r.Uniform(0, 6.2831853f);
            const float u = rest * std::cos(angle), w = rest * std::sin(angle);
            check.Around(c, u, w);
            check.Around(u, c, w);
            check.Around(u, w, c);
            check.Around(c, r.Uniform(-1.1f, 1.1f), float(r.Bits() % 1081) / 512.0f - 1.0546875f);
        }
    }

    // Every entry scaled, from zero through unit length to far outside.
    const float scales[] = {0.0f,   -0.0f, 1e-30f, 1e-3f, 0.25f, 0.5f,  0.9f,  0.999f, 1.0f,
                            1.001f, 1.1f,  1.5f,   2.0f,  10.0f, 1e30f, -1.0f, -0.5f,  -2.0f};
    for (int i = 0; i < kNormalTableSize; ++i) {
        const double* t = NormalTable[i];
        for (float s : scales) check.Around(float(t[0]) * s, float(t[1]) * s, float(t[2]) * s);
    }

    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    for (float a : {0.0f, -0.0f, 1.0f, -1.0f, nan, inf, -inf, 1e-45f})
        for (float b : {0.0f, 1.0f, nan, -inf})
            for (float c : {0.0f, -1.0f, nan, inf}) check(a, b, c);
}

// Without the direction map, then with it (it stays for the rest of the process).
TEST(NormalTableTest, FastSearchAgreesWithFullScan) {
    Checker check;
    CheckAgainstFullScan(check);
    check.Flush();
    EXPECT_EQ(check.wrong, 0) << "of " << check.checked;
    EXPECT_GT(check.checked, int64_t(kRounds) * 4);
}

TEST(NormalTableTest, DirectionMapAgreesWithFullScan) {
    PrepareNearestNormalIndex();
    PrepareNearestNormalIndex();  // a second call changes nothing
    Checker check;
    CheckAgainstFullScan(check);
    // Unit vectors whose direction map coordinate lies on a cell boundary
    // (steps of 1/64 on every face, the faces' edges included), normalized
    // as the exporter normalizes them, and their neighbours.
    Random r;
    for (int k = 0; k <= 128; ++k) {
        const float u = float(k) / 64.0f - 1.0f;
        for (int n = 0; n < kLatticeRounds * 4; ++n) {
            const float v = r.Uniform(-1, 1), sign = n % 2 ? -1.0f : 1.0f;
            ModelVec3 p{sign, u, v};
            Normalize(p);
            for (const ModelVec3& q : {p, ModelVec3{p.y, p.x, p.z}, ModelVec3{p.z, p.y, p.x}, ModelVec3{p.y, p.z, p.x},
                                       ModelVec3{p.x, p.z, p.y}})
                check.Around(q.x, q.y, q.z);
        }
    }
    check.Flush();
    EXPECT_EQ(check.wrong, 0) << "of " << check.checked;
}

}  // namespace
