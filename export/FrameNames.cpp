#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "export/ExportState.h"
#include "export/ScenePasses.h"

namespace quorvex {

namespace {

// Names slots j = first + c for c in [0, count), where the slot lies inside
// [0, slots). Only the slots that can be stored are visited, so a segment
// billions of frames long outside the model costs nothing.
void NameRun(ModelData* model, int64_t slots, int64_t first, int64_t count, const char* text) {
    int64_t cBegin = first < 0 ? -first : 0;
    int64_t cEnd = std::min(count, slots - first);
    const size_t textLength = std::strlen(text);
    for (int64_t c = cBegin; c < cEnd; ++c) {
        // The text, then the counter, cut at 15 bytes; the rest stays zero.
        char name[16] = {};
        size_t length = std::min(textLength, sizeof(name) - 1);
        std::memcpy(name, text, length);
        char digits[24];
        int digitCount = std::snprintf(digits, sizeof(digits), "%lld", static_cast<long long>(c));
        for (int d = 0; d < digitCount && length < sizeof(name) - 1; ++d) name[length++] = digits[d];
        std::memcpy(model->frames[first + c].name, name, sizeof(name));
    }
}

// Names frames from the keys: key times come from the source track, texts
// from the private copy, by the same index. The running counter j is a scene
// frame; model slot k holds scene frame startFrame + k, so a segment starting
// at scene frame j starts at slot j - startFrame.
void NameFromKeys(const ExportState& state, ModelData* model, NoteTrack* source, int keyCount, const NoteKeyTab& texts,
                  int ticksPerFrame) {
    const int64_t slots = std::min<int64_t>(state.frameCount, model->frameCount);
    const int64_t first = state.options.startFrame;
    // Naming stops at the first key the copy does not hold.
    const int64_t held = static_cast<int64_t>(texts.size());
    auto frameOf = [&](int i) { return static_cast<int64_t>(source->GetKeyTime(i)) / ticksPerFrame; };

    int64_t j = frameOf(0);
    for (int f = 0; f + 1 < keyCount; ++f) {
        if (f >= held) return;
        const int64_t a = frameOf(f);
        const int64_t b = frameOf(f + 1);
        if (a >= b) continue;
        NameRun(model, slots, j - first, b - a, texts[static_cast<size_t>(f)].note.data());
        j += b - a;
    }
    const int last = keyCount - 1;
    if (last >= held) return;
    // The last key's text runs on to the end of the model's frames.
    if (j - first < slots)
        NameRun(model, slots, j - first, slots - (j - first), texts[static_cast<size_t>(last)].note.data());
}

}  // namespace

void NameFramesFromNotes(ExportState& state, INode* node) {
    if (!node || std::strcmp(node->GetName(), "FrameNames") != 0) return;
    ModelData* model = state.model.get();
    if (!model) return;
    if (node->NumNoteTracks() <= 0) return;
    NoteTrack* source = node->GetNoteTrack(0);
    if (!source) return;
    const int keyCount = source->NumKeys();
    if (keyCount <= 0) return;
    const int ticksPerFrame = GetTicksPerFrame();
    if (ticksPerFrame == 0) return;  // no frame numbers without a frame length

    DefNoteTrack* copy = NewDefaultNoteTrack();
    if (!copy) return;
    // The whole track: an interval starting at the earliest time.
    const Interval everything{INT32_MIN, INT32_MIN};
    if (TrackClipObject* clip = source->CopyTrack(everything, 0)) {
        copy->PasteTrack(clip, everything, 0);
        clip->DeleteThis();
    }
    NameFromKeys(state, model, source, keyCount, copy->keys, ticksPerFrame);
    copy->DeleteThis();
}

}  // namespace quorvex
