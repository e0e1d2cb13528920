#include "import/DeclaredFrames.h"

#include <cstring>
#include <fstream>

#include "import/Importer.h"
#include "import/VertexFrames.h"

namespace standin {

namespace {

constexpr size_t kIqmHeaderBytes = 96;  // up to the frame count
constexpr char kIqmMagic[] = "INTERQUAKEMODEL";

std::string Plural(uint64_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

}  // namespace

std::string UndeliveredAnimation(const std::string& path, const AnimatedScene& scene) {
    if (LowerExtension(path) != ".iqm" || !scene.clips.empty()) return "";
    std::ifstream in(path, std::ios::binary);
    unsigned char header[kIqmHeaderBytes];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return "";
    if (std::memcmp(header, kIqmMagic, sizeof kIqmMagic) != 0) return "";
    const ByteReader r{header, sizeof header};
    const uint32_t anims = static_cast<uint32_t>(r.I32(84)), frames = static_cast<uint32_t>(r.I32(92));
    if (anims == 0 || frames == 0) return "";
    return "the file holds " + Plural(anims, "animation") + " of " + Plural(frames, "frame") +
           (anims > 1 ? " in all" : "") + " that cannot be read; exporting the first pose";
}

}  // namespace standin
