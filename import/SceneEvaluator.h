// Samples an AnimatedScene into the stand-in host's SceneDocument: every node
// keyed at every frame time of the laid-out clips, skinned and morphed meshes
// evaluated in double precision and rounded to single precision once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/AnimatedScene.h"
#include "import/Importer.h"
#include "scene/SceneDocument.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::SceneDocument;

// Ticks per second of the host's timeline; fps must divide it.
constexpr int kTicksPerSecond = 4800;

// Frames a clip of `duration` seconds takes at `fps`: ceil(duration * fps) + 1,
// so that its last frame is at or after its end. A product within a millionth
// of a frame above a whole number counts as that number, so that times stored
// in single precision do not gain a frame. Durations <= 0 take one frame.
int64_t ClipFrameCount(double duration, int fps);

// The value of `track` at `seconds` into its clip, `track.width` values.
// Before the first key: the first value; after the last: the last value.
// Rotations come out normalised.
std::vector<double> SampleTrack(const AnimTrack& track, double seconds);

// Fills `out` (replacing its content) from `scene` as `options` say:
// - one host node per scene node (name, hidden flag, children in order, local
//   transform keyed per frame when it changes); a node with one mesh carries
//   it, a node with several gets one child node per mesh, named
//   "<node>_<k>"; a node without a mesh is a helper;
// - the selected clips laid one after another from frame 0, each on a whole
//   frame, with a "FrameNames" helper whose first note track names each clip
//   at its first frame; without clips, one frame of the rest pose;
// - ticksPerFrame = 4800 / fps, animRange = {0, last frame * ticksPerFrame},
//   images = the scene's pictures, baseDir = the scene's baseDir.
// Positions are scaled by options.scale and turned upright (scene.toZUp)
// unless options.upFix is false. False with `error` for an fps that does not
// divide 4800, a scale that is 0 or not finite, or a clip name the scene does
// not have (OptionsDoNotFit); a timeline beyond the host's 32-bit ticks or
// more node frames than kMaxFrameSamples (OverLimit); a node path longer than
// the node count (Malformed).
bool SampleScene(const AnimatedScene& scene, const ImportOptions& options, SceneDocument& out, LoadError& error);

}  // namespace quorvex::importer
