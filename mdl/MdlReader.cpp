#include "mdl/MdlReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "mdl/NormalTable.h"
#include "mdl/WholeFile.h"

namespace quorvex {

namespace {

// Little-endian field access. Callers have already checked that the bytes
// exist (NeedBytes) and are at hand (TakeBytes); the cursor never reads past
// `size`.
struct ByteSource {
    const uint8_t* data;  // the bytes at hand, from offset `base` of the input on
    uint64_t base;
    uint64_t size;  // the whole input's length
    // Brings the bytes [start, start + bytes), which lie within `size`, to
    // hand; null when every byte is at hand already. Sections are asked for
    // in order, each once.
    bool (*load)(void* context, ByteSource& in, uint64_t start, uint64_t bytes, int& error);
    void* context;
    bool keepVertices;  // frames keep their vertices; otherwise they are only checked

    uint8_t U8(uint64_t at) const { return data[at - base]; }
    uint16_t U16(uint64_t at) const { return uint16_t(U8(at) | (uint16_t(U8(at + 1)) << 8)); }
    uint32_t U32(uint64_t at) const {
        return uint32_t(U8(at)) | (uint32_t(U8(at + 1)) << 8) | (uint32_t(U8(at + 2)) << 16) |
               (uint32_t(U8(at + 3)) << 24);
    }
    int32_t I32(uint64_t at) const { return int32_t(U32(at)); }
    float F32(uint64_t at) const {
        uint32_t bits = U32(at);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    const uint8_t* At(uint64_t at) const { return data + (at - base); }
};

std::string Str(uint64_t value) { return std::to_string(value); }

// Fills `result.error` and returns false, so checks read as `return Fail(...)`.
bool Fail(MdlReadResult& result, MdlErrorKind kind, uint64_t offset, std::string message) {
    result.error.kind = kind;
    result.error.offset = offset;
    result.error.message = std::move(message);
    return false;
}

// `what` of `bytes` bytes starting at `start` must lie within the input.
bool NeedBytes(MdlReadResult& result, const ByteSource& in, uint64_t start, uint64_t bytes, const char* what) {
    if (start <= in.size && bytes <= in.size - start) return true;
    return Fail(result, MdlErrorKind::Truncated, start,
                "the file ends at byte " + Str(in.size) + ", within " + what + " that start at byte " + Str(start) +
                    " and take " + Str(bytes) + " bytes");
}

// NeedBytes, then brings the bytes to hand.
bool TakeBytes(MdlReadResult& result, ByteSource& in, uint64_t start, uint64_t bytes, const char* what) {
    if (!NeedBytes(result, in, start, bytes, what)) return false;
    int error = 0;
    if (!in.load || in.load(in.context, in, start, bytes, error)) return true;
    return Fail(result, MdlErrorKind::Io, start, std::string("cannot read the file: ") + std::strerror(error));
}

bool MulChecked(uint64_t a, uint64_t b, uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

bool ReadHeader(MdlReadResult& result, ByteSource& in) {
    MdlHeader& h = result.file.header;
    if (in.size < kMdlHeaderSize)
        return Fail(result, MdlErrorKind::Truncated, in.size,
                    "the file is " + Str(in.size) + " bytes long, shorter than the 84-byte header");
    if (!TakeBytes(result, in, 0, kMdlHeaderSize, "the header")) return false;
    std::memcpy(h.magic, in.At(0), kMdlMagicSize);
    if (std::memcmp(h.magic, kMdlMagic8, kMdlMagicSize) == 0) {
        result.file.sixteenBit = false;
    } else if (std::memcmp(h.magic, kMdlMagic16, kMdlMagicSize) == 0) {
        result.file.sixteenBit = true;
    } else {
        return Fail(result, MdlErrorKind::BadMagic, 0, "the file does not start with \"MDL3\" or \"MDL4\"");
    }
    h.reserved0 = in.I32(kMdlHeaderReserved0Offset);
    static const char* const axes[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i) {
        const uint64_t scaleAt = kMdlHeaderScaleOffset + 4 * uint64_t(i);
        const uint64_t originAt = kMdlHeaderOriginOffset + 4 * uint64_t(i);
        h.scale[i] = in.F32(scaleAt);
        h.origin[i] = in.F32(originAt);
        // The writer never produces these; decoding through them would give
        // positions that are not numbers.
        if (!std::isfinite(h.scale[i]))
            return Fail(result, MdlErrorKind::BadValue, scaleAt,
                        std::string("scale ") + axes[i] + " is not a finite number");
        if (!std::isfinite(h.origin[i]))
            return Fail(result, MdlErrorKind::BadValue, originAt,
                        std::string("origin ") + axes[i] + " is not a finite number");
    }
    std::memcpy(h.reserved1, in.At(kMdlHeaderReserved1Offset), kMdlHeaderReserved1Size);
    struct Count {
        int32_t* field;
        uint64_t offset;
        const char* name;
    };
    const Count counts[] = {
        {&h.skinCount, kMdlHeaderSkinCountOffset, "skinCount"},
        {&h.skinWidth, kMdlHeaderSkinWidthOffset, "skinWidth"},
        {&h.skinHeight, kMdlHeaderSkinHeightOffset, "skinHeight"},
        {&h.vertexCount, kMdlHeaderVertexCountOffset, "vertexCount"},
        {&h.triangleCount, kMdlHeaderTriangleCountOffset, "triangleCount"},
        {&h.frameCount, kMdlHeaderFrameCountOffset, "frameCount"},
        {&h.texCoordCount, kMdlHeaderTexCoordCountOffset, "texCoordCount"},
    };
    for (const Count& c : counts) {
        *c.field = in.I32(c.offset);
        if (*c.field < 0)
            return Fail(result, MdlErrorKind::BadCount, c.offset,
                        std::string(c.name) + " is negative (" + std::to_string(*c.field) + ")");
    }
    h.reserved2 = in.I32(kMdlHeaderReserved2Offset);
    h.reserved3 = in.I32(kMdlHeaderReserved3Offset);
    return true;
}

bool ReadSkin(MdlReadResult& result, ByteSource& in, uint64_t& at) {
    const MdlHeader& h = result.file.header;
    if (!TakeBytes(result, in, at, kMdlSkinTypeSize, "the skin type")) return false;
    result.file.skinType = in.I32(at);
    if (result.file.skinType != kSkinFormatRGB565 && result.file.skinType != kSkinFormatARGB4444)
        return Fail(result, MdlErrorKind::BadValue, at,
                    "skin type " + std::to_string(result.file.skinType) + " is neither 2 (RGB565) nor 3 (ARGB4444)");
    at += kMdlSkinTypeSize;

    uint64_t pixels = 0, bytes = 0;
    if (!MulChecked(uint64_t(h.skinCount), uint64_t(h.skinWidth), pixels) ||
        !MulChecked(pixels, uint64_t(h.skinHeight), pixels) || !MulChecked(pixels, kMdlSkinPixelSize, bytes))
        return Fail(result, MdlErrorKind::BadCount, kMdlHeaderSkinCountOffset,
                    "skinCount x skinWidth x skinHeight x 2 bytes overflows 64 bits");
    if (!TakeBytes(result, in, at, bytes,
                   ("the skin of " + Str(uint64_t(h.skinCount)) + " x " + Str(uint64_t(h.skinWidth)) + " x " +
                    Str(uint64_t(h.skinHeight)) + " pixels")
                       .c_str()))
        return false;
    result.file.skinPixels.resize(pixels);
    for (uint64_t i = 0; i < pixels; ++i) result.file.skinPixels[i] = in.U16(at + 2 * i);
    at += bytes;
    return true;
}

bool ReadTexCoords(MdlReadResult& result, ByteSource& in, uint64_t& at) {
    const uint64_t count = uint64_t(result.file.header.texCoordCount);
    // count < 2^31, so count * 4 cannot overflow.
    if (!TakeBytes(result, in, at, count * kMdlTexCoordSize, (Str(count) + " texture coordinates").c_str()))
        return false;
    result.file.texCoords.resize(count);
    for (uint64_t i = 0; i < count; ++i) {
        result.file.texCoords[i].u = int16_t(in.U16(at));
        result.file.texCoords[i].v = int16_t(in.U16(at + 2));
        at += kMdlTexCoordSize;
    }
    return true;
}

bool ReadTriangles(MdlReadResult& result, ByteSource& in, uint64_t& at) {
    const MdlHeader& h = result.file.header;
    const uint64_t count = uint64_t(h.triangleCount);
    if (!TakeBytes(result, in, at, count * kMdlTriangleSize, (Str(count) + " triangles").c_str())) return false;
    result.file.triangles.resize(count);
    for (uint64_t t = 0; t < count; ++t) {
        MdlTriangle& tri = result.file.triangles[t];
        for (int c = 0; c < 3; ++c) {
            const uint64_t vertexAt = at + 2 * uint64_t(c);
            const uint64_t texAt = at + 6 + 2 * uint64_t(c);
            tri.vertex[c] = in.U16(vertexAt);
            tri.texCoord[c] = in.U16(texAt);
            if (tri.vertex[c] >= h.vertexCount)
                return Fail(result, MdlErrorKind::BadIndex, vertexAt,
                            "triangle " + Str(t) + " corner " + Str(uint64_t(c)) + " uses vertex " +
                                Str(tri.vertex[c]) + ", but vertexCount is " + Str(uint64_t(h.vertexCount)));
            if (tri.texCoord[c] >= h.texCoordCount)
                return Fail(result, MdlErrorKind::BadIndex, texAt,
                            "triangle " + Str(t) + " corner " + Str(uint64_t(c)) + " uses texture coordinate " +
                                Str(tri.texCoord[c]) + ", but texCoordCount is " + Str(uint64_t(h.texCoordCount)));
        }
        at += kMdlTriangleSize;
    }
    return true;
}

MdlPackedVertex ReadPacked(const ByteSource& in, uint64_t at, bool sixteenBit) {
    MdlPackedVertex p;
    if (sixteenBit) {
        p.x = in.U16(at);
        p.y = in.U16(at + 2);
        p.z = in.U16(at + 4);
        p.normalIndex = in.U8(at + 6);
        p.pad = in.U8(at + 7);
    } else {
        p.x = in.U8(at);
        p.y = in.U8(at + 1);
        p.z = in.U8(at + 2);
        p.normalIndex = in.U8(at + 3);
    }
    return p;
}

// True when every vertex of `count`, `vertexSize` bytes each from `vertices`
// on, has its normal index (at `offset` within the vertex) inside the table.
// Sixteen bytes at a time where SSE2 is at hand: the read-back of a written
// file checks millions of them.
bool NormalsWithinTable(const uint8_t* vertices, uint64_t count, uint64_t vertexSize, uint64_t offset) {
    const uint64_t bytes = count * vertexSize;
    uint64_t i = 0;
    uint8_t worst = 0;
#if defined(__SSE2__) || defined(_M_X64)
    alignas(16) uint8_t pick[16];
    for (uint64_t k = 0; k < 16; ++k) pick[k] = k % vertexSize == offset ? 0xFF : 0;
    const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(pick));
    __m128i most = _mm_setzero_si128();
    for (; i + 16 <= bytes; i += 16)
        most = _mm_max_epu8(most, _mm_and_si128(mask, _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertices + i))));
    alignas(16) uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), most);
    for (const uint8_t lane : lanes) worst = std::max(worst, lane);
