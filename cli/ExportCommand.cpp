// quorvex export: loads a scene into the stand-in host and runs the exporter
// the way the modelling host does (LibClassDesc(0), Create, DoExport).
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConsoleProgress.h"
#include "cli/ExportReport.h"
#include "cli/ExportSummary.h"
#include "cli/FlagValues.h"
#include "cli/Interrupt.h"
#include "cli/OutputCheck.h"
#include "cli/ReadBackCheck.h"
#include "cli/Warnings.h"
#include "export/ExportState.h"
#include "mdl/MdlFileWriter.h"
#include "import/Importer.h"
#include "scene/SceneFile.h"
#include "scene/SceneMirror.h"
#include "standin/StandinHost.h"
#include "standin/Win32Standin.h"
#include "plugin/PluginModule.h"
#include "ui/Resource.h"

using namespace quorvex;

namespace {

struct ExportArgs {
    std::string scene;
    std::string output;
    bool hiPrecision = false;
    bool alpha = false;
    bool singleFrame = false;
    std::string frames;
    std::string fps = "30";
    double scale = 1.0;
    std::string mirror;  // "x", "y", "z" or empty
    std::vector<std::string> clips;
    bool noUpFix = false;
    std::string up;
    bool noSwatches = false;
    bool strict = false;
    bool listClips = false;
    bool quiet = false;
    bool verbose = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "quorvex export: %s\n", message.c_str());
    std::fprintf(stderr, "Run 'quorvex export --help' for the flags.\n");
    return ExitUsage;
}

