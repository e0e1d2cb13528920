// One hostile input through a reader and what the command line does after it.
// The fuzz programs (fuzz/entry) call these for every input they make, and the
// test suite replays every input in fuzz/regressions through them.
//
// Each function returns for every input it can handle, refused or not. It
// aborts (a finding) when a written model does not read back with the
// project's reader, when a refused export left a file behind, or when the
// stand-in host was left holding something the exporter did not release.
// Inputs are only read, never kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzkit {

// A scene file (JSON) loaded, then exported and read back.
void RunSceneFile(const uint8_t* data, size_t size);
// A model file read, listed as `info` does, and one frame drawn small.
void RunModelFile(const uint8_t* data, size_t size);
// A picture file decoded.
void RunPicture(const uint8_t* data, size_t size);
// A glTF file (binary when it starts with "glTF") imported, evaluated,
// exported and read back.
void RunGltf(const uint8_t* data, size_t size);
// An OBJ file imported through Assimp (in its own process, as the command
// reads it) and evaluated.
void RunObj(const uint8_t* data, size_t size);

struct Target {
    const char* name;  // also the folder of its inputs in fuzz/regressions
    void (*run)(const uint8_t* data, size_t size);
};
// Every target, in a fixed order.
const std::vector<Target>& Targets();

}  // namespace fuzzkit
