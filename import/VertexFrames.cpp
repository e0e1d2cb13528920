#include "import/VertexFrames.h"

#include <cstring>

#include "import/Facing.h"
#include "import/Surfaces.h"
#include "scene/InputFile.h"
#include "scene/Limits.h"

namespace quorvex::importer {
using quorvex::scene::kMaxAccessorValues;
using quorvex::scene::kMaxInputFileBytes;
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::ReadInputFile;

std::vector<FrameGroup> GroupFrameNames(const std::vector<std::string>& names) {
    std::vector<FrameGroup> groups;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string stem = names[i];
        while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9') stem.pop_back();
        if (stem.size() < names[i].size() && !stem.empty() && (stem.back() == '_' || stem.back() == '-')) {
            stem.pop_back();
        }
        if (!groups.empty() && groups.back().name == stem) {
            ++groups.back().count;
        } else {
            groups.push_back({stem, i, 1});
        }
    }
    return groups;
}

void BuildFrameScene(const FrameModel& model, const std::vector<FrameGroup>& groups, int fps, AnimatedScene& out) {
    out.toZUp = FacingTurn({2, 1}, {0, 1});
    const size_t frames = model.frameNames.size();
    for (const FrameSurface& s : model.surfaces) {
        AnimMesh mesh;
        mesh.name = s.name;
        // The base is the origin and each target a whole frame: a frame's
        // positions come out as stored, with nothing added or taken away.
        mesh.positions.assign(s.uvs.size(), Vec3d{});
        mesh.uvs = s.uvs;
        mesh.triangles.reserve(s.triangles.size());
        // The host winds its faces the other way round.
        for (const auto& t : s.triangles) mesh.triangles.push_back({t[0], t[2], t[1]});
        mesh.morphTargets = s.frames;
        mesh.defaultWeights.assign(frames, 0.0);
        if (frames > 0) mesh.defaultWeights[0] = 1.0;
        mesh.material = static_cast<int>(out.materials.size());
        AnimMaterial mat;
        mat.name = s.name;
        mat.diffuseMap = s.picture.empty() ? std::string(kPlaceholderPicture) : s.picture;
        out.materials.push_back(std::move(mat));

        AnimNode node;
        node.name = s.name;
        node.meshes.push_back({static_cast<int>(out.meshes.size()), -1});
        out.roots.push_back(static_cast<int>(out.nodes.size()));
        out.nodes.push_back(std::move(node));
        out.meshes.push_back(std::move(mesh));
    }
    std::vector<FrameGroup> all = groups;
    if (all.empty() && frames > 0) all.push_back({"", 0, frames});
    for (const FrameGroup& g : all) {
        AnimClip clip;
        clip.name = g.name;
        clip.duration = static_cast<double>(g.count - 1) / static_cast<double>(fps);
        for (size_t n = 0; n < out.nodes.size(); ++n) {
            AnimTrack track;
            track.node = static_cast<int>(n);
            track.target = TrackTarget::Weights;
            track.interpolation = Interpolation::Step;
            track.width = frames;
            track.values.assign(g.count * frames, 0.0);
            for (size_t k = 0; k < g.count; ++k) {
                // The same expression the evaluator samples at.
                track.times.push_back(static_cast<double>(k) / static_cast<double>(fps));
                track.values[k * frames + g.first + k] = 1.0;
            }
            clip.tracks.push_back(std::move(track));
        }
        out.clips.push_back(std::move(clip));
    }
}

bool FrameCountFits(const std::string& path, uint64_t frames, uint64_t vertices, uint64_t surfaces, LoadError& error) {
    if (frames * frames * surfaces > kMaxAccessorValues || frames * vertices > kMaxAccessorValues) {
        error = {LoadErrorKind::OverLimit, path + ": " + std::to_string(frames) + " frames of " +
                                               std::to_string(vertices) + " vertices are more than the import holds"};
        return false;
    }
    return true;
}

int32_t ByteReader::I32(size_t at) const {
    uint32_t v =
        uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 3]) << 24;
    int32_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

uint16_t ByteReader::U16(size_t at) const { return static_cast<uint16_t>(data[at] | data[at + 1] << 8); }

int16_t ByteReader::I16(size_t at) const {
    const uint16_t v = U16(at);
    int16_t s;
    std::memcpy(&s, &v, sizeof s);
    return s;
}

float ByteReader::F32(size_t at) const {
    const int32_t bits = I32(at);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::string ByteReader::Text(size_t at, size_t room) const {
    const char* p = reinterpret_cast<const char*>(data + at);
    return std::string(p, strnlen(p, room));
}

bool ReadVertexFrameFile(const std::string& path, const char* magic, const char* format, int32_t version,
                         size_t headerBytes, std::vector<unsigned char>& bytes, LoadError& error) {
    if (!ReadInputFile(path, bytes, error, kMaxInputFileBytes)) {
        error.message = path + ": " + error.message;
        return false;
    }
    const ByteReader r{bytes.data(), bytes.size()};
    if (!r.Has(0, headerBytes) || std::string(reinterpret_cast<const char*>(bytes.data()), 4) != magic) {
        error = {LoadErrorKind::Malformed, path + ": not an " + format + " file (no \"" + magic + "\" header)"};
        return false;
    }
    if (r.I32(4) != version) {
        error.kind = LoadErrorKind::Malformed;
        error.message = path + ": " + format + " version " + std::to_string(r.I32(4)) + "; only version " +
                        std::to_string(version) + " is read";
        return false;
    }
    return true;
}

}  // namespace quorvex::importer
