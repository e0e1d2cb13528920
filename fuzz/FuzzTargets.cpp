#include "fuzz/FuzzTargets.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "import/Importer.h"
#include "mdl/MdlReader.h"
#include "scene/Pictures.h"
#include "scene/SceneFile.h"
#include "standin/ExportSession.h"
#include "view/Renderer.h"

using quorvex::view::RenderModelFrame;
using quorvex::view::RenderOptions;
using quorvex::view::RenderResult;
using quorvex::view::RenderSkinPicture;

using namespace quorvex; using namespace quorvex::view;

namespace fuzzkit {

namespace {

// At most this many frames are exported per input: the limits already bound
// what one export may take, this keeps each run short.
constexpr int32_t kExportedFrames = 8;

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what.c_str());
    std::abort();
}

std::string ScratchPath(const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/quorvex-fuzz-" + std::to_string(getpid()) + suffix;
}

bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

void ExportAndReadBack(quorvex::scene::SceneDocument document) {
    const std::string out = ScratchPath(".mdl");
    std::remove(out.c_str());
    {
        const int32_t ticks = std::max(document.ticksPerFrame, 1);
        const int32_t start = document.animRange.start / ticks;
        const int32_t end = document.animRange.end / ticks;
        const int64_t last = std::min<int64_t>(std::max(end, start), int64_t(start) + kExportedFrames - 1);
        quorvex::standin::ExportRequest request;
        request.output = out;
        request.options = ExportOptionsRecord{start, static_cast<int32_t>(last), 0, 0};
        const quorvex::standin::ExportResult result = quorvex::standin::RunExportSession(std::move(document), request);
        if (!result.allReleased) Finding("the export left host objects unreleased or released twice");
        const bool written = result.outcome == quorvex::standin::ExportOutcome::Written;
        const bool exists = access(out.c_str(), F_OK) == 0;
        if (!written && exists) Finding("a refused export left a file behind");
        if (written) {
            const MdlReadResult read = ReadMdlFile(out.c_str());
            if (!read.ok()) Finding("a written model does not read back: " + read.error.message);
        }
    }
    std::remove(out.c_str());
}

}  // namespace

void RunSceneFile(const uint8_t* data, size_t size) {
    quorvex::scene::SceneDocument document;
    quorvex::scene::LoadError error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!quorvex::scene::ParseSceneText(text, "fuzz.scene.json", document, error)) return;
    ExportAndReadBack(std::move(document));
}

void RunModelFile(const uint8_t* data, size_t size) {
    const MdlReadResult read = ReadMdlBytes(data, size);
    if (!read.ok()) return;
    // What `info` prints: sequences and every frame's positions and normals.
    const MdlFile& file = read.file;
    const std::vector<MdlSequence> sequences = GroupMdlSequences(file.frames);
    double sum = static_cast<double>(sequences.size());
    for (const MdlFrame& frame : file.frames) {
        for (const MdlPackedVertex& v : frame.vertices) {
            const MdlVec3 p = DecodeMdlPosition(file.header, v);
            const MdlVec3 n = DecodeMdlNormal(v.normalIndex);
            sum += static_cast<double>(p.x) + n.x;
        }
    }
    RenderOptions options;
    options.width = 24;
    options.height = 24;
    if (!file.frames.empty()) {
        const RenderResult frame = RenderModelFrame(file, 0, options);
        if (frame.ok() && frame.image.rgb.size() != 24u * 24u * 3u) Finding("a drawn frame has the wrong size");
    }
    if (static_cast<int64_t>(file.header.skinWidth) * file.header.skinHeight <= 4096) RenderSkinPicture(file);
    if (sum == 0.5) std::fprintf(stderr, " ");  // keeps the decoding from being optimised away
}

void RunPicture(const uint8_t* data, size_t size) {
    quorvex::scene::Picture picture;
    std::string error;
    if (!quorvex::scene::DecodePicture(data, size, picture, error)) return;
    if (picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height || picture.width == 0 ||
        picture.height == 0) {
        Finding("a decoded picture's pixels do not match its size");
    }
}

void RunGltf(const uint8_t* data, size_t size) {
    const bool binary = size >= 4 && std::equal(data, data + 4, "glTF");
    const std::string path = ScratchPath(binary ? ".glb" : ".gltf");
    if (!WriteScratch(path, data, size)) return;
    quorvex::scene::SceneDocument document;
    quorvex::scene::LoadError error;
    quorvex::importer::ImportNotes notes;
    const bool imported = quorvex::importer::ImportScene(path, quorvex::importer::ImportOptions{}, document, notes, error);
    std::remove(path.c_str());
    if (imported) ExportAndReadBack(std::move(document));
}

void RunObj(const uint8_t* data, size_t size) {
    // In a folder of its own and named in.obj, so that a material library
    // line naming in.obj reads the input itself, as the reader would meet it.
    const std::string dir = ScratchPath(".objdir");
    mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/in.obj";
    if (!WriteScratch(path, data, size)) return;
    quorvex::scene::SceneDocument document;
    quorvex::scene::LoadError error;
    quorvex::importer::ImportNotes notes;
    quorvex::importer::ImportScene(path, quorvex::importer::ImportOptions{}, document, notes, error);
    std::remove(path.c_str());
    rmdir(dir.c_str());
}

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"scene", RunSceneFile}, {"model", RunModelFile}, {"picture", RunPicture},
        {"gltf", RunGltf},       {"obj", RunObj},
    };
    return targets;
}

}  // namespace fuzzkit
