// The layout the writer follows is described in mdl/MdlFormat.h.
#include "mdl/MdlFileWriter.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "mdl/MdlFormat.h"
#include "model/Allocation.h"
#include "model/Numeric.h"

namespace quorvex {

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

constexpr float kBoundStart = 1000000.0f;

// Gathers the file's bytes in one buffer and hands them to the FILE* a
// buffer at a time: a frame is one write, not one per vertex. After the first
// failed write nothing more is written and ok stays false.
struct FileSink {
    FILE* file;
    uint8_t* buffer;
    size_t capacity;
    size_t used;
    bool ok;
    int error = 0;  // errno of the first failed write

    void Flush() {
        if (ok && used && std::fwrite(buffer, 1, used, file) != used) {
            ok = false;
            error = errno;
        }
        used = 0;
    }
    // Room for `size` bytes (at most capacity) at the end of the buffer.
    uint8_t* Take(size_t size) {
        if (capacity - used < size) Flush();
        uint8_t* p = buffer + used;
        used += size;
        return p;
    }
};

// The buffer holds a whole frame, so that a frame is one write, within these
// bounds; a larger frame goes out in parts.
constexpr size_t kSinkMinimum = size_t(1) << 16;
constexpr size_t kSinkMaximum = size_t(1) << 23;

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

// Writes one packed vertex into p from its steps, of which the low 8 or 16
// bits are kept: 4 bytes (8-bit) or 8 bytes (16-bit).
size_t PutSteps(uint8_t* p, int64_t x, int64_t y, int64_t z, uint8_t normalIndex, bool sixteenBit) {
    if (sixteenBit) {
        Put16(p, Low16(x));
        Put16(p + 2, Low16(y));
        Put16(p + 4, Low16(z));
        p[6] = normalIndex;
        p[7] = 0;
        return kMdlPackedVertexSize16;
    }
    p[0] = static_cast<uint8_t>(static_cast<uint64_t>(x));
    p[1] = static_cast<uint8_t>(static_cast<uint64_t>(y));
    p[2] = static_cast<uint8_t>(static_cast<uint64_t>(z));
    p[3] = normalIndex;
    return kMdlPackedVertexSize8;
}

// Writes one packed vertex into p: 4 bytes (8-bit) or 8 bytes (16-bit).
size_t PutPackedVertex(uint8_t* p, const ModelVec3& c, int normalIndex, const MdlQuantization& q, bool sixteenBit) {
    return PutSteps(p, PackSteps(c.x, q.origin[0], q.scale[0]), PackSteps(c.y, q.origin[1], q.scale[1]),
                    PackSteps(c.z, q.origin[2], q.scale[2]), static_cast<uint8_t>(normalIndex), sixteenBit);
}

// Packs `count` vertices into p, as PutPackedVertex does one by one.
void PackVertices(uint8_t* p, const ModelVec3* c, const uint8_t* normalIndex, int32_t count, const MdlQuantization& q,
                  bool sixteenBit) {
#if defined(__SSE2__) || defined(_M_X64)
    // The same double arithmetic for two vertices at a time, one axis per
    // register (three divisions for the two). Truncating to 32 bits keeps the
    // low bits of the 64-bit truncation whenever the steps fit in 32 bits;
    // anything else (far beyond the range, not-a-number) shows as the 32-bit
    // "indefinite" value, and both vertices take the exact path.
    int32_t v = 0;
    const __m128d origin[3] = {_mm_set1_pd(q.origin[0]), _mm_set1_pd(q.origin[1]), _mm_set1_pd(q.origin[2])};
    const __m128d scale[3] = {_mm_set1_pd(q.scale[0]), _mm_set1_pd(q.scale[1]), _mm_set1_pd(q.scale[2])};
    for (; v + 2 <= count; v += 2) {
        const __m128i x =
            _mm_cvttpd_epi32(_mm_div_pd(_mm_sub_pd(_mm_setr_pd(c[v].x, c[v + 1].x), origin[0]), scale[0]));
        const __m128i y =
            _mm_cvttpd_epi32(_mm_div_pd(_mm_sub_pd(_mm_setr_pd(c[v].y, c[v + 1].y), origin[1]), scale[1]));
        const __m128i z =
            _mm_cvttpd_epi32(_mm_div_pd(_mm_sub_pd(_mm_setr_pd(c[v].z, c[v + 1].z), origin[2]), scale[2]));
        // x0 x1 y0 y1, and z0 z1.
        const __m128i xy = _mm_unpacklo_epi64(x, y);
        const __m128i indefinite = _mm_set1_epi32(INT32_MIN);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(xy, indefinite),
                                           _mm_cmpeq_epi32(_mm_unpacklo_epi64(z, _mm_setzero_si128()), indefinite)))) {
            p += PutPackedVertex(p, c[v], normalIndex[v], q, sixteenBit);
            p += PutPackedVertex(p, c[v + 1], normalIndex[v + 1], q, sixteenBit);
            continue;
        }
        // The 32-bit steps hold the low bits of the 64-bit ones.
        const int32_t x0 = _mm_cvtsi128_si32(x), x1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(x, 1));
        const int32_t y0 = _mm_cvtsi128_si32(y), y1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(y, 1));
        const int32_t z0 = _mm_cvtsi128_si32(z), z1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(z, 1));
        p += PutSteps(p, x0, y0, z0, normalIndex[v], sixteenBit);
        p += PutSteps(p, x1, y1, z1, normalIndex[v + 1], sixteenBit);
    }
    // The last of an odd count.
    for (; v < count; ++v) p += PutPackedVertex(p, c[v], normalIndex[v], q, sixteenBit);
