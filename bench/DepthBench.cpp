// A deep hierarchy against a flat one of the same size: 960 animated quads,
// either all at the top level or each the child of the one before. World
// matrices are computed once per node and frame, so the two cost the same.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "standin/ExportSession.h"
#include "tests/support/SceneBuilder.h"

using namespace quorvex;

namespace {

constexpr int kNodes = 960;
constexpr int kFrames = 30;

quorvex::scene::NodeData Quad(int k) {
    std::vector<Matrix3> keys;
    for (int f = 0; f < kFrames; ++f)
        keys.push_back(quorvex::testkit::Translation(0.01f * std::sin(0.1f * float(f + k)), 0.001f, 0));
    quorvex::scene::NodeData node = quorvex::testkit::MeshNode("n" + std::to_string(k), quorvex::testkit::QuadMesh(),
                                                               quorvex::testkit::BitmapMaterial("a.png"));
    node.transform = quorvex::testkit::EveryFrame(160, keys);
    return node;
}

void BM_ExportHierarchy(benchmark::State& state) {
    const bool chain = state.range(0) != 0;
    std::vector<quorvex::scene::NodeData> nodes;
    if (chain) {
        quorvex::scene::NodeData deepest = Quad(kNodes - 1);
        for (int k = kNodes - 2; k >= 0; --k) {
            quorvex::scene::NodeData parent = Quad(k);
            parent.children.push_back(std::move(deepest));
            deepest = std::move(parent);
        }
        nodes.push_back(std::move(deepest));
    } else {
        for (int k = 0; k < kNodes; ++k) nodes.push_back(Quad(k));
    }
    quorvex::scene::SceneDocument doc = quorvex::testkit::Scene(std::move(nodes), 160, {0, (kFrames - 1) * 160});
    doc.images["a.png"] = quorvex::testkit::PlainPicture(8, 8, quorvex::testkit::Rgba(65535, 0, 0));
    quorvex::standin::StandinHost host(std::move(doc));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvex-depth-" + std::to_string(getpid()) + ".mdl")).string();
    quorvex::standin::ExportRequest request;
    request.output = path;
    request.options = ExportOptionsRecord{0, kFrames - 1, 0, 0};
    for (auto _ : state) {
        if (quorvex::standin::RunExportSession(host, request).outcome != quorvex::standin::ExportOutcome::Written)
            state.SkipWithError("export failed");
    }
    std::filesystem::remove(path);
    state.SetLabel(chain ? "960-deep chain" : "960 at the top level");
}

}  // namespace

BENCHMARK(BM_ExportHierarchy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
