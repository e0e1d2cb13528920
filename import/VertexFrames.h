// Models stored as whole frames of vertex positions (the classic vertex-frame
// formats): every surface holds every vertex once per frame. They become an
// animated scene whose meshes carry one morph target per frame and whose
// clips switch between them frame by frame, so that one source frame is one
// model frame, exactly, at any frame rate.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "import/AnimatedScene.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;

struct FrameSurface {
    std::string name;
    // The picture as the file names it; empty: none.
    std::string picture;
    // One per vertex, v pointing up.
    std::vector<std::array<double, 2>> uvs;
    // Indices below the vertex count, wound clockwise seen from the front
    // (as the model file winds them).
    std::vector<std::array<uint32_t, 3>> triangles;
    // One list of positions per frame of the model, each one per vertex.
    std::vector<std::vector<Vec3d>> frames;
};

struct FrameModel {
    std::vector<FrameSurface> surfaces;
    std::vector<std::string> frameNames;  // one per frame; may be empty texts
};

struct FrameGroup {
    std::string name;
    size_t first = 0;
    size_t count = 0;
};

// Consecutive frames whose names agree once trailing digits (and a '_' or '-'
// before them) are taken off: stand01..stand40, run1..run6 give "stand" and
// "run". A name that is empty once cut gives an empty group name.
std::vector<FrameGroup> GroupFrameNames(const std::vector<std::string>& names);

// Fills `out` (replacing it) from `model`: one root node per surface, one mesh
// each with one morph target per frame, one clip per group of `groups` (all
// frames when empty) whose frame k is at k / fps seconds and shows exactly the
// group's frame k. The scene's turn is the file's own (x forward, y left, z
// up). Every surface must hold one frame per name.
void BuildFrameScene(const FrameModel& model, const std::vector<FrameGroup>& groups, int fps, AnimatedScene& out);

// False with `error` (naming `path`) when `frames` of `vertices` vertices in
// `surfaces` surfaces are more than an import holds: the per-frame switch
// tables take frames x frames values per surface.
bool FrameCountFits(const std::string& path, uint64_t frames, uint64_t vertices, uint64_t surfaces, LoadError& error);

// Reads a whole vertex-frame file into `bytes` and checks its header: at
// least `headerBytes` long, the four-byte `magic` (named `format` in the
// message) and `version` at offset 4. False with `error` naming the file.
bool ReadVertexFrameFile(const std::string& path, const char* magic, const char* format, int32_t version,
                         size_t headerBytes, std::vector<unsigned char>& bytes, LoadError& error);

// Little-endian fields of a file held in memory, read with bounds checks.
struct ByteReader {
    const unsigned char* data = nullptr;
    size_t size = 0;
    bool Has(uint64_t offset, uint64_t bytes) const { return offset <= size && bytes <= size - offset; }
    int32_t I32(size_t at) const;
    int16_t I16(size_t at) const;
    uint16_t U16(size_t at) const;
    float F32(size_t at) const;
    // A NUL-padded text field of `room` bytes.
    std::string Text(size_t at, size_t room) const;
};

}  // namespace quorvex::importer
