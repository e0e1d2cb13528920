// Field offsets of the model file (all little-endian):
//
//   header, 84 bytes
//     0 magic "MDL3" / "MDL4"   4 int32 0          8 float scale[3]
//    20 float origin[3]        32 16 zero bytes   48 int32 skin count (1)
//    52 int32 skin width       56 int32 skin height
//    60 int32 vertex count     64 int32 triangle count
//    68 int32 frame count      72 int32 texture-coordinate count
//    76 int32 0                80 int32 0
//   84 int32 skin type (2 RGB565, 3 ARGB4444), then width * height uint16 pixels
//   texture coordinates: int16 u, int16 v
//   triangles: uint16 vertex[3], uint16 texCoord[3]
//   frames: int32 type (0 for 8-bit, 2 for 16-bit), packed box minimum,
//     packed box maximum, char name[16] zero-padded, packed vertices.
//   A packed vertex is x, y, z then the normal index: uint8 each (4 bytes) in
//   the 8-bit variant; uint16 x, y, z, uint8 index, uint8 0 (8 bytes) in the
//   16-bit variant. Box corners carry normal index 0.
#include "mdl/MdlFileWriter.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#define QUORVEX_GETPID _getpid
#else
#include <unistd.h>
#define QUORVEX_GETPID getpid
#endif

#include "mdl/NormalTable.h"
#include "model/Numeric.h"

