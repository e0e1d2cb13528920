// quorvex export: loads a scene into the stand-in host and runs the exporter
// the way the modelling host does (LibClassDesc(0), Create, DoExport).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "cli/BudgetFlags.h"
#include "cli/Commands.h"
#include "cli/ConsoleProgress.h"
#include "cli/ExportBatch.h"
#include "cli/ExportReport.h"
#include "cli/ExportSummary.h"
#include "cli/FlagValues.h"
#include "cli/Interrupt.h"
#include "cli/ModelToGltf.h"
#include "cli/OutputCheck.h"
#include "cli/ReadBackCheck.h"
#include "cli/RefusalRemedy.h"
#include "cli/ReportFile.h"
#include "cli/SourceFlags.h"
#include "cli/Warnings.h"
#include "import/Importer.h"
#include "scene/SceneFile.h"
#include "scene/SceneMirror.h"
#include "standin/ExportSession.h"
#include "ui/Resource.h"

namespace quorvex::cli {

using namespace quorvex;

namespace {

struct ExportArgs {
    std::vector<std::string> scenes;
    std::string output;
    std::string outDir;
    std::string report;
    int jobs = 0;  // 0: one per core
    bool failFast = false;
    bool keepGoing = true;  // the default; the flag says so out loud
    bool hiPrecision = false;
    bool alpha = false;
    bool singleFrame = false;
    std::string frames;
    std::string fps = "30";
    double scale = 1.0;
    std::string mirror;  // "x", "y", "z" or empty
    std::vector<std::string> clips;
    bool noUpFix = false;
    bool fpsGiven = false;
    std::string up;
    std::string forward;
    std::vector<std::string> textureDirs;
    std::vector<std::string> textures;
    std::string skinFile;
    bool noSwatches = false;
    bool strict = false;
    bool secure = false;
    bool listClips = false;
    bool quiet = false;
    bool verbose = false;
    BudgetFlags budget;
    int threads = 0;  // 0: one per core
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "quorvex export: %s\n", message.c_str());
    std::fprintf(stderr, "Run 'quorvex export --help' for the flags.\n");
    return kExitUsage;
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

// The flags, read once before any input is touched.
struct ParsedFlags {
    quorvex::importer::ImportOptions importOptions;
    bool framesGiven = false;
    bool importFlagsGiven = false;
    int32_t start = 0, end = 0;
};

int ReadFlags(ExportArgs& args, ParsedFlags& flags) {
    int fps = 30;
    if (const std::string problem = ParseFps(args.fps, fps); !problem.empty()) return UsageError(problem);
    // A negative scale would mirror the model and turn every triangle inside
    // out; --mirror mirrors it the right way.
    if (!std::isfinite(args.scale) || args.scale <= 0.0)
        return UsageError("--scale " + Number(args.scale) +
                          ": wants a finite number greater than 0 (to mirror, use --mirror x|y|z)");
    quorvex::importer::ImportOptions& importOptions = flags.importOptions;
    importOptions.fps = fps;
    importOptions.fpsGiven = args.fpsGiven;
    importOptions.scale = args.scale;
    if (const std::string problem = ApplyFacingFlags(args.up, args.forward, args.noUpFix, importOptions);
        !problem.empty())
        return UsageError(problem);
    if (const std::string problem = ApplyPictureFlags(args.textureDirs, args.textures, args.skinFile, importOptions);
        !problem.empty())
        return UsageError(problem);
    importOptions.clips = args.clips;
    importOptions.swatches = !args.noSwatches;
    importOptions.secure = args.secure;
    if (args.listClips) {
        if (!args.output.empty()) return UsageError("--list-clips exports nothing; leave out -o " + args.output);
        if (!args.outDir.empty()) return UsageError("--list-clips exports nothing; leave out --out-dir");
        return kExitSuccess;
    }
    if (const std::string problem = ParseBudgetFlags(args.budget); !problem.empty()) return UsageError(problem);
    if (flags.framesGiven) {
        if (args.singleFrame) return UsageError("--frames and --single-frame cannot be used together");
        if (!ParseFrameRange(args.frames, flags.start, flags.end))
            return UsageError(
                "--frames wants START:END, two whole numbers within 32 bits, e.g. --frames 0:30 or --frames=-3:-1");
        if (flags.end < flags.start) return UsageError("--frames " + args.frames + ": END is before START");
    }
    return kExitSuccess;
}

// Says why an input was not written: on standard error and in its record.
int Fail(InputReport& report, int status, const char* statusWord, const std::string& message) {
    std::fprintf(stderr, "quorvex export: %s\n", message.c_str());
    report.status = statusWord;
    report.exitStatus = status;
    report.message = message;
    return status;
}

// What the command calls the exporter's phases.
std::string PhaseName(const std::string& caption) {
    if (caption == kScanningCaption) return "Scanning scene";
    if (caption == kSamplingCaption) return "Sampling frames";
    if (caption == kNormalsCaption) return "Computing normals";
    return caption;
}

int ListInputClips(const std::string& scene, const ParsedFlags& flags) {
    quorvex::scene::LoadError error;
    std::vector<quorvex::importer::ClipInfo> clips;
    if (!quorvex::importer::ListClips(scene, flags.importOptions, clips, error)) {
        std::fprintf(stderr, "quorvex export: %s\n", error.message.c_str());
        return kExitUsage;
    }
    if (clips.empty()) std::printf("%s: no animation clips (exports one frame)\n", scene.c_str());
    for (const auto& clip : clips) {
        std::printf("%s: %lld frame%s", clip.name.c_str(), static_cast<long long>(clip.frames),
                    clip.frames == 1 ? "" : "s");
        if (clip.used != clip.name) std::printf(", named %s", clip.used.c_str());
        std::printf("\n");
    }
    return kExitSuccess;
}

// The exporter's progress on the console, its phases by the command's names.
std::function<void(const quorvex::standin::ProgressCall&)> TrackExport(quorvex::cli::ConsoleProgress& progress) {
    return [&progress, normalsDone = int64_t(0),
            normalsPhase = false](const quorvex::standin::ProgressCall& call) mutable {
        quorvex::standin::ProgressCall shown = call;
        shown.caption = PhaseName(call.caption);
        progress.Handle(shown);
        // The frame phases advance once per frame of the range the dialog or the flags chose.
        const ExportOptionsRecord& options = RememberedExportOptions();
        const int64_t frames = int64_t(options.endFrame) - options.startFrame + 1;
        if (call.kind == quorvex::standin::ProgressCall::Start) {
            normalsPhase = call.caption == kNormalsCaption;
            normalsDone = 0;
            if (call.caption == kSamplingCaption || normalsPhase) progress.CountFrames(frames);
        } else if (call.kind == quorvex::standin::ProgressCall::Update && normalsPhase && ++normalsDone == frames) {
            // The file is written after the last frame's normals, within the same phase of the exporter's.
            normalsPhase = false;
            progress.Begin("Writing");
        }
        SetProgressLineOpen(progress.LineOpen());
    };
}

void RecordWarnings(InputReport& report, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) report.warnings.push_back({quorvex::cli::WarningKind(text), text});
}

std::string StrictRefusal(size_t count, const std::string& output) {
    return "--strict: " + std::to_string(count) + (count == 1 ? " warning" : " warnings") + "; " + output +
           " not written";
}

// One input on its way to the exporter.
struct LoadedInput {
    std::string scene;
    std::string output;
    bool sceneFile = false;
    quorvex::scene::SceneDocument document;
    quorvex::importer::ImportNotes notes;
    int32_t start = 0, end = 0;  // the frames --frames asked for, cut to the source
};

// Reads the input into input.document: a scene file in one go, an import
// through its own phases. kExitSuccess, or the status of a failure it said.
int LoadInput(const ParsedFlags& flags, LoadedInput& input, quorvex::cli::ConsoleProgress& progress,
              InputReport& report) {
    auto phase = [&progress](const std::string& caption) {
        progress.Begin(caption);
        SetProgressLineOpen(progress.LineOpen());
    };
    if (input.sceneFile) phase("Loading");
    quorvex::importer::ImportOptions importOptions = flags.importOptions;
    importOptions.onPhase = phase;
    quorvex::scene::LoadError error;
    const bool loaded = input.sceneFile ? quorvex::scene::LoadSceneFile(input.scene, input.document, error)
                                        : quorvex::importer::ImportScene(input.scene, importOptions, input.document,
                                                                         input.notes, error);
    if (!loaded) {
        progress.BreakLine();
        report.times = progress.Phases();
        // A file without a triangle is refused as the exporter would; running
        // out of memory is a failure, not a fault of the scene.
        switch (error.kind) {
            case quorvex::scene::LoadErrorKind::NothingToExport:
                return Fail(report, kExitFailed, "refused", error.message);
            case quorvex::scene::LoadErrorKind::NotEnoughMemory:
                return Fail(report, kExitFailed, "failed", error.message);
            default: return Fail(report, kExitUsage, "usage", error.message);
        }
    }
    progress.Finish();
    SetProgressLineOpen(false);
    return kExitSuccess;
}

// Between loading and exporting: the frames cut to the source, the budgets,
// --strict over the import's warnings, --mirror. kBudgetContinue, or the
// status to end with.
int PrepareInput(const ExportArgs& args, const ParsedFlags& flags, LoadedInput& input,
                 quorvex::cli::ConsoleProgress& progress, InputReport& report) {
    const std::string& scene = input.scene;
    std::vector<std::string>& warnings = input.notes.warnings;
    // A range past the source's last frame is cut to the source.
    input.start = flags.start;
    input.end = flags.end;
    if (flags.framesGiven && !input.sceneFile) {
        std::string cutError;
        if (!CutFramesToSource(input.document, input.start, input.end, warnings, cutError))
            return Fail(report, kExitUsage, "usage", scene + ": " + cutError);
    }
    quorvex::budget::Reductions reductions;
    if (const int status = ApplyBudgetFlags(
            args.budget, input.document,
            ExportSpan(input.document, flags.framesGiven, input.start, input.end, args.singleFrame), scene,
            input.output, args.hiPrecision, args.verbose, args.quiet, stdout, warnings, reductions);
        status != kBudgetContinue) {
        quorvex::cli::PrintWarnings(stderr, scene, warnings, args.verbose);
        report.status = status == kExitSuccess ? "dry-run" : "refused";
        report.exitStatus = status;
        return status;
    }
    if (reductions.Any()) report.reductions.push_back({"budget", quorvex::budget::ReductionSummary(reductions)});
    RecordWarnings(report, warnings);
    if (args.strict && !warnings.empty()) {
        quorvex::cli::PrintWarnings(stderr, scene, warnings, args.verbose);
        report.times = progress.Phases();
        return Fail(report, kExitFailed, "refused", StrictRefusal(warnings.size(), input.output));
    }
    // The model file's x is the scene's y (and its y the scene's -x), so the
    // axis the user names, as `info` and `view` show it, is turned round.
    if (!args.mirror.empty())
        quorvex::scene::MirrorScene(input.document, args.mirror == "x" ? 1 : args.mirror == "y" ? 0 : 2);
    if (args.verbose) PrintLoaded(stdout, scene, CountLoaded(input.document));
    return kBudgetContinue;
}

// What the export is asked: the options from --frames, or the dialog
// answered as the flags say.
quorvex::standin::ExportRequest RequestFor(const ExportArgs& args, const ParsedFlags& flags, const LoadedInput& input) {
    quorvex::standin::ExportRequest request;
    request.output = input.output;
    request.threads = args.threads;
    request.confinePictures = args.secure;
    if (flags.framesGiven) {
        request.options = ExportOptionsRecord{input.start, input.end, args.hiPrecision ? 1 : 0, args.alpha ? 1 : 0};
    } else {
        // The options dialog opens as it would in the host; the flags answer it.
        if (args.hiPrecision) request.dialog.push_back({quorvex::standin::DialogStep::Toggle, IDC_HI_PRECISION});
        if (args.alpha) request.dialog.push_back({quorvex::standin::DialogStep::Toggle, IDC_ALPHA_CHANNEL});
        request.dialog.push_back({quorvex::standin::DialogStep::Press, args.singleFrame ? IDC_SINGLE_FRAME : IDOK});
    }
    return request;
}

// A message box of the exporter as one line on standard error: the
// exporter's words as they are, then the system's reason or a remedy.
std::string MessageLine(const std::string& scene, const quorvex::standin::ExportMessage& box,
                        const ReadBackCheck& readBack) {
    if (box.kind == quorvex::standin::ExportOutcome::CannotWrite && readBack.noTriangles)
        return scene + ": no triangles: nothing in the scene exports a triangle; nothing was written";
    std::string text = scene + ": " + box.text;
    if (box.kind == quorvex::standin::ExportOutcome::CannotWrite && readBack.checked && !readBack.read.ok())
        text += ": the written model does not read back (" + readBack.read.error.message + ")";
    else if (box.kind == quorvex::standin::ExportOutcome::CannotWrite)
        text += std::string(": ") + std::strerror(box.systemError);
    else
        text += RefusalRemedy(box.text);
    return text;
}

// Runs the export of a loaded input and says how it went.
int ExportLoaded(const ExportArgs& args, const ParsedFlags& flags, LoadedInput& input,
                 quorvex::cli::ConsoleProgress& progress, InputReport& report) {
    const std::string& scene = input.scene;
    const std::string& output = input.output;
    quorvex::standin::ExportRequest request = RequestFor(args, flags, input);
    request.onProgress = TrackExport(progress);
    // The written file is read back before it replaces the target.
    ReadBackCheck readBack;
    request.onMessage = [&](const quorvex::standin::ExportMessage& box) {
        progress.BreakLine();
        SetProgressLineOpen(false);
        const std::string text = MessageLine(scene, box, readBack);
        if (report.message.empty()) {
            Fail(report, kExitFailed, "refused", text);
        } else {
            std::fprintf(stderr, "quorvex export: %s\n", text.c_str());
        }
    };
    // A picture that cannot be loaded leaves its place in the skin empty: say
    // so once per picture (the exporter loads each more than once).
    std::vector<std::string> pictureWarnings;
    request.onPictureError = [&](const std::string& why) {
        if (std::find(pictureWarnings.begin(), pictureWarnings.end(), why) == pictureWarnings.end()) {
            pictureWarnings.push_back(why);
        }
    };
    bool written = false;
    request.beforeExport = [&readBack] { InstallReadBackCheck(&readBack); };
    request.afterExport = [&](quorvex::standin::ExportOutcome outcome) {
        InstallReadBackCheck(nullptr);
        // Signals are held from the read-back to here; now the file in place is known.
        written = outcome == quorvex::standin::ExportOutcome::Written && readBack.checked && readBack.read.ok();
        if (written) SetOutputWritten(output.c_str());
        LetInterruptsThrough();
    };
    const quorvex::standin::ExportResult result =
        quorvex::standin::RunExportSession(std::move(input.document), request);
    progress.BreakLine();
    SetProgressLineOpen(false);
    report.times = progress.Phases();
    RecordWarnings(report, pictureWarnings);
    // After a refusal its message is the last word.
    if (!result.messages.empty()) return kExitFailed;
    if (!written && !result.message.empty()) return Fail(report, kExitFailed, "failed", result.message);
    if (!written) return Fail(report, kExitFailed, "failed", scene + ": the export did not finish");
    std::vector<std::string> warnings = input.notes.warnings;
    warnings.insert(warnings.end(), pictureWarnings.begin(), pictureWarnings.end());
    quorvex::cli::PrintWarnings(stderr, scene, warnings, args.verbose);
    if (args.strict && !pictureWarnings.empty()) {
        // A picture that failed to load is found only while exporting.
        std::remove(output.c_str());
        return Fail(report, kExitFailed, "refused", StrictRefusal(warnings.size(), output));
    }
    report.status = "written";
    report.exitStatus = kExitSuccess;
    DescribeWrittenFile(output, readBack.read, report);
    if (!args.quiet) PrintExportSummary(stdout, output, readBack.read);
    if (args.verbose) {
        PrintPhaseTimes(stdout, progress.Phases());
        PrintQuantization(stdout, readBack.read);
    }
    return kExitSuccess;
}

// One input to one model file, as the command does for a single input.
int ExportInput(const ExportArgs& args, const ParsedFlags& flags, const BatchItem& item, InputReport& report) {
    LoadedInput input;
    input.scene = item.input;
    input.output = item.output;
    input.sceneFile = quorvex::importer::LowerExtension(input.scene) == ".json";
    report.input = input.scene;
    report.output = input.output;
    if (input.sceneFile && flags.importFlagsGiven) {
        const std::string message =
            "--fps, --scale, --mirror, --clip, --up, --forward, --no-up-fix, --texture, --texture-dir, --skin-file, "
            "--no-swatches and --list-clips apply only to imported model files, not to " +
            input.scene;
        UsageError(message);
        report.status = "usage";
        report.exitStatus = kExitUsage;
        report.message = message;
        return kExitUsage;
    }
    // Before any work: a path that cannot be written costs no loading.
    // A dry run writes nothing and may have no output.
    if (const std::string problem = input.output.empty() ? "" : CheckOutputPath(input.output, {input.scene});
        !problem.empty())
        return Fail(report, kExitFailed, "failed", problem);
    InstallInterruptHandlers("quorvex export");

    const bool terminal = isatty(fileno(stderr)) && !args.quiet;
    quorvex::cli::ConsoleProgress progress(terminal ? stderr : nullptr);
    if (const int status = LoadInput(flags, input, progress, report); status != kExitSuccess) return status;
    if (const int status = PrepareInput(args, flags, input, progress, report); status != kBudgetContinue) return status;
    return ExportLoaded(args, flags, input, progress, report);
}

int DefaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 256u));
}

