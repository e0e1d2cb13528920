// Importing the interchange formats artists export (glTF through tinygltf;
// FBX, OBJ, COLLADA, 3DS and the rest through Assimp) into the stand-in scene.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/SceneDocument.h"

namespace standin {

struct ImportOptions {
    int fps = 30;                    // must divide 4800; ticks per frame = 4800 / fps
    double scale = 1.0;              // multiplies every position
    bool upFix = true;               // turn a Y-up file to stand upright in the Z-up host
    std::vector<std::string> clips;  // export only these clips (empty: all)
};

struct ClipInfo {
    std::string name;
    int64_t frames = 0;
};

// True when the path's extension selects the glTF importer (.gltf, .glb, any case).
bool IsGltfPath(const std::string& path);

// Imports `path` into `out`. False with `error` (naming the file and the place)
// when the file cannot be read, asks for more than the limits of
// scene/Limits.h, or the options do not fit it; an error that starts with
// "<path>: Not enough memory" means just that.
bool ImportScene(const std::string& path, const ImportOptions& options, SceneDocument& out, std::string& error);

// The file's animation clips in file order, with their lengths in frames.
bool ListClips(const std::string& path, const ImportOptions& options, std::vector<ClipInfo>& out, std::string& error);

}  // namespace standin
