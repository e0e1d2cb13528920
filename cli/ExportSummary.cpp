#include "cli/ExportSummary.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "mdl/MdlReader.h"

using namespace quorvex;

void PrintExportSummary(std::FILE* out, const std::string& path, const MdlReadResult& read) {
    const MdlHeader& h = read.file.header;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    std::fprintf(
        out, "Wrote %s (%llu bytes, %.4s): %d vertices, %d triangles, %d texture coordinates, skin %dx%d, %d frame%s\n",
        path.c_str(), static_cast<unsigned long long>(ec ? 0 : size), h.magic, h.vertexCount, h.triangleCount,
        h.texCoordCount, h.skinWidth, h.skinHeight, h.frameCount, h.frameCount == 1 ? "" : "s");
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
