#include "cli/ModelToGltf.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/FlagValues.h"
#include "cli/Interrupt.h"
#include "cli/OutputCheck.h"
#include "cli/Warnings.h"
#include "gltfout/GltfExport.h"

namespace quorvex::cli {

using quorvex::gltfout::ExportModelToGltf;
using quorvex::gltfout::GltfExportFailure;
using quorvex::gltfout::GltfExportOptions;
using quorvex::gltfout::GltfExportResult;
using quorvex::gltfout::GltfOutputFiles;

using namespace quorvex;

namespace {

std::string LowerExtensionOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "quorvex export: %s\n", message.c_str());
    std::fprintf(stderr, "Run 'quorvex export --help' for the flags.\n");
    return kExitUsage;
}

void PrintSummary(const GltfExportResult& r) {
    std::printf("Wrote %s (%llu bytes, %s", r.files[0].c_str(), static_cast<unsigned long long>(r.bytes),
                r.files.size() == 1 ? "glTF binary" : "glTF with ");
    for (size_t i = 1; i < r.files.size(); ++i) std::printf("%s%s", i > 1 ? " and " : "", r.files[i].c_str());
    std::printf("): %lld vertices (%lld in the model file), %lld triangles, %lld morph targets",
                static_cast<long long>(r.vertices), static_cast<long long>(r.modelVertices),
                static_cast<long long>(r.triangles), static_cast<long long>(r.morphTargets));
    if (r.skinWidth > 0) std::printf(", skin %dx%d", r.skinWidth, r.skinHeight);
    std::printf("\nAnimations:");
    for (size_t i = 0; i < r.animations.size(); ++i)
        std::printf("%s %s %d", i ? "," : "", r.animations[i].name.empty() ? "(unnamed)" : r.animations[i].name.c_str(),
                    r.animations[i].keys);
    std::printf("\n");
}

}  // namespace

bool IsModelFileInput(const std::string& input) { return LowerExtensionOf(input) == ".mdl"; }

bool IsGltfOutput(const std::string& output) {
    const std::string ext = LowerExtensionOf(output);
    return ext == ".glb" || ext == ".gltf";
}

int RunModelToGltf(const ModelToGltfRequest& request) {
    if (!IsModelFileInput(request.model))
        return Usage("glTF is written from model files: export " + request.model +
                     " to a .mdl file first, then convert that with -o " + request.output);
    if (!request.unusableFlags.empty())
        return Usage(request.unusableFlags.front() + " does not apply to a model file (" + request.model +
                     "); converting it to glTF takes --fps, --strict and --quiet");
    if (request.output.empty()) return Usage("-o OUT.glb or OUT.gltf is required");
    if (!IsGltfOutput(request.output))
        return Usage("a model file converts to glTF: -o wants a .glb or .gltf file, not " + request.output);
    GltfExportOptions options;
    if (const std::string problem = ParseFps(request.fps, options.fps); !problem.empty()) return Usage(problem);
    options.generator = "quorvex " QUORVEX_VERSION;
    options.failOnWarning = request.strict;
    // Every file the conversion writes, the .bin and .png beside a .gltf too.
    for (const std::string& file : GltfOutputFiles(request.output)) {
        if (const std::string problem = CheckOutputPath(file, {request.model}); !problem.empty()) {
            std::fprintf(stderr, "quorvex export: %s\n", problem.c_str());
            return kExitFailed;
        }
    }
    InstallInterruptHandlers("quorvex export");

    const GltfExportResult result = ExportModelToGltf(request.model, request.output, options);
    quorvex::cli::PrintWarnings(stderr, request.model, result.warnings);
    switch (result.failure) {
        case GltfExportFailure::None:
            if (!request.quiet) PrintSummary(result);
            return kExitSuccess;
        case GltfExportFailure::Unreadable:
            std::fprintf(stderr, "quorvex export: %s\n", result.error.c_str());
            return kExitUsage;
        case GltfExportFailure::Warned:
            std::fprintf(stderr, "quorvex export: --strict: %s not written\n", request.output.c_str());
            return kExitFailed;
        default: std::fprintf(stderr, "quorvex export: %s\n", result.error.c_str()); return kExitFailed;
    }
}

}  // namespace quorvex::cli
