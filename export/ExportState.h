// The process-wide state of the export in progress. It lives as long as the
// library and is zero when it loads; one export runs at a time, on the host's
// user-interface thread.
#pragma once

#include <cstdint>

#include "model/ModelData.h"

struct ExportOptionsRecord {
    int32_t startFrame;    // first exported frame (host ticks / ticks per frame)
    int32_t endFrame;      // last exported frame, inclusive
    int32_t hiPrecision;   // 1: 16-bit vertices ("MDL4"); 0: 8-bit ("MDL3")
    int32_t alphaChannel;  // 1: ARGB4444 skin; 0: RGB565
};

// Filled by the options dialog; persists from one export to the next.
extern ExportOptionsRecord ExportOptions;

// Which action a scene walk applies.
enum ExportPass : int {
    Scan = 0,
    Gather = 1,
    Sample = 2,
};

extern int showPrompts;
// endFrame - startFrame + 1, in 64 bits so that no frame number overflows.
extern int64_t frameCount;
// Scene frame being sampled; model frame currentFrame - startFrame receives it.
extern int64_t currentFrame;
// 1 once a pass has refused the export; ErrorText then says why.
extern int errorFlag;
// The message of the refusal, at most 255 bytes and a NUL.
extern char ErrorText[256];
// The model and skin of the export in progress. The driver owns both and
// releases them before DoExport returns; the passes only fill them.
extern ModelData* currentModel;
extern SkinImage* currentSkin;

// Copies `text` into ErrorText, cut at 255 bytes.
void SetErrorText(const char* text);
// Sets errorFlag and ErrorText unless an earlier problem of this export already
// spoke; used by the refusals where the first problem found is the one reported.
void RefuseOnce(const char* text);