namespace {

float FloatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t BitsFromFloat(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// 1/255 and 1/65535 rounded to single precision, by bit pattern so that no
// compiler's rounding of a literal can change them.
const float Step8 = FloatFromBits(0x3B808081u);
const float Step16 = FloatFromBits(0x37800080u);

constexpr float BoundStart = 1000000.0f;

// Streams the file through a buffered FILE*. After the first failed write
// nothing more is written and ok stays false.
struct FileSink {
    FILE* file;
    bool ok;

    void Write(const uint8_t* bytes, size_t size) {
        if (ok && size && std::fwrite(bytes, 1, size, file) != size) ok = false;
    }
};

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutInt32(uint8_t* p, int32_t v) { Put32(p, static_cast<uint32_t>(v)); }
void PutFloat(uint8_t* p, float v) { Put32(p, BitsFromFloat(v)); }

// One coordinate as a whole number of steps from the origin; the caller keeps
// the low 8 or 16 bits.
int64_t PackSteps(float c, float origin, float scale) {
    return TruncateToInt64((static_cast<double>(c) - static_cast<double>(origin)) / static_cast<double>(scale));
}

// Writes one packed vertex into p: 4 bytes (8-bit) or 8 bytes (16-bit).
size_t PutPackedVertex(uint8_t* p, const ModelVec3& c, int normalIndex, const MdlQuantization& q, bool sixteenBit) {
    const int64_t x = PackSteps(c.x, q.origin[0], q.scale[0]);
    const int64_t y = PackSteps(c.y, q.origin[1], q.scale[1]);
    const int64_t z = PackSteps(c.z, q.origin[2], q.scale[2]);
    if (sixteenBit) {
        Put16(p, Low16(x));
        Put16(p + 2, Low16(y));
        Put16(p + 4, Low16(z));
        p[6] = static_cast<uint8_t>(normalIndex);
        p[7] = 0;
        return 8;
    }
    p[0] = static_cast<uint8_t>(static_cast<uint64_t>(x));
    p[1] = static_cast<uint8_t>(static_cast<uint64_t>(y));
    p[2] = static_cast<uint8_t>(static_cast<uint64_t>(z));
    p[3] = static_cast<uint8_t>(normalIndex);
    return 4;
}

void WriteHeader(FileSink& out, const ModelData* model, const SkinImage* skin, const MdlQuantization& q,
                 bool sixteenBit) {
    uint8_t h[84] = {};
    std::memcpy(h, sixteenBit ? "MDL4" : "MDL3", 4);
    for (int a = 0; a < 3; ++a) {
        PutFloat(h + 8 + 4 * a, q.scale[a]);
        PutFloat(h + 20 + 4 * a, q.origin[a]);
    }
    PutInt32(h + 48, 1);
    PutInt32(h + 52, skin->width);
    PutInt32(h + 56, skin->height);
    PutInt32(h + 60, model->vertexCount);
    PutInt32(h + 64, model->triangleCount);
    PutInt32(h + 68, model->frameCount);
    PutInt32(h + 72, model->texCoordCount);
    out.Write(h, sizeof h);
}

void WriteSkin(FileSink& out, const SkinImage* skin) {
    uint8_t b[4];
    PutInt32(b, skin->format == SkinFormatARGB4444 ? 3 : 2);
    out.Write(b, 4);
    const int64_t count = int64_t(skin->width) * skin->height;
    for (int64_t i = 0; i < count && out.ok; ++i) {
        Put16(b, skin->pixels[i]);
        out.Write(b, 2);
    }
}

void WriteTexCoordsAndTriangles(FileSink& out, const ModelData* model) {
    uint8_t b[12];
    for (int32_t i = 0; i < model->texCoordCount && out.ok; ++i) {
        Put16(b, static_cast<uint16_t>(model->texCoords[i].u));
        Put16(b + 2, static_cast<uint16_t>(model->texCoords[i].v));
        out.Write(b, 4);
    }
    for (int32_t i = 0; i < model->triangleCount && out.ok; ++i) {
        const ModelTriangle& t = model->triangles[i];
        for (int c = 0; c < 3; ++c) {
            Put16(b + 2 * c, t.vertex[c]);
            Put16(b + 6 + 2 * c, t.texCoord[c]);
        }
        out.Write(b, 12);
    }
}

void WriteFrames(FileSink& out, const ModelData* model, const MdlQuantization& q, bool sixteenBit) {
    uint8_t b[36];
    for (int32_t f = 0; f < model->frameCount && out.ok; ++f) {
        const ModelFrame& frame = model->frames[f];
        PutInt32(b, sixteenBit ? 2 : 0);
        size_t n = 4;
        n += PutPackedVertex(b + n, frame.bboxMin, 0, q, sixteenBit);
        n += PutPackedVertex(b + n, frame.bboxMax, 0, q, sixteenBit);
        // At most 15 characters, then zeros to the end of the field, even if
        // the name were not terminated.
        uint8_t* name = b + n;
        std::memset(name, 0, 16);
        for (int i = 0; i < 15 && frame.name[i] != '\0'; ++i) name[i] = static_cast<uint8_t>(frame.name[i]);
        n += 16;
        out.Write(b, n);

        for (int32_t v = 0; v < model->vertexCount && out.ok; ++v) {
            const ModelVec3& normal = frame.normals[v];
            const int index = NearestNormalIndex(normal.x, normal.y, normal.z);
            out.Write(b, PutPackedVertex(b, frame.positions[v], index, q, sixteenBit));
        }
    }
}

// Creates `name` only if nothing is there yet; errno says why not. The Windows
// C runtime ignores fopen's "x", so there the low-level open gives exclusivity.
FILE* OpenExclusive(const char* name) {
#ifdef _WIN32
    const int fd = _open(name, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        _unlink(name);
    }
    return file;
#else
    return std::fopen(name, "wbx");
#endif
}

// Renames without letting an exception escape: a failure is a result.
bool RenameInto(const char* from, const char* to) {
    try {
        std::error_code ec;
        std::filesystem::rename(std::filesystem::path(from), std::filesystem::path(to), ec);
        return !ec;
    } catch (...) {
        return false;
    }
}

// Creates a new, exclusively owned file named "<path>.tmp<pid>-<n>" beside
// `path`. Exclusive creation gives it the mode a plain create gives (0666
// under the umask) and never follows or truncates anything already there.
// On success *name holds the malloc'd name, which the caller frees.
FILE* CreateTemporaryBeside(const char* path, char** name) {
    static std::atomic<unsigned> counter{0};
    *name = nullptr;
    const size_t size = std::strlen(path) + 48;
    char* buffer = static_cast<char*>(std::malloc(size));
    if (!buffer) return nullptr;
    const long pid = static_cast<long>(QUORVEX_GETPID());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(buffer, size, "%s.tmp%ld-%u", path, pid, counter.fetch_add(1));
        errno = 0;
        FILE* file = OpenExclusive(buffer);
        if (file) {
            *name = buffer;
            return file;
        }
        // Only a name already taken is worth another try.
        if (errno != EEXIST) break;
    }
    std::free(buffer);
    return nullptr;
}

}  // namespace