#else
    for (int32_t v = 0; v < count; ++v) p += PutPackedVertex(p, c[v], normalIndex[v], q, sixteenBit);
#endif
}

void WriteHeader(FileSink& out, const ModelData* model, const SkinImage* skin, const MdlQuantization& q,
                 bool sixteenBit) {
    uint8_t* h = out.Take(kMdlHeaderSize);
    std::memset(h, 0, kMdlHeaderSize);
    std::memcpy(h, sixteenBit ? kMdlMagic16 : kMdlMagic8, kMdlMagicSize);
    for (int a = 0; a < 3; ++a) {
        PutFloat(h + kMdlHeaderScaleOffset + 4 * a, q.scale[a]);
        PutFloat(h + kMdlHeaderOriginOffset + 4 * a, q.origin[a]);
    }
    PutInt32(h + kMdlHeaderSkinCountOffset, 1);
    PutInt32(h + kMdlHeaderSkinWidthOffset, skin->width);
    PutInt32(h + kMdlHeaderSkinHeightOffset, skin->height);
    PutInt32(h + kMdlHeaderVertexCountOffset, model->vertexCount);
    PutInt32(h + kMdlHeaderTriangleCountOffset, model->triangleCount);
    PutInt32(h + kMdlHeaderFrameCountOffset, model->frameCount);
    PutInt32(h + kMdlHeaderTexCoordCountOffset, model->texCoordCount);
}

void WriteSkin(FileSink& out, const SkinImage* skin) {
    // Any format other than ARGB4444 is written as RGB565.
    PutInt32(out.Take(kMdlSkinTypeSize), skin->format == kSkinFormatARGB4444 ? kSkinFormatARGB4444 : kSkinFormatRGB565);
    const int64_t count = int64_t(skin->width) * skin->height;
    for (int64_t i = 0; i < count; ++i) Put16(out.Take(kMdlSkinPixelSize), skin->pixels[i]);
}

void WriteTexCoordsAndTriangles(FileSink& out, const ModelData* model) {
    for (int32_t i = 0; i < model->texCoordCount; ++i) {
        uint8_t* b = out.Take(kMdlTexCoordSize);
        Put16(b, static_cast<uint16_t>(model->texCoords[i].u));
        Put16(b + 2, static_cast<uint16_t>(model->texCoords[i].v));
    }
    for (int32_t i = 0; i < model->triangleCount; ++i) {
        const ModelTriangle& t = model->triangles[i];
        uint8_t* b = out.Take(kMdlTriangleSize);
        for (int c = 0; c < 3; ++c) {
            Put16(b + 2 * c, t.vertex[c]);
            Put16(b + 6 + 2 * c, t.texCoord[c]);
        }
    }
}

// The frame's type, box and name into b (MdlFrameSize(sixteenBit, 0) bytes).
void PutFrameStart(uint8_t* b, const ModelFrame& frame, const MdlQuantization& q, bool sixteenBit) {
    PutInt32(b, sixteenBit ? kMdlFrameType16 : kMdlFrameType8);
    size_t n = kMdlFrameTypeSize;
    n += PutPackedVertex(b + n, frame.bboxMin, 0, q, sixteenBit);
    n += PutPackedVertex(b + n, frame.bboxMax, 0, q, sixteenBit);
    // At most 15 characters, then zeros to the end of the field, even if
    // the name were not terminated.
    uint8_t* name = b + n;
    std::memset(name, 0, kMdlFrameNameSize);
    for (size_t i = 0; i + 1 < kMdlFrameNameSize && frame.name[i] != '\0'; ++i) {
        name[i] = static_cast<uint8_t>(frame.name[i]);
    }
}

