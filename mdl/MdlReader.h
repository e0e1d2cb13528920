// Reading model files back: "MDL3" (8-bit vertices) and "MDL4" (16-bit
// vertices), the inverse of the writer. For tools (`quorvex info`, `quorvex
// view`) and tests.
//
// Every input is untrusted. Each count, offset and index is checked against
// the real length of the input and the sizes it implies before anything is
// allocated or read, so a malformed file gives an MdlReadError with the byte
// offset of the problem, never a crash, and memory stays proportional to the
// input's length. The reader keeps no state between calls and never prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mdl/MdlFormat.h"
#include "model/ModelData.h"

namespace quorvex {

// The header, field for field (the reserved fields included, so that tools can
// show what a file really holds).
struct MdlHeader {
    char magic[4] = {};  // "MDL3" or "MDL4", not terminated
    int32_t reserved0 = 0;
    float scale[3] = {};   // size of one packed step per axis
    float origin[3] = {};  // position of packed value 0 per axis
    uint8_t reserved1[16] = {};
    int32_t skinCount = 0;
    int32_t skinWidth = 0;
    int32_t skinHeight = 0;
    int32_t vertexCount = 0;
    int32_t triangleCount = 0;
    int32_t frameCount = 0;
    int32_t texCoordCount = 0;
    int32_t reserved2 = 0;
    int32_t reserved3 = 0;
};

// A packed position with its normal index. In the 8-bit variant x, y, z hold
// 0..255; `pad` is the 16-bit variant's byte behind the normal index (0 in the
// 8-bit variant).
struct MdlPackedVertex {
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t z = 0;
    uint8_t normalIndex = 0;  // 0..161 for frame vertices (checked); box corners are not checked
    uint8_t pad = 0;
};

struct MdlTexCoord {
    int16_t u = 0;  // column in the skin, pixels
    int16_t v = 0;  // row in the skin, pixels
};

struct MdlTriangle {
    uint16_t vertex[3] = {};    // each < vertexCount (checked)
    uint16_t texCoord[3] = {};  // each < texCoordCount (checked)
};

struct MdlFrame {
    int32_t frameType = 0;  // kMdlFrameType8 or kMdlFrameType16, matching the magic (checked)
    MdlPackedVertex bboxMin;
    MdlPackedVertex bboxMax;
    std::string name;                       // the bytes before the terminator, at most 15
    std::vector<MdlPackedVertex> vertices;  // vertexCount entries
};

// A whole file. Every vector holds exactly its header count of entries.
struct MdlFile {
    MdlHeader header;
    bool sixteenBit = false;           // "MDL4"
    int32_t skinType = 0;              // kSkinFormatRGB565 or kSkinFormatARGB4444 (checked)
    std::vector<uint16_t> skinPixels;  // skinCount * skinWidth * skinHeight, skin after skin, row 0 first
    std::vector<MdlTexCoord> texCoords;
    std::vector<MdlTriangle> triangles;
    std::vector<MdlFrame> frames;
    uint64_t fileSize = 0;   // bytes in the input
    uint64_t modelSize = 0;  // bytes the header implies; fileSize >= modelSize on success
};

enum class MdlErrorKind {
    None,       // success
    Io,         // the file cannot be opened or read
    Truncated,  // the input ends before a section the header implies
    BadMagic,   // neither "MDL3" nor "MDL4"
    BadCount,   // a negative count, or sizes that overflow
    BadValue,   // a field holds a value the format does not allow
    BadIndex,   // an index points outside its table
};

struct MdlReadError {
    MdlErrorKind kind = MdlErrorKind::None;
    std::string message;  // what is wrong, for people; empty on success
    uint64_t offset = 0;  // byte offset of the offending field or of the cut
};

struct MdlReadResult {
    MdlReadError error;                 // kind None on success
    MdlFile file;                       // complete on success; unspecified otherwise
    std::vector<std::string> warnings;  // e.g. bytes after the model's end; may be empty
    bool ok() const { return error.kind == MdlErrorKind::None; }
};

// Reads a model from `size` bytes at `data` (may be null when size is 0).
// The bytes are only read, never kept.
MdlReadResult ReadMdlBytes(const uint8_t* data, size_t size);

// Reads a model file. A file that cannot be opened or read gives
// MdlErrorKind::Io; everything else is as ReadMdlBytes.
MdlReadResult ReadMdlFile(const char* path);

// Reads and checks the model file at `path` as ReadMdlFile does, with the
// same result, except that no frame keeps its vertices (every frame's
// `vertices` is empty; each vertex is still checked). A regular file is read
// a section, and a frame, at a time, so memory stays about one frame's bytes
// beyond the result: for looking over a large file whose positions are not
// needed, such as one just written. Anything else is read as ReadMdlFile reads it.
MdlReadResult ReadMdlFileWithoutVertices(const char* path);

// A short name of an error kind ("truncated", "bad index", ...).
const char* MdlErrorKindName(MdlErrorKind kind);

// Decoded values are single-precision points like the model's own.
using MdlVec3 = ModelVec3;

// The model-space position of a packed vertex or box corner:
// origin + packed * scale per axis, in single precision. May be infinite for
// extreme headers; callers that draw must check.
MdlVec3 DecodeMdlPosition(const MdlHeader& header, const MdlPackedVertex& packed);

// The NormalTable entry of a normal index, as floats. Indices outside
// 0..161 give (0, 0, 0).
MdlVec3 DecodeMdlNormal(int normalIndex);

// Groups consecutive frames whose names share the part before their trailing
// decimal digits: walk0..walk7 is one sequence "walk" of 8 frames; a later
// walk8 after another sequence starts a new group.
struct MdlSequence {
    std::string name;  // the name without its trailing digits; may be empty
    int32_t firstFrame = 0;
    int32_t frameCount = 0;
};
std::vector<MdlSequence> GroupMdlSequences(const std::vector<MdlFrame>& frames);

}  // namespace quorvex