// The whole command: the flags, the inputs and their outputs are checked
// before any input is loaded; then each input is exported.
int RunExport(ExportArgs& args, bool framesGiven, bool importFlagsGiven, const std::vector<std::string>& sceneFlags) {
    // A model file converts to glTF; the input's kind and the output's extension decide.
    if (args.scenes.size() == 1 && (IsModelFileInput(args.scenes[0]) || IsGltfOutput(args.output)))
        return RunModelToGltf({args.scenes[0], args.output, args.fps, args.strict, args.quiet, sceneFlags});
    const auto started = std::chrono::steady_clock::now();
    ParsedFlags flags;
    flags.framesGiven = framesGiven;
    flags.importFlagsGiven = importFlagsGiven;
    if (const int status = ReadFlags(args, flags); status != kExitSuccess) return status;

    std::vector<std::string> inputs;
    if (const std::string problem = ExpandInputs(args.scenes, inputs); !problem.empty()) return UsageError(problem);
    if (args.listClips) {
        int status = kExitSuccess;
        for (const std::string& scene : inputs) status = std::max(status, ListInputClips(scene, flags));
        return status;
    }

    std::vector<BatchItem> items;
    if (!args.output.empty()) {
        if (!args.outDir.empty()) return UsageError("-o and --out-dir cannot be used together");
        if (inputs.size() > 1)
            return UsageError("-o names one file, but " + std::to_string(inputs.size()) +
                              " inputs were given; use --out-dir DIR to write each to DIR/NAME.mdl");
        // A path that cannot be written at all (a folder, the input itself) is
        // said as such by the export; only a writable one is judged by its name.
        if (const std::string problem = CheckOutputName(args.output);
            !problem.empty() && (args.output == "-" || CheckOutputPath(args.output, {inputs[0]}).empty()))
            return UsageError(problem);
        items.push_back({inputs[0], args.output});
    } else if (!args.outDir.empty()) {
        if (const std::string problem = PlanOutputs(inputs, args.outDir, items); !problem.empty())
            return UsageError(problem);
        std::error_code ec;
        std::filesystem::create_directories(args.outDir, ec);
        if (ec) {
            std::fprintf(stderr, "quorvex export: Cannot create %s: %s\n", args.outDir.c_str(), ec.message().c_str());
            return kExitFailed;
        }
    } else if (args.budget.dryRun) {
        for (const std::string& input : inputs) items.push_back({input, ""});
    } else {
        return UsageError(inputs.size() > 1 ? "--out-dir DIR is required with several inputs"
                                            : "-o OUT.mdl (or --out-dir DIR) is required");
    }
    if (args.jobs < 0 || args.jobs > 256) return UsageError("-j " + std::to_string(args.jobs) + ": wants 1 to 256");
    std::vector<std::string> paths = inputs;
    for (const BatchItem& item : items) paths.push_back(item.output);
    if (!args.report.empty()) {
        if (const std::string problem = CheckOutputPath(args.report, paths); !problem.empty()) {
            std::fprintf(stderr, "quorvex export: --report: %s\n", problem.c_str());
            return kExitFailed;
        }
    }

    ExportRunReport report;
    if (items.size() == 1) {
        report.inputs.resize(1);
        report.exitStatus = ExportInput(args, flags, items[0], report.inputs[0]);
    } else {
        InstallInterruptHandlers("quorvex export");
        BatchOptions options;
        options.jobs = args.jobs > 0 ? args.jobs : DefaultJobs();
        options.failFast = args.failFast;
        options.progress = isatty(fileno(stderr)) && !args.quiet;
        report.exitStatus = RunBatch(
            items, options,
            [&args, &flags](const BatchItem& item, InputReport& one) { return ExportInput(args, flags, item, one); },
            report.inputs);
        if (!args.quiet) {
            size_t written = 0;
            for (const InputReport& one : report.inputs) written += one.status == "written" ? 1 : 0;
            std::printf("%zu of %zu input%s written\n", written, items.size(), items.size() == 1 ? "" : "s");
        }
    }
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!args.report.empty()) {
        if (const std::string why = WriteTextFile(args.report, ReportJson(report)); !why.empty()) {
            std::fprintf(stderr, "quorvex export: Cannot write %s: %s\n", args.report.c_str(), why.c_str());
            return std::max(report.exitStatus, kExitFailed);
        }
    }
    return report.exitStatus;
}

