#include "import/SceneWire.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <type_traits>
#include <vector>

namespace quorvex::importer {
using quorvex::scene::Picture;

namespace {

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
void Fields(IO& io, Picture& p) {
    io(p.width, p.height, p.plain, p.fill, p.pixels);
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

// Values that travel as their bytes: trivially copyable and without padding,
// so that no byte of the message is left undefined. (SkinInfluence has
// padding between its joint and its weight.)
template <class T>
constexpr bool kAsBytes = std::is_trivially_copyable_v<T> && !std::is_same_v<T, SkinInfluence>;

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};
template <class T>
struct IsMap : std::false_type {};
template <class K, class V>
struct IsMap<std::map<K, V>> : std::true_type {};

// Arrays of numbers stored as doubles. Most sources store floats, and such an
// array travels as floats when every value is one exactly (bit for bit):
// half the bytes through the pipe, the same values at the other end.
template <class T>
constexpr bool kDoubles = std::is_same_v<T, double> || std::is_same_v<T, Vec3d> ||
                          std::is_same_v<T, std::array<double, 2>> || std::is_same_v<T, std::array<double, 4>>;

template <class T>
struct IsDoubleVector : std::false_type {};
template <class E>
struct IsDoubleVector<std::vector<E>> : std::bool_constant<kDoubles<E>> {};

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

// Takes the memory for a large array before it is filled. Every first touch
// of a 4 KiB page is a fault, and on a virtual machine a fault costs more than
// copying the page: where the system offers huge pages for memory that asks,
// the array asks, and its pages are backed in one call, not a fault each.
template <class T>
void TakeLarge(std::vector<T>& v, size_t n) {
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (n * sizeof(T) < (size_t{256} << 10)) return;
    v.reserve(n);
#ifdef MADV_HUGEPAGE
    const auto start = reinterpret_cast<uintptr_t>(v.data());
    const uintptr_t begin = (start + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (start + n * sizeof(T)) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it, harmlessly
#endif
    constexpr uintptr_t kPage = 4096;
    const auto first = (reinterpret_cast<uintptr_t>(v.data()) + kPage - 1) & ~(kPage - 1);
    const auto last = (reinterpret_cast<uintptr_t>(v.data()) + n * sizeof(T)) & ~(kPage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

// What every direction shares: how each kind of value travels. `Derived`
// provides Bytes(pointer, n), Count(n, smallest bytes per element), kReading
// and kSizesOnly (counts bytes, looks at no value).
template <class Derived>
struct Visitor {
    template <class... T>
    void operator()(T&... values) {
        (Visit(values), ...);
    }

    template <class T>
    void Visit(T& v) {
        Derived& io = static_cast<Derived&>(*this);
        if constexpr (std::is_same_v<T, bool>) {
            unsigned char byte = v ? 1 : 0;
            io.Bytes(&byte, 1);
            v = byte != 0;
        } else if constexpr (std::is_same_v<T, std::string>) {
            size_t n = v.size();
            io.Count(n, 1);
            if constexpr (Derived::kReading) v.resize(n);
            io.Bytes(v.data(), n);
        } else if constexpr (IsDoubleVector<T>::value) {
            VisitDoubles(v);
        } else if constexpr (IsVector<T>::value) {
            using E = typename T::value_type;
            constexpr bool flat = kAsBytes<E>;
            size_t n = v.size();
            // Every element that is not flat starts with a count of its own.
            io.Count(n, flat ? sizeof(E) : 8);
            if constexpr (Derived::kReading) {
                if constexpr (flat) TakeLarge(v, n);
                v.resize(n);
            }
            if constexpr (flat) {
                io.Bytes(v.data(), n * sizeof(E));
            } else {
                for (E& e : v) Visit(e);
            }
        } else if constexpr (IsOptional<T>::value) {
            bool has = v.has_value();
            Visit(has);
            if constexpr (Derived::kReading) {
                if (has) v.emplace();
            }
            if (has && v) Visit(*v);
        } else if constexpr (IsMap<T>::value) {
            size_t n = v.size();
            io.Count(n, 16);
            if constexpr (Derived::kReading) {
                for (size_t i = 0; i < n && io.ok; ++i) {
                    typename T::key_type key;
                    typename T::mapped_type value;
                    Visit(key);
                    Visit(value);
                    v.emplace(std::move(key), std::move(value));
                }
            } else {
                for (auto& [key, value] : v) {
                    Visit(const_cast<typename T::key_type&>(key));
                    Visit(value);
                }
            }
        } else if constexpr (kAsBytes<T>) {
            io.Bytes(&v, sizeof v);
        } else {
            Fields(io, v);
        }
    }

    template <class E>
    void VisitDoubles(std::vector<E>& v) {
        static_assert(sizeof(E) % sizeof(double) == 0 && kAsBytes<E>);
        Derived& io = static_cast<Derived&>(*this);
        constexpr size_t per = sizeof(E) / sizeof(double);
        bool narrow = false;
        if constexpr (!Derived::kReading) narrow = AllFloats(v);
        Visit(narrow);
        size_t n = v.size();
        io.Count(n, narrow ? per * sizeof(float) : sizeof(E));
        if constexpr (Derived::kReading) {
            TakeLarge(v, n);
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

struct Counter : Visitor<Counter> {
    static constexpr bool kReading = false;
    static constexpr bool kSizesOnly = true;
    bool ok = true;
    uint64_t bytes = 0;
    void Bytes(const void*, size_t n) { bytes += n; }
    void Count(size_t&, size_t) { bytes += 8; }
};

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
    static constexpr bool kSizesOnly = false;
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
    static constexpr bool kSizesOnly = false;
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
            if (at == buffer.size() && n >= kChunk) {
                // Large arrays come straight from the source, not through the buffer.
                const size_t got = source.Read(p, n);
                if (got == 0) return Fail("the message is cut short");
                p += got;
                n -= got;
                continue;
            }
            if (at == buffer.size()) {
                // No larger than what is left: a small message touches few pages.
                buffer.resize(static_cast<size_t>(std::min<uint64_t>(kChunk, left + n)));
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
    Counter counter;
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

}  // namespace quorvex::importer