#endif
    for (i += offset; i < bytes; i += vertexSize) worst = std::max(worst, vertices[i]);
    return worst < kNormalTableSize;
}

bool ReadFrames(MdlReadResult& result, ByteSource& in, uint64_t& at) {
    const MdlHeader& h = result.file.header;
    const bool sixteen = result.file.sixteenBit;
    const uint64_t frameSize = MdlFrameSize(sixteen, h.vertexCount);
    const uint64_t vertexSize = MdlPackedVertexSize(sixteen);
    uint64_t total = 0;
    if (!MulChecked(uint64_t(h.frameCount), frameSize, total))
        return Fail(result, MdlErrorKind::BadCount, kMdlHeaderFrameCountOffset,
                    "frameCount x frame size overflows 64 bits");
    if (!NeedBytes(result, in, at, total,
                   (Str(uint64_t(h.frameCount)) + " frames of " + Str(frameSize) + " bytes").c_str()))
        return false;

    const int32_t expectedType = sixteen ? kMdlFrameType16 : kMdlFrameType8;
    result.file.frames.resize(uint64_t(h.frameCount));
    for (uint64_t f = 0; f < uint64_t(h.frameCount); ++f) {
        if (!TakeBytes(result, in, at, frameSize, ("frame " + Str(f)).c_str())) return false;
        MdlFrame& frame = result.file.frames[f];
        frame.frameType = in.I32(at);
        if (frame.frameType != expectedType)
            return Fail(result, MdlErrorKind::BadValue, at,
                        "frame " + Str(f) + " has type " + std::to_string(frame.frameType) + "; a \"" +
                            std::string(h.magic, 4) + "\" file needs " + std::to_string(expectedType));
        at += kMdlFrameTypeSize;
        frame.bboxMin = ReadPacked(in, at, sixteen);
        at += vertexSize;
        frame.bboxMax = ReadPacked(in, at, sixteen);
        at += vertexSize;
        const char* name = reinterpret_cast<const char*>(in.At(at));
        const void* terminator = std::memchr(name, 0, kMdlFrameNameSize);
        if (terminator == nullptr)
            return Fail(result, MdlErrorKind::BadValue, at,
                        "frame " + Str(f) + "'s name has no terminating zero within its 16 bytes");
        frame.name.assign(name, static_cast<const char*>(terminator) - name);
        at += kMdlFrameNameSize;
        if (in.keepVertices) frame.vertices.resize(uint64_t(h.vertexCount));
        // The normal index is the vertex's last byte but one (16-bit) or last.
        const uint64_t normalAt = sixteen ? 6 : 3;
        // Vertex by vertex only to keep them or to name the first index outside the table.
        if (in.keepVertices || !NormalsWithinTable(in.At(at), uint64_t(h.vertexCount), vertexSize, normalAt)) {
            const uint8_t* normal = in.At(at) + normalAt;
            for (uint64_t v = 0; v < uint64_t(h.vertexCount); ++v, normal += vertexSize) {
                if (*normal >= kNormalTableSize)
                    return Fail(result, MdlErrorKind::BadIndex, at + v * vertexSize + normalAt,
                                "frame " + Str(f) + " vertex " + Str(v) + " has normal index " + Str(*normal) +
                                    "; the table has 162 entries");
                if (in.keepVertices) frame.vertices[v] = ReadPacked(in, at + v * vertexSize, sixteen);
            }
        }
        at += uint64_t(h.vertexCount) * vertexSize;
    }
    return true;
}