// The flags that apply to imported model files only.
struct ImportFlagOptions {
    CLI::Option *fps, *scale, *mirror, *clip, *up, *forward, *noUpFix, *textureDir, *texture, *skinFile, *noSwatches,
        *listClips;
    bool Any() const {
        return fps->count() || scale->count() || mirror->count() || clip->count() || up->count() || forward->count() ||
               noUpFix->count() || textureDir->count() || texture->count() || skinFile->count() ||
               noSwatches->count() || listClips->count();
    }
};

ImportFlagOptions AddImportFlags(CLI::App* cmd, ExportArgs& args) {
    ImportFlagOptions flags;
    flags.fps =
        cmd->add_option("--fps", args.fps,
                        "Imported files, and model files to glTF: frames per second, a divisor of 4800 (default 30)")
            ->type_name("N");
    flags.scale = cmd->add_option("--scale", args.scale, "Imported files: multiply every position by F > 0 (default 1)")
                      ->type_name("F");
    flags.mirror = cmd->add_option("--mirror", args.mirror,
                                   "Imported files: mirror the model across the plane normal to this axis of\n"
                                   "the model file, winding every triangle the other way so that it still faces out")
                       ->type_name("x|y|z")
                       ->check(CLI::IsMember({"x", "y", "z"}));
    flags.clip = cmd->add_option("--clip", args.clips,
                                 "Imported files: export only this animation clip (repeatable; in the order given).\n"
                                 "OLD=NEW selects clip OLD and names its frames NEW");
    flags.up = cmd->add_option("--up", args.up,
                               "Imported files: the file's up axis (default: its metadata, else its\n"
                               "format's convention)")
                   ->type_name("[+-]x|y|z");
    flags.forward = cmd->add_option("--forward", args.forward,
                                    "Imported files: the axis the model faces along (default: its metadata or\n"
                                    "convention where square to the up axis, else +z for y up, -y for z up)")
                        ->type_name("[+-]x|y|z");
    flags.noUpFix = cmd->add_flag("--no-up-fix", args.noUpFix, "Imported files: the file's axes as stored");
    flags.textureDir =
        cmd->add_option("--texture-dir", args.textureDirs,
                        "Imported files: also look for pictures in DIR, after the model's folder (repeatable)")
            ->type_name("DIR");
    flags.texture = cmd->add_option("--texture", args.textures,
                                    "Imported files: MATERIAL=FILE gives a material its picture; FILE alone is the\n"
                                    "picture of every mesh without a usable one (repeatable)")
                        ->type_name("[MATERIAL=]FILE");
    flags.skinFile = cmd->add_option("--skin-file", args.skinFile,
                                     "Imported MD3 files: the skin file naming each surface's picture\n"
                                     "(default: NAME_default.skin beside the model)")
                         ->type_name("FILE");
    flags.noSwatches = cmd->add_flag("--no-swatches", args.noSwatches,
                                     "Imported files: no colour swatches; meshes without a usable texture are refused");
    flags.listClips =
        cmd->add_flag("--list-clips", args.listClips,
                      "Imported files: list the animation clips, their lengths and frame names, export nothing");
    return flags;
}

}  // namespace

