// Clip names become the texts the exporter names frames after: the text
// followed by the frame's counter within its clip, in a 15-character field.
// Names from real files (Armature|mixamo.com|Layer0, attack1, walk cycle é)
// would be cut into each other or run together with the counter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::importer {

// Room for a frame name, without its terminating NUL.
constexpr size_t kFrameNameRoom = 15;

struct ClipText {
    std::string name;    // what the clip is called (the file's name or the user's)
    int64_t frames = 1;  // its length in frames, at least 1
};

// One note text per clip, in order, each such that the clip's longest frame
// name (text and counter frames - 1) fits kFrameNameRoom:
// - printable ASCII only: spaces become '_', Latin-1 letters lose their
//   accents, anything else is dropped (never cutting a UTF-8 sequence);
// - when the whole name does not fit, the part after its last '|' or '/';
// - a '_' after a trailing digit, so that attack1 and attack2 stay apart from
//   their counters;
// - cut to fit, and made distinct from the texts before it with a number.
// An empty result becomes "clip".
std::vector<std::string> ClipNoteTexts(const std::vector<ClipText>& clips);

}  // namespace quorvex::importer
