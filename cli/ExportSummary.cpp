#include "cli/ExportSummary.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mdl/MdlReader.h"

namespace quorvex::cli {

using namespace quorvex;

void PrintExportSummary(std::FILE* out, const std::string& path, const MdlReadResult& read) {
    const MdlHeader& h = read.file.header;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    auto count = [](int64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::fprintf(out, "Wrote %s (%s, %.4s): %s, %s, %s, skin %dx%d, %s\n", path.c_str(),
                 count(static_cast<int64_t>(ec ? 0 : size), "byte", "bytes").c_str(), h.magic,
                 count(h.vertexCount, "vertex", "vertices").c_str(),
                 count(h.triangleCount, "triangle", "triangles").c_str(),
                 count(h.texCoordCount, "texture coordinate", "texture coordinates").c_str(), h.skinWidth, h.skinHeight,
                 count(h.frameCount, "frame", "frames").c_str());
    // Default names (Frame0, Frame1, ...) form one sequence that says nothing new.
    const std::vector<MdlSequence> groups = GroupMdlSequences(read.file.frames);
    if (groups.size() == 1 && groups[0].name == "Frame") return;
    std::string sequences;
    for (const MdlSequence& s : groups) {
        if (!sequences.empty()) sequences += ", ";
        sequences += (s.name.empty() ? std::string("(unnamed)") : s.name) + " " + std::to_string(s.frameCount);
    }
    if (!sequences.empty()) std::fprintf(out, "Sequences: %s\n", sequences.c_str());
}

}  // namespace quorvex::cli
