// The in-memory model and skin of one export.
//
// A ModelData holds the merged triangles and texture coordinates of every
// exported mesh and, per frame, every vertex's position and normal index, a
// bounding box and a name. A frame keeps its normals only as indices into the
// file's normal table, which is all the file stores; the normals themselves
// are worked out one frame at a time in the model's working storage. Counts
// are fixed at creation; every array holds exactly its count of entries.
// Coordinates are in the file's axes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvex {

struct ModelVec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct ModelTexCoord {
    int16_t u;        // column in the skin, pixels
    int16_t v;        // row in the texture; after ShiftTexCoords, row in the skin
    int32_t shifted;  // 1 once ShiftTexCoords has moved v
};

struct ModelTriangle {
    uint16_t vertex[3];    // indices into every frame's positions, corners 0, 1, 2
    uint16_t texCoord[3];  // indices into texCoords, corners 0, 1, 2
    int16_t textureSlot;   // texture table slot, -1 for none
    ModelVec3 faceNormal;  // working storage of ComputeFrameNormals; not written
};

struct ModelFrame {
    char name[16];  // NUL-terminated, at most 15 characters
    ModelVec3 bboxMin;
    ModelVec3 bboxMax;
    ModelVec3* positions;  // vertexCount entries, in the model's frameBlock
    uint8_t* normalIndex;  // vertexCount entries, in the model's frameBlock: normal table indices
};

// Bytes past a model's last normal index, so that any position can be read
// as 16 bytes at once.
constexpr size_t kFrameBlockSpare = 4;

// The normal table index of the zero normal (0, 0, 0): what every vertex of a
// new model holds, as it would for normals never computed.
constexpr uint8_t kZeroNormalIndex = 5;

struct ModelData {
    char tag[4];  // "3db\0"; nothing reads it
    int32_t triangleCount;
    int32_t vertexCount;
    int32_t texCoordCount;
    int32_t frameCount;
    ModelTexCoord* texCoords;  // texCoordCount entries, owned
    ModelTriangle* triangles;  // triangleCount entries, owned
    ModelFrame* frames;        // frameCount entries, owned
    // Working storage of ComputeFrameNormals, vertexCount entries each, owned:
    // the vertex normals of the frame last computed, and how many triangle
    // corners name each vertex.
    ModelVec3* normals;
    uint64_t* cornerCounts;
    // Every frame's positions, frame after frame, then every frame's normal
    // indices, then kFrameBlockSpare bytes: one allocation of frameBlockBytes,
    // owned (null without vertices or frames).
    void* frameBlock;
    size_t frameBlockBytes;
};

// Pixel formats of a skin. The values are the model file's skin type codes, so
// that a skin has one name for its format in memory and in the file.
constexpr int16_t kSkinFormatRGB565 = 2;
constexpr int16_t kSkinFormatARGB4444 = 3;
constexpr uint16_t kSkinFillValue = 31;

struct SkinImage {
    int16_t format;  // kSkinFormatRGB565 or kSkinFormatARGB4444
    int32_t width;
    int32_t height;
    uint16_t* pixels;  // width * height values, row 0 first; owned; null when empty
};

// Memory limits, decided here rather than by the allocator: frames may take at
// most 2^32 bytes (frameCount * vertexCount * 24, counting a position and a
// normal per vertex as frames once held them) and a skin at most 2^30 bytes
// (width * height * 2).
constexpr uint64_t kModelFrameBytesLimit = uint64_t(1) << 32;
constexpr uint64_t kModelBytesPerVertexFrame = 24;
constexpr uint64_t kSkinBytesLimit = uint64_t(1) << 30;

// True when a model of these counts stays within the limits: no count negative,
// frameCount at most 2147483647 and frameCount * vertexCount * 24 <= 2^32.
// Counts are 64-bit so that a frame count computed from 32-bit frame numbers can
// be judged before it is narrowed.
bool ModelFitsLimits(int64_t triangleCount, int64_t vertexCount, int64_t texCoordCount, int64_t frameCount);

// True when width * height * 2 <= 2^30 and neither is negative.
bool SkinFitsLimits(int64_t width, int64_t height);

// A new model, every array zero-filled except the normal indices (all
// kZeroNormalIndex), frames named "Frame0", "Frame1", ...
// The caller owns it and releases it with DestroyModel. Null when a count is
// negative, the limits above are exceeded, or memory runs out (nothing then
// stays allocated).
ModelData* CreateModel(int32_t triangleCount, int32_t vertexCount, int32_t texCoordCount, int32_t frameCount);

// Releases a model and everything it owns. Null does nothing.
void DestroyModel(ModelData* model);

// A new skin of width * height pixels, every pixel kSkinFillValue. The caller
// owns it and releases it with FreeSkinImage. Null when a size is negative,
// SkinFitsLimits fails, or memory runs out. A skin with no pixels has
// pixels == null.
SkinImage* CreateSkinImage(int32_t width, int32_t height, int16_t format);

// Releases the pixel array, then the record. Null does nothing.
void FreeSkinImage(SkinImage* skin);

// Owning pointers that release a model or skin with the functions above.
struct ModelDeleter {
    void operator()(ModelData* model) const { DestroyModel(model); }
};
struct SkinDeleter {
    void operator()(SkinImage* skin) const { FreeSkinImage(skin); }
};
using ModelPtr = std::unique_ptr<ModelData, ModelDeleter>;
using SkinPtr = std::unique_ptr<SkinImage, SkinDeleter>;

}  // namespace quorvex
