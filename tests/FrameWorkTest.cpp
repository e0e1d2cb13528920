#include "export/FrameWork.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mdl/MdlFileWriter.h"
#include "model/Normals.h"

using namespace quorvex;

namespace {

// A model of `frames` frames of a wavy grid, with a zero-area triangle, an
// unused vertex and equal extremes of opposite zeros in different frames.
ModelPtr WavyModel(int frames) {
    const int side = 13, vertices = side * side + 1, triangles = 2 * (side - 1) * (side - 1) + 1;
    ModelPtr m(CreateModel(triangles, vertices, 0, frames));
    int t = 0;
    for (int r = 0; r + 1 < side; ++r) {
        for (int c = 0; c + 1 < side; ++c) {
            const uint16_t a = uint16_t(r * side + c);
            const uint16_t quad[2][3] = {{a, uint16_t(a + 1), uint16_t(a + side + 1)},
                                         {a, uint16_t(a + side + 1), uint16_t(a + side)}};
            for (const auto& q : quad) std::memcpy(m->triangles[t++].vertex, q, sizeof q);
        }
    }
    const uint16_t flat[3] = {3, 3, 4};
    std::memcpy(m->triangles[t].vertex, flat, sizeof flat);
    for (int f = 0; f < frames; ++f) {
        for (int v = 0; v < side * side; ++v) {
            const float x = float(v % side), y = float(v / side);
            m->frames[f].positions[v] = {x - 6.0f, y * 0.5f, float((v * 7 + f * 3) % 11) * 0.25f - 1.0f};
        }
        m->frames[f].positions[0].z = f % 2 ? -0.0f : 0.0f;
        m->frames[f].positions[side * side] = {float(f), -float(f), 0.5f};
    }
    return m;
}

// Threads and frames to how many threads the work takes.
TEST(FrameWorkTest, ThreadsFollowTheRequestTheFramesAndTheMemory) {
    struct Case {
        int requested;
        int32_t frames, vertices;
        int expected;
    };
    const Case cases[] = {
        {1, 100, 65536, 1}, {2, 100, 65536, 2}, {64, 100, 65536, 4},  // 32 bytes each within 1/8 of 1200
        {64, 2, 65536, 2},                                            // within 4 MiB
        {8, 3, 10, 3},      {8, 0, 10, 1},      {3, 1000, 0, 3},     {5, 1, 1, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FrameWorkThreads(c.requested, c.frames, c.vertices), c.expected) << c.requested;
    EXPECT_GE(FrameWorkThreads(0, 100000, 1), 1);
}

// Any number of threads leaves what the one-frame-at-a-time functions leave,
// and reports every frame once, in order.
TEST(FrameWorkTest, AnyThreadCountGivesTheSerialResult) {
    const int frames = 23;
    ModelPtr expected = WavyModel(frames);
    for (int f = 0; f < frames; ++f) {
        ComputeFrameNormals(expected.get(), f);
        StoreFrameNormalIndices(expected.get(), f);
    }
    ComputeFrameBounds(expected.get());
    const MdlQuantization q8 = ComputeQuantization(expected.get(), false);

    for (int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(threads);
        ModelPtr m = WavyModel(frames);
        FrameWork* work = StartFrameWork(m.get(), threads);
        ASSERT_NE(work, nullptr);
        for (int f = 0; f < frames; ++f) FrameSampled(work, f);
        std::vector<int32_t> reported;
        MdlExtremes e;
        FinishFrameWork(
            work, [&reported](int32_t f) { reported.push_back(f); }, e);
        StopFrameWork(work);

        ASSERT_EQ(reported.size(), size_t(frames));
        for (int f = 0; f < frames; ++f) {
            EXPECT_EQ(reported[size_t(f)], f);
            const ModelFrame &a = m->frames[f], &b = expected->frames[f];
            EXPECT_EQ(std::memcmp(a.normalIndex, b.normalIndex, size_t(m->vertexCount)), 0) << f;
            EXPECT_EQ(std::memcmp(&a.bboxMin, &b.bboxMin, sizeof a.bboxMin), 0) << f;
            EXPECT_EQ(std::memcmp(&a.bboxMax, &b.bboxMax, sizeof a.bboxMax), 0) << f;
        }
        // The extremes make the same quantization, sign of a zero origin included.
        MdlQuantization q;
        for (int a = 0; a < 3; ++a) q.origin[a] = e.smallest[a];
        EXPECT_EQ(std::memcmp(q.origin, q8.origin, sizeof q.origin), 0);
        EXPECT_EQ(e.largestAbs[0], float(frames - 1));  // the unused vertex, last frame
    }
}

// Stopping part-way, with frames announced and not, ends the workers.
TEST(FrameWorkTest, StopsPartWay) {
    for (int announced : {0, 1, 5}) {
        ModelPtr m = WavyModel(9);
        FrameWork* work = StartFrameWork(m.get(), 3);
        ASSERT_NE(work, nullptr);
        for (int f = 0; f < announced; ++f) FrameSampled(work, f);
        StopFrameWork(work);
    }
    StopFrameWork(nullptr);
}

}  // namespace
