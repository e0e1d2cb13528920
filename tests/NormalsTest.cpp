#include "model/Normals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using namespace quorvex;

namespace {

void SetTriangle(ModelData* m, int t, uint16_t a, uint16_t b, uint16_t c) {
    m->triangles[t].vertex[0] = a;
    m->triangles[t].vertex[1] = b;
    m->triangles[t].vertex[2] = c;
}

bool SameBits(const ModelVec3& a, const ModelVec3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

#define EXPECT_VEC(v, ex, ey, ez)   \
    do {                            \
        EXPECT_FLOAT_EQ((v).x, ex); \
        EXPECT_FLOAT_EQ((v).y, ey); \
        EXPECT_FLOAT_EQ((v).z, ez); \
    } while (0)

TEST(NormalsTest, CrossAndNormalize) {
    ModelVec3 c = Cross(ModelVec3{1, 0, 0}, ModelVec3{0, 1, 0});
    EXPECT_VEC(c, 0, 0, 1);
    c = Cross(ModelVec3{2, 3, 4}, ModelVec3{5, 6, 7});
    EXPECT_VEC(c, -3, 6, -3);

    ModelVec3 v{3, 0, 4};
    Normalize(v);
    EXPECT_VEC(v, 0.6f, 0.0f, 0.8f);

    // Length zero, also when the squares underflow, gives (0, 0, 0), never
    // not-a-number or infinity.
    for (ModelVec3 zero : {ModelVec3{0, 0, 0}, ModelVec3{-0.0f, 0, 0}, ModelVec3{1e-30f, -1e-30f, 0}}) {
        Normalize(zero);
        EXPECT_EQ(zero.x, 0.0f);
        EXPECT_EQ(zero.y, 0.0f);
        EXPECT_EQ(zero.z, 0.0f);
    }
}

TEST(NormalsTest, FaceAndVertexNormalsOfSharedVertex) {
    // Vertex 0 is a corner of a triangle facing +x and one facing +y; vertex 4
    // belongs to no triangle.
    ModelPtr m(CreateModel(2, 5, 0, 1));
    ASSERT_TRUE(m);
    ModelVec3* p = m->frames[0].positions;
    p[0] = {0, 0, 0};
    p[1] = {0, 1, 0};
    p[2] = {0, 0, 1};
    p[3] = {1, 0, 0};
    p[4] = {7, 7, 7};
    m->normals[4] = {0.25f, 0.5f, 0.75f};
    SetTriangle(m.get(), 0, 0, 1, 2);
    SetTriangle(m.get(), 1, 0, 2, 3);

    ComputeFrameNormals(m.get(), 0);
    EXPECT_VEC(m->triangles[0].faceNormal, 1, 0, 0);
    EXPECT_VEC(m->triangles[1].faceNormal, 0, 1, 0);
    const ModelVec3* n = m->normals;
    EXPECT_VEC(n[0], 0.7071068f, 0.7071068f, 0.0f);
    EXPECT_VEC(n[1], 1, 0, 0);
    EXPECT_VEC(n[3], 0, 1, 0);
    EXPECT_VEC(n[4], 0.25f, 0.5f, 0.75f);  // unused: untouched
}

TEST(NormalsTest, FaceNormalFollowsCornerOrder) {
    ModelPtr m(CreateModel(2, 3, 0, 1));
    ASSERT_TRUE(m);
    ModelVec3* p = m->frames[0].positions;
    p[0] = {0, 0, 0};
    p[1] = {1, 0, 0};
    p[2] = {0, 1, 0};
    SetTriangle(m.get(), 0, 0, 1, 2);
    SetTriangle(m.get(), 1, 0, 2, 1);
    ComputeFrameNormals(m.get(), 0);
    EXPECT_VEC(m->triangles[0].faceNormal, 0, 0, 1);
    EXPECT_VEC(m->triangles[1].faceNormal, 0, 0, -1);
    // Opposite faces cancel: the vertex normal is (0, 0, 0), not not-a-number.
    for (int v = 0; v < 3; ++v) EXPECT_VEC(m->normals[v], 0, 0, 0);
}

TEST(NormalsTest, VertexNormalIsTheMeanOfItsCorners) {
    // Vertex 0 meets faces +x, +x, +y; the result does not depend on their order.
    const int orders[3][3] = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}};
    for (const auto& order : orders) {
        ModelPtr m(CreateModel(3, 4, 0, 1));
        ASSERT_TRUE(m);
        ModelVec3* p = m->frames[0].positions;
        p[0] = {0, 0, 0};
        p[1] = {0, 1, 0};
        p[2] = {0, 0, 1};
        p[3] = {1, 0, 0};
        SetTriangle(m.get(), order[0], 0, 1, 2);  // +x
        SetTriangle(m.get(), order[1], 0, 1, 2);  // +x again
        SetTriangle(m.get(), order[2], 0, 2, 3);  // +y
        ComputeFrameNormals(m.get(), 0);
        const ModelVec3& n = m->normals[0];
        EXPECT_NEAR(n.x, 0.894427f, 1e-6);
        EXPECT_NEAR(n.y, 0.447214f, 1e-6);
        EXPECT_EQ(n.z, 0.0f);
    }
}