MdlReadResult ReadSource(ByteSource& in) {
    MdlReadResult result;
    result.file.fileSize = in.size;
    try {
        uint64_t at = kMdlHeaderSize;
        if (!ReadHeader(result, in) || !ReadSkin(result, in, at) || !ReadTexCoords(result, in, at) ||
            !ReadTriangles(result, in, at) || !ReadFrames(result, in, at))
            return result;
        result.file.modelSize = at;
        if (at < in.size)
            result.warnings.push_back(Str(in.size - at) + " bytes after the model's end (byte " + Str(at) +
                                      ") are ignored");
    } catch (const std::bad_alloc&) {
        // Sizes are bounded by the input's length, so this means the input
        // itself nearly fills memory.
        Fail(result, MdlErrorKind::Io, 0, "not enough memory to hold the model");
    }
    return result;
}

// A regular file read a section at a time into one buffer that holds the
// largest section so far. Sections come in order, one after the other.
struct SectionReader {
    std::FILE* file = nullptr;
    uint64_t position = 0;  // of the next byte fread gives
    std::vector<uint8_t> buffer;
};

bool LoadSection(void* context, ByteSource& in, uint64_t start, uint64_t bytes, int& error) {
    auto* reader = static_cast<SectionReader*>(context);
    // Skips what lies between (nothing, as the sections follow each other).
    for (uint8_t skip[4096]; reader->position < start;) {
        const size_t want = size_t(std::min<uint64_t>(sizeof skip, start - reader->position));
        const size_t got = std::fread(skip, 1, want, reader->file);
        reader->position += got;
        if (got < want) break;
    }
    if (bytes > reader->buffer.size()) reader->buffer.resize(size_t(bytes));
    errno = 0;
    const size_t got =
        reader->position == start ? std::fread(reader->buffer.data(), 1, size_t(bytes), reader->file) : 0;
    reader->position += got;
    if (got < bytes) {
        // Shorter than its size said: it changed while being read.
        error = errno != 0 ? errno : EIO;
        return false;
    }
    in.data = reader->buffer.data();
    in.base = start;
    return true;
}

}  // namespace

