// Writing a mid-sized animated model: 2000 vertices, 4000 triangles, 100
// frames, a 256 x 256 skin, in both variants; and the normals of one frame.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "mdl/MdlFileWriter.h"
#include "model/Normals.h"

using namespace quorvex;

namespace {

constexpr int kVertexCount = 2000;
constexpr int kTriangleCount = 4000;
constexpr int kFrameCount = 100;

// A wavy strip that moves from frame to frame, with normals computed, as the
// exporter hands it to the writer.
ModelData* MakeAnimatedModel() {
    ModelData* m = CreateModel(kTriangleCount, kVertexCount, kVertexCount, kFrameCount);
    if (!m) return nullptr;
    for (int t = 0; t < kTriangleCount; ++t) {
        const int a = (t / 2) % (kVertexCount - 2);
        ModelTriangle& tri = m->triangles[t];
        tri.vertex[0] = uint16_t(a);
        tri.vertex[1] = uint16_t(t % 2 ? a + 2 : a + 1);
        tri.vertex[2] = uint16_t(t % 2 ? a + 1 : a + 2);
        for (int c = 0; c < 3; ++c) tri.texCoord[c] = tri.vertex[c];
    }
    for (int v = 0; v < kVertexCount; ++v) m->texCoords[v] = {int16_t(v % 256), int16_t(v / 256), 0};
    for (int f = 0; f < kFrameCount; ++f) {
        for (int v = 0; v < kVertexCount; ++v) {
            const float s = float(v) * 0.01f + float(f) * 0.1f;
            m->frames[f].positions[v] = {float(v / 2) * 0.05f, float(v % 2), std::sin(s) * 3.0f};
        }
        ComputeFrameNormals(m, f);
        StoreFrameNormalIndices(m, f);
    }
    return m;
}

void WriteModel(benchmark::State& state) {
    ModelData* model = MakeAnimatedModel();
    SkinImage* skin = CreateSkinImage(256, 256, kSkinFormatRGB565);
    if (!model || !skin) {
        state.SkipWithError("out of memory");
        DestroyModel(model);
        FreeSkinImage(skin);
        return;
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvex-bench-" + std::to_string(getpid()) + ".mdl")).string();
    const int hiPrecision = int(state.range(0));
    for (auto _ : state) {
        if (WriteMdlFile(path.c_str(), model, skin, hiPrecision) != 1) {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::error_code ec;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path, ec)));
    std::remove(path.c_str());
    DestroyModel(model);
    FreeSkinImage(skin);
}
BENCHMARK(WriteModel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void FrameNormals(benchmark::State& state) {
    ModelData* model = MakeAnimatedModel();
    if (!model) {
        state.SkipWithError("out of memory");
        return;
    }
    int frame = 0;
    for (auto _ : state) {
        ComputeFrameNormals(model, frame);
        frame = (frame + 1) % kFrameCount;
    }
    DestroyModel(model);
}
BENCHMARK(FrameNormals)->Unit(benchmark::kMicrosecond);

}  // namespace
