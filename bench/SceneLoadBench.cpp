// Reading scene files from memory, so that the disk stays out of it: the big
// benchmark scene (mostly numbers: every frame's vertices) and the windmill
// example, by the scene-file reader and by the hand-written parser it replaced
// (QuickSceneReader.cpp), which the reader is to be at least as fast as.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "scene/SceneFile.h"

namespace quickparser {
bool ReadSceneDirect(std::string_view text, standin::SceneDocument& out);
}

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Reader = bool (*)(const std::string& text, const std::string& path, standin::SceneDocument& out,
                       std::string& error);

bool QuickParser(const std::string& text, const std::string&, standin::SceneDocument& out, std::string& error) {
    if (quickparser::ReadSceneDirect(text, out)) return true;
    error = "the quick parser declined the file";
    return false;
}

void ParseScene(benchmark::State& state, const std::string& path, Reader read) {
    const std::string text = ReadText(path);
    if (text.empty()) {
        state.SkipWithError(("cannot read " + path).c_str());
        return;
    }
    for (auto _ : state) {
        standin::SceneDocument document;
        std::string error;
        if (!read(text, path, document, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

const char* const kWindmill = QUORVEX_SOURCE_DIR "/examples/windmill/windmill.scene.json";

void SceneLoad_BigScene(benchmark::State& state) { ParseScene(state, QUORVEX_BIG_SCENE, standin::ParseSceneText); }
void SceneLoad_BigSceneQuickParser(benchmark::State& state) { ParseScene(state, QUORVEX_BIG_SCENE, QuickParser); }
void SceneLoad_Windmill(benchmark::State& state) { ParseScene(state, kWindmill, standin::ParseSceneText); }
void SceneLoad_WindmillQuickParser(benchmark::State& state) { ParseScene(state, kWindmill, QuickParser); }
BENCHMARK(SceneLoad_BigScene)->Unit(benchmark::kMillisecond);
BENCHMARK(SceneLoad_BigSceneQuickParser)->Unit(benchmark::kMillisecond);
BENCHMARK(SceneLoad_Windmill)->Unit(benchmark::kMicrosecond);
BENCHMARK(SceneLoad_WindmillQuickParser)->Unit(benchmark::kMicrosecond);

}  // namespace
