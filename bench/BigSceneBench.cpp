// The big benchmark scene (made by bench/make_big_scene.py; the build makes it
// beside the program): the whole export through DoExport, with the CPU time of
// each of its phases, and the steps that dominate it on their own. Every figure
// is also given in nanoseconds per vertex-frame (vertices x frames), the unit
// the export's cost grows with.
//
// The scene is read from $QUORVEX_BIG_SCENE, or else from the file the build made.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mdl/MdlFileWriter.h"
#include "mdl/MdlReader.h"
#include "mdl/NormalTable.h"
#include "model/Normals.h"
#include "scene/SceneFile.h"
#include "standin/ExportSession.h"

using namespace quorvex;

namespace {

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

std::string ScenePath() {
    const char* path = std::getenv("QUORVEX_BIG_SCENE");
    return path && *path ? path : QUORVEX_BIG_SCENE;
}

std::string OutputPath(const char* what) {
    return (std::filesystem::temp_directory_path() /
            ("quorvex-bench-" + std::to_string(getpid()) + "-" + what + ".mdl"))
        .string();
}

// The model and skin of a written file, its positions as the file stores
// them: what the export holds once every frame is sampled, to within a
// quantization step.
ModelData* ModelFromFile(const MdlFile& file) {
    const MdlHeader& h = file.header;
    ModelData* to = CreateModel(h.triangleCount, h.vertexCount, h.texCoordCount, h.frameCount);
    if (!to) return nullptr;
    for (int32_t t = 0; t < h.triangleCount; ++t) {
        for (int c = 0; c < 3; ++c) {
            to->triangles[t].vertex[c] = file.triangles[size_t(t)].vertex[c];
            to->triangles[t].texCoord[c] = file.triangles[size_t(t)].texCoord[c];
        }
    }
    for (int32_t i = 0; i < h.texCoordCount; ++i)
        to->texCoords[i] = {file.texCoords[size_t(i)].u, file.texCoords[size_t(i)].v, 1};
    for (int32_t f = 0; f < h.frameCount; ++f) {
        const MdlFrame& frame = file.frames[size_t(f)];
        std::snprintf(to->frames[f].name, sizeof to->frames[f].name, "%s", frame.name.c_str());
        for (int32_t v = 0; v < h.vertexCount; ++v)
            to->frames[f].positions[v] = DecodeMdlPosition(h, frame.vertices[size_t(v)]);
    }
    return to;
}

// The loaded scene, and the sampled model and skin of one export of it.
struct BigScene {
    std::string error;
    quorvex::scene::SceneDocument document;
    ModelPtr model;
    SkinPtr skin;
    double vertexFrames = 0;
};

// Runs one export of `document`; `onProgress` sees every progress call.
bool Export(const quorvex::scene::SceneDocument& document, const std::string& path,
            const std::function<void(const quorvex::standin::ProgressCall&)>& onProgress, int threads = 0) {
    const int32_t ticks = document.ticksPerFrame;
    quorvex::standin::ExportRequest request;
    request.output = path;
    request.options = ExportOptionsRecord{document.animRange.start / ticks, document.animRange.end / ticks, 0, 0};
    request.threads = threads;
    request.onProgress = onProgress;
    return quorvex::standin::RunExportSession(document, request).outcome == quorvex::standin::ExportOutcome::Written;
}

const BigScene& Scene() {
    static BigScene* scene = [] {
        auto* s = new BigScene;
        if (quorvex::scene::LoadError failure; !quorvex::scene::LoadSceneFile(ScenePath(), s->document, failure)) {
            s->error = failure.message;
            return s;
        }
        const std::string path = OutputPath("capture");
        if (Export(s->document, path, nullptr)) {
            const MdlReadResult read = ReadMdlFile(path.c_str());
            if (read.ok()) {
                s->model.reset(ModelFromFile(read.file));
                const MdlHeader& h = read.file.header;
                s->skin.reset(CreateSkinImage(h.skinWidth, h.skinHeight, int16_t(read.file.skinType)));
            }
        }
        std::remove(path.c_str());
        if (!s->model || !s->skin) {
            s->error = "the export of " + ScenePath() + " failed";
            return s;
        }
        s->vertexFrames = double(s->model->vertexCount) * s->model->frameCount;
        for (int32_t f = 0; f < s->model->frameCount; ++f) {
            ComputeFrameNormals(s->model.get(), f);
            StoreFrameNormalIndices(s->model.get(), f);
        }
        return s;
    }();
    return *scene;
}

bool Ready(benchmark::State& state) {
    if (!Scene().error.empty()) {
        state.SkipWithError(
            ("no big scene (run bench/make_big_scene.py, set QUORVEX_BIG_SCENE): " + Scene().error).c_str());
        return false;
    }
    return true;
}

void PerVertexFrame(benchmark::State& state, const char* name, double seconds) {
    state.counters[name] = benchmark::Counter(seconds * 1e9 / Scene().vertexFrames / double(state.iterations()));
}

// The whole export with state.range(0) threads (0: one per core), and the
// calling thread's CPU time of its phases as the progress display marks them:
// scan and gather walks; sampling every frame (the workers start on the
// frames meanwhile); the skin; the frames' work still left (normals, their
// indices, boxes); writing the file. Also the wall time of the whole export
// and the CPU time of every thread of the process over it.
void BigScene_WholeExport(benchmark::State& state) {
    if (!Ready(state)) return;
    const std::string path = OutputPath("whole");
    enum { Walks, Sampling, Skin, Normals, Writing, Phases };
    const char* names[Phases] = {"walks_ns", "sampling_ns", "skin_ns", "normals_ns", "writing_ns"};
    double spent[Phases] = {};
    double total = 0, wall = 0, process = 0;
    for (auto _ : state) {
        // From the first progress call to the last: DoExport without the
        // stand-in host's own making and unmaking.
        std::vector<std::pair<quorvex::standin::ProgressCall, double>> marks;
        const auto wallStart = std::chrono::steady_clock::now();
        const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const bool ok = Export(
            Scene().document, path,
            [&marks](const quorvex::standin::ProgressCall& call) { marks.emplace_back(call, ThreadCpuSeconds()); },
            int(state.range(0)));
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        process += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        if (!ok || marks.empty()) {
            state.SkipWithError("export failed");
            break;
        }
        const double start = marks.front().second, end = marks.back().second;
        total += end - start;
        // Scanning End, sampling, its updates, normals, their updates, End.
        double sampleStart = 0, sampleEnd = 0, normalsStart = 0, normalsEnd = 0, walksEnd = 0;
        std::string phase;
        for (const auto& [call, at] : marks) {
            if (call.kind == quorvex::standin::ProgressCall::Start) {
                phase = call.caption;
                if (phase == kSamplingCaption) sampleStart = at;
                if (phase == kNormalsCaption) normalsStart = at;
            } else if (call.kind == quorvex::standin::ProgressCall::Update) {
                if (phase == kSamplingCaption) sampleEnd = at;
                if (phase == kNormalsCaption) normalsEnd = at;
            } else if (phase == kScanningCaption) {
                walksEnd = at;
            }
        }
        spent[Walks] += walksEnd - start;
        spent[Sampling] += sampleEnd - sampleStart;
        spent[Skin] += normalsStart - sampleEnd;
        spent[Normals] += normalsEnd - normalsStart;
        spent[Writing] += end - normalsEnd;
    }
    std::remove(path.c_str());
    for (int p = 0; p < Phases; ++p) PerVertexFrame(state, names[p], spent[p]);
    PerVertexFrame(state, "export_ns", total);
    PerVertexFrame(state, "wall_ns", wall);
    PerVertexFrame(state, "all_threads_ns", process);
}
BENCHMARK(BigScene_WholeExport)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// Loading the scene file (not part of the export; for comparison).
void BigScene_Load(benchmark::State& state) {
    if (!Ready(state)) return;
    double spent = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        quorvex::scene::SceneDocument document;
        quorvex::scene::LoadError error;
        if (!quorvex::scene::LoadSceneFile(ScenePath(), document, error)) state.SkipWithError(error.message.c_str());
        spent += ThreadCpuSeconds() - start;
    }
    PerVertexFrame(state, "load_ns", spent);
}
BENCHMARK(BigScene_Load)->Unit(benchmark::kMillisecond)->Iterations(3);

