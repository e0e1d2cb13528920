// The export: one call of DoExport runs the whole export, phase by phase.
#include <cinttypes>
#include <cstdio>

#include "export/ExportState.h"
#include "export/ModelExporter.h"
#include "export/SceneWalk.h"
#include "export/ScenePasses.h"
#include "mdl/MdlFileWriter.h"
#include "model/ModelData.h"
#include "model/Normals.h"
#include "model/Numeric.h"
#include "plugin/PluginModule.h"
#include "skin/SkinPainting.h"
#include "skin/TextureTable.h"
#include "ui/OptionsDialog.h"
#include "ui/Resource.h"

namespace {

constexpr const char* AbortCaption = "Aborting !";
constexpr const char* NoHostText = "Host services are not installed";
constexpr const char* NoDialogText = "Cannot open the options dialog";
constexpr int64_t MaxIndexedItems = 65536;

// The progress display's routine; the display only advances between steps.
unsigned long ProgressIdle(void*) { return 0; }

// Integer part of (i / m) * 100, truncated, with the factor as a float.
int Percent(int64_t i, int64_t m) { return static_cast<int>((static_cast<float>(i) / static_cast<float>(m)) * 100.0f); }

void WalkRootChildren(ModelExporter& exporter, Interface* ip, int childCount, ExportPass pass, bool reportProgress) {
    for (int i = 0; i < childCount; ++i) {
        INode* root = ip->GetRootNode();
        INode* child = root ? root->GetChildNode(i) : nullptr;
        if (child) WalkNode(exporter, child, pass);
        if (reportProgress) ip->ProgressUpdate(Percent(i, childCount), true, nullptr);
    }
}

// Releases the model and skin of the export in progress, if any.
void ReleaseExportRecords() {
    FreeSkinImage(currentSkin);
    currentSkin = nullptr;
    DestroyModel(currentModel);
    currentModel = nullptr;
}

// Every refusal: one message box while the progress display is still open,
// then the display is ended and everything made is released. Nothing is written.
int Refuse(Interface* ip, const char* text) {
    SetErrorText(text);
    errorFlag = 1;
    MessageBoxA(ip->GetMAXHWnd(), ErrorText, AbortCaption, MB_OK | MB_ICONERROR);
    ip->ProgressEnd();
    ReleaseExportRecords();
    return 0;
}

// A refusal before the progress display opens and before anything is made.
// `ip` may be null; the box then has no owner.
int RefuseBeforeStart(Interface* ip, const char* text) {
    SetErrorText(text);
    errorFlag = 1;
    MessageBoxA(ip ? ip->GetMAXHWnd() : nullptr, ErrorText, AbortCaption, MB_OK | MB_ICONERROR);
    return 0;
}

int RefuseWithErrorText(Interface* ip) {
    char text[sizeof(ErrorText)];
    std::snprintf(text, sizeof text, "%s", ErrorText);
    return Refuse(ip, text);
}

}  // namespace

int ModelExporter::PaintTextures(int alpha) { return ::PaintTextures(currentSkin, skinWidth, alpha); }