TEST(NormalsTest, ZeroAreaTriangleAddsNothing) {
    // Triangle 0 has corners 1 and 2 at one position; triangle 1 faces +z.
    ModelPtr m(CreateModel(2, 5, 0, 1));
    ASSERT_TRUE(m);
    ModelVec3* p = m->frames[0].positions;
    p[0] = {0, 0, 0};
    p[1] = {2, 2, 2};
    p[2] = {2, 2, 2};
    p[3] = {1, 0, 0};
    p[4] = {0, 1, 0};
    SetTriangle(m.get(), 0, 0, 1, 2);
    SetTriangle(m.get(), 1, 0, 3, 4);
    ComputeFrameNormals(m.get(), 0);

    EXPECT_VEC(m->triangles[0].faceNormal, 0, 0, 0);
    const ModelVec3* n = m->normals;
    EXPECT_VEC(n[1], 0, 0, 0);
    EXPECT_VEC(n[2], 0, 0, 0);
    // Vertex 0 averages (0, 0, 0) and (0, 0, 1): still a unit normal.
    EXPECT_VEC(n[0], 0, 0, 1);
    for (int v = 0; v < 5; ++v) {
        EXPECT_FALSE(std::isnan(n[v].x) || std::isnan(n[v].y) || std::isnan(n[v].z));
    }
}

TEST(NormalsTest, WorkingNormalsAreThoseOfTheRequestedFrame) {
    ModelPtr m(CreateModel(1, 3, 0, 5));
    ASSERT_TRUE(m);
    for (int f = 0; f < 5; ++f) {
        ModelVec3* p = m->frames[f].positions;
        // Frame f lies in a plane facing +z for even frames, -z for odd ones.
        p[0] = {0, 0, float(f)};
        p[1] = {f % 2 ? 0.0f : 1.0f, f % 2 ? 1.0f : 0.0f, float(f)};
        p[2] = {f % 2 ? 1.0f : 0.0f, f % 2 ? 0.0f : 1.0f, float(f)};
    }
    SetTriangle(m.get(), 0, 0, 1, 2);

    // The working normals are those of the frame asked for.
    ComputeFrameNormals(m.get(), 3);
    EXPECT_VEC(m->triangles[0].faceNormal, 0, 0, -1);
    for (int v = 0; v < 3; ++v) EXPECT_VEC(m->normals[v], 0, 0, -1);
    ComputeFrameNormals(m.get(), 2);
    for (int v = 0; v < 3; ++v) EXPECT_VEC(m->normals[v], 0, 0, 1);
    // Out-of-range frames are ignored rather than read past the array.
    ComputeFrameNormals(m.get(), 5);
    ComputeFrameNormals(m.get(), -1);
    EXPECT_VEC(m->normals[0], 0, 0, 1);
}

TEST(NormalsTest, LargeModelMatchesPerVertexDefinition) {
    // Many vertices, with triangles that repeat corners or name a vertex past
    // the list, checked bit for bit against the per-vertex definition: every
    // triangle in order, corners 0, 1, 2.
    const int vertices = 9000, triangles = 1500;
    ModelPtr m(CreateModel(triangles, vertices, 0, 1));
    ASSERT_TRUE(m);
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int v = 0; v < vertices; ++v) {
        m->frames[0].positions[v] = {float(next() % 1000) / 7.0f, float(next() % 1000) / 3.0f,
                                     float(next() % 1000) / 11.0f};
    }
    for (int t = 0; t < triangles; ++t) {
        uint16_t a = uint16_t(next() % vertices), b = uint16_t(next() % vertices), c = uint16_t(next() % 40);
        if (t % 50 == 0) b = a;                       // a zero-area triangle now and then
        if (t % 97 == 0) c = uint16_t(vertices + t);  // a corner past the vertex list
        SetTriangle(m.get(), t, a, b, c);
    }
    ComputeFrameNormals(m.get(), 0);
    // A triangle with a corner past the list has no face normal; its other
    // corners still count it.
    EXPECT_TRUE(SameBits(m->triangles[97].faceNormal, ModelVec3{}));

    for (int j = 0; j < vertices; ++j) {
        ModelVec3 sum{};
        int count = 0;
        for (int t = 0; t < triangles; ++t) {
            for (int c = 0; c < 3; ++c) {
                if (m->triangles[t].vertex[c] != j) continue;
                const ModelVec3& fn = m->triangles[t].faceNormal;
                sum = {sum.x + fn.x, sum.y + fn.y, sum.z + fn.z};
                ++count;
            }
        }
        if (count == 0) {
            ASSERT_TRUE(SameBits(m->normals[j], ModelVec3{})) << j;
            continue;
        }
        sum = {sum.x / float(count), sum.y / float(count), sum.z / float(count)};
        Normalize(sum);
        ASSERT_TRUE(SameBits(m->normals[j], sum)) << j;
    }
}

