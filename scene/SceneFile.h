// The stand-in host's JSON scene files (*.scene.json).
#pragma once

#include <string>

#include "scene/LoadError.h"
#include "scene/SceneDocument.h"

namespace standin {

// Reads a scene file into `out` (baseDir set to the file's folder). On any
// broken rule returns false and `error` (Malformed) names the file, the JSON
// path of the offending value and the rule, e.g.
//   scene.json: nodes[2].children[0].object.mesh.faces[7]: index 9 is not below the vertex count 8
// A file that cannot be read is Unreadable (OverLimit when too large); memory
// running out is NotEnoughMemory. `out` is left as it was on failure.
bool LoadSceneFile(const std::string& path, SceneDocument& out, LoadError& error);

// The same for scene text already in memory; `fileName` is used in messages.
bool ParseSceneText(const std::string& text, const std::string& fileName, SceneDocument& out, LoadError& error);

// The same through the checking reader alone, which every file that is not
// plain goes through; for tests that hold the quick reader to it.
bool ParseSceneTextChecked(const std::string& text, const std::string& fileName, SceneDocument& out,
                           std::string& error);

}  // namespace standin