int ModelExporter::DoExport(const char* name, ExpInterface* ei, Interface* ip, BOOL suppressPrompts, DWORD options) {
    (void)ei;
    (void)options;
    errorFlag = 0;
    showPrompts = suppressPrompts == 0 ? 1 : 0;
    hostInterface = ip;
    gatheredMeshes.clear();
    sampleCursor = 0;

    // The host's free functions (tick rate, bitmaps, note tracks) reach the
    // host only once its adapter has installed them; without them, or without
    // an interface, the scene cannot be read whole, so nothing is written.
    if (!ip || !GetHostGlobals()) return RefuseBeforeStart(ip, NoHostText);

    if (showPrompts) {
        INT_PTR answer = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), ip->GetMAXHWnd(),
                                         ExportOptionsDlgProc, reinterpret_cast<LPARAM>(this));
        if (answer == 0) return 1;  // cancelled
        // -1: the system could not create the dialog, so nobody chose the options.
        if (answer == -1) return RefuseBeforeStart(ip, NoDialogText);
    }

    INode* root = ip->GetRootNode();
    const int childCount = root ? root->NumberOfChildren() : 0;

    ClearTextureTable();
    texCoordBase = 0;
    vertexBase = 0;
    triangleBase = 0;

    ip->ProgressStart("Scanning...", true, ProgressIdle, nullptr);
    triangleTotal = 0;
    vertexTotal = 0;
    texCoordTotal = 0;
    frameCount = static_cast<int64_t>(ExportOptions.endFrame) - ExportOptions.startFrame + 1;

    WalkRootChildren(*this, ip, childCount, Scan, false);
    if (errorFlag) return RefuseWithErrorText(ip);

    // Triangle indices are 16 bits wide: larger models cannot be represented.
    char message[256];
    if (vertexTotal > MaxIndexedItems) {
        std::snprintf(message, sizeof message, "Model has %" PRId32 " vertices; at most 65536 fit", vertexTotal);
        return Refuse(ip, message);
    }
    if (texCoordTotal > MaxIndexedItems) {
        std::snprintf(message, sizeof message, "Model has %" PRId32 " texture coordinates; at most 65536 fit",
                      texCoordTotal);
        return Refuse(ip, message);
    }
    constexpr const char* NoMemory = "Not enough memory for the model";
    if (!ModelFitsLimits(triangleTotal, vertexTotal, texCoordTotal, frameCount)) return Refuse(ip, NoMemory);

    currentModel = CreateModel(triangleTotal, vertexTotal, texCoordTotal, static_cast<int32_t>(frameCount));
    if (!currentModel) return Refuse(ip, NoMemory);

    WalkRootChildren(*this, ip, childCount, Gather, true);
    if (errorFlag) return RefuseWithErrorText(ip);

    // The skin's size is known once every texture is registered; judge it
    // before the long sampling phase.
    const int64_t largestWidth = LargestTextureWidth();
    const int64_t totalHeight = TotalTextureHeight();
    const int64_t roundedWidth = (largestWidth + 7) / 8 * 8;
    if (!SkinFitsLimits(roundedWidth, totalHeight)) return Refuse(ip, NoMemory);
    ip->ProgressEnd();

    currentFrame = ExportOptions.startFrame;
    ip->ProgressStart("Writing Frames", true, ProgressIdle, nullptr);
    for (int64_t f = 0; f < frameCount; ++f) {
        vertexBase = 0;
        sampleCursor = 0;
        evalTime = WrapToInt32(static_cast<int64_t>(GetTicksPerFrame()) * currentFrame);
        WalkRootChildren(*this, ip, childCount, Sample, false);
        FinishSampleFrame(*this);
        if (errorFlag) return RefuseWithErrorText(ip);
        ++currentFrame;
        ip->ProgressUpdate(Percent(f, frameCount), true, nullptr);
    }

    skinHeight = static_cast<int32_t>(totalHeight);
    skinWidth = static_cast<int32_t>(roundedWidth);
    const int alpha = ExportOptions.alphaChannel != 0 ? 1 : 0;
    currentSkin = CreateSkinImage(skinWidth, skinHeight, alpha ? SkinFormatARGB4444 : SkinFormatRGB565);
    if (!currentSkin) return Refuse(ip, NoMemory);
    PaintTextures(alpha);
    ShiftTexCoords(currentModel);

    ip->ProgressStart("Calculating..", true, ProgressIdle, nullptr);
    for (int64_t f = 0; f < frameCount; ++f) {
        // A frame keeps only its normals' table indices, so the normals of one
        // frame at a time are all the model holds.
        ComputeFrameNormals(currentModel, static_cast<int32_t>(f));
        StoreFrameNormalIndices(currentModel, static_cast<int32_t>(f));
        ip->ProgressUpdate(Percent(f, frameCount), true, nullptr);
    }

    const char* path = name ? name : "";
    // The writer takes the option as a 16-bit value.
    if (!WriteMdlFile(path, currentModel, currentSkin, static_cast<uint16_t>(ExportOptions.hiPrecision))) {
        // Fixed buffers: a refusal must not need memory, nor throw for want of it.
        char text[sizeof(ErrorText)];
        std::snprintf(text, sizeof text, "Cannot write %s", path);
        return Refuse(ip, text);
    }

    ReleaseExportRecords();
    ip->ProgressEnd();
    return 1;
}