// Face and vertex normals of every frame: the model's own (0), and into a
// thread's working storage as the export computes them (1).
void BigScene_VertexNormals(benchmark::State& state) {
    if (!Ready(state)) return;
    ModelData* model = Scene().model.get();
    FrameNormals* normals = CreateFrameNormals(model);
    double spent = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        for (int32_t f = 0; f < model->frameCount; ++f) {
            if (state.range(0) == 0)
                ComputeFrameNormals(model, f);
            else
                ComputeFrameNormalsInto(model, f, *normals);
        }
        spent += ThreadCpuSeconds() - start;
    }
    DestroyFrameNormals(normals);
    PerVertexFrame(state, "normals_ns", spent);
}
BENCHMARK(BigScene_VertexNormals)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The nearest table entry of every vertex normal of every frame, by the fast
// search one at a time (0), by the full scan it must agree with (1), and as
// the export finds them, several at a time from a thread's working storage
// (2). The direction map is made first (it stays made for the rest of the run).
void BigScene_NormalIndices(benchmark::State& state) {
    if (!Ready(state)) return;
    ModelData* model = Scene().model.get();
    const double start = ThreadCpuSeconds();
    PrepareNearestNormalIndex();
    state.counters["prepare_ms"] = (ThreadCpuSeconds() - start) * 1e3;
    FrameNormals* normals = CreateFrameNormals(model);
    std::vector<uint8_t> indices(size_t(model->vertexCount));
    double spent = 0;
    int64_t sum = 0;
    for (auto _ : state) {
        for (int32_t f = 0; f < model->frameCount; ++f) {
            ComputeFrameNormals(model, f);
            ComputeFrameNormalsInto(model, f, *normals);
            const double begin = ThreadCpuSeconds();
            if (state.range(0) == 2) {
                NearestNormalIndices(normals->x, normals->y, normals->z, model->vertexCount, indices.data());
                sum += indices[size_t(f) % indices.size()];
            }
            for (int32_t v = 0; state.range(0) < 2 && v < model->vertexCount; ++v) {
                const ModelVec3& n = model->normals[v];
                sum +=
                    state.range(0) == 1 ? NearestNormalIndexByScan(n.x, n.y, n.z) : NearestNormalIndex(n.x, n.y, n.z);
            }
            spent += ThreadCpuSeconds() - begin;
        }
    }
    DestroyFrameNormals(normals);
    benchmark::DoNotOptimize(sum);
    PerVertexFrame(state, "indices_ns", spent);
}
BENCHMARK(BigScene_NormalIndices)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

