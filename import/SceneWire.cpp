#include "import/SceneWire.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "model/Allocation.h"
#include "scene/FieldStream.h"

namespace quorvex::importer {
using quorvex::scene::Picture;

// One list of fields per record serves counting, writing and reading alike
// (scene/FieldStream.h; found by argument-dependent lookup, so they live in
// this namespace).
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
static_assert(sizeof(Picture) == 40, "Picture changed: list its fields in scene/FieldStream.h");
static_assert(sizeof(SkinInfluence) == 16, "SkinInfluence changed: list its fields in SceneWire.cpp");
#endif

// Fields of the records; Picture's are the scene stream's own.
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
    io(r.ok, r.error.kind, r.error.message);
    if (r.ok) io(r.scene);
}

namespace {

static_assert(!scene::kTravelsAsBytes<SkinInfluence>, "SkinInfluence has padding: it must travel field by field");

// Arrays of numbers stored as doubles. Most sources store floats, and such an
// array travels as floats when every value is one exactly (bit for bit):
// half the bytes through the pipe, the same values at the other end.
template <class T>
constexpr bool kDoubles = std::is_same_v<T, double> || std::is_same_v<T, Vec3d> ||
                          std::is_same_v<T, std::array<double, 2>> || std::is_same_v<T, std::array<double, 4>>;

template <class T>
bool AllFloats(const std::vector<T>& v) {
    const auto* d = reinterpret_cast<const double*>(v.data());
    const size_t n = v.size() * (sizeof(T) / sizeof(double));
    for (size_t i = 0; i < n; ++i) {
        const double back = static_cast<double>(static_cast<float>(d[i]));
        if (std::memcmp(&back, &d[i], sizeof back) != 0) return false;
    }
    return true;
}

// Below this an array's memory is left to be backed as it is written.
constexpr size_t kLargeBytes = size_t{256} << 10;
constexpr size_t kChunk = size_t{1} << 20;
// The first read takes up to this much, so a small message comes in one turn.
constexpr size_t kFirstRead = size_t{64} << 10;

// The scene stream's visitor, with arrays of doubles packed as floats where
// that loses nothing. `Derived` adds kSizesOnly (counts bytes, looks at no
// value) to what the scene stream asks for.
template <class Derived>
struct WireVisitor : scene::Visitor<Derived> {
    template <class E>
    requires kDoubles<E>
    void Own(std::vector<E>& v) {
        Derived& io = static_cast<Derived&>(*this);
        constexpr size_t per = sizeof(E) / sizeof(double);
        bool narrow = false;
        if constexpr (!Derived::kReading) narrow = AllFloats(v);
        this->Visit(narrow);
        size_t n = v.size();
        io.Count(n, narrow ? per * sizeof(float) : sizeof(E));
        if constexpr (Derived::kReading) {
            io.MakeRoom(v, n);
            v.resize(n);
        }
        if (!narrow) return io.Bytes(v.data(), n * sizeof(E));
        if constexpr (Derived::kSizesOnly) return io.Bytes(nullptr, n * per * sizeof(float));
        auto* d = reinterpret_cast<double*>(v.data());
        float chunk[4096];
        for (size_t done = 0, total = n * per; done < total && io.ok;) {
            const size_t take = std::min(total - done, std::size(chunk));
            if constexpr (!Derived::kReading)
                for (size_t i = 0; i < take; ++i) chunk[i] = static_cast<float>(d[done + i]);
            io.Bytes(chunk, take * sizeof(float));
            if constexpr (Derived::kReading)
                for (size_t i = 0; i < take && io.ok; ++i) d[done + i] = static_cast<double>(chunk[i]);
            done += take;
        }
    }
};

struct Counter : WireVisitor<Counter> {
    static constexpr bool kReading = false;
    static constexpr bool kSizesOnly = true;
    bool ok = true;
    uint64_t bytes = 0;
    void Bytes(const void*, size_t n) { bytes += n; }
    void Count(size_t&, size_t) { bytes += 8; }
};

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

struct Writer : WireVisitor<Writer> {
    static constexpr bool kReading = false;
    static constexpr bool kSizesOnly = false;
    int fd;
    bool ok = true;
    std::vector<unsigned char> buffer;

    // `total`: the bytes the message will take; a small one takes a small buffer.
    Writer(int out, uint64_t total) : fd(out) {
        buffer.reserve(static_cast<size_t>(std::min<uint64_t>(kChunk, total)));
    }
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

struct Reader : WireVisitor<Reader> {
    static constexpr bool kReading = true;
    static constexpr bool kSizesOnly = false;
    WireSource& source;
    uint64_t left;  // bytes of the message not yet taken
    bool ok = true;
    std::string why;
    // Bytes read ahead of the fields: [at, filled) of `store`, which is not
    // cleared before the source fills it.
    std::unique_ptr<unsigned char[]> store;
    size_t capacity = 0;
    size_t filled = 0;
    size_t at = 0;

    Reader(WireSource& from, uint64_t length) : source(from), left(length) {}
    void Fail(const std::string& reason) {
        if (ok) why = reason;
        ok = false;
    }
    // Reads what the source has, up to `want` bytes, into the store.
    bool Refill(size_t want) {
        if (want > capacity) {
            store.reset(new unsigned char[want]);
            capacity = want;
            if (want >= kLargeBytes) BackNow(store.get(), want);
        }
        at = 0;
        filled = source.Read(store.get(), want);
        return filled > 0;
    }
    void Bytes(void* data, size_t n) {
        if (!ok) return;
        if (n > left) return Fail("a value runs past the end of the message");
        left -= n;
        auto* p = static_cast<unsigned char*>(data);
        while (n > 0) {
            if (at == filled && n >= kChunk) {
                // Large arrays come straight from the source, not through the store.
                const size_t got = source.Read(p, n);
                if (got == 0) return Fail("the message is cut short");
                p += got;
                n -= got;
                continue;
            }
            // Nothing follows a message, so reading ahead never takes another's
            // bytes; a small message only touches the pages it fills.
            if (at == filled && !Refill(static_cast<size_t>(std::clamp<uint64_t>(left + n, kFirstRead, kChunk))))
                return Fail("the message is cut short");
            const size_t take = std::min(n, filled - at);
            std::memcpy(p, store.get() + at, take);
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
    // A large array's memory is backed in one call before it is filled
    // (model/Allocation.h), not a fault at a time.
    template <class T>
    void MakeRoom(std::vector<T>& v, size_t n) {
        if (n * sizeof(T) < kLargeBytes) return;
        v.reserve(n);
        BackNow(v.data(), n * sizeof(T));
    }
};

}  // namespace

bool WriteWireResult(int fd, const WireResult& result) {
    WireResult& fields = const_cast<WireResult&>(result);  // only read
    Counter counter;
    Fields(counter, fields);
    uint64_t length = counter.bytes;
    Writer writer(fd, sizeof length + length);
    writer.Bytes(&length, sizeof length);
    Fields(writer, fields);
    writer.Flush();
    return writer.ok;
}

bool ReadWireResult(WireSource& source, WireResult& out, std::string& why) {
    // One reader for the length and the body, so what the first read took
    // beyond the length is the body's.
    Reader reader(source, sizeof(uint64_t));
    uint64_t length = 0;
    reader.Bytes(&length, sizeof length);
    if (!reader.ok) {
        why = "no message";
        return false;
    }
    reader.left = length;
    out = WireResult{};
    Fields(reader, out);
    if (reader.ok && reader.left != 0) reader.Fail("the message holds more than its fields");
    why = reader.why;
    return reader.ok;
}

}  // namespace quorvex::importer
