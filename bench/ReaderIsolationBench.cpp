// What reading through Assimp in a process of its own costs against reading in
// this one: the same files, the same result. The files are the bundled crate,
// a large OBJ made here, and every file in $QUORVEX_BENCH_MODELS (the bundled
// examples converted to Assimp's formats: bench/reader_isolation.sh).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import/AnimatedScene.h"
#include "import/Importer.h"

namespace {

namespace fs = std::filesystem;

// A grid of side x side quads as an OBJ with texture coordinates.
std::string LargeObj(int side) {
    const fs::path path = fs::temp_directory_path() / ("quorvex-bench-grid-" + std::to_string(getpid()) + ".obj");
    std::ofstream out(path);
    for (int r = 0; r <= side; ++r)
        for (int c = 0; c <= side; ++c) out << "v " << c << ' ' << r << " 0\nvt " << c << ' ' << r << '\n';
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const int a = r * (side + 1) + c + 1, b = a + 1, d = a + side + 1, e = d + 1;
            out << "f " << a << '/' << a << ' ' << b << '/' << b << ' ' << e << '/' << e << ' ' << d << '/' << d
                << '\n';
        }
    return path.string();
}

void Read(benchmark::State& state, const std::string& path, bool isolated) {
    for (auto _ : state) {
        quorvex::importer::AnimatedScene scene;
        quorvex::scene::LoadError error;
        const bool ok = isolated ? quorvex::importer::LoadAssimpScene(path, scene, error)
                                 : quorvex::importer::LoadAssimpSceneUnguarded(path, scene, error);
        if (!ok) {
            state.SkipWithError(error.message.c_str());
            break;
        }
        benchmark::DoNotOptimize(scene.meshes.data());
    }
}

// The same read in a fresh process each time, as one `quorvex export` does it:
// a warm process reuses the heap a reader touched before, a new one pays for
// its first touch of every page, with or without a child of its own. The time
// is the read's in that process, until it has the scene (a reader's child may
// still be ending then, as in the command); besides it, the processor time of
// the fresh process and its reader together (`tree_cpu_ms`, per read), which
// a busy machine disturbs less.
void ReadCold(benchmark::State& state, const std::string& path, bool isolated) {
    double treeSeconds = 0;
    for (auto _ : state) {
        int times[2];
        if (pipe(times) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            const auto start = std::chrono::steady_clock::now();
            quorvex::importer::AnimatedScene scene;
            quorvex::scene::LoadError error;
            const bool ok = isolated ? quorvex::importer::LoadAssimpScene(path, scene, error)
                                     : quorvex::importer::LoadAssimpSceneUnguarded(path, scene, error);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const bool told = write(times[1], &seconds, sizeof seconds) == sizeof seconds;
            // The reader's child counts in this process's usage once reaped.
            while (wait(nullptr) > 0) {}
            ::_exit(ok && told ? 0 : 1);
        }
        ::close(times[1]);
        double seconds = 0;
        const bool told = pid > 0 && read(times[0], &seconds, sizeof seconds) == sizeof seconds;
        ::close(times[0]);
        int status = 0;
        struct rusage usage {};
        if (!told || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the read in a fresh process failed");
            break;
        }
        state.SetIterationTime(seconds);
        treeSeconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    state.counters["tree_cpu_ms"] = benchmark::Counter(treeSeconds * 1e3 / double(state.iterations()));
}

// A file this program made, removed when it ends.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

int Register() {
    static const TemporaryFile grid{LargeObj(400)};
    std::vector<std::string> files = {QUORVEX_SOURCE_DIR "/examples/crate/crate.obj", grid.path};
    if (const char* dir = std::getenv("QUORVEX_BENCH_MODELS")) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string ext = quorvex::importer::LowerExtension(entry.path().string());
            if (entry.is_regular_file() && !quorvex::importer::IsGltfPath(entry.path().string()) && ext != ".png" &&
                ext != ".mtl" && ext != ".bin")
                files.push_back(entry.path().string());
        }
    }
    for (const std::string& file : files) {
        const std::string name = fs::path(file).filename().string();
        benchmark::RegisterBenchmark(("AssimpRead/inProcess/" + name).c_str(), [file](benchmark::State& s) {
            Read(s, file, false);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("AssimpRead/isolated/" + name).c_str(), [file](benchmark::State& s) {
            Read(s, file, true);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("AssimpRead/coldInProcess/" + name).c_str(),
                                     [file](benchmark::State& s) { ReadCold(s, file, false); })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RegisterBenchmark(("AssimpRead/coldIsolated/" + name).c_str(),
                                     [file](benchmark::State& s) { ReadCold(s, file, true); })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    }
    return 0;
}

const int registered = Register();

}  // namespace
