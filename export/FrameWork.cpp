#include "export/FrameWork.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "mdl/NormalTable.h"
#include "model/Normals.h"

namespace quorvex {

namespace {

// Bytes of working storage one thread needs per vertex (FrameNormals).
constexpr uint64_t kWorkingBytesPerVertex = 32;
// Working storage that is little however few the frames.
constexpr uint64_t kWorkingBytesAnyway = uint64_t(4) << 20;
// From this many normals on, the finer normal-table grid pays for its making.
constexpr uint64_t kFineGridVertexFrames = uint64_t(1) << 20;

}  // namespace

struct FrameWork {
    ModelData* model = nullptr;
    std::vector<MdlExtremes> extremes;   // per frame
    std::vector<FrameNormals*> storage;  // one per thread; [0] the calling thread's
    std::vector<std::thread> workers;

    std::mutex lock;
    std::condition_variable sampledMore;  // workers wait for frames
    std::condition_variable doneMore;     // the calling thread waits for frames
    int32_t sampled = 0;                  // frames announced
    int32_t taken = 0;                    // frames handed out
    std::vector<uint8_t> done;            // per frame, 1 once done
    bool stopping = false;
};

namespace {

void WorkOnFrame(FrameWork& work, FrameNormals& normals, int32_t f) {
    ModelData* model = work.model;
    ComputeFrameNormalsInto(model, f, normals);
    NearestNormalIndices(normals.x, normals.y, normals.z, model->vertexCount, model->frames[f].normalIndex);
    work.extremes[f] = ScanFrameBounds(model->frames[f], model->vertexCount);
}

// Takes the next announced frame, or -1 when there is none to take (now, if
// !wait; else until stopping or every frame is taken).
int32_t TakeFrame(FrameWork& work, bool wait) {
    std::unique_lock<std::mutex> hold(work.lock);
    if (wait) {
        work.sampledMore.wait(hold, [&work] {
            return work.stopping || work.taken < work.sampled || work.taken == work.model->frameCount;
        });
    }
    if (work.stopping || work.taken >= work.sampled) return -1;
    return work.taken++;
}

void MarkDone(FrameWork& work, int32_t f) {
    {
        std::lock_guard<std::mutex> hold(work.lock);
        work.done[size_t(f)] = 1;
    }
    work.doneMore.notify_all();
}

void Worker(FrameWork* work, FrameNormals* normals) {
    for (int32_t f; (f = TakeFrame(*work, true)) >= 0;) {
        WorkOnFrame(*work, *normals, f);
        MarkDone(*work, f);
    }
}

}  // namespace

int FrameWorkThreads(int requested, int32_t frameCount, int32_t vertexCount) {
    int64_t threads = requested > 0 ? requested : int64_t(std::thread::hardware_concurrency());
    if (threads > frameCount) threads = frameCount;
    // Working storage within an eighth of the positions (12 bytes per
    // vertex-frame), or within kWorkingBytesAnyway.
    const uint64_t perThread = kWorkingBytesPerVertex * uint64_t(vertexCount > 0 ? vertexCount : 0);
    const uint64_t positions =
        12 * uint64_t(vertexCount > 0 ? vertexCount : 0) * uint64_t(frameCount > 0 ? frameCount : 0);
    const uint64_t allowed = positions / 8 > kWorkingBytesAnyway ? positions / 8 : kWorkingBytesAnyway;
    if (perThread > 0 && uint64_t(threads) * perThread > allowed) threads = int64_t(allowed / perThread);
    return threads < 1 ? 1 : int(threads);
}

FrameWork* StartFrameWork(ModelData* model, int threads) {
    auto* work = new (std::nothrow) FrameWork;
    if (!work) return nullptr;
    work->model = model;
    try {
        work->extremes.assign(size_t(model->frameCount), StartingExtremes());
        work->done.assign(size_t(model->frameCount), 0);
        work->storage.reserve(size_t(threads));
        work->workers.reserve(size_t(threads));
    } catch (...) {
        delete work;
        return nullptr;
    }
    for (int t = 0; t < threads; ++t) {
        // Every thread's storage borrows the calling thread's layout.
        FrameNormals* normals = CreateFrameNormals(model, t > 0 ? work->storage[0] : nullptr);
        if (!normals) break;  // fewer threads, as long as the calling one has its storage
        work->storage.push_back(normals);
    }
    if (work->storage.empty()) {
        StopFrameWork(work);
        return nullptr;
    }
    if (uint64_t(model->vertexCount) * uint64_t(model->frameCount) >= kFineGridVertexFrames)
        PrepareNearestNormalIndex();
    for (size_t t = 1; t < work->storage.size(); ++t) {
        try {
            work->workers.emplace_back(Worker, work, work->storage[t]);
        } catch (...) {
            break;  // the system gives no more threads: the others do the frames
        }
    }
    return work;
}

void FrameSampled(FrameWork* work, int32_t frame) {
    {
        std::lock_guard<std::mutex> hold(work->lock);
        if (frame + 1 > work->sampled) work->sampled = frame + 1;
    }
    work->sampledMore.notify_one();
}

void FinishFrameWork(FrameWork* work, const std::function<void(int32_t)>& onDone, MdlExtremes& extremes) {
    const int32_t frameCount = work->model->frameCount;
    int32_t reported = 0;
    auto report = [&] {
        // Frames done in order so far, outside the lock: onDone calls the host.
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(work->lock);
                if (reported >= frameCount || !work->done[size_t(reported)]) return;
            }
            onDone(reported++);
        }
    };
    for (int32_t f; (f = TakeFrame(*work, false)) >= 0;) {
        WorkOnFrame(*work, *work->storage[0], f);
        MarkDone(*work, f);
        report();
    }
    while (reported < frameCount) {
        {
            std::unique_lock<std::mutex> hold(work->lock);
            work->doneMore.wait(hold, [&] { return work->done[size_t(reported)] != 0; });
        }
        report();
    }
    extremes = StartingExtremes();
    for (const MdlExtremes& e : work->extremes) FoldExtremes(extremes, e);
}

void StopFrameWork(FrameWork* work) {
    if (!work) return;
    {
        std::lock_guard<std::mutex> hold(work->lock);
        work->stopping = true;
    }
    work->sampledMore.notify_all();
    for (std::thread& worker : work->workers) worker.join();
    // The calling thread's storage, whose layout the others borrow, goes last.
    for (size_t t = work->storage.size(); t-- > 0;) DestroyFrameNormals(work->storage[t]);
    delete work;
}

}  // namespace quorvex
