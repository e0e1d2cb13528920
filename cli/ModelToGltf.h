// `quorvex export MODEL.mdl -o OUT.glb|OUT.gltf`: a model file back to glTF.
#pragma once

#include <string>
#include <vector>

namespace quorvex::cli {

// True when `input` names a model file (".mdl", any letter case): the export
// then converts it instead of exporting a scene.
bool IsModelFileInput(const std::string& input);

// True when `output` asks for glTF (".glb" or ".gltf", any letter case).
bool IsGltfOutput(const std::string& output);

struct ModelToGltfRequest {
    std::string model;   // the model file to read
    std::string output;  // .glb or .gltf (may be empty: bad usage)
    std::string fps;     // frames per second of the animations, as given
    bool strict = false;
    bool quiet = false;
    // Flags given that mean nothing for a model file (e.g. "--hi-precision");
    // any makes the request bad usage.
    std::vector<std::string> unusableFlags;
};

// Runs the conversion and prints what `quorvex export` prints: the summary
// on standard output, warnings and errors on standard error. Returns the
// command's exit status (0 written; 1 refused or failed, a malformed model
// file; 2 bad usage or a model file that cannot be read).
int RunModelToGltf(const ModelToGltfRequest& request);

}  // namespace quorvex::cli
