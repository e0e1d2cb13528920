// The stand-in host's JSON scene files (*.scene.json), read in one pass of
// simdjson's On-Demand parser: every rule of the format is checked once, as
// the value it governs is read.
#pragma once

#include <string>

#include "scene/LoadError.h"
#include "scene/SceneDocument.h"

namespace quorvex::scene {

// Reads a scene file into `out` (baseDir set to the file's folder). On any
// broken rule returns false and `error` (Malformed) names the file, the JSON
// path of the offending value and the rule, e.g.
//   scene.json: nodes[2].children[0].object.mesh.faces[7]: index 9 is not below the vertex count 8
// Text that is not JSON is named by line and column instead:
//   scene.json: line 2, column 13: unexpected '}'; expected a value
// Where several things are wrong, text that is not JSON speaks first. What
// passes a limit of docs/limits.md (the file's size, nesting deeper than
// kMaxJsonDepth, a picture's side beyond kMaxPictureSide) is OverLimit, with
// the same kind of message. A file that cannot be read is Unreadable; memory
// running out is NotEnoughMemory. `out` is left as it was on failure.
bool LoadSceneFile(const std::string& path, SceneDocument& out, LoadError& error);

// The same for scene text already in memory; `fileName` is used in messages.
bool ParseSceneText(const std::string& text, const std::string& fileName, SceneDocument& out, LoadError& error);

}  // namespace quorvex::scene
