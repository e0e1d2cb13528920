#include <map>
#include <utility>

#include "import/Importer.h"
#include "import/ImportVertexFrames.h"
#include "import/VertexFrames.h"
#include "scene/InputFile.h"
#include "scene/Limits.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;

bool IsVertexFramePath(const std::string& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".md2" || ext == ".md3";
}

namespace {

constexpr size_t kHeaderBytes = 68;
constexpr size_t kFrameHeadBytes = 40;  // scale, translate, name

struct Md2Header {
    int32_t skinWidth, skinHeight, frameSize, skins, vertices, sts, triangles, glCommands, frames;
    int32_t ofsSkins, ofsSts, ofsTriangles, ofsFrames;
};

}  // namespace

bool LoadMd2Scene(const std::string& path, int fps, AnimatedScene& out, LoadError& error) {
    std::vector<unsigned char> bytes;
    if (!ReadVertexFrameFile(path, "IDP2", "MD2", 8, kHeaderBytes, bytes, error)) return false;
    const ByteReader r{bytes.data(), bytes.size()};
    auto fail = [&](const std::string& why) {
        error = {LoadErrorKind::Malformed, path + ": " + why};
        return false;
    };
    Md2Header h;
    int32_t* fields[] = {&h.skinWidth, &h.skinHeight,   &h.frameSize,  &h.skins,  &h.vertices,
                         &h.sts,       &h.triangles,    &h.glCommands, &h.frames, &h.ofsSkins,
                         &h.ofsSts,    &h.ofsTriangles, &h.ofsFrames};
    for (size_t i = 0; i < std::size(fields); ++i) {
        *fields[i] = r.I32(8 + 4 * i);
        if (*fields[i] < 0) return fail("header field " + std::to_string(i + 2) + " is negative");
    }
    if (h.frames == 0) return fail("the file holds no frame");
    auto within = [&](const char* what, int32_t offset, uint64_t count, uint64_t size) {
        if (r.Has(static_cast<uint64_t>(offset), count * size)) return true;
        error = {LoadErrorKind::Malformed, path + ": the " + what + " (" + std::to_string(count) + " at byte " +
                                               std::to_string(offset) + ") run past the end of the file"};
        return false;
    };
    if (h.frameSize < static_cast<int64_t>(kFrameHeadBytes) + 4 * int64_t(h.vertices))
        return fail("frame size " + std::to_string(h.frameSize) + " is too small for " + std::to_string(h.vertices) +
                    " vertices");
    if (!within("skins", h.ofsSkins, h.skins, 64) || !within("texture coordinates", h.ofsSts, h.sts, 4) ||
        !within("triangles", h.ofsTriangles, h.triangles, 12) ||
        !within("frames", h.ofsFrames, h.frames, static_cast<uint64_t>(h.frameSize)))
        return false;
    if (!FrameCountFits(path, h.frames, h.vertices, 1, error)) return false;

    FrameModel model;
    FrameSurface s;
    s.name = FileNameOf(path);
    s.name = s.name.substr(0, s.name.rfind('.'));
    // A vertex with different texture coordinates in different triangles
    // becomes one vertex per pair.
    std::map<std::pair<int, int>, uint32_t> vertexOf;
    std::vector<int> sourceOf;
    for (int32_t t = 0; t < h.triangles; ++t) {
        const size_t at = static_cast<size_t>(h.ofsTriangles) + 12 * static_cast<size_t>(t);
        std::array<uint32_t, 3> tri;
        for (int k = 0; k < 3; ++k) {
            const int v = r.U16(at + 2 * k), st = r.U16(at + 6 + 2 * k);
            if (v >= h.vertices || st >= h.sts)
                return fail("triangle " + std::to_string(t) + " names vertex " + std::to_string(v) +
                            " and texture coordinate " + std::to_string(st) + " of " + std::to_string(h.vertices) +
                            " and " + std::to_string(h.sts));
            auto [it, added] = vertexOf.emplace(std::make_pair(v, st), static_cast<uint32_t>(sourceOf.size()));
            if (added) {
                sourceOf.push_back(v);
                const size_t sa = static_cast<size_t>(h.ofsSts) + 4 * static_cast<size_t>(st);
                // Rows run down the picture; v runs up.
                const double w = h.skinWidth > 0 ? h.skinWidth : 1, ht = h.skinHeight > 0 ? h.skinHeight : 1;
                s.uvs.push_back({r.I16(sa) / w, 1.0 - r.I16(sa + 2) / ht});
            }
            tri[k] = it->second;
        }
        s.triangles.push_back(tri);
    }
    for (int32_t f = 0; f < h.frames; ++f) {
        const size_t at = static_cast<size_t>(h.ofsFrames) + static_cast<size_t>(f) * h.frameSize;
        double scale[3], move[3];
        for (int c = 0; c < 3; ++c) {
            scale[c] = r.F32(at + 4 * c);
            move[c] = r.F32(at + 12 + 4 * c);
        }
        model.frameNames.push_back(r.Text(at + 24, 16));
        std::vector<Vec3d> positions;
        positions.reserve(sourceOf.size());
        for (int v : sourceOf) {
            const size_t va = at + kFrameHeadBytes + 4 * static_cast<size_t>(v);
            positions.push_back({bytes[va] * scale[0] + move[0], bytes[va + 1] * scale[1] + move[1],
                                 bytes[va + 2] * scale[2] + move[2]});
        }
        s.frames.push_back(std::move(positions));
    }
    std::vector<std::string> skins;
    for (int32_t k = 0; k < h.skins; ++k) skins.push_back(r.Text(static_cast<size_t>(h.ofsSkins) + 64 * k, 64));
    if (!skins.empty()) s.picture = skins[0];
    model.surfaces.push_back(std::move(s));

    out = AnimatedScene{};
    out.baseDir = FolderOf(path);
    std::vector<FrameGroup> groups = GroupFrameNames(model.frameNames);
    if (groups.size() == 1 && groups[0].name.empty()) groups[0].name = model.surfaces[0].name;
    for (FrameGroup& g : groups) {
        if (g.name.empty()) g.name = "frame";
    }
    BuildFrameScene(model, groups, fps, out);
    if (skins.size() > 1) {
        std::string others;
        for (size_t k = 1; k < skins.size(); ++k) others += (k > 1 ? ", \"" : "\"") + skins[k] + "\"";
        out.warnings.push_back("the file names " + std::to_string(skins.size()) + " skins; using the first, \"" +
                               skins[0] + "\" (not " + others + ")");
    }
    return true;
}

}  // namespace quorvex::importer
