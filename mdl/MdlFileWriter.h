// The model file writer (MdlFileWriter): "MDL3" (8-bit vertices) and "MDL4" (16-bit vertices).
//
// The layout is described, with every offset and size, in mdl/MdlFormat.h.
#pragma once

#include <cstdint>

#include "mdl/NormalTable.h"
#include "model/ModelData.h"

namespace quorvex {

struct MdlQuantization {
    float scale[3];
    float origin[3];
};

// Writes every frame's bboxMin and bboxMax from its positions. Starts from
// (1e6, 1e6, 1e6) and (-1e6, -1e6, -1e6); a frame without vertices keeps them.
void ComputeFrameBounds(ModelData* model);

// Frame `frameIndex`'s normal indices (0 <= frameIndex < frameCount): each
// vertex's entry in model->normals turned into the index of the nearest
// NormalTable entry (NearestNormalIndex). Call it right after
// ComputeFrameNormals for that frame. Out-of-range frames are ignored.
void StoreFrameNormalIndices(ModelData* model, int32_t frameIndex);

// Per-axis scale and origin over every position of every frame: origin is the
// smallest value (start 1e6), scale = (largest |value| (start 0) - origin) * K,
// K = 1/255 or 1/65535 as a float; a scale of exactly 0 becomes 1.
MdlQuantization ComputeQuantization(const ModelData* model, bool sixteenBit);

// The smallest value and the largest absolute value per axis over some
// positions: what the quantization is made from.
struct MdlExtremes {
    float smallest[3];
    float largestAbs[3];
};

// The extremes of no positions: smallest 1e6, largest absolute value 0.
MdlExtremes StartingExtremes();

// Writes `frame`'s bboxMin and bboxMax, as ComputeFrameBounds does, and
// returns the extremes of its vertexCount positions (from StartingExtremes).
// Touches no other frame, so frames may be scanned on several threads.
MdlExtremes ScanFrameBounds(ModelFrame& frame, int32_t vertexCount);

// Folds `later`, the extremes of positions that come after those of `into`,
// into `into`: the result is what one scan of all of them in order gives
// (a value replaces only a strictly smaller or larger one).
void FoldExtremes(MdlExtremes& into, const MdlExtremes& later);

// What a write came to.
struct MdlWriteResult {
    int written = 0;  // 1: the file is in place; 0: nothing was written
    // Nothing was written because a scale came out infinite: on some axis the
    // span from the smallest value to the largest magnitude exceeds single
    // precision (say -3e38 and 3e38). No file was made.
    bool tooLarge = false;
    // Why nothing was written, as an errno value (EIO when the system gave
    // none); 0 after a success, when tooLarge, or when the skin was invalid.
    // For the words after "Cannot write <path>"; the exporter never shows it.
    int systemError = 0;
};

// Writes the model file at `path`, each frame's vertices with the normal
// indices the frame holds. hiPrecision == 1 selects "MDL4", any other
// value "MDL3". Overwrites every frame's bounding box; changes nothing else.
// Writes to a temporary file beside `path` and renames it into place once every
// byte is written and the file is closed. Returns 1 on success; 0 when the file
// cannot be created or written, in which case no temporary file remains and a
// file already at `path` is left as it was; also 0, before any file is made,
// when memory for one frame's bytes cannot be had, or when the positions lie
// too far apart for any scale to hold them. model and skin must not be null.
int WriteMdlFile(const char* path, ModelData* model, const SkinImage* skin, int hiPrecision);

// WriteMdlFile with the reason when nothing was written.
MdlWriteResult WriteMdlFileWithReason(const char* path, ModelData* model, const SkinImage* skin, int hiPrecision);

// WriteMdlFileWithReason for a model whose frames' boxes are already written
// (ScanFrameBounds) and whose positions' extremes, folded in frame order from
// StartingExtremes, are `extremes`. The same bytes and results; reads the
// model only. With `threads` above 1, threads - 1 worker threads pack frames
// (a few frames' bytes in flight) while the calling thread writes them; when
// they cannot be had the calling thread does all.
MdlWriteResult WriteMdlFileScanned(const char* path, const ModelData* model, const SkinImage* skin, int hiPrecision,
                                   const MdlExtremes& extremes, int threads);

// A look at the finished file before it replaces the target, for tools that
// read back what they write. `check` gets the temporary file's name (closed,
// every byte written) and `context`; it must not change the file. When it
// returns false, WriteMdlFile removes the temporary file, leaves the target
// as it was and returns 0 (systemError EIO; the check's own reason is
// the tool's to give). A null check, the default, looks at nothing. The check
// is process-wide and runs on the writing thread.
struct MdlWriteCheck {
    bool (*check)(const char* temporaryPath, void* context);
    void* context;
};
void SetMdlWriteCheck(MdlWriteCheck check);

// The name of the temporary file a WriteMdlFile call is creating or filling
// right now, or null. Async-signal-safe: a signal handler may unlink() the
// name to leave nothing behind (the target is untouched until the final
// rename); the file need not exist yet. The name stays valid while it is
// published.
const char* MdlPendingTemporaryFile();

}  // namespace quorvex