MdlReadResult ReadMdlBytes(const uint8_t* data, size_t size) {
    static const uint8_t empty = 0;
    ByteSource in{data != nullptr ? data : &empty, 0, data != nullptr ? uint64_t(size) : 0, nullptr, nullptr, true};
    return ReadSource(in);
}

MdlReadResult ReadMdlFileWithoutVertices(const char* path) {
    std::error_code ec;
    const bool regular = path != nullptr && std::filesystem::is_regular_file(path, ec);
    errno = 0;
    std::FILE* file = regular ? std::fopen(path, "rb") : nullptr;
    if (!file) {
        // What has no size to trust (a device, a pipe) or cannot be opened
        // takes the whole-file way.
        MdlReadResult result = ReadMdlFile(path);
        for (MdlFrame& frame : result.file.frames) std::vector<MdlPackedVertex>().swap(frame.vertices);
        return result;
    }
    MdlReadResult result;
    SectionReader reader;
    reader.file = file;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        Fail(result, MdlErrorKind::Io, 0, "cannot read the file: " + ec.message());
    } else {
        ByteSource in{nullptr, 0, uint64_t(size), LoadSection, &reader, false};
        result = ReadSource(in);
    }
    std::fclose(file);
    return result;
}

MdlReadResult ReadMdlFile(const char* path) {
    MdlReadResult result;
    std::string bytes;
    // What is no model file is refused from its first bytes, without reading
    // on (a device such as /dev/zero never ends).
    WholeFileOptions options;
    options.goOn = [](const char* soFar, size_t size) {
        if (size < kMdlMagicSize) return true;
        return std::memcmp(soFar, kMdlMagic8, kMdlMagicSize) == 0 ||
               std::memcmp(soFar, kMdlMagic16, kMdlMagicSize) == 0;
    };
    const FileReadResult read = ReadWholeFile(path, bytes, options);
    switch (read.status) {
        case FileReadStatus::Ok: return ReadMdlBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        case FileReadStatus::CannotOpen:
            Fail(result, MdlErrorKind::Io, 0, std::string("cannot open the file: ") + std::strerror(read.error));
            break;
        case FileReadStatus::NoMemory:
            Fail(result, MdlErrorKind::Io, 0, "the file is too large to hold in memory");
            break;
        case FileReadStatus::CannotRead:
            Fail(result, MdlErrorKind::Io, bytes.size(),
                 std::string("cannot read the file: ") + std::strerror(read.error));
            break;
        case FileReadStatus::NotRegular:  // neither is asked for
        case FileReadStatus::TooLarge: Fail(result, MdlErrorKind::Io, 0, "cannot read the file"); break;
    }
    return result;
}

