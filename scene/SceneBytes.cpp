#include "scene/SceneBytes.h"

#include <cstring>

#include "scene/FieldStream.h"

namespace quorvex::scene {

// A field added to a record but not listed here would be lost on the way to
// the test host; the sizes stop the build until it is listed (then update the
// size).
#if defined(__GLIBCXX__) && defined(__x86_64__)
static_assert(sizeof(NodeData) == 240, "NodeData changed: list its fields in SceneBytes.cpp");
static_assert(sizeof(ObjectData) == 56, "ObjectData changed: list its fields in SceneBytes.cpp");
static_assert(sizeof(MeshData) == 72, "MeshData changed: list its fields in SceneBytes.cpp");
static_assert(sizeof(MaterialData) == 56, "MaterialData changed: list its fields in SceneBytes.cpp");
static_assert(sizeof(SceneDocument) == 120, "SceneDocument changed: list its fields in SceneBytes.cpp");
#endif

template <class IO>
void Fields(IO& io, MeshData& m) {
    io(m.verts, m.faces, m.tverts, m.tvfaces);
}
template <class IO>
void Fields(IO& io, Keyed<MeshData>::Key& k) {
    io(k.time, k.value);
}
template <class IO, class T>
void Fields(IO& io, Keyed<T>& k) {
    io(k.keys);
}
template <class IO>
void Fields(IO& io, ObjectData& o) {
    io(o.kind, o.convert, o.mesh, o.restPose);
}
template <class IO>
void Fields(IO& io, MapData& m) {
    io(m.kind, m.file);
}
template <class IO>
void Fields(IO& io, MaterialData& m) {
    io(m.kind, m.diffuse);
}
template <class IO>
void Fields(IO& io, NoteKeyData& n) {
    io(n.time, n.text);
}
template <class IO>
void Fields(IO& io, NodeData& n) {
    io(n.name, n.hidden, n.object, n.transform, n.material, n.noteTracks, n.children);
}
template <class IO>
void Fields(IO& io, SceneDocument& d) {
    io(d.ticksPerFrame, d.animRange, d.images, d.nodes, d.baseDir);
}

namespace {

constexpr char kTag[8] = {'Q', 'V', 'X', 'S', 'C', 'N', '0', '1'};

struct StringWriter : Visitor<StringWriter> {
    static constexpr bool kReading = false;
    bool ok = true;
    std::string out;
    void Bytes(const void* data, size_t n) { out.append(static_cast<const char*>(data), n); }
    void Count(size_t& n, size_t) {
        const uint64_t count = n;
        Bytes(&count, sizeof count);
    }
};

struct MemoryReader : Visitor<MemoryReader> {
    static constexpr bool kReading = true;
    std::string_view left;
    bool ok = true;
    std::string why;

    void Fail(const std::string& reason) {
        if (ok) why = reason;
        ok = false;
    }
    void Bytes(void* data, size_t n) {
        if (!ok) return;
        if (n > left.size()) return Fail("a value runs past the end of the document");
        if (n > 0) std::memcpy(data, left.data(), n);
        left.remove_prefix(n);
    }
    void Count(size_t& n, size_t each) {
        uint64_t count = 0;
        Bytes(&count, sizeof count);
        n = 0;
        if (!ok) return;
        if (each > 0 && count > left.size() / each)
            return Fail("a count of " + std::to_string(count) + " is beyond the document");
        n = static_cast<size_t>(count);
    }
};

void ShareTopology(std::vector<NodeData>& nodes) {
    for (NodeData& node : nodes) {
        if (node.object) ShareRepeatedTopology(node.object->mesh);
        ShareTopology(node.children);
    }
}

}  // namespace

std::string SceneDocumentBytes(const SceneDocument& document) {
    ByteCounter counter;
    SceneDocument& fields = const_cast<SceneDocument&>(document);  // only read
    Fields(counter, fields);
    StringWriter writer;
    writer.out.reserve(sizeof kTag + counter.bytes);
    writer.Bytes(kTag, sizeof kTag);
    Fields(writer, fields);
    return std::move(writer.out);
}

bool ReadSceneDocumentBytes(std::string_view bytes, SceneDocument& out, std::string& why) {
    if (bytes.size() < sizeof kTag || std::memcmp(bytes.data(), kTag, sizeof kTag) != 0) {
        why = "not a scene document";
        return false;
    }
    MemoryReader reader;
    reader.left = bytes.substr(sizeof kTag);
    out = SceneDocument{};
    Fields(reader, out);
    if (reader.ok && !reader.left.empty()) reader.Fail("the bytes hold more than the document");
    if (reader.ok) ShareTopology(out.nodes);
    why = reader.why;
    return reader.ok;
}

}  // namespace quorvex::scene
