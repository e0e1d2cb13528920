// What `quorvex export -v` adds to the summary: what was loaded, how long each
// phase took, and how finely the model file stores positions.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/ConsoleProgress.h"
#include "mdl/MdlReader.h"
#include "scene/SceneDocument.h"

namespace quorvex::cli {

struct LoadedCounts {
    int64_t nodes = 0;      // every node, hidden ones and helpers included
    int64_t meshes = 0;     // nodes holding a mesh object
    int64_t materials = 0;  // nodes with a material
    int64_t pictures = 0;   // distinct diffuse picture names
    int64_t clips = 0;      // named frame sequences (keys of the FrameNames note tracks)
};

LoadedCounts CountLoaded(const quorvex::scene::SceneDocument& document);

// One line: "Loaded <path>: N nodes, N meshes, ...".
void PrintLoaded(std::FILE* out, const std::string& path, const LoadedCounts& counts);

// One line with every phase and its time, then the total.
void PrintPhaseTimes(std::FILE* out, const std::vector<quorvex::cli::PhaseTime>& phases);

// For a model file as read (`read`, the command's read-back): per axis the quantization step in scene units
// and the largest position error it causes, and, for an 8-bit file whose step
// exceeds 1/200 of the model's size, a hint to use --hi-precision. Prints
// nothing when the file does not read back (the summary says so).
void PrintQuantization(std::FILE* out, const quorvex::MdlReadResult& read);

// The box around every frame of `file` (which has at least one frame), in
// scene units, decoded from the frames' stored boxes.
void ModelBox(const quorvex::MdlFile& file, quorvex::MdlVec3& lo, quorvex::MdlVec3& hi);

}  // namespace quorvex::cli