// The per-thread normals agree bit for bit with the model's own, over
// meshes with shared, unused and out-of-list vertices, zero-area triangles,
// and coordinates whose products overflow or underflow.
TEST(NormalsTest, FrameNormalsMatchTheModelsOwn) {
    struct Case {
        int vertices, triangles;
        float scale;
    };
    const Case cases[] = {{9001, 1500, 1.0f}, {7, 9, 1.0f},       {4, 2, 1.0f},       {0, 3, 1.0f},
                          {503, 800, 1e30f},  {503, 800, 1e-25f}, {1024, 4000, 3e-3f}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.vertices);
        ModelPtr m(CreateModel(k.triangles, k.vertices, 0, 2));
        ASSERT_TRUE(m);
        uint32_t seed = 777u + uint32_t(k.vertices);
        auto next = [&seed]() {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        for (int f = 0; f < 2; ++f)
            for (int v = 0; v < k.vertices; ++v)
                m->frames[f].positions[v] = {k.scale * float(int(next() % 2001) - 1000) / 7.0f,
                                             k.scale * float(int(next() % 2001) - 1000) / 3.0f,
                                             k.scale * float(int(next() % 2001) - 1000) / 11.0f};
        const uint32_t span = uint32_t(k.vertices > 1 ? k.vertices - 1 : 1);  // the last vertex stays unused
        for (int t = 0; t < k.triangles; ++t) {
            uint16_t a = uint16_t(next() % span), b = uint16_t(next() % span), c = uint16_t(next() % span);
            if (t % 50 == 0) b = a;
            if (t % 97 == 5) c = uint16_t(k.vertices + t % 3);
            SetTriangle(m.get(), t, a, b, c);
        }
        FrameNormals* mine = CreateFrameNormals(m.get());
        ASSERT_NE(mine, nullptr);
        for (int f = 0; f < 2; ++f) {
            ComputeFrameNormals(m.get(), f);
            ComputeFrameNormalsInto(m.get(), f, *mine);
            for (int v = 0; v < k.vertices; ++v)
                ASSERT_TRUE(SameBits(m->normals[v], ModelVec3{mine->x[v], mine->y[v], mine->z[v]})) << f << " " << v;
        }
        DestroyFrameNormals(mine);
    }
}

// A grid whose triangles come row by row keeps few face normals in use at
// once, so their ring wraps many times a frame; storage that borrows another's
// layout gives the same normals. Once every corner within the list, once with a
// few past it.
TEST(NormalsTest, FrameNormalsOfALocalMeshThroughTheRing) {
    for (const bool stray : {false, true}) {
        constexpr int kSide = 80, kVertices = kSide * kSide, kTriangles = 2 * (kSide - 1) * (kSide - 1);
        ModelPtr m(CreateModel(kTriangles, kVertices, 0, 3));
        ASSERT_TRUE(m);
        for (int f = 0; f < 3; ++f)
            for (int v = 0; v < kVertices; ++v)
                m->frames[f].positions[v] = {
                    float(v % kSide), float(v / kSide),
                    std::sin(0.37f * float(v % kSide) + float(f)) * std::cos(0.11f * float(v))};
        int t = 0;
        for (int r = 0; r + 1 < kSide; ++r) {
            for (int c = 0; c + 1 < kSide; ++c) {
                const uint16_t a = uint16_t(r * kSide + c), b = uint16_t(a + 1), d = uint16_t(a + kSide);
                SetTriangle(m.get(), t, a, b, d);
                SetTriangle(m.get(), t + 1, b, uint16_t(d + 1), stray && t % 302 == 0 ? uint16_t(kVertices + 2) : d);
                t += 2;
            }
        }
        FrameNormals* first = CreateFrameNormals(m.get());
        ASSERT_NE(first, nullptr);
        FrameNormals* second = CreateFrameNormals(m.get(), first);
        ASSERT_NE(second, nullptr);
        EXPECT_LT(first->ringMask + 1, uint32_t(kTriangles) / 8);
        for (int f = 0; f < 3; ++f) {
            ComputeFrameNormals(m.get(), f);
            FrameNormals* mine = f % 2 ? second : first;
            ComputeFrameNormalsInto(m.get(), f, *mine);
            for (int v = 0; v < kVertices; ++v)
                ASSERT_TRUE(SameBits(m->normals[v], ModelVec3{mine->x[v], mine->y[v], mine->z[v]}))
                    << stray << " " << f << " " << v;
        }
        DestroyFrameNormals(second);
        DestroyFrameNormals(first);
    }
}

}  // namespace