void WriteFrames(FileSink& out, const ModelData* model, const MdlQuantization& q, bool sixteenBit) {
    const size_t vertexSize = MdlPackedVertexSize(sixteenBit);
    for (int32_t f = 0; f < model->frameCount && out.ok; ++f) {
        const ModelFrame& frame = model->frames[f];
        PutFrameStart(out.Take(MdlFrameSize(sixteenBit, 0)), frame, q, sixteenBit);
        // Runs of vertices as long as the buffer has room for.
        for (int32_t v = 0; v < model->vertexCount;) {
            if (out.capacity - out.used < vertexSize) out.Flush();
            const size_t room = (out.capacity - out.used) / vertexSize;
            const int32_t end = uint64_t(model->vertexCount - v) < room ? model->vertexCount : v + int32_t(room);
            PackVertices(out.Take(size_t(end - v) * vertexSize), frame.positions + v, frame.normalIndex + v, end - v, q,
                         sixteenBit);
            v = end;
        }
        out.Flush();
    }
}

// Frames packed by worker threads into a ring of whole-frame buffers, and
// written in order by the calling thread: the same bytes as WriteFrames.
struct PackRing {
    const ModelData* model;
    const MdlQuantization* q;
    bool sixteenBit;
    size_t frameSize;
    int32_t slots;
    uint8_t* buffers;  // slots * frameSize

    std::mutex lock;
    std::condition_variable packed;  // the writer waits for its next frame
    std::condition_variable freed;   // packers wait for a free buffer
    int32_t nextToPack = 0;
    int32_t written = 0;         // frames written, so their buffers are free
    std::vector<uint8_t> ready;  // per frame
    bool stopping = false;
};

// Frame f into its buffer, whose slot the caller has made sure is free.
void PackFrame(PackRing& ring, int32_t f) {
    const ModelFrame& frame = ring.model->frames[f];
    uint8_t* b = ring.buffers + size_t(f % ring.slots) * ring.frameSize;
    const size_t start = MdlFrameSize(ring.sixteenBit, 0);
    PutFrameStart(b, frame, *ring.q, ring.sixteenBit);
    PackVertices(b + start, frame.positions, frame.normalIndex, ring.model->vertexCount, *ring.q, ring.sixteenBit);
    {
        std::lock_guard<std::mutex> hold(ring.lock);
        ring.ready[size_t(f)] = 1;
    }
    ring.packed.notify_all();
}

void Packer(PackRing* ring) {
    const int32_t frameCount = ring->model->frameCount;
    for (;;) {
        int32_t f;
        {
            std::unique_lock<std::mutex> hold(ring->lock);
            if (ring->stopping || ring->nextToPack >= frameCount) return;
            f = ring->nextToPack++;
            ring->freed.wait(hold, [ring, f] { return ring->stopping || f - ring->written < ring->slots; });
            if (ring->stopping) return;
        }
        PackFrame(*ring, f);
    }
}

// Waits until frame f is packed. Meanwhile the writing thread packs frames
// itself whenever one is left whose buffer is free: writing a frame takes far
// less than packing one, so it would otherwise mostly wait.
void PackUntilReady(PackRing& ring, int32_t f) {
    for (;;) {
        int32_t mine;
        {
            std::unique_lock<std::mutex> hold(ring.lock);
            if (ring.ready[size_t(f)]) return;
            if (ring.nextToPack >= ring.model->frameCount || ring.nextToPack - ring.written >= ring.slots) {
                // Frame f is a packer's, whose buffer is free: it comes.
                ring.packed.wait(hold, [&ring, f] { return ring.ready[size_t(f)] != 0; });
                return;
            }
            mine = ring.nextToPack++;
        }
        PackFrame(ring, mine);
    }
}

