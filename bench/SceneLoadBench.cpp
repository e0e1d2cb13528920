// Loading scene files as `quorvex export` does (the file read whole, then
// parsed): the big benchmark scene (mostly numbers: every frame's vertices)
// and the windmill example, by the scene-file reader and by the hand-written
// parser it replaced (QuickSceneReader.cpp), which the reader is to be at
// least as fast as. The files stay in the page cache after the first round.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "scene/InputFile.h"
#include "scene/Limits.h"
#include "scene/SceneFile.h"

namespace quickparser {
bool ReadSceneDirect(std::string_view text, quorvex::scene::SceneDocument& out);
}

namespace {

using Loader = bool (*)(const std::string& path, quorvex::scene::SceneDocument& out, quorvex::scene::LoadError& error);

// The replaced parser's way: the file read whole, then parsed in place.
bool QuickParser(const std::string& path, quorvex::scene::SceneDocument& out, quorvex::scene::LoadError& error) {
    std::string text;
    if (!quorvex::scene::ReadInputFile(path, text, error, quorvex::scene::kMaxInputFileBytes)) return false;
    if (quickparser::ReadSceneDirect(text, out)) return true;
    error.message = "the quick parser declined the file";
    return false;
}

void LoadScene(benchmark::State& state, const std::string& path, Loader load) {
    for (auto _ : state) {
        quorvex::scene::SceneDocument document;
        quorvex::scene::LoadError error;
        if (!load(path, document, error)) {
            state.SkipWithError(error.message.c_str());
            return;
        }
        benchmark::DoNotOptimize(document);
    }
}

const char* const kWindmill = QUORVEX_SOURCE_DIR "/examples/windmill/windmill.scene.json";

void SceneLoad_BigScene(benchmark::State& state) { LoadScene(state, QUORVEX_BIG_SCENE, quorvex::scene::LoadSceneFile); }
void SceneLoad_BigSceneQuickParser(benchmark::State& state) { LoadScene(state, QUORVEX_BIG_SCENE, QuickParser); }
void SceneLoad_Windmill(benchmark::State& state) { LoadScene(state, kWindmill, quorvex::scene::LoadSceneFile); }
void SceneLoad_WindmillQuickParser(benchmark::State& state) { LoadScene(state, kWindmill, QuickParser); }
BENCHMARK(SceneLoad_BigScene)->Unit(benchmark::kMillisecond);
BENCHMARK(SceneLoad_BigSceneQuickParser)->Unit(benchmark::kMillisecond);
BENCHMARK(SceneLoad_Windmill)->Unit(benchmark::kMicrosecond);
BENCHMARK(SceneLoad_WindmillQuickParser)->Unit(benchmark::kMicrosecond);

}  // namespace