// "START:END", each a decimal integer within 32 bits, optionally negative.
bool ParseFrameRange(const std::string& text, int32_t& start, int32_t& end) {
    const size_t colon = text.find(':', text.empty() ? 0 : 1);
    if (colon == std::string::npos) return false;
    auto parse = [](const std::string& s, int32_t& out) {
        if (s.empty()) return false;
        size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
        if (i == s.size()) return false;
        for (size_t k = i; k < s.size(); ++k)
            if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
        errno = 0;
        char* endPtr = nullptr;
        long long v = std::strtoll(s.c_str(), &endPtr, 10);
        if (errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
        out = static_cast<int32_t>(v);
        return true;
    };
    return parse(text.substr(0, colon), start) && parse(text.substr(colon + 1), end);
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The exporter as the host sees it: the library is attached once per process.
ClassDesc* LoadExporterClass() {
    static char moduleToken;
    static bool attached = false;
    if (!attached) {
        DllMain(reinterpret_cast<HINSTANCE>(&moduleToken), DLL_PROCESS_ATTACH, nullptr);
        attached = true;
    }
    return LibClassDesc(0);
}

int RunExport(ExportArgs& args, bool framesGiven, bool importFlagsGiven) {
    const bool sceneFile = standin::LowerExtension(args.scene) == ".json";
    if (sceneFile && importFlagsGiven)
        return UsageError(
            "--fps, --scale, --mirror, --clip, --up, --no-up-fix, --no-swatches and --list-clips apply "
            "only to imported model files, not to " +
            args.scene);
    int fps = 30;
    if (const std::string problem = ParseFps(args.fps, fps); !problem.empty()) return UsageError(problem);
    // A negative scale would mirror the model and turn every triangle inside
    // out; --mirror mirrors it the right way.
    if (!std::isfinite(args.scale) || args.scale <= 0.0)
        return UsageError("--scale " + Number(args.scale) +
                          ": wants a finite number greater than 0 (to mirror, use --mirror x|y|z)");

    standin::ImportOptions importOptions;
    importOptions.fps = fps;
    importOptions.scale = args.scale;
    if (!args.up.empty() && args.up != "y" && args.up != "z") return UsageError("--up wants y or z, not " + args.up);
    if (!args.up.empty() && args.noUpFix) return UsageError("--no-up-fix is --up z; give one of them");
    importOptions.up = args.noUpFix || args.up == "z" ? standin::UpAxis::Z
                       : args.up == "y"               ? standin::UpAxis::Y
                                                      : standin::UpAxis::AsFile;
    importOptions.clips = args.clips;
    importOptions.swatches = !args.noSwatches;

    std::string error;
    if (args.listClips) {
        if (!args.output.empty()) return UsageError("--list-clips exports nothing; leave out -o " + args.output);
        std::vector<standin::ClipInfo> clips;
        if (!standin::ListClips(args.scene, importOptions, clips, error)) {
            std::fprintf(stderr, "quorvex export: %s\n", error.c_str());
            return ExitUsage;
        }
        if (clips.empty()) std::printf("%s: no animation clips (exports one frame)\n", args.scene.c_str());
        for (const auto& clip : clips) {
            std::printf("%s: %lld frames", clip.name.c_str(), static_cast<long long>(clip.frames));
            if (clip.used != clip.name) std::printf(", named %s", clip.used.c_str());
            std::printf("\n");
        }
        return ExitSuccess;
    }

    if (args.output.empty()) return UsageError("-o OUT.mdl is required");
    int32_t start = 0, end = 0;
    if (framesGiven) {
        if (args.singleFrame) return UsageError("--frames and --single-frame cannot be used together");
        if (!ParseFrameRange(args.frames, start, end))
            return UsageError(
                "--frames wants START:END, two whole numbers within 32 bits, e.g. --frames 0:30 or --frames=-3:-1");
        if (end < start) return UsageError("--frames " + args.frames + ": END is before START");
    }
    // Before any work: a path that cannot be written costs no loading.
    if (const std::string problem = CheckOutputPath(args.output, {args.scene}); !problem.empty()) {
        std::fprintf(stderr, "quorvex export: %s\n", problem.c_str());
        return ExitFailed;
    }
    InstallInterruptHandlers("quorvex export");

    const bool terminal = isatty(fileno(stderr)) && !args.quiet;
    standin::ConsoleProgress progress(terminal ? stderr : nullptr);
    auto track = [&progress](const standin::ProgressCall& call) {
        progress.Handle(call);
        // The frame phases advance once per frame of the range the dialog or the flags chose.
        if (call.kind == standin::ProgressCall::Start &&
            (call.caption == "Writing Frames" || call.caption == "Calculating.."))
            progress.CountFrames(int64_t(exportState.options.endFrame) - exportState.options.startFrame + 1);
        SetProgressLineOpen(progress.LineOpen());
    };

    standin::SceneDocument document;
    standin::ImportNotes notes;
    // A scene file loads in one go; an import goes through its own phases.
    auto phase = [&progress](const std::string& caption) {
        progress.Begin(caption);
        SetProgressLineOpen(progress.LineOpen());
    };
    if (sceneFile) phase("Loading");
    importOptions.onPhase = phase;
    const bool loaded = sceneFile ? standin::LoadSceneFile(args.scene, document, error)
                                  : standin::ImportScene(args.scene, importOptions, document, notes, error);
    if (!loaded) {
        progress.BreakLine();
        std::fprintf(stderr, "quorvex export: %s\n", error.c_str());
        // Running out of memory is a failure, not a fault of the scene.
        return notes.refused || error.find(": Not enough memory") != std::string::npos ? ExitFailed : ExitUsage;
    }
    progress.Finish();
    SetProgressLineOpen(false);
    if (args.strict && !notes.warnings.empty()) {
        standin::PrintWarnings(stderr, args.scene, notes.warnings);
        std::fprintf(stderr, "quorvex export: --strict: %s not written\n", args.output.c_str());
        return ExitFailed;
    }
    // The model file's x is the scene's y (and its y the scene's -x), so the
    // axis the user names, as `info` and `view` show it, is turned round.
    if (!args.mirror.empty()) standin::MirrorScene(document, args.mirror == "x" ? 1 : args.mirror == "y" ? 0 : 2);
    if (args.verbose) PrintLoaded(stdout, args.scene, CountLoaded(document));

    standin::StandinHost host(std::move(document));
    standin::HostGlobalsScope hostScope(&host);
    standin::ScriptedWin32 win32;
    standin::Win32Scope win32Scope(&win32);

    host.onProgress = track;
    // The written file is read back before it replaces the target.
    ReadBackCheck readBack;
    win32.onMessageBox = [&](const standin::MessageBoxCall& box) {
        progress.BreakLine();
        SetProgressLineOpen(false);
        // The exporter's words stay as they are; the system's reason follows them.
        const int reason = MdlLastWriteError();
        // (The exporter cuts its text at 255 bytes.)
        const std::string failedWrite = "Cannot write " + args.output;
        const bool writeFailed =
            reason != 0 && box.text.rfind("Cannot write ", 0) == 0 && failedWrite.rfind(box.text, 0) == 0;
        if (writeFailed && readBack.checked && !readBack.read.ok())
            std::fprintf(stderr, "%s: %s: the written model does not read back (%s)\n", box.caption.c_str(),
                         box.text.c_str(), readBack.read.error.message.c_str());
        else if (writeFailed)
            std::fprintf(stderr, "%s: %s: %s\n", box.caption.c_str(), box.text.c_str(), std::strerror(reason));
        else
            std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
    };

    // A picture that cannot be loaded leaves its place in the skin empty: say
    // so once per picture (the exporter loads each more than once).
    std::vector<std::string> pictureWarnings;
    host.onPictureError = [&](const std::string& why) {
        if (std::find(pictureWarnings.begin(), pictureWarnings.end(), why) == pictureWarnings.end()) {
            pictureWarnings.push_back(why);
        }
    };

    ClassDesc* classDesc = LoadExporterClass();
    std::unique_ptr<SceneExport> exporter(classDesc ? static_cast<SceneExport*>(classDesc->Create(FALSE)) : nullptr);
    if (!exporter) {
        std::fprintf(stderr, "quorvex export: the exporter could not be created\n");
        return ExitFailed;
    }

    BOOL suppressPrompts = FALSE;
    if (framesGiven) {
        exportState.options.startFrame = start;
        exportState.options.endFrame = end;
        exportState.options.hiPrecision = args.hiPrecision ? 1 : 0;
        exportState.options.alphaChannel = args.alpha ? 1 : 0;
        suppressPrompts = TRUE;
    } else {
        // The options dialog opens as it would in the host; the flags answer it.
        if (args.hiPrecision) win32.script.push_back({standin::DialogStep::Toggle, IDC_HI_PRECISION});
        if (args.alpha) win32.script.push_back({standin::DialogStep::Toggle, IDC_ALPHA_CHANNEL});
        win32.script.push_back({standin::DialogStep::Press, args.singleFrame ? IDC_SINGLE_FRAME : IDOK});
    }

    InstallReadBackCheck(&readBack);
    const int result = exporter->DoExport(args.output.c_str(), nullptr, &host, suppressPrompts, 0);
    InstallReadBackCheck(nullptr);
    // Signals are held from the read-back to here; now the file in place is known.
    const bool written = result == 1 && win32.messageBoxes.empty() && readBack.checked && readBack.read.ok();
    if (written) SetOutputWritten(args.output.c_str());
    LetInterruptsThrough();
    host.ExportEnded();
    progress.BreakLine();
    SetProgressLineOpen(false);
    exporter.reset();
    standin::PrintWarnings(stderr, args.scene, notes.warnings);
    standin::PrintWarnings(stderr, args.scene, pictureWarnings);
    if (!written) return ExitFailed;

    if (!args.quiet) PrintExportSummary(stdout, args.output, readBack.read);
    if (args.verbose) {
        PrintPhaseTimes(stdout, progress.Phases());
        PrintQuantization(stdout, args.output);
    }
    return ExitSuccess;
}

void AddExportCommand(CLI::App& app, int& exitStatus) {
    auto args = std::make_shared<ExportArgs>();
    CLI::App* cmd = app.add_subcommand("export", "Export a scene to a model file");
    cmd->description(
        "Export a whole animated scene to one vertex-animated model file.\n"
        "SCENE is a stand-in host scene file (*.json, see docs/scene-files.md) or a model file\n"
        "in an interchange format: glTF (.gltf, .glb) or anything Assimp reads (.fbx, .obj,\n"
        ".dae, .3ds, ...). In a scene file every visible mesh needs a standard material with a\n"
        "diffuse bitmap and texture coordinates; an imported mesh without them gets a swatch of\n"
        "its material's colour, with a warning.\n"
        "Warnings (\"quorvex: warning: FILE: ...\") name whatever the import changed.\n"
        "Without --frames the export options dialog runs as in the modelling host: the frame\n"
        "range is the scene's animation range and the flags tick its boxes.\n"
        "Exit status: 0 written, 1 export refused or failed (the message says why; also an\n"
        "imported file without triangles, and any warning under --strict), 2 bad usage or\n"
        "unreadable scene.");
    cmd->add_option("SCENE", args->scene, "Scene to export")->required();
    cmd->add_option("-o,--output", args->output, "Model file to write (OUT.mdl)");
    cmd->add_flag("--hi-precision", args->hiPrecision, "16-bit vertices (\"MDL4\") instead of 8-bit (\"MDL3\")");
    cmd->add_flag("--alpha", args->alpha, "ARGB4444 skin (alpha nibble written as 0) instead of RGB565");
    cmd->add_flag("--single-frame", args->singleFrame, "Export only the first frame of the animation range");
    CLI::Option* frames = cmd->add_option(
        "--frames", args->frames,
        "START:END  Export scene frames START to END (inclusive; negative frames allowed, e.g. --frames=-3:-1)\n"
        "without the options dialog");
    CLI::Option* fps =
        cmd->add_option("--fps", args->fps, "Imported files: frames per second, a divisor of 4800 (default 30)")
            ->type_name("N");
    CLI::Option* scale =
        cmd->add_option("--scale", args->scale, "Imported files: multiply every position by F > 0 (default 1)")
            ->type_name("F");
    CLI::Option* mirror =
        cmd->add_option("--mirror", args->mirror,
                        "Imported files: mirror the model across the plane normal to this axis of\n"
                        "the model file, winding every triangle the other way so that it still faces out")
            ->type_name("x|y|z")
            ->check(CLI::IsMember({"x", "y", "z"}));
    CLI::Option* clip =
        cmd->add_option("--clip", args->clips,
                        "Imported files: export only this animation clip (repeatable; in the order given).\n"
                        "OLD=NEW selects clip OLD and names its frames NEW");
    CLI::Option* up = cmd->add_option("--up", args->up,
                                      "Imported files: y or z, the file's up axis (default: its metadata, else its\n"
                                      "format's convention); y files are turned to stand in the Z-up host");
    CLI::Option* noUpFix =
        cmd->add_flag("--no-up-fix", args->noUpFix, "Imported files: the file's axes as stored (same as --up z)");
    CLI::Option* noSwatches =
        cmd->add_flag("--no-swatches", args->noSwatches,
                      "Imported files: no colour swatches; meshes without a usable texture are refused");
    CLI::Option* listClips =
        cmd->add_flag("--list-clips", args->listClips,
                      "Imported files: list the animation clips, their lengths and frame names, export nothing");
    cmd->add_flag("--strict", args->strict, "Treat every warning as a failure: exit 1, write nothing");
    cmd->add_flag("-q,--quiet", args->quiet, "No progress bar and no summary");
    cmd->add_flag("-v,--verbose", args->verbose,
                  "Also say what was loaded, how long each phase took, and the quantization step and largest\n"
                  "position error per axis");
    cmd->callback([args, frames, fps, scale, mirror, clip, up, noUpFix, noSwatches, listClips, &exitStatus]() {
        const bool importFlags = fps->count() || scale->count() || mirror->count() || clip->count() || up->count() ||
                                 noUpFix->count() || noSwatches->count() || listClips->count();
        exitStatus = RunExport(*args, frames->count() > 0, importFlags);
    });
}

CommandRegistration registerExport(0, AddExportCommand);

}  // namespace
