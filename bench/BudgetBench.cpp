// Reducing a ~124k-triangle mesh to a triangle budget against exporting it
// whole: the reduction (simplifying, measuring the error over every frame,
// rewriting every key) should cost no more CPU than the export it replaces.
// Both run on the same generated scene: a UV sphere of 250 x 250 quads that
// swells over 30 frames.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "budget/MeshReduction.h"
#include "standin/ExportSession.h"
#include "tests/support/SceneBuilder.h"

using quorvex::budget::GeometryReport;
using quorvex::budget::ReduceGeometry;
using quorvex::scene::Keyed;
using quorvex::scene::MeshData;
using quorvex::scene::SceneDocument;
using quorvex::scene::ShareRepeatedTopology;
using quorvex::standin::ExportRequest;
using quorvex::standin::RunExportSession;
using quorvex::testkit::BitmapMaterial;
using quorvex::testkit::EveryFrame;
using quorvex::testkit::MeshNode;
using quorvex::testkit::MeshObject;
using quorvex::testkit::PlainPicture;
using quorvex::testkit::Rgba;
using quorvex::testkit::Scene;
using quorvex::testkit::UvSphere;

using namespace quorvex::budget;
using namespace quorvex::scene;
using namespace quorvex::standin;
using namespace quorvex::testkit;

namespace {

constexpr int kFrames = 30;

const SceneDocument& SwellingSphere() {
    static const SceneDocument doc = [] {
        const MeshData sphere = UvSphere(250, 250);
        std::vector<MeshData> frames;
        for (int f = 0; f < kFrames; ++f) {
            MeshData m = sphere;
            for (Point3& p : m.verts) p.z *= 1.0f + 0.3f * std::sin(0.2f * float(f) + 2.0f * p.x);
            frames.push_back(std::move(m));
        }
        Keyed<MeshData> keyed = EveryFrame(160, frames);
        ShareRepeatedTopology(keyed);
        SceneDocument d = Scene({MeshNode("Sphere", MeshObject(std::move(keyed)), BitmapMaterial("s.png"))}, 160,
                                {0, (kFrames - 1) * 160});
        d.images["s.png"] = PlainPicture(64, 64, Rgba(40000, 20000, 10000));
        return d;
    }();
    return doc;
}

void BM_ReduceTo5000Triangles(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        SceneDocument doc = SwellingSphere();
        state.ResumeTiming();
        GeometryReport report;
        std::string error;
        if (!ReduceGeometry(doc, {0, kFrames - 1}, {5000, 0}, report, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(report);
        state.PauseTiming();
        doc = SceneDocument{};
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReduceTo5000Triangles)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ExportWhole(benchmark::State& state) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvex-budget-bench-" + std::to_string(getpid()) + ".mdl"))
            .string();
    ExportRequest request;
    request.output = path;
    request.options = quorvex::ExportOptionsRecord{0, kFrames - 1, 0, 0};
    request.beforeExport = [&state] { state.ResumeTiming(); };
    for (auto _ : state) {
        state.PauseTiming();
        RunExportSession(SwellingSphere(), request);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_ExportWhole)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