// WriteFrames with `packers` threads packing; false when the threads or their
// buffers cannot be had (nothing is written then).
bool WriteFramesPacked(FileSink& out, const ModelData* model, const MdlQuantization& q, bool sixteenBit, int packers) {
    const uint64_t frameSize = MdlFrameSize(sixteenBit, model->vertexCount);
    if (packers < 1 || model->frameCount < 2 || frameSize > kSinkMaximum) return false;
    PackRing ring;
    ring.model = model;
    ring.q = &q;
    ring.sixteenBit = sixteenBit;
    ring.frameSize = size_t(frameSize);
    ring.slots = packers + 2;
    ring.buffers = static_cast<uint8_t*>(std::malloc(size_t(ring.slots) * ring.frameSize));
    if (!ring.buffers) return false;
    std::vector<std::thread> threads;
    try {
        ring.ready.assign(size_t(model->frameCount), 0);
        for (int t = 0; t < packers; ++t) threads.emplace_back(Packer, &ring);
    } catch (...) {
        // Whatever threads started take every frame; none started: write as usual.
        if (threads.empty()) {
            std::free(ring.buffers);
            return false;
        }
    }
    out.Flush();
    for (int32_t f = 0; f < model->frameCount && out.ok; ++f) {
        PackUntilReady(ring, f);
        if (std::fwrite(ring.buffers + size_t(f % ring.slots) * ring.frameSize, 1, ring.frameSize, out.file) !=
            ring.frameSize) {
            out.ok = false;
            out.error = errno;
        }
        {
            std::lock_guard<std::mutex> hold(ring.lock);
            ring.written = f + 1;
            if (!out.ok) ring.stopping = true;
        }
        ring.freed.notify_all();
    }
    for (std::thread& thread : threads) thread.join();
    std::free(ring.buffers);
    return true;
}

// The check a tool installed, and the temporary file being written (see the
// header). The name is published while the file may exist under it, and a lock-free
// atomic may be read from a signal handler.
MdlWriteCheck writeCheck{nullptr, nullptr};
std::atomic<const char*> pendingTemporary{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

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

// Renames without letting an exception escape: a failure is a result, its
// reason an errno value in *error.
bool RenameInto(const char* from, const char* to, int* error) {
    try {
        std::error_code ec;
        std::filesystem::rename(std::filesystem::path(from), std::filesystem::path(to), ec);
        if (ec) *error = ec.default_error_condition().value();
        return !ec;
    } catch (...) {
        *error = ENOMEM;
        return false;
    }
}

// Creates a new, exclusively owned file named "<path>.tmp<pid>-<n>" beside
// `path`. Exclusive creation gives it the mode a plain create gives (0666
// under the umask) and never follows or truncates anything already there.
// On success *name holds the malloc'd name, which the caller frees, and the
// name is published (pendingTemporary).
FILE* CreateTemporaryBeside(const char* path, char** name) {
    static std::atomic<unsigned> counter{0};
    *name = nullptr;
    const size_t size = std::strlen(path) + 48;
    char* buffer = static_cast<char*>(GatedMalloc(size));
    if (!buffer) {
        errno = ENOMEM;
        return nullptr;
    }
    const long pid = static_cast<long>(QUORVEX_GETPID());
    for (int attempt = 0; attempt < 100; ++attempt) {
        pendingTemporary = nullptr;
        std::snprintf(buffer, size, "%s.tmp%ld-%u", path, pid, counter.fetch_add(1));
        // Published before the file exists, so that no moment has a file
        // nobody would remove. A taken name holds this process's id, so at
        // worst a handler removes a file left by an earlier process.
        pendingTemporary = buffer;
        errno = 0;
        FILE* file = OpenExclusive(buffer);
        if (file) {
            *name = buffer;
            return file;
        }
        // Only a name already taken is worth another try.
        if (errno != EEXIST) break;
    }
    const int reason = errno;
    pendingTemporary = nullptr;
    std::free(buffer);
    errno = reason;
    return nullptr;
}

// Vertices in order; a value replaces a running extreme only when strictly
// smaller (larger), so the first of equal values wins and not-a-number never
// does. With Box the frame's box is written, from (1e6, 1e6, 1e6) and its
// negation; with Quantized `e` takes in the frame's values.
template <bool Box, bool Quantized>
void ScanFrame(ModelFrame& frame, int32_t vertexCount, MdlExtremes& e) {
#if defined(__SSE2__) || defined(_M_X64)
    // minps and maxps give their second operand unless the first is strictly
    // smaller (larger): the same rule, three axes at once.
    __m128 lo = _mm_set1_ps(kBoundStart), hi = _mm_set1_ps(-kBoundStart);
    __m128 smallest = _mm_setr_ps(e.smallest[0], e.smallest[1], e.smallest[2], 0.0f);
    __m128 largestAbs = _mm_setr_ps(e.largestAbs[0], e.largestAbs[1], e.largestAbs[2], 0.0f);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const ModelVec3* positions = frame.positions;
    for (int32_t v = 0; v < vertexCount; ++v) {
        const __m128 xy = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&positions[v].x)));
        const __m128 c = _mm_movelh_ps(xy, _mm_load_ss(&positions[v].z));
        if (Box) {
            lo = _mm_min_ps(c, lo);
            hi = _mm_max_ps(c, hi);
        }
        if (Quantized) {
            smallest = _mm_min_ps(c, smallest);
            largestAbs = _mm_max_ps(_mm_and_ps(c, magnitude), largestAbs);
        }
    }
    alignas(16) float out[4][4];
    _mm_store_ps(out[0], lo);
    _mm_store_ps(out[1], hi);
    _mm_store_ps(out[2], smallest);
    _mm_store_ps(out[3], largestAbs);
    if (Box) {
        frame.bboxMin = ModelVec3{out[0][0], out[0][1], out[0][2]};
        frame.bboxMax = ModelVec3{out[1][0], out[1][1], out[1][2]};
    }
    for (int a = 0; a < 3; ++a) {
        e.smallest[a] = out[2][a];
        e.largestAbs[a] = out[3][a];
    }
