// Model files built byte by byte for reader, renderer and command-line tests,
// independent of the writer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mdl/MdlReader.h"

namespace mdltest {

using namespace quorvex;

struct Vertex {
    uint16_t x, y, z;
    uint8_t normalIndex;
};

struct Frame {
    std::string name;  // at most 15 bytes
    Vertex bboxMin, bboxMax;
    std::vector<Vertex> vertices;
};

// Everything a file holds. Counts written to the header are taken from the
// vectors unless overridden afterwards by patching the bytes.
struct Model {
    bool sixteenBit = false;
    float scale[3] = {1, 1, 1};
    float origin[3] = {0, 0, 0};
    int32_t skinWidth = 0;
    int32_t skinHeight = 0;
    int32_t skinType = kSkinFormatRGB565;
    std::vector<uint16_t> skin;  // skinWidth * skinHeight
    int32_t vertexCount = 0;
    std::vector<MdlTexCoord> texCoords;
    std::vector<MdlTriangle> triangles;
    std::vector<Frame> frames;
};

inline void PutU8(std::vector<uint8_t>& b, uint32_t v) { b.push_back(uint8_t(v)); }
inline void PutU16(std::vector<uint8_t>& b, uint32_t v) {
    PutU8(b, v);
    PutU8(b, v >> 8);
}
inline void PutI32(std::vector<uint8_t>& b, int32_t v) {
    PutU16(b, uint32_t(v));
    PutU16(b, uint32_t(v) >> 16);
}
inline void PutF32(std::vector<uint8_t>& b, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    PutI32(b, int32_t(bits));
}
inline void SetI32(std::vector<uint8_t>& b, size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(uint32_t(v) >> (8 * i));
}
inline void SetF32(std::vector<uint8_t>& b, size_t at, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    SetI32(b, at, int32_t(bits));
}

inline void PutVertex(std::vector<uint8_t>& b, const Vertex& v, bool sixteen) {
    if (sixteen) {
        PutU16(b, v.x);
        PutU16(b, v.y);
        PutU16(b, v.z);
        PutU8(b, v.normalIndex);
        PutU8(b, 0);
    } else {
        PutU8(b, v.x);
        PutU8(b, v.y);
        PutU8(b, v.z);
        PutU8(b, v.normalIndex);
    }
}

inline std::vector<uint8_t> Bytes(const Model& m) {
    std::vector<uint8_t> b;
    for (char ch : {'M', 'D', 'L', m.sixteenBit ? '4' : '3'}) PutU8(b, uint8_t(ch));
    PutI32(b, 0);
    for (float s : m.scale) PutF32(b, s);
    for (float o : m.origin) PutF32(b, o);
    b.insert(b.end(), 16, 0);
    PutI32(b, 1);
    PutI32(b, m.skinWidth);
    PutI32(b, m.skinHeight);
    PutI32(b, m.vertexCount);
    PutI32(b, int32_t(m.triangles.size()));
    PutI32(b, int32_t(m.frames.size()));
    PutI32(b, int32_t(m.texCoords.size()));
    PutI32(b, 0);
    PutI32(b, 0);
    PutI32(b, m.skinType);
    for (uint16_t p : m.skin) PutU16(b, p);
    for (const MdlTexCoord& t : m.texCoords) {
        PutU16(b, uint16_t(t.u));
        PutU16(b, uint16_t(t.v));
    }
    for (const MdlTriangle& t : m.triangles) {
        for (uint16_t v : t.vertex) PutU16(b, v);
        for (uint16_t v : t.texCoord) PutU16(b, v);
    }
    for (const Frame& f : m.frames) {
        PutI32(b, m.sixteenBit ? kMdlFrameType16 : kMdlFrameType8);
        PutVertex(b, f.bboxMin, m.sixteenBit);
        PutVertex(b, f.bboxMax, m.sixteenBit);
        char name[16] = {};
        std::memcpy(name, f.name.data(), f.name.size() < 15 ? f.name.size() : 15);
        b.insert(b.end(), name, name + 16);
        for (const Vertex& v : f.vertices) PutVertex(b, v, m.sixteenBit);
    }
    return b;
}

// A front-facing square seen from +x (yaw 0, pitch 0), spanning y and z from
// -1 to 1 in the plane x = 0, with a 2 x 1 skin: left half (u = 0) `left`,
// right half (u = 1) `right`. Corners run clockwise as the viewer sees them,
// the exporter's front-face order; stored normals point away from the viewer
// (index 143 is (-1, 0, 0)).
inline Model Square(uint16_t left, uint16_t right, bool sixteenBit = false) {
    Model m;
    m.sixteenBit = sixteenBit;
    const uint16_t top = sixteenBit ? 65535 : 255;
    m.scale[0] = 1.0f;
    m.scale[1] = m.scale[2] = 2.0f / float(top);
    m.origin[0] = 0.0f;
    m.origin[1] = m.origin[2] = -1.0f;
    m.skinWidth = 2;
    m.skinHeight = 1;
    m.skin = {left, right};
    m.vertexCount = 4;
    m.texCoords = {{0, 0}, {1, 0}};
    // 0 bottom-left, 1 top-left, 2 top-right, 3 bottom-right, as seen from +x.
    m.triangles = {{{0, 1, 2}, {0, 0, 1}}, {{0, 2, 3}, {0, 1, 1}}};
    Frame f;
    f.name = "square0";
    f.bboxMin = {0, 0, 0, 0};
    f.bboxMax = {0, top, top, 0};
    f.vertices = {{0, 0, 0, 143}, {0, 0, top, 143}, {0, top, top, 143}, {0, top, 0, 143}};
    m.frames.push_back(f);
    return m;
}

}  // namespace mdltest
