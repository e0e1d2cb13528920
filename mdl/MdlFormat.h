// The model file's layout, shared by the writer and the reader. All numbers
// are little-endian; the two variants differ only in their magic, their frame
// type and the size of a packed vertex.
//
//   header, 84 bytes
//     0 magic "MDL3" / "MDL4"   4 int32 0          8 float scale[3]
//    20 float origin[3]        32 16 zero bytes   48 int32 skin count (1)
//    52 int32 skin width       56 int32 skin height
//    60 int32 vertex count     64 int32 triangle count
//    68 int32 frame count      72 int32 texture-coordinate count
//    76 int32 0                80 int32 0
//   skin: int32 skin type (kSkinFormatRGB565 or kSkinFormatARGB4444), then
//     width * height uint16 pixels, row 0 first
//   texture coordinates: int16 u, int16 v
//   triangles: uint16 vertex[3], uint16 texCoord[3]
//   frames: int32 frame type, packed box minimum, packed box maximum,
//     char name[16] zero-padded, then vertexCount packed vertices.
//   A packed vertex is x, y, z then the normal index: uint8 each (4 bytes) in
//   "MDL3"; uint16 x, y, z, uint8 index, uint8 0 (8 bytes) in "MDL4". Box
//   corners carry normal index 0.
#pragma once

#include <cstdint>

#include "model/ModelData.h"  // kSkinFormatRGB565, kSkinFormatARGB4444: the skin type codes

namespace quorvex {

// The magics, 4 bytes, not terminated.
constexpr char kMdlMagic8[] = "MDL3";
constexpr char kMdlMagic16[] = "MDL4";
constexpr uint64_t kMdlMagicSize = 4;

// Header field offsets. The reserved fields are written as zeros.
constexpr uint64_t kMdlHeaderReserved0Offset = 4;
constexpr uint64_t kMdlHeaderScaleOffset = 8;
constexpr uint64_t kMdlHeaderOriginOffset = 20;
constexpr uint64_t kMdlHeaderReserved1Offset = 32;  // 16 bytes
constexpr uint64_t kMdlHeaderReserved1Size = 16;
constexpr uint64_t kMdlHeaderSkinCountOffset = 48;
constexpr uint64_t kMdlHeaderSkinWidthOffset = 52;
constexpr uint64_t kMdlHeaderSkinHeightOffset = 56;
constexpr uint64_t kMdlHeaderVertexCountOffset = 60;
constexpr uint64_t kMdlHeaderTriangleCountOffset = 64;
constexpr uint64_t kMdlHeaderFrameCountOffset = 68;
constexpr uint64_t kMdlHeaderTexCoordCountOffset = 72;
constexpr uint64_t kMdlHeaderReserved2Offset = 76;
constexpr uint64_t kMdlHeaderReserved3Offset = 80;

// Record sizes, in bytes.
constexpr uint64_t kMdlHeaderSize = 84;
constexpr uint64_t kMdlSkinTypeSize = 4;
constexpr uint64_t kMdlSkinPixelSize = 2;
constexpr uint64_t kMdlTexCoordSize = 4;
constexpr uint64_t kMdlTriangleSize = 12;
constexpr uint64_t kMdlFrameTypeSize = 4;
constexpr uint64_t kMdlFrameNameSize = 16;
constexpr uint64_t kMdlPackedVertexSize8 = 4;
constexpr uint64_t kMdlPackedVertexSize16 = 8;

// Values of a frame's type field, one per variant.
constexpr int32_t kMdlFrameType8 = 0;
constexpr int32_t kMdlFrameType16 = 2;

// Size in bytes of one packed vertex (4 or 8) and of one frame
// (28 + 4 * V or 36 + 8 * V) in the file's variant; a negative vertexCount
// counts as 0.
constexpr uint64_t MdlPackedVertexSize(bool sixteenBit) {
    return sixteenBit ? kMdlPackedVertexSize16 : kMdlPackedVertexSize8;
}
constexpr uint64_t MdlFrameSize(bool sixteenBit, int32_t vertexCount) {
    return kMdlFrameTypeSize + 2 * MdlPackedVertexSize(sixteenBit) + kMdlFrameNameSize +
           (vertexCount < 0 ? 0 : static_cast<uint64_t>(vertexCount)) * MdlPackedVertexSize(sixteenBit);
}

}  // namespace quorvex