#else
    float lo[3] = {kBoundStart, kBoundStart, kBoundStart};
    float hi[3] = {-kBoundStart, -kBoundStart, -kBoundStart};
    float smallest[3], largestAbs[3];
    for (int a = 0; a < 3; ++a) {
        smallest[a] = e.smallest[a];
        largestAbs[a] = e.largestAbs[a];
    }
    const ModelVec3* positions = frame.positions;
    for (int32_t v = 0; v < vertexCount; ++v) {
        const float c[3] = {positions[v].x, positions[v].y, positions[v].z};
        for (int a = 0; a < 3; ++a) {
            if (Box) {
                lo[a] = c[a] < lo[a] ? c[a] : lo[a];
                hi[a] = c[a] > hi[a] ? c[a] : hi[a];
            }
            if (Quantized) {
                smallest[a] = c[a] < smallest[a] ? c[a] : smallest[a];
                const float m = std::fabs(c[a]);
                largestAbs[a] = m > largestAbs[a] ? m : largestAbs[a];
            }
        }
    }
    if (Box) {
        frame.bboxMin = ModelVec3{lo[0], lo[1], lo[2]};
        frame.bboxMax = ModelVec3{hi[0], hi[1], hi[2]};
    }
    for (int a = 0; a < 3; ++a) {
        e.smallest[a] = smallest[a];
        e.largestAbs[a] = largestAbs[a];
    }
#endif
}

// The range runs from the smallest value to the largest absolute value:
// never shorter than the true span, so every value packs within the steps.
MdlQuantization QuantizationOf(const MdlExtremes& e, bool sixteenBit) {
    const float k = sixteenBit ? Step16 : Step8;
    MdlQuantization q;
    for (int a = 0; a < 3; ++a) {
        const float range = e.largestAbs[a] - e.smallest[a];
        float scale = range * k;
        if (scale == 0.0f) scale = 1.0f;  // a flat axis: every value packs to 0
        q.scale[a] = scale;
        q.origin[a] = e.smallest[a];
    }
    return q;
}

}  // namespace

MdlExtremes StartingExtremes() { return MdlExtremes{{kBoundStart, kBoundStart, kBoundStart}, {0.0f, 0.0f, 0.0f}}; }

MdlExtremes ScanFrameBounds(ModelFrame& frame, int32_t vertexCount) {
    MdlExtremes e = StartingExtremes();
    ScanFrame<true, true>(frame, vertexCount, e);
    return e;
}

void FoldExtremes(MdlExtremes& into, const MdlExtremes& later) {
    // Strictly smaller (larger) only, as within a frame: the first of equal values stays.
    for (int a = 0; a < 3; ++a) {
        into.smallest[a] = later.smallest[a] < into.smallest[a] ? later.smallest[a] : into.smallest[a];
        into.largestAbs[a] = later.largestAbs[a] > into.largestAbs[a] ? later.largestAbs[a] : into.largestAbs[a];
    }
}

void ComputeFrameBounds(ModelData* model) {
    MdlExtremes unused = StartingExtremes();
    for (int32_t f = 0; f < model->frameCount; ++f)
        ScanFrame<true, false>(model->frames[f], model->vertexCount, unused);
}

