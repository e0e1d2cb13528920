// Writes small MD2 and MD3 files (and PCX pictures) for the importer tests:
// every field laid out as the formats document it, nothing taken from any
// existing model.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vftest {

struct Writer {
    std::string bytes;
    void I32(int32_t v) { Raw(&v, 4); }
    void I16(int16_t v) { Raw(&v, 2); }
    void U16(uint16_t v) { Raw(&v, 2); }
    void F32(float v) { Raw(&v, 4); }
    void U8(uint8_t v) { bytes += static_cast<char>(v); }
    void Text(const std::string& s, size_t room) {
        std::string t = s.substr(0, room);
        t.resize(room, '\0');
        bytes += t;
    }
    void Raw(const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }  // little-endian host
};

// A marked shape in the model file's axes: the origin, the nose 2 ahead (+x),
// the left 1 aside (+y), the top 3 up (+z); four triangles wound clockwise
// seen from outside.
inline const std::vector<std::array<int, 3>>& MarkedPoints() {
    static const std::vector<std::array<int, 3>> points = {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {0, 0, 3}};
    return points;
}
inline const std::vector<std::array<int, 3>>& MarkedTriangles() {
    static const std::vector<std::array<int, 3>> tris = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}};
    return tris;
}

struct Md2Frame {
    std::string name;
    float scale[3] = {0.5f, 0.5f, 0.5f};
    float move[3] = {0, 0, 0};
    std::vector<std::array<uint8_t, 3>> bytes;  // one per vertex
};

// An MD2 file of the marked shape's triangles (texture coordinate i for
// vertex i) with the given frames and skins.
inline std::string Md2File(const std::vector<Md2Frame>& frames, const std::vector<std::string>& skins = {}) {
    const int32_t verts = static_cast<int32_t>(frames.empty() ? 0 : frames[0].bytes.size());
    const int32_t tris = static_cast<int32_t>(MarkedTriangles().size());
    const int32_t frameSize = 40 + 4 * verts;
    const int32_t ofsSkins = 68, ofsSt = ofsSkins + 64 * static_cast<int32_t>(skins.size());
    const int32_t ofsTris = ofsSt + 4 * verts, ofsFrames = ofsTris + 12 * tris;
    const int32_t ofsEnd = ofsFrames + frameSize * static_cast<int32_t>(frames.size());
    Writer w;
    w.Raw("IDP2", 4);
    for (int32_t v : {8, 64, 32, frameSize, static_cast<int32_t>(skins.size()), verts, verts, tris, 0,
                      static_cast<int32_t>(frames.size()), ofsSkins, ofsSt, ofsTris, ofsFrames, ofsEnd, ofsEnd})
        w.I32(v);
    for (const std::string& s : skins) w.Text(s, 64);
    for (int32_t i = 0; i < verts; ++i) {
        w.I16(static_cast<int16_t>(16 * i));
        w.I16(static_cast<int16_t>(8 * i));
    }
    for (const auto& t : MarkedTriangles()) {
        for (int k = 0; k < 3; ++k) w.U16(static_cast<uint16_t>(t[k]));
        for (int k = 0; k < 3; ++k) w.U16(static_cast<uint16_t>(t[k]));
    }
    for (const Md2Frame& f : frames) {
        for (float v : f.scale) w.F32(v);
        for (float v : f.move) w.F32(v);
        w.Text(f.name, 16);
        for (const auto& b : f.bytes) {
            for (uint8_t c : b) w.U8(c);
            w.U8(0);
        }
    }
    return w.bytes;
}

// The marked shape at twice its size, moved up by the frame's index.
inline std::vector<Md2Frame> MarkedMd2Frames(const std::vector<std::string>& names) {
    std::vector<Md2Frame> frames;
    for (size_t f = 0; f < names.size(); ++f) {
        Md2Frame frame;
        frame.name = names[f];
        frame.move[2] = static_cast<float>(f);
        for (const auto& p : MarkedPoints())
            frame.bytes.push_back({uint8_t(2 * p[0]), uint8_t(2 * p[1]), uint8_t(2 * p[2])});
        frames.push_back(frame);
    }
    return frames;
}

