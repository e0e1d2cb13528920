#include "cli/ExportSummary.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace {
int32_t ReadInt32(const unsigned char* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}
}  // namespace

void PrintExportSummary(std::FILE* out, const std::string& path) {
    unsigned char header[84];
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        std::fprintf(out, "warning: %s was written but cannot be read back\n", path.c_str());
        return;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    std::fprintf(out, "Wrote %s (%llu bytes, %.4s): %d vertices, %d triangles, %d texture coordinates, %d frames, skin %dx%d\n",
                 path.c_str(), static_cast<unsigned long long>(ec ? 0 : size), reinterpret_cast<const char*>(header),
                 ReadInt32(header + 60), ReadInt32(header + 64), ReadInt32(header + 72), ReadInt32(header + 68),
                 ReadInt32(header + 52), ReadInt32(header + 56));
}