void StoreFrameNormalIndices(ModelData* model, int32_t frameIndex) {
    if (!model || frameIndex < 0 || frameIndex >= model->frameCount) return;
    const ModelVec3* normals = model->normals;
    uint8_t* indices = model->frames[frameIndex].normalIndex;
    for (int32_t v = 0; v < model->vertexCount; ++v) {
        indices[v] = static_cast<uint8_t>(NearestNormalIndex(normals[v].x, normals[v].y, normals[v].z));
    }
}

MdlQuantization ComputeQuantization(const ModelData* model, bool sixteenBit) {
    MdlExtremes e = StartingExtremes();
    for (int32_t f = 0; f < model->frameCount; ++f) {
        // Only reads the frame: the box is not written.
        ScanFrame<false, true>(model->frames[f], model->vertexCount, e);
    }
    return QuantizationOf(e, sixteenBit);
}

int WriteMdlFile(const char* path, ModelData* model, const SkinImage* skin, int hiPrecision) {
    return WriteMdlFileWithReason(path, model, skin, hiPrecision).written;
}

MdlWriteResult WriteMdlFileWithReason(const char* path, ModelData* model, const SkinImage* skin, int hiPrecision) {
    // Every frame's box and the quantization in one pass over the positions.
    MdlExtremes e = StartingExtremes();
    for (int32_t f = 0; f < model->frameCount; ++f) ScanFrame<true, true>(model->frames[f], model->vertexCount, e);
    return WriteMdlFileScanned(path, model, skin, hiPrecision, e, 1);
}

MdlWriteResult WriteMdlFileScanned(const char* path, const ModelData* model, const SkinImage* skin, int hiPrecision,
                                   const MdlExtremes& e, int threads) {
    MdlWriteResult result;
    if (skin->width < 0 || skin->height < 0 || (!skin->pixels && int64_t(skin->width) * skin->height > 0))
        return result;

    const bool sixteenBit = hiPrecision == 1;
    const MdlQuantization q = QuantizationOf(e, sixteenBit);
    // An infinite scale packs every value to 0 and no reader accepts it: such
    // a model has no file at all, rather than a broken one.
    for (int a = 0; a < 3; ++a) {
        if (!std::isfinite(q.scale[a])) {
            result.tooLarge = true;
            return result;
        }
    }

    const uint64_t frameSize = MdlFrameSize(sixteenBit, model->vertexCount);
    const size_t capacity = frameSize < kSinkMinimum   ? kSinkMinimum
                            : frameSize > kSinkMaximum ? kSinkMaximum
                                                       : size_t(frameSize);
    uint8_t* buffer = static_cast<uint8_t*>(GatedMalloc(capacity));
    if (!buffer) {
        result.systemError = ENOMEM;
        return result;
    }

    char* temporary = nullptr;
    FILE* file = CreateTemporaryBeside(path, &temporary);
    if (!file) {
        result.systemError = errno;
        std::free(buffer);
        return result;
    }

    FileSink out{file, buffer, capacity, 0, true};
    WriteHeader(out, model, skin, q, sixteenBit);
    WriteSkin(out, skin);
    WriteTexCoordsAndTriangles(out, model);
    out.Flush();
    if (!WriteFramesPacked(out, model, q, sixteenBit, threads - 1)) WriteFrames(out, model, q, sixteenBit);
    std::free(buffer);

    // Closing flushes the last buffered bytes, so its failure is a failed write.
    errno = 0;
    const bool closed = std::fclose(file) == 0;
    int error = out.ok ? (closed ? 0 : errno) : out.error;
    bool accepted = out.ok && closed;
    if (accepted && writeCheck.check && !writeCheck.check(temporary, writeCheck.context)) {
        accepted = false;
        error = EIO;
    }
    const bool written = accepted && RenameInto(temporary, path, &error);
    if (!written) std::remove(temporary);
    // Withdrawn before the name is freed; a handler running in between
    // unlinks a name that no longer exists, which is harmless.
    pendingTemporary = nullptr;
    std::free(temporary);
    result.written = written ? 1 : 0;
    result.systemError = written ? 0 : (error != 0 ? error : EIO);
    return result;
}

void SetMdlWriteCheck(MdlWriteCheck check) { writeCheck = check; }

const char* MdlPendingTemporaryFile() { return pendingTemporary.load(); }

}  // namespace quorvex