void ComputeFrameBounds(ModelData* model) {
    for (int32_t f = 0; f < model->frameCount; ++f) {
        ModelFrame& frame = model->frames[f];
        ModelVec3 lo{BoundStart, BoundStart, BoundStart};
        ModelVec3 hi{-BoundStart, -BoundStart, -BoundStart};
        for (int32_t v = 0; v < model->vertexCount; ++v) {
            const ModelVec3& p = frame.positions[v];
            if (p.x < lo.x) lo.x = p.x;
            if (p.y < lo.y) lo.y = p.y;
            if (p.z < lo.z) lo.z = p.z;
            if (p.x > hi.x) hi.x = p.x;
            if (p.y > hi.y) hi.y = p.y;
            if (p.z > hi.z) hi.z = p.z;
        }
        frame.bboxMin = lo;
        frame.bboxMax = hi;
    }
}

int NearestNormalIndex(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    double best = 999999.0;
    int index = 0;
    for (int i = 0; i < NormalTableSize; ++i) {
        const double* t = NormalTable[i];
        const double d = (std::fabs(dx - t[0]) + std::fabs(dz - t[2])) + std::fabs(dy - t[1]);
        // Strictly smaller: of equal distances the lower index wins, and a
        // not-a-number distance never wins, leaving index 0.
        if (d < best) {
            best = d;
            index = i;
        }
    }
    return index;
}

MdlQuantization ComputeQuantization(const ModelData* model, bool sixteenBit) {
    float smallest[3] = {BoundStart, BoundStart, BoundStart};
    float largestAbs[3] = {0.0f, 0.0f, 0.0f};
    for (int32_t f = 0; f < model->frameCount; ++f) {
        const ModelVec3* positions = model->frames[f].positions;
        for (int32_t v = 0; v < model->vertexCount; ++v) {
            const float c[3] = {positions[v].x, positions[v].y, positions[v].z};
            for (int a = 0; a < 3; ++a) {
                if (c[a] < smallest[a]) smallest[a] = c[a];
                const float m = std::fabs(c[a]);
                if (m > largestAbs[a]) largestAbs[a] = m;
            }
        }
    }
    // The range runs from the smallest value to the largest absolute value:
    // never shorter than the true span, so every value packs within the steps.
    const float k = sixteenBit ? Step16 : Step8;
    MdlQuantization q;
    for (int a = 0; a < 3; ++a) {
        const float range = largestAbs[a] - smallest[a];
        float scale = range * k;
        if (scale == 0.0f) scale = 1.0f;  // a flat axis: every value packs to 0
        q.scale[a] = scale;
        q.origin[a] = smallest[a];
    }
    return q;
}

int WriteMdlFile(const char* path, ModelData* model, const SkinImage* skin, int hiPrecision) {
    ComputeFrameBounds(model);
    if (skin->width < 0 || skin->height < 0 || (!skin->pixels && int64_t(skin->width) * skin->height > 0)) return 0;

    const bool sixteenBit = hiPrecision == 1;
    const MdlQuantization q = ComputeQuantization(model, sixteenBit);

    char* temporary = nullptr;
    FILE* file = CreateTemporaryBeside(path, &temporary);
    if (!file) return 0;

    FileSink out{file, true};
    WriteHeader(out, model, skin, q, sixteenBit);
    WriteSkin(out, skin);
    WriteTexCoordsAndTriangles(out, model);
    WriteFrames(out, model, q, sixteenBit);

    // Closing flushes the last buffered bytes, so its failure is a failed write.
    const bool closed = std::fclose(file) == 0;
    const bool written = out.ok && closed && RenameInto(temporary, path);
    if (!written) std::remove(temporary);
    std::free(temporary);
    return written ? 1 : 0;
}