struct Md3Surface {
    std::string name;
    std::string shader;
};

// An MD3 file whose surfaces each hold the marked shape, in 1/64 steps,
// moved up by the frame's index (and by the surface's index along y).
inline std::string Md3File(const std::vector<std::string>& frameNames, const std::vector<Md3Surface>& surfaces) {
    const int32_t frames = static_cast<int32_t>(frameNames.size());
    const int32_t verts = static_cast<int32_t>(MarkedPoints().size());
    const int32_t tris = static_cast<int32_t>(MarkedTriangles().size());
    std::string body;
    for (size_t s = 0; s < surfaces.size(); ++s) {
        const int32_t ofsTris = 108, ofsShaders = ofsTris + 12 * tris, ofsSt = ofsShaders + 68;
        const int32_t ofsXyz = ofsSt + 8 * verts, ofsEnd = ofsXyz + 8 * verts * frames;
        Writer w;
        w.Raw("IDP3", 4);
        w.Text(surfaces[s].name, 64);
        for (int32_t v : {0, frames, 1, verts, tris, ofsTris, ofsShaders, ofsSt, ofsXyz, ofsEnd}) w.I32(v);
        for (const auto& t : MarkedTriangles())
            for (int k = 0; k < 3; ++k) w.I32(t[k]);
        w.Text(surfaces[s].shader, 64);
        w.I32(0);
        for (int32_t i = 0; i < verts; ++i) {
            w.F32(0.25f * i);
            w.F32(0.125f * i);
        }
        for (int32_t f = 0; f < frames; ++f) {
            for (const auto& p : MarkedPoints()) {
                w.I16(static_cast<int16_t>(p[0] * 64));
                w.I16(static_cast<int16_t>((p[1] + static_cast<int>(s)) * 64));
                w.I16(static_cast<int16_t>((p[2] + f) * 64 + 1));
                w.I16(0);
            }
        }
        body += w.bytes;
    }
    const int32_t ofsFrames = 108, ofsSurfaces = ofsFrames + 56 * frames;
    Writer w;
    w.Raw("IDP3", 4);
    w.I32(15);
    w.Text("model", 64);
    for (int32_t v : {0, frames, 0, static_cast<int32_t>(surfaces.size()), 0, ofsFrames, ofsSurfaces, ofsSurfaces,
                      ofsSurfaces + static_cast<int32_t>(body.size())})
        w.I32(v);
    for (const std::string& n : frameNames) {
        for (int k = 0; k < 10; ++k) w.F32(0.0f);
        w.Text(n, 16);
    }
    return w.bytes + body;
}

// A PCX picture of `width` x `height` 8-bit pixels (`indices`, row 0 first),
// run-length coded, with a palette in which index i is (i, 255 - i, 7).
inline std::string PcxFile(int width, int height, const std::vector<uint8_t>& indices) {
    Writer w;
    w.U8(10);
    w.U8(5);
    w.U8(1);
    w.U8(8);
    for (int v : {0, 0, width - 1, height - 1, 72, 72}) w.U16(static_cast<uint16_t>(v));
    w.bytes.append(48, '\0');
    w.U8(0);
    w.U8(1);
    const int line = width + (width % 2);
    w.U16(static_cast<uint16_t>(line));
    w.U16(1);
    w.bytes.append(58, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < line; ++x) {
            const uint8_t v = x < width ? indices[static_cast<size_t>(y) * width + x] : 0;
            w.U8(0xC1);  // every byte as a run of one, so that values of 0xC0 and up stay whole
            w.U8(v);
        }
    }
    w.U8(12);
    for (int i = 0; i < 256; ++i) {
        w.U8(static_cast<uint8_t>(i));
        w.U8(static_cast<uint8_t>(255 - i));
        w.U8(7);
    }
    return w.bytes;
}

}  // namespace vftest
