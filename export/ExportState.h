// The state the plug-in keeps between and during exports, in one record with
// one process-wide instance, `exportState`.
//
// Lifecycle: the instance is zero when the library loads and lives as long as
// the library; one export runs at a time, on the host's user-interface thread.
// - Kept between exports: `options` (the dialog's choices, or what a caller
//   set before an export with prompts suppressed), `threadCount`, and `host` and `evalTime`
//   until the next export sets them.
// - Set at the start of every export (DoExport): errorFlag, writeError, showPrompts, host,
//   the gather record and cursor, and, once the dialog has been passed, the
//   texture table, the totals, the bases and frameCount.
// - After an export: errorFlag and errorText tell whether and why it was
//   refused, writeError why its file could not be written, and stay so until
//   the next export; model and skin are null again
//   (the driver releases both before DoExport returns); the texture table, the
//   totals and the gather record keep what the last export left in them.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/Exporter.h"
#include "model/ModelData.h"
#include "plugin/HostServices.h"
#include "skin/TextureTable.h"

namespace quorvex {

// Which action a scene walk applies.
enum ExportPass : int {
    Scan = 0,
    Gather = 1,
    Sample = 2,
};

// A mesh the gather walk met, in walk order; every sample walk must meet the
// same meshes with the same vertex counts.
struct GatheredMesh {
    INode* node;  // host-owned
    int32_t vertexCount;
};

struct ExportState {
    ExportOptionsRecord options;
    // Threads working on the frames, the calling one included; 0 (as the
    // library loads): one per core. Kept between exports.
    int32_t threadCount;
    // 1 when the dialog is shown (prompts not suppressed).
    int showPrompts;
    // 1 once a pass has refused the export; errorText then says why.
    int errorFlag;
    // The message of the refusal, at most 255 bytes and a NUL.
    char errorText[256];
    // The system's reason (an errno value) the file could not be written; 0
    // when it was, or when the export ended before writing.
    int32_t writeError;

    Interface* host;  // the host of the export in progress; not owned
    // endFrame - startFrame + 1, in 64 bits so that no frame number overflows.
    int64_t frameCount;
    // Scene frame being sampled; model frame currentFrame - startFrame receives it.
    int64_t currentFrame;
    // The host time the mesh actions evaluate at.
    TimeValue evalTime;

    // The model and skin of the export in progress. The driver makes both and
    // releases them before DoExport returns; the passes only fill them.
    ModelPtr model;
    SkinPtr skin;
    // The distinct pictures of the export, in the order the gather walk met them.
    TextureTable textures;

    // What the scan walk counted (saturating).
    int32_t triangleTotal;
    int32_t vertexTotal;
    int32_t texCoordTotal;
    // Where the next mesh's items go in the model.
    int32_t texCoordBase;
    int32_t vertexBase;
    int32_t triangleBase;
    int32_t skinWidth;
    int32_t skinHeight;
    // Meshes in gather order, and how far the current sample walk has got.
    std::vector<GatheredMesh> gatheredMeshes;
    size_t sampleCursor;
};

extern ExportState exportState;

// Copies `text` into state.errorText, cut at 255 bytes; null gives "".
void SetErrorText(ExportState& state, const char* text);
// Sets errorFlag and errorText unless an earlier problem of this export already
// spoke; used by the refusals where the first problem found is the one reported.
void RefuseOnce(ExportState& state, const char* text);

}  // namespace quorvex
