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
quorvex::scene::MeshData Grid(int rows, int columns) {
    quorvex::scene::MeshData mesh;
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
    std::vector<quorvex::scene::NodeData> nodes;
    for (int m = 0; m < meshes; ++m) {
        std::vector<Matrix3> keys;
        for (int f = 0; f < frames; ++f)
            keys.push_back(quorvex::testkit::Translation(float(m), std::sin(0.1f * float(f + m)), 0.0f));
        quorvex::scene::NodeData node = quorvex::testkit::MeshNode(
            "Mesh" + std::to_string(m), Grid(16, 16), quorvex::testkit::BitmapMaterial(m % 2 ? "a.png" : "b.png"));
        node.transform = quorvex::testkit::EveryFrame(160, keys);
        nodes.push_back(node);
    }
    quorvex::scene::SceneDocument doc = quorvex::testkit::Scene(nodes, 160, {0, (frames - 1) * 160});
    doc.images["a.png"] = quorvex::testkit::PlainPicture(64, 64, quorvex::testkit::Rgba(65535, 0, 0));
    doc.images["b.png"] = quorvex::testkit::PlainPicture(32, 128, quorvex::testkit::Rgba(0, 65535, 0));
    quorvex::standin::StandinHost host(std::move(doc));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quorvex-bench-" + std::to_string(getpid()) + ".mdl")).string();
    quorvex::standin::ExportRequest request;
    request.output = path;
    request.options = ExportOptionsRecord{0, frames - 1, 0, 0};
    for (auto _ : state) {
        if (quorvex::standin::RunExportSession(host, request).outcome != quorvex::standin::ExportOutcome::Written)
            state.SkipWithError("export failed");
    }
    std::filesystem::remove(path);
    state.counters["vertices"] = double(meshes) * 17 * 17;
    state.counters["frames"] = frames;
}

}  // namespace

BENCHMARK(BM_ExportAnimatedScene)->Args({8, 30})->Args({32, 60})->Unit(benchmark::kMillisecond);