void AddExportCommand(CLI::App& app, int& exitStatus) {
    auto args = std::make_shared<ExportArgs>();
    CLI::App* cmd = app.add_subcommand("export", "Export a scene to a model file");
    cmd->description(
        "Export whole animated scenes to vertex-animated model files, one file per input.\n"
        "SCENE is a stand-in host scene file (*.json, see docs/scene-files.md) or a model file\n"
        "in an interchange format: glTF (.gltf, .glb) or anything Assimp reads (.fbx, .obj,\n"
        ".dae, .3ds, ...). In a scene file every visible mesh needs a standard material with a\n"
        "diffuse bitmap and texture coordinates; an imported mesh without them gets a swatch of\n"
        "its material's colour, with a warning.\n"
        "One input is written to -o OUT.mdl; several (or a pattern such as 'models/*.glb', expanded\n"
        "here when the shell did not) each to --out-dir DIR as DIR/NAME.mdl, -j of them at a time.\n"
        "Warnings (\"quorvex: warning: FILE: ...\") name whatever the import changed; many of one\n"
        "kind print as one line (-v prints each).\n"
        "Without --frames the frames are the scene's animation range.\n"
        "Exit status: 0 every input written, 1 an export refused or failed (the message says why; also\n"
        "an imported file without triangles, and any warning under --strict), 2 bad usage or an\n"
        "unreadable scene. With several inputs, the highest status any input got.\n"
        "A model file (MODEL.mdl) converts to glTF 2.0 instead: -o OUT.glb (one file) or OUT.gltf (with\n"
        "OUT.bin and OUT.png beside it): one morph target per frame, one animation per sequence of\n"
        "frames at --fps (default 30), the skin as a PNG texture.");
    cmd->add_option("SCENE", args->scenes, "Scenes to export (one or more)")->required();
    cmd->add_option("-o,--output", args->output, "Model file to write (OUT.mdl), for a single input");
    cmd->add_option("--out-dir", args->outDir, "Folder to write each input to, as DIR/NAME.mdl (created if missing)")
        ->type_name("DIR");
    cmd->add_option("-j,--jobs", args->jobs, "Inputs converted at once (default: one per core)")->type_name("N");
    CLI::Option* failFast = cmd->add_flag(
        "--fail-fast", args->failFast, "Stop at the first input that fails (default: convert every input, then fail)");
    cmd->add_flag("--keep-going", args->keepGoing, "Convert every input even when some fail (the default)")
        ->excludes(failFast);
    cmd->add_option("--report", args->report, "Also write what became of each input as JSON (docs/report.md)")
        ->type_name("FILE.json");
    cmd->add_flag("--hi-precision", args->hiPrecision, "16-bit vertices (\"MDL4\") instead of 8-bit (\"MDL3\")");
    cmd->add_flag("--alpha", args->alpha, "ARGB4444 skin (alpha nibble written as 0) instead of RGB565");
    cmd->add_flag("--single-frame", args->singleFrame, "Export only the first frame of the animation range");
    CLI::Option* frames = cmd->add_option(
        "--frames", args->frames,
        "START:END  Export scene frames START to END (inclusive; negative frames allowed, e.g. --frames=-3:-1)");
    const ImportFlagOptions importFlags = AddImportFlags(cmd, *args);
    AddBudgetFlags(cmd, args->budget);
    cmd->add_flag("--strict", args->strict, "Treat every warning as a failure: exit 1, write nothing");
    cmd->add_option("--threads", args->threads, "Threads working on the frames (default: one per core); same bytes")
        ->check(CLI::Range(1, 1024));
    cmd->add_flag("--secure", args->secure,
                  "Read no file the scene names (pictures, buffers, material libraries) from outside the\n"
                  "scene's folder: for files you did not make (see docs/limits.md)");
    cmd->add_flag("-q,--quiet", args->quiet, "No progress bar and no summary");
    cmd->add_flag("-v,--verbose", args->verbose,
                  "Also say what was loaded, how long each phase took, and the quantization step and largest\n"
                  "position error per axis");
    cmd->callback([cmd, args, frames, importFlags, &exitStatus]() {
        args->fpsGiven = importFlags.fps->count() > 0;
        // The flags that only a scene's export takes, as given.
        std::vector<std::string> sceneFlags;
        for (const char* name :
             {"--hi-precision", "--alpha", "--single-frame", "--frames", "--scale", "--mirror", "--clip", "--up",
              "--forward", "--no-up-fix", "--texture", "--texture-dir", "--skin-file", "--no-swatches", "--list-clips"})
            if (cmd->get_option(name)->count() > 0) sceneFlags.push_back(name);
        exitStatus = RunExport(*args, frames->count() > 0, importFlags.Any(), sceneFlags);
    });
}

}  // namespace quorvex::cli
