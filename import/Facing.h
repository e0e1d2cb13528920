// Which way a model faces. The host stands models up along +Z with their front
// towards -Y and their left towards +X (the model file's x forward, y left,
// z up). A source file states, or its format implies, which of its own axes
// is up and which is the front; the user may say otherwise.
#pragma once

#include <string>

#include "import/AnimatedScene.h"

namespace quorvex::importer {

// One of the six axis directions: axis 0 x, 1 y, 2 z (-1: not given); sign +1 or -1.
struct SignedAxis {
    int axis = -1;
    int sign = 1;
    bool Given() const { return axis >= 0; }
};

// "x", "+x", "-x", ... "-z" (any case). False for anything else.
bool ParseSignedAxis(const std::string& text, SignedAxis& out);
// "+x" .. "-z"; "" when not given.
std::string AxisText(SignedAxis a);

// The front that goes with `up` when nothing names one: +Z for a Y-up source,
// -Y for a Z-up one (and the matching turn for the others), so that naming the
// up axis alone turns a model as it always has.
SignedAxis DefaultForward(SignedAxis up);

// The rotation that stands a source whose `up` and `forward` are as given in
// the host's axes: `forward` to -Y, `up` to +Z, up x forward to +X. Its entries
// are exactly 0, 1 or -1 (never -0). The two must be given and not parallel.
Mat4d FacingTurn(SignedAxis up, SignedAxis forward);

// The up and front axes a turn made by FacingTurn stands on end; false (and
// nothing set) when `turn` is not such a turn.
bool FacingOf(const Mat4d& turn, SignedAxis& up, SignedAxis& forward);

// The turn for a source whose own turn is `own`, with the user's `up` and
// `forward` (either may be not given) in place of its axes: a front not given
// stays the source's own where it is square to the new up, else
// DefaultForward. False with `error` when the front is parallel to the up.
bool ChooseFacing(const Mat4d& own, SignedAxis up, SignedAxis forward, Mat4d& turn, std::string& error);

// The turn for a file read through Assimp: the up and front the file states
// (either may be not given; a front parallel to the up is ignored), else the
// convention of its format (by the extension of `path`) for the axes Assimp
// hands over. Always a turn FacingTurn makes.
Mat4d AssimpFileFacing(const std::string& path, SignedAxis statedUp, SignedAxis statedFront);

}  // namespace quorvex::importer
