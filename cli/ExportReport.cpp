#include "cli/ExportReport.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "mdl/MdlReader.h"

namespace quorvex::cli {

using namespace quorvex;

namespace {

void CountNodes(const std::vector<quorvex::scene::NodeData>& nodes, LoadedCounts& counts,
                std::set<std::string>& pictures) {
    for (const quorvex::scene::NodeData& node : nodes) {
        ++counts.nodes;
        if (node.object && node.object->kind == quorvex::scene::ObjectKind::Mesh) ++counts.meshes;
        if (node.material) {
            ++counts.materials;
            if (node.material->diffuse && !node.material->diffuse->file.empty())
                pictures.insert(node.material->diffuse->file);
        }
        if (node.name == "FrameNames")
            for (const auto& track : node.noteTracks) counts.clips += static_cast<int64_t>(track.size());
        CountNodes(node.children, counts, pictures);
    }
}

}  // namespace

LoadedCounts CountLoaded(const quorvex::scene::SceneDocument& document) {
    LoadedCounts counts;
    std::set<std::string> pictures;
    CountNodes(document.nodes, counts, pictures);
    counts.pictures = static_cast<int64_t>(pictures.size());
    return counts;
}

void PrintLoaded(std::FILE* out, const std::string& path, const LoadedCounts& c) {
    auto count = [](int64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::fprintf(out, "Loaded %s: %s, %s, %s, %s, %s\n", path.c_str(), count(c.nodes, "node", "nodes").c_str(),
                 count(c.meshes, "mesh", "meshes").c_str(), count(c.materials, "material", "materials").c_str(),
                 count(c.pictures, "picture", "pictures").c_str(), count(c.clips, "clip", "clips").c_str());
}

void PrintPhaseTimes(std::FILE* out, const std::vector<quorvex::cli::PhaseTime>& phases) {
    double total = 0;
    std::string line;
    for (const quorvex::cli::PhaseTime& phase : phases) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3fs", phase.seconds);
        line += (line.empty() ? "" : ", ") + phase.caption + " " + text;
        total += phase.seconds;
    }
    std::fprintf(out, "Times: %s; total %.3fs\n", line.c_str(), total);
}

void ModelBox(const MdlFile& file, MdlVec3& lo, MdlVec3& hi) {
    const MdlHeader& h = file.header;
    lo = DecodeMdlPosition(h, file.frames[0].bboxMin);
    hi = DecodeMdlPosition(h, file.frames[0].bboxMax);
    for (const MdlFrame& frame : file.frames) {
        const MdlVec3 a = DecodeMdlPosition(h, frame.bboxMin), b = DecodeMdlPosition(h, frame.bboxMax);
        lo = {std::min(lo.x, a.x), std::min(lo.y, a.y), std::min(lo.z, a.z)};
        hi = {std::max(hi.x, b.x), std::max(hi.y, b.y), std::max(hi.z, b.z)};
    }
}

void PrintQuantization(std::FILE* out, const MdlReadResult& read) {
    if (!read.ok() || read.file.frames.empty()) return;
    const MdlHeader& h = read.file.header;
    // The model's size: the longest side of the box around every frame.
    MdlVec3 lo, hi;
    ModelBox(read.file, lo, hi);
    const double size = std::max({double(hi.x) - lo.x, double(hi.y) - lo.y, double(hi.z) - lo.z});
    // Positions are packed by truncation, so a stored one lies up to one step
    // below the true one.
    std::fprintf(out, "Quantization (%s, scene units): ", read.file.sixteenBit ? "16-bit" : "8-bit");
    bool coarse = false;
    const double extent[3] = {double(hi.x) - lo.x, double(hi.y) - lo.y, double(hi.z) - lo.z};
    for (int a = 0; a < 3; ++a) {
        const char* separator = a ? "; " : "";
        // A flat axis stores every value exactly, whatever its step says.
        if (extent[a] == 0) {
            std::fprintf(out, "%s%c flat, no error", separator, "xyz"[a]);
            continue;
        }
        std::fprintf(out, "%s%c step %.6g", separator, "xyz"[a], double(h.scale[a]));
        if (double(h.scale[a]) > size / 200) coarse = true;
    }
    // Truncation: the largest error on an axis is just under its step.
    std::fprintf(out, "; model size %.6g; a stored position lies up to one step below the true one\n", size);
    if (coarse && !read.file.sixteenBit)
        std::fprintf(out,
                     "hint: a step exceeds 1/200 of the model's size; --hi-precision stores 16-bit vertices, "
                     "256 times finer\n");
}

}  // namespace quorvex::cli
