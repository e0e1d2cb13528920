#include <algorithm>
#include <cctype>
#include <sstream>

#include "import/ImportVertexFrames.h"
#include "import/Importer.h"
#include "import/Surfaces.h"
#include "import/VertexFrames.h"
#include "scene/InputFile.h"
#include "scene/Limits.h"

namespace quorvex::importer {
using quorvex::scene::kMaxInputFileBytes;
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::ReadInputFile;

namespace {

constexpr size_t kHeaderBytes = 108;
constexpr size_t kSurfaceHeaderBytes = 108;
constexpr size_t kFrameBytes = 56;
constexpr size_t kShaderBytes = 68;
constexpr double kUnitsPerStep = 1.0 / 64.0;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

// "surface,picture" lines; tags ("tag_head,") and lines without a picture
// name nothing. Surface names are matched without regard to case.
std::map<std::string, std::string> ParseSkin(const std::string& text) {
    std::map<std::string, std::string> pictures;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        const std::string surface = Lower(Trimmed(line.substr(0, comma)));
        const std::string picture = Trimmed(line.substr(comma + 1));
        if (!surface.empty() && !picture.empty()) pictures.emplace(surface, picture);
    }
    return pictures;
}

}  // namespace

bool LoadMd3Scene(const std::string& path, int fps, const std::string& skinFile, AnimatedScene& out, LoadError& error) {
    std::vector<unsigned char> bytes;
    if (!ReadVertexFrameFile(path, "IDP3", "MD3", 15, kHeaderBytes, bytes, error)) return false;
    const ByteReader r{bytes.data(), bytes.size()};
    auto fail = [&](const std::string& why) {
        error = {LoadErrorKind::Malformed, path + ": " + why};
        return false;
    };
    const int32_t frames = r.I32(76), surfaces = r.I32(84), ofsFrames = r.I32(92), ofsSurfaces = r.I32(100);
    if (frames <= 0) return fail("the file holds no frame");
    if (surfaces < 0 || ofsFrames < 0 || ofsSurfaces < 0) return fail("a header count or offset is negative");
    if (!r.Has(static_cast<uint64_t>(ofsFrames), uint64_t(frames) * kFrameBytes))
        return fail("the " + std::to_string(frames) + " frames run past the end of the file");

    FrameModel model;
    for (int32_t f = 0; f < frames; ++f) model.frameNames.push_back(r.Text(ofsFrames + kFrameBytes * f + 40, 16));
    uint64_t at = static_cast<uint64_t>(ofsSurfaces);
    for (int32_t si = 0; si < surfaces; ++si) {
        const std::string where = "surface " + std::to_string(si);
        if (!r.Has(at, kSurfaceHeaderBytes)) return fail(where + " runs past the end of the file");
        const size_t s0 = static_cast<size_t>(at);
        FrameSurface s;
        s.name = r.Text(s0 + 4, 64);
        const int32_t sFrames = r.I32(s0 + 72), shaders = r.I32(s0 + 76), verts = r.I32(s0 + 80), tris = r.I32(s0 + 84),
                      ofsTris = r.I32(s0 + 88), ofsShaders = r.I32(s0 + 92), ofsSt = r.I32(s0 + 96),
                      ofsXyz = r.I32(s0 + 100), ofsEnd = r.I32(s0 + 104);
        if (sFrames != frames)
            return fail(where + " (\"" + s.name + "\") holds " + std::to_string(sFrames) + " frames, the file " +
                        std::to_string(frames));
        if (shaders < 0 || verts < 0 || tris < 0 || ofsTris < 0 || ofsShaders < 0 || ofsSt < 0 || ofsXyz < 0 ||
            ofsEnd < static_cast<int32_t>(kSurfaceHeaderBytes))
            return fail(where + " (\"" + s.name + "\") has a negative count or offset");
        if (!r.Has(at + ofsTris, uint64_t(tris) * 12) || !r.Has(at + ofsShaders, uint64_t(shaders) * kShaderBytes) ||
            !r.Has(at + ofsSt, uint64_t(verts) * 8) || !r.Has(at + ofsXyz, uint64_t(verts) * 8 * uint64_t(frames)))
            return fail(where + " (\"" + s.name + "\") runs past the end of the file");
        if (!FrameCountFits(path, frames, verts, surfaces, error)) return false;
        if (shaders > 0) s.picture = r.Text(s0 + ofsShaders, 64);
        for (int32_t t = 0; t < tris; ++t) {
            std::array<uint32_t, 3> tri;
            for (int k = 0; k < 3; ++k) {
                const int32_t v = r.I32(s0 + ofsTris + 12 * t + 4 * k);
                if (v < 0 || v >= verts)
                    return fail(where + " (\"" + s.name + "\") triangle " + std::to_string(t) + " names vertex " +
                                std::to_string(v) + " of " + std::to_string(verts));
                tri[k] = static_cast<uint32_t>(v);
            }
            s.triangles.push_back(tri);
        }
        for (int32_t v = 0; v < verts; ++v) {
            // Rows run down the picture; v runs up.
            s.uvs.push_back({r.F32(s0 + ofsSt + 8 * v), 1.0 - r.F32(s0 + ofsSt + 8 * v + 4)});
        }
        for (int32_t f = 0; f < frames; ++f) {
            std::vector<Vec3d> positions(verts);
            for (int32_t v = 0; v < verts; ++v) {
                const size_t p = s0 + ofsXyz + 8 * (static_cast<size_t>(f) * verts + v);
                positions[v] = {r.I16(p) * kUnitsPerStep, r.I16(p + 2) * kUnitsPerStep, r.I16(p + 4) * kUnitsPerStep};
            }
            s.frames.push_back(std::move(positions));
        }
        model.surfaces.push_back(std::move(s));
        at += static_cast<uint64_t>(ofsEnd);
    }

    out = AnimatedScene{};
    out.baseDir = FolderOf(path);
    std::string stem = FileNameOf(path);
    stem = stem.substr(0, stem.rfind('.'));

    // The pictures of a player model live in a skin file beside it.
    std::string skinPath = skinFile;
    if (skinPath.empty()) skinPath = FindTextureFile(stem + "_default.skin", out.baseDir);
    if (!skinPath.empty()) {
        std::string text;
        if (!ReadInputFile(skinPath, text, error, kMaxInputFileBytes)) {
            error.message = skinPath + ": " + error.message;
            return false;
        }
        const std::map<std::string, std::string> pictures = ParseSkin(text);
        for (FrameSurface& s : model.surfaces) {
            const auto it = pictures.find(Lower(s.name));
            if (it != pictures.end()) {
                s.picture = it->second;
            } else {
                out.warnings.push_back("surface \"" + s.name + "\" is not in " + FileNameOf(skinPath) +
                                       (s.picture.empty() ? "" : "; using its shader \"" + s.picture + "\""));
            }
        }
    }

    std::vector<FrameGroup> groups = GroupFrameNames(model.frameNames);
    if (groups.size() == 1) groups[0].name = stem;
    for (FrameGroup& g : groups) {
        if (g.name.empty()) g.name = "frame";
    }
    BuildFrameScene(model, groups, fps, out);
    return true;
}

}  // namespace quorvex::importer
