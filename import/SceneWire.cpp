#include "import/SceneWire.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <type_traits>
#include <vector>

#include "scene/FieldStream.h"

namespace standin {

// One list of fields per record serves counting, writing and reading alike.
// A field added to a record but not listed here would be lost on the way
// between the processes; the sizes below stop the build until it is listed
// (then update the size).
#if defined(__GLIBCXX__) && defined(__x86_64__)
static_assert(sizeof(AnimTrack) == 72, "AnimTrack changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimClip) == 72, "AnimClip changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimMesh) == 208, "AnimMesh changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimSkin) == 48, "AnimSkin changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimNode) == 336, "AnimNode changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimMaterial) == 136, "AnimMaterial changed: list its fields in SceneWire.cpp");
static_assert(sizeof(AnimatedScene) == 392, "AnimatedScene changed: list its fields in SceneWire.cpp");
static_assert(sizeof(Picture) == 40, "Picture changed: list its fields in SceneWire.cpp");
static_assert(sizeof(SkinInfluence) == 16, "SkinInfluence changed: list its fields in SceneWire.cpp");
#endif

// SkinInfluence has padding between its joint and its weight.
template <class IO>
void Fields(IO& io, SkinInfluence& i) {
    io(i.joint, i.weight);
}
template <class IO>
void Fields(IO& io, AnimTrack& t) {
    io(t.node, t.target, t.interpolation, t.width, t.times, t.values);
}
template <class IO>
void Fields(IO& io, AnimClip& c) {
    io(c.name, c.madeUp, c.duration, c.tracks);
}
template <class IO>
void Fields(IO& io, AnimMesh& m) {
    io(m.name, m.positions, m.uvs, m.triangles, m.influences, m.morphTargets, m.defaultWeights, m.material, m.colours);
}
template <class IO>
void Fields(IO& io, AnimSkin& s) {
    io(s.joints, s.inverseBind);
}
template <class IO>
void Fields(IO& io, AnimNode& n) {
    io(n.name, n.parent, n.children, n.hidden, n.matrix, n.translation, n.rotation, n.scale, n.meshes, n.weights);
}
template <class IO>
void Fields(IO& io, AnimMaterial& m) {
    io(m.name, m.diffuseMap, m.mapProblem, m.colour, m.wrapU, m.wrapV);
}
template <class IO>
void Fields(IO& io, AnimatedScene& s) {
    io(s.nodes, s.roots, s.meshes, s.skins, s.materials, s.clips, s.pictures, s.toZUp, s.baseDir, s.skippedPoints,
       s.skippedLines, s.warnings);
}
template <class IO>
void Fields(IO& io, WireResult& r) {
    io(r.ok, r.error);
    if (r.ok) io(r.scene);
}

namespace {

constexpr size_t kChunk = size_t{1} << 20;

bool WriteAll(int fd, const unsigned char* data, size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

struct Writer : Visitor<Writer> {
    static constexpr bool kReading = false;
    int fd;
    bool ok = true;
    std::vector<unsigned char> buffer;

    explicit Writer(int out) : fd(out) { buffer.reserve(kChunk); }
    void Flush() {
        if (ok && !buffer.empty()) ok = WriteAll(fd, buffer.data(), buffer.size());
        buffer.clear();
    }
    void Bytes(const void* data, size_t n) {
        if (!ok) return;
        const auto* p = static_cast<const unsigned char*>(data);
        if (buffer.size() + n > kChunk) Flush();
        if (n >= kChunk) {
            ok = ok && WriteAll(fd, p, n);  // large arrays go straight through
        } else {
            buffer.insert(buffer.end(), p, p + n);
        }
    }
    void Count(size_t& n, size_t) {
        const uint64_t count = n;
        Bytes(&count, sizeof count);
    }
};

struct Reader : Visitor<Reader> {
    static constexpr bool kReading = true;
    WireSource& source;
    uint64_t left;  // bytes of the body not yet taken
    bool ok = true;
    std::string why;
    std::vector<unsigned char> buffer;
    size_t at = 0;

    Reader(WireSource& from, uint64_t length) : source(from), left(length) {}
    void Fail(const std::string& reason) {
        if (ok) why = reason;
        ok = false;
    }
    void Bytes(void* data, size_t n) {
        if (!ok) return;
        if (n > left) return Fail("a value runs past the end of the message");
        left -= n;
        auto* p = static_cast<unsigned char*>(data);
        while (n > 0) {
            if (at == buffer.size()) {
                buffer.resize(kChunk);
                at = 0;
                const size_t got = source.Read(buffer.data(), buffer.size());
                buffer.resize(got);
                if (got == 0) return Fail("the message is cut short");
            }
            const size_t take = std::min(n, buffer.size() - at);
            std::memcpy(p, buffer.data() + at, take);
            at += take;
            p += take;
            n -= take;
        }
    }
    void Count(size_t& n, size_t each) {
        uint64_t count = 0;
        Bytes(&count, sizeof count);
        n = 0;
        if (!ok) return;
        if (each > 0 && count > left / each)
            return Fail("a count of " + std::to_string(count) + " is beyond the message");
        n = static_cast<size_t>(count);
    }
};

}  // namespace

bool WriteWireResult(int fd, const WireResult& result) {
    WireResult& fields = const_cast<WireResult&>(result);  // only read
    ByteCounter counter;
    Fields(counter, fields);
    Writer writer(fd);
    uint64_t length = counter.bytes;
    writer.Bytes(&length, sizeof length);
    Fields(writer, fields);
    writer.Flush();
    return writer.ok;
}

bool ReadWireResult(WireSource& source, WireResult& out, std::string& why) {
    Reader header(source, sizeof(uint64_t));
    uint64_t length = 0;
    header.Bytes(&length, sizeof length);
    if (!header.ok) {
        why = "no message";
        return false;
    }
    Reader reader(source, length);
    // What the header read took beyond itself belongs to the body.
    reader.buffer.assign(header.buffer.begin() + static_cast<std::ptrdiff_t>(header.at), header.buffer.end());
    out = WireResult{};
    Fields(reader, out);
    if (reader.ok && reader.left != 0) reader.Fail("the message holds more than its fields");
    why = reader.why;
    return reader.ok;
}

}  // namespace standin
