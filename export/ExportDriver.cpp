// The export: one call of DoExport runs the whole export, phase by phase.
#include <cinttypes>
#include <cstdio>

#include "export/ExportState.h"
#include "export/FrameWork.h"
#include "plugin/Exporter.h"
#include "export/ModelExporter.h"
#include "export/SceneWalk.h"
#include "export/ScenePasses.h"
#include "mdl/MdlFileWriter.h"
#include "model/ModelData.h"
#include "model/Normals.h"
#include "model/Numeric.h"
#include "skin/SkinPainting.h"
#include "skin/TextureTable.h"
#include "ui/Resource.h"

namespace quorvex {

namespace {

constexpr const char* kNoHostText = "Host services are not installed";
constexpr const char* kNoDialogText = "Cannot open the options dialog";
constexpr const char* kTooLargeText = "Model is too large to quantize";
constexpr int64_t kMaxIndexedItems = 65536;

// The progress display's routine; the display only advances between steps.
unsigned long ProgressIdle(void*) { return 0; }

// Integer part of (i / m) * 100, truncated, with the factor as a float.
int Percent(int64_t i, int64_t m) { return static_cast<int>((static_cast<float>(i) / static_cast<float>(m)) * 100.0f); }

void WalkRootChildren(ExportState& state, Interface* ip, int childCount, ExportPass pass, bool reportProgress) {
    for (int i = 0; i < childCount; ++i) {
        INode* root = ip->GetRootNode();
        INode* child = root ? root->GetChildNode(i) : nullptr;
        if (child) WalkNode(state, child, pass);
        if (reportProgress) ip->ProgressUpdate(Percent(i, childCount), true, nullptr);
    }
}

// Releases the model and skin of the export in progress, if any.
void ReleaseExportRecords(ExportState& state) {
    state.skin.reset();
    state.model.reset();
}

// Every refusal: one message box while the progress display is still open,
// then the display is ended and everything made is released. Nothing is written.
int Refuse(ExportState& state, Interface* ip, const char* text) {
    SetErrorText(state, text);
    state.errorFlag = 1;
    MessageBoxA(ip->GetMAXHWnd(), state.errorText, kAbortCaption, MB_OK | MB_ICONERROR);
    ip->ProgressEnd();
    ReleaseExportRecords(state);
    return 0;
}

// A refusal before the progress display opens and before anything is made.
// `ip` may be null; the box then has no owner.
int RefuseBeforeStart(ExportState& state, Interface* ip, const char* text) {
    SetErrorText(state, text);
    state.errorFlag = 1;
    MessageBoxA(ip ? ip->GetMAXHWnd() : nullptr, state.errorText, kAbortCaption, MB_OK | MB_ICONERROR);
    return 0;
}

int RefuseWithErrorText(ExportState& state, Interface* ip) {
    char text[sizeof(state.errorText)];
    std::snprintf(text, sizeof text, "%s", state.errorText);
    return Refuse(state, ip, text);
}

// The scan walk: the totals, judged against what the file can index and the
// model's memory limit. False once the export is refused.
bool ScanScene(ExportState& state, Interface* ip, int childCount) {
    ip->ProgressStart(kScanningCaption, true, ProgressIdle, nullptr);
    state.triangleTotal = 0;
    state.vertexTotal = 0;
    state.texCoordTotal = 0;
    state.frameCount = static_cast<int64_t>(state.options.endFrame) - state.options.startFrame + 1;

    WalkRootChildren(state, ip, childCount, Scan, false);
    if (state.errorFlag) {
        RefuseWithErrorText(state, ip);
        return false;
    }

    // Triangle indices are 16 bits wide: larger models cannot be represented.
    char message[256];
    if (state.vertexTotal > kMaxIndexedItems) {
        std::snprintf(message, sizeof message, "Model has %" PRId32 " vertices; at most 65536 fit", state.vertexTotal);
        Refuse(state, ip, message);
        return false;
    }
    if (state.texCoordTotal > kMaxIndexedItems) {
        std::snprintf(message, sizeof message, "Model has %" PRId32 " texture coordinates; at most 65536 fit",
                      state.texCoordTotal);
        Refuse(state, ip, message);
        return false;
    }
    if (!ModelFitsLimits(state.triangleTotal, state.vertexTotal, state.texCoordTotal, state.frameCount)) {
        Refuse(state, ip, kNoMemoryText);
        return false;
    }
    return true;
}

// Writes the finished model and ends the export: 1, or the refusal's 0.
int WriteModel(ExportState& state, Interface* ip, const char* name, const MdlExtremes& extremes, int threads) {
    const char* path = name ? name : "";
    // The writer takes the option as a 16-bit value.
    const MdlWriteResult written = WriteMdlFileScanned(
        path, state.model.get(), state.skin.get(), static_cast<uint16_t>(state.options.hiPrecision), extremes, threads);
    if (!written.written) {
        if (written.tooLarge) return Refuse(state, ip, kTooLargeText);
        state.writeError = written.systemError;
        // Fixed buffers: a refusal must not need memory, nor throw for want of it.
        char text[sizeof(state.errorText)];
        std::snprintf(text, sizeof text, "Cannot write %s", path);
        return Refuse(state, ip, text);
    }

    ReleaseExportRecords(state);
    ip->ProgressEnd();
    return 1;
}

}  // namespace

int ModelExporter::DoExport(const char* name, ExpInterface* ei, Interface* ip, BOOL suppressPrompts, DWORD options) {
    (void)ei;
    (void)options;
    ExportState& state = exportState;
    state.errorFlag = 0;
    state.writeError = 0;
    state.showPrompts = suppressPrompts == 0 ? 1 : 0;
    state.host = ip;
    state.gatheredMeshes.clear();
    state.sampleCursor = 0;

    // The host's free functions (tick rate, bitmaps, note tracks) reach the
    // host only once its adapter has installed them; without them, or without
    // an interface, the scene cannot be read whole, so nothing is written.
    if (!ip || !GetHostGlobals()) return RefuseBeforeStart(state, ip, kNoHostText);

    if (state.showPrompts) {
        INT_PTR answer = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), ip->GetMAXHWnd(),
                                         ExportOptionsDlgProc, reinterpret_cast<LPARAM>(ip));
        if (answer == 0) return 1;  // cancelled
        // -1: the system could not create the dialog, so nobody chose the options.
        if (answer == -1) return RefuseBeforeStart(state, ip, kNoDialogText);
    }

    INode* root = ip->GetRootNode();
    const int childCount = root ? root->NumberOfChildren() : 0;

    ClearTextureTable(state.textures);
    state.texCoordBase = 0;
    state.vertexBase = 0;
    state.triangleBase = 0;

    if (!ScanScene(state, ip, childCount)) return 0;

    state.model.reset(CreateModel(state.triangleTotal, state.vertexTotal, state.texCoordTotal,
                                  static_cast<int32_t>(state.frameCount)));
    if (!state.model) return Refuse(state, ip, kNoMemoryText);

    WalkRootChildren(state, ip, childCount, Gather, true);
    if (state.errorFlag) return RefuseWithErrorText(state, ip);

    // The skin's size is known once every texture is registered; judge it
    // before the long sampling phase.
    const int64_t largestWidth = LargestTextureWidth(state.textures);
    const int64_t totalHeight = TotalTextureHeight(state.textures);
    const int64_t roundedWidth = (largestWidth + 7) / 8 * 8;
    if (!SkinFitsLimits(roundedWidth, totalHeight)) return Refuse(state, ip, kNoMemoryText);
    ip->ProgressEnd();

    // Each sampled frame's normals, normal indices and box are worked out on
    // other threads while this one samples the next; the work must end before
    // any refusal releases the model.
    const int32_t modelFrames = state.model->frameCount;
    const int threads = FrameWorkThreads(state.threadCount, modelFrames, state.model->vertexCount);
    FrameWorkPtr work(StartFrameWork(state.model.get(), threads));
    if (!work) return Refuse(state, ip, kNoMemoryText);

    state.currentFrame = state.options.startFrame;
    ip->ProgressStart(kSamplingCaption, true, ProgressIdle, nullptr);
    for (int64_t f = 0; f < state.frameCount; ++f) {
        state.vertexBase = 0;
        state.sampleCursor = 0;
        state.evalTime = WrapToInt32(static_cast<int64_t>(GetTicksPerFrame()) * state.currentFrame);
        WalkRootChildren(state, ip, childCount, Sample, false);
        FinishSampleFrame(state);
        if (state.errorFlag) {
            work.reset();
            return RefuseWithErrorText(state, ip);
        }
        FrameSampled(work.get(), static_cast<int32_t>(f));
        ++state.currentFrame;
        ip->ProgressUpdate(Percent(f, state.frameCount), true, nullptr);
    }

    state.skinHeight = static_cast<int32_t>(totalHeight);
    state.skinWidth = static_cast<int32_t>(roundedWidth);
    const int alpha = state.options.alphaChannel != 0 ? 1 : 0;
    state.skin.reset(
        CreateSkinImage(state.skinWidth, state.skinHeight, alpha ? kSkinFormatARGB4444 : kSkinFormatRGB565));
    if (!state.skin) {
        work.reset();
        return Refuse(state, ip, kNoMemoryText);
    }
    PaintTextures(state.textures, state.skin.get(), state.skinWidth, alpha);
    ShiftTexCoords(state.textures, state.model.get());

    // A frame keeps only its normals' table indices; each thread holds the
    // normals of the one frame it works on.
    ip->ProgressStart(kNormalsCaption, true, ProgressIdle, nullptr);
    MdlExtremes extremes;
    FinishFrameWork(
        work.get(), [&](int32_t f) { ip->ProgressUpdate(Percent(f, state.frameCount), true, nullptr); }, extremes);
    work.reset();

    return WriteModel(state, ip, name, extremes, threads);
}

}  // namespace quorvex
