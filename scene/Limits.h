// Hard limits on what an input file may ask for. Every reader checks them
// before it takes the memory, so that a tiny hostile file is refused at once
// with a message naming the file, the place and the limit, instead of running
// the machine out of memory. Each limit sits above anything the exporter could
// write, or at what the machine can hold for the import; docs/limits.md
// explains each number.
#pragma once

#include <cstdint>

namespace quorvex::scene {

// Bytes of any one file read whole: scene files, glTF files and their
// buffers, pictures. Only regular files are read.
constexpr uint64_t kMaxInputFileBytes = uint64_t(1) << 30;

// Pixels of one decoded picture (width * height). A picture of more pixels
// alone would make a skin beyond the exporter's 2^30-byte skin limit; its
// sides are 16-bit besides, at most 65535 each.
constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 29;
constexpr uint32_t kMaxPictureSide = 65535;

// Values (elements * components) of one glTF accessor, whether it reads a
// buffer view or is all zeros without one. Each value is held as a double.
// (Triangles come from index accessors, so these bound glTF meshes too.)
constexpr uint64_t kMaxAccessorValues = uint64_t(1) << 26;

// Triangles of one imported mesh (formats read through Assimp).
constexpr uint64_t kMaxMeshTriangles = uint64_t(1) << 26;

// Frames laid out from animation key times, times the nodes sampled at each
// (at least one): the importer holds every node's transform at every frame,
// about half a kilobyte each.
constexpr uint64_t kMaxFrameSamples = uint64_t(1) << 22;

}  // namespace quorvex::scene