// Bounds, quantization, packing and writing the file.
void BigScene_WriteModel(benchmark::State& state) {
    if (!Ready(state)) return;
    const std::string path = OutputPath("write");
    double spent = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        if (WriteMdlFile(path.c_str(), Scene().model.get(), Scene().skin.get(), 0) != 1) {
            state.SkipWithError("write failed");
            break;
        }
        spent += ThreadCpuSeconds() - start;
    }
    std::error_code ec;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(path, ec)));
    std::remove(path.c_str());
    PerVertexFrame(state, "write_ns", spent);
}
BENCHMARK(BigScene_WriteModel)->Unit(benchmark::kMillisecond);

// Writing as many bytes as the model file holds, in one write, to the same
// folder: the floor under writing the file.
void BigScene_WriteSameBytes(benchmark::State& state) {
    if (!Ready(state)) return;
    const std::string model = OutputPath("model");
    if (WriteMdlFile(model.c_str(), Scene().model.get(), Scene().skin.get(), 0) != 1) {
        state.SkipWithError("write failed");
        return;
    }
    std::error_code ec;
    const std::vector<char> bytes(size_t(std::filesystem::file_size(model, ec)), 'q');
    std::remove(model.c_str());
    const std::string path = OutputPath("bytes");
    double spent = 0;
    for (auto _ : state) {
        const double start = ThreadCpuSeconds();
        FILE* file = std::fopen(path.c_str(), "wb");
        const bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (file) std::fclose(file);
        spent += ThreadCpuSeconds() - start;
        if (!ok) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    std::remove(path.c_str());
    PerVertexFrame(state, "bytes_ns", spent);
}
BENCHMARK(BigScene_WriteSameBytes)->Unit(benchmark::kMillisecond);

}  // namespace
