// A whole export through DoExport on a synthetic animated scene: the cost of the
// three walks, painting, normals and writing together.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "tests/support/SceneBuilder.h"
#include "standin/ExportSession.h"

using namespace quorvex;

namespace {

// A grid of quads, rows x columns, one texture coordinate per vertex.
standin::MeshData Grid(int rows, int columns) {
    standin::MeshData mesh;
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= columns; ++c) {
            mesh.verts.push_back({float(c), float(r), 0.0f});
            mesh.tverts.push_back({float(c) / float(columns), float(r) / float(rows), 0.0f});
        }
    auto at = [columns](int r, int c) { return uint32_t(r * (columns + 1) + c); };
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            mesh.faces.push_back({at(r, c), at(r, c + 1), at(r + 1, c + 1)});
            mesh.faces.push_back({at(r, c), at(r + 1, c + 1), at(r + 1, c)});
        }
    mesh.tvfaces = mesh.faces;
    return mesh;
}

void BM_ExportAnimatedScene(benchmark::State& state) {
    const int meshes = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    std::vector<standin::NodeData> nodes;
    for (int m = 0; m < meshes; ++m) {
        std::vector<Matrix3> keys;
        for (int f = 0; f < frames; ++f)
            keys.push_back(standin::Translation(float(m), std::sin(0.1f * float(f + m)), 0.0f));
        standin::NodeData node = standin::MeshNode("Mesh" + std::to_string(m), Grid(16, 16),
                                                   standin::BitmapMaterial(m % 2 ? "a.png" : "b.png"));
        node.transform = standin::EveryFrame(160, keys);
        nodes.push_back(node);
    }
    standin::SceneDocument doc = standin::Scene(nodes, 160, {0, (frames - 1) * 160});
    doc.images["a.png"] = standin::PlainPicture(64, 64, standin::Rgba(65535, 0, 0));
    doc.images["b.png"] = standin::PlainPicture(32, 128, standin::Rgba(0, 65535, 0));
    standin::StandinHost host(std::move(doc));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvex-bench-" + std::to_string(getpid()) + ".mdl")).string();
    standin::ExportRequest request;
    request.output = path;
    request.options = ExportOptionsRecord{0, frames - 1, 0, 0};
    for (auto _ : state) {
        if (standin::RunExportSession(host, request).outcome != standin::ExportOutcome::Written)
            state.SkipWithError("export failed");
    }
    std::filesystem::remove(path);
    state.counters["vertices"] = double(meshes) * 17 * 17;
    state.counters["frames"] = frames;
}

}  // namespace

BENCHMARK(BM_ExportAnimatedScene)->Args({8, 30})->Args({32, 60})->Unit(benchmark::kMillisecond);