const char* MdlErrorKindName(MdlErrorKind kind) {
    switch (kind) {
        case MdlErrorKind::None: return "none";
        case MdlErrorKind::Io: return "unreadable";
        case MdlErrorKind::Truncated: return "truncated";
        case MdlErrorKind::BadMagic: return "bad magic";
        case MdlErrorKind::BadCount: return "bad count";
        case MdlErrorKind::BadValue: return "bad value";
        case MdlErrorKind::BadIndex: return "bad index";
    }
    return "unknown";
}

MdlVec3 DecodeMdlPosition(const MdlHeader& header, const MdlPackedVertex& packed) {
    MdlVec3 p;
    p.x = header.origin[0] + float(packed.x) * header.scale[0];
    p.y = header.origin[1] + float(packed.y) * header.scale[1];
    p.z = header.origin[2] + float(packed.z) * header.scale[2];
    return p;
}

MdlVec3 DecodeMdlNormal(int normalIndex) {
    if (normalIndex < 0 || normalIndex >= kNormalTableSize) return {};
    const double* n = NormalTable[normalIndex];
    return {float(n[0]), float(n[1]), float(n[2])};
}

std::vector<MdlSequence> GroupMdlSequences(const std::vector<MdlFrame>& frames) {
    std::vector<MdlSequence> sequences;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string& name = frames[i].name;
        size_t end = name.size();
        while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') --end;
        std::string stem = name.substr(0, end);
        if (sequences.empty() || sequences.back().name != stem) sequences.push_back({std::move(stem), int32_t(i), 0});
        ++sequences.back().frameCount;
    }
    return sequences;
}

}  // namespace quorvex
