// The work each sampled frame needs before the file is written: its vertex
// normals and their table indices, its box and the extremes of its positions.
// Frames are independent once sampled, so worker threads take them while the
// calling thread samples the next ones; the host and the progress display are
// only ever called from the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "mdl/MdlFileWriter.h"
#include "model/ModelData.h"

namespace quorvex {

struct FrameWork;

// How many threads, the calling one included, work on the frames of a model:
// `requested` (0 or less: one per core the machine reports), at most one per
// frame, and no more than keep every thread's working storage (counted as 32
// bytes per vertex each, more than it takes) within an eighth of the frames'
// positions or within 4 MiB, whichever is more. At least 1.
int FrameWorkThreads(int requested, int32_t frameCount, int32_t vertexCount);

// Starts the work on `model`, whose triangles must not change until the work
// is finished or stopped, with `threads` threads in all (threads - 1 workers;
// fewer when the system gives fewer). Null when memory for the working
// storage runs out. Release with StopFrameWork.
FrameWork* StartFrameWork(ModelData* model, int threads);

// Frames 0..frame have every position sampled: workers may take them. Frames
// are announced in order.
void FrameSampled(FrameWork* work, int32_t frame);

// The calling thread works on the frames not yet taken until every frame is
// done (every frame must have been announced), calling onDone(f) for each
// frame f in order as soon as it and the frames before it are done. Then
// `extremes` holds the extremes of every position, folded in frame order,
// and every frame its box and normal indices.
void FinishFrameWork(FrameWork* work, const std::function<void(int32_t)>& onDone, MdlExtremes& extremes);

// Lets the workers end their frames in hand, joins them and releases
// everything. Null does nothing. The model may be released afterwards.
void StopFrameWork(FrameWork* work);

struct FrameWorkStopper {
    void operator()(FrameWork* work) const { StopFrameWork(work); }
};
using FrameWorkPtr = std::unique_ptr<FrameWork, FrameWorkStopper>;

}  // namespace quorvex
