#include "import/DeclaredFrames.h"

#include <cstring>
#include <fstream>

#include "import/Importer.h"
#include "import/VertexFrames.h"

namespace quorvex::importer {

namespace {

std::string Plural(uint64_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

// A format whose reader delivers less than its header declares: where the
// header's magic and counts lie (each count a little-endian 32-bit field;
// -1: the format has no such count), and whether the reader delivers the
// first frame as a pose (vertex frames) or nothing of the animation.
struct DeclaringFormat {
    const char* extension;
    const char* magic;
    size_t magicBytes;
    size_t headerBytes;  // up to and with the last count read
    int animationsAt;
    int framesAt;
};

// IQM: skeletal animations Assimp 5.2 does not read. MDC: vertex frames of
// which it reads only the first.
constexpr DeclaringFormat kFormats[] = {
    {".iqm", "INTERQUAKEMODEL", 16, 96, 84, 92},
    {".mdc", "IDPC", 4, 80, -1, 76},
};

}  // namespace

std::string UndeliveredAnimation(const std::string& path, const AnimatedScene& scene) {
    if (!scene.clips.empty()) return "";
    const std::string ext = LowerExtension(path);
    for (const DeclaringFormat& f : kFormats) {
        if (ext != f.extension) continue;
        std::ifstream in(path, std::ios::binary);
        unsigned char header[96];
        if (!in.read(reinterpret_cast<char*>(header), static_cast<std::streamsize>(f.headerBytes)) ||
            std::memcmp(header, f.magic, f.magicBytes) != 0) {
            return "";
        }
        const ByteReader r{header, f.headerBytes};
        const uint32_t frames = static_cast<uint32_t>(r.I32(static_cast<size_t>(f.framesAt)));
        if (f.animationsAt < 0) {
            if (frames <= 1) return "";
            return "the file holds " + Plural(frames, "frame") + "; only the first can be read and is exported";
        }
        const uint32_t anims = static_cast<uint32_t>(r.I32(static_cast<size_t>(f.animationsAt)));
        if (anims == 0 || frames == 0) return "";
        return "the file holds " + Plural(anims, "animation") + " of " + Plural(frames, "frame") +
               (anims > 1 ? " in all" : "") + " that cannot be read; exporting the first pose";
    }
    return "";
}

}  // namespace quorvex::importer
