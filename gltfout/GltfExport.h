// A model file back to glTF 2.0: one mesh whose vertices are split where
// texture coordinates differ, one morph target per frame, one animation per
// sequence of frames, and the skin as a PNG texture sampled nearest.
//
// What the glTF holds, in glTF's axes (up +Y, front +Z): the model file's
// x (forward) becomes +Z, its z (up) +Y and its y +X, a turn, so the bytes of
// every decoded position (origin + packed * scale, single precision) are kept.
// The base positions and normals are frame 0's; target k holds frame k minus
// frame 0, so weights that are all 0 show frame 0 and a weight of 1 on target
// k alone shows frame k. Normals are the table entries of the stored indices,
// turned to point out of the model (the file's point into it), and triangles
// are wound counter-clockwise seen from outside, as glTF wants. A texture
// coordinate (u, v), in skin pixels, becomes the centre of that texel.
// Animations set the weights with STEP interpolation, key k of a sequence at
// k / fps seconds (rounded down to single precision).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdl/MdlReader.h"

namespace quorvex::gltfout {

struct GltfExportOptions {
    int fps = 30;           // animation keys per second, > 0
    std::string generator;  // asset.generator; may be empty
    bool failOnWarning = false;  // a warning fails the export (Warned) before any file is in place
};

enum class GltfExportFailure {
    None,
    Unreadable,  // the model file cannot be opened or read
    Malformed,   // the model file is not a valid model (the reader's error)
    Unsuitable,  // it reads, but holds nothing glTF can show (no triangle), or too much for one buffer
    Write,       // an output file cannot be written
    Warned,      // failOnWarning and there were warnings; `warnings` holds them
};

// One animation: a sequence of frames named alike (walk0..walk7 is "walk").
struct GltfAnimationInfo {
    std::string name;  // as written (invalid UTF-8 escaped as \xNN)
    int32_t keys = 0;  // frames, one key each
};

struct GltfExportResult {
    GltfExportFailure failure = GltfExportFailure::None;
    std::string error;                  // empty on success; names the file it is about
    std::vector<std::string> warnings;  // what the glTF leaves out or changes, and the reader's; may be empty
    // What was written (set on success).
    std::vector<std::string> files;  // the main file first, then the .bin and .png beside a .gltf
    uint64_t bytes = 0;              // size of the main file
    int64_t modelVertices = 0;       // vertices in the model file
    int64_t vertices = 0;            // glTF vertices, split where texture coordinates differ
    int64_t triangles = 0;
    int64_t morphTargets = 0;
    int32_t skinWidth = 0;  // 0 when the glTF has no texture
    int32_t skinHeight = 0;
    std::vector<GltfAnimationInfo> animations;
    bool ok() const { return failure == GltfExportFailure::None; }
};

// The largest binary buffer written, in bytes: a .glb's chunk lengths are
// 32-bit, and a .gltf keeps the same bound so that both hold the same models.
constexpr uint64_t kGltfMaxBufferBytes = 0xFFFFFFFFull - (1u << 20);

// Reads the model file at `modelPath` and writes `outputPath` as glTF: a
// ".glb" (any letter case) is one binary file with the buffer and the PNG in
// it; anything else is a ".gltf" JSON file with "<stem>.bin" and "<stem>.png"
// beside it. Every file is written under a temporary name beside its target
// and renamed into place only once all of them are complete; on any failure
// no temporary file remains and files already at the targets stay as they
// were. The model file is read whole; beyond it, memory holds one frame of
// glTF data at a time. Never throws.
GltfExportResult ExportModelToGltf(const std::string& modelPath, const std::string& outputPath,
                                   const GltfExportOptions& options);

// The files ExportModelToGltf writes for `outputPath`, the main file first.
std::vector<std::string> GltfOutputFiles(const std::string& outputPath);

// The temporary files an ExportModelToGltf call has published right now:
// up to kGltfPendingMax names, null where none. Async-signal-safe, so that a
// signal handler may unlink() them (the targets are untouched until the
// final renames).
constexpr int kGltfPendingMax = 3;
const char* GltfPendingTemporaryFile(int slot);

// --- Steps, for tests -------------------------------------------------------

// The model file's axes turned to glTF's: (x, y, z) becomes (y, z, x).
struct GltfVec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};
GltfVec3 ToGltfAxes(float x, float y, float z);

// The largest single-precision time not after key / fps seconds (key >= 0,
// fps > 0). Rounding down keeps the STEP key at or before the frame's time,
// and a sequence of n keys no longer than (n - 1) / fps.
float GltfKeyTime(int64_t key, int fps);

// A texel's centre in glTF texture space: (pixel + 0.5) / size.
float GltfTexelCentre(int32_t pixel, int32_t size);

// The glTF vertices of a model: one per distinct (vertex, texture coordinate)
// pair the triangles use, ordered by vertex and then texture coordinate, and
// one for each vertex no triangle uses (texCoord -1), so vertex order and
// count come back when the pairs are welded by position.
struct GltfSplitVertex {
    uint32_t vertex = 0;
    int32_t texCoord = -1;
};
struct GltfSplitMesh {
    std::vector<GltfSplitVertex> vertices;
    // Three per triangle, wound for glTF: corners 0, 2, 1 of the model's
    // triangle (the model file winds the other way round).
    std::vector<uint32_t> indices;
};
// `triangles` holds vertex indices below vertexCount (the reader checks that).
GltfSplitMesh SplitModelVertices(const std::vector<MdlTriangle>& triangles, int32_t vertexCount);

// `text` as valid UTF-8: bytes that are not part of a valid sequence become
// the four characters \xNN (lower-case hex). Returns text unchanged when it
// is valid.
std::string GltfUtf8(const std::string& text);

}  // namespace quorvex::gltfout
