// Mirroring a whole scene document, for files made in a world of the other
// handedness.
#pragma once

#include "scene/SceneDocument.h"

namespace quorvex::scene {

// Mirrors `document` across the plane through the origin normal to `axis`
// (0 x, 1 y, 2 z; any other value changes nothing): the coordinate `axis` of
// every world position changes sign. Every mesh's faces (and texture faces)
// are wound the other way round, so that they still face outwards.
void MirrorScene(SceneDocument& document, int axis);

}  // namespace quorvex::scene
