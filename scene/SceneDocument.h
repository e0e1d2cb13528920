// The stand-in host's scene as plain data. Scene files, importers and tests fill
// a SceneDocument; StandinHost (standin/StandinHost.h) serves it through the host
// interface. Every value here is what the host reports, as is.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugin/HostServices.h"

namespace quorvex::scene {

// A value that may change over time: the value at t is that of the last key
// whose time is at or before t; before the first key, the first key's value.
// Keys are in strictly increasing time order; there is at least one.
template <class T>
struct Keyed {
    struct Key {
        TimeValue time;
        T value;
    };
    std::vector<Key> keys;

    Keyed() = default;
    Keyed(T constant) : keys{{0, std::move(constant)}} {}
    // Binary search: a node keyed at every frame is asked at every frame.
    const T& At(TimeValue t) const {
        auto after =
            std::upper_bound(keys.begin(), keys.end(), t, [](TimeValue time, const Key& k) { return time < k.time; });
        return after == keys.begin() ? after->value : std::prev(after)->value;
    }
};

// A read-only list that copies share: the keys of an animated mesh usually
// have the same triangles and texture coordinates, and one copy serves all of
// them. Changing a list that is shared copies it first, so a change never
// shows through another holder. An empty list holds no storage.
template <class T>
class SharedList {
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;

    SharedList() = default;
    SharedList(std::vector<T> items) {
        if (!items.empty()) items_ = std::make_shared<std::vector<T>>(std::move(items));
    }
    SharedList(std::initializer_list<T> items) : SharedList(std::vector<T>(items)) {}

    size_t size() const { return items_ ? items_->size() : 0; }
    bool empty() const { return size() == 0; }
    const T& operator[](size_t i) const { return (*items_)[i]; }
    const T* data() const { return items_ ? items_->data() : nullptr; }
    const std::vector<T>& Items() const { return items_ ? *items_ : None(); }
    const_iterator begin() const { return Items().begin(); }
    const_iterator end() const { return Items().end(); }

    // The storage, for telling shared copies apart; null when empty.
    const void* Identity() const { return items_ && !items_->empty() ? items_.get() : nullptr; }

    // The list to change, unshared first when another holder has it.
    std::vector<T>& Edit() {
        if (!items_) {
            items_ = std::make_shared<std::vector<T>>();
        } else if (items_.use_count() > 1) {
            items_ = std::make_shared<std::vector<T>>(*items_);
        }
        return *items_;
    }
    void push_back(T value) { Edit().push_back(std::move(value)); }
    void reserve(size_t count) { Edit().reserve(count); }
    void clear() { items_.reset(); }

private:
    static const std::vector<T>& None() {
        static const std::vector<T> none;
        return none;
    }
    std::shared_ptr<std::vector<T>> items_;
};

// The triangles and texture coordinates are shared lists: a mesh keyed at
// every frame usually changes only its vertices.
struct MeshData {
    std::vector<Point3> verts;
    SharedList<std::array<uint32_t, 3>> faces;
    SharedList<Point3> tverts;                    // u, v, w (w carried, never used)
    SharedList<std::array<uint32_t, 3>> tvfaces;  // one per face when tverts is not empty
};

// Lets each key whose triangles, texture vertices or texture faces are the
// same, bit for bit, as the previous key's share that key's list.
void ShareRepeatedTopology(Keyed<MeshData>& mesh);

enum class ObjectKind { Mesh, Unconvertible, Target, Helper, Camera, Light };

// How a mesh object answers ConvertToType.
enum class ConvertMode {
    Copy,  // a new triangle-mesh object the caller owns
    Same,  // the object itself, host-owned
    None,  // CanConvertToType says yes, the conversion gives nothing
};

struct ObjectData {
    ObjectKind kind = ObjectKind::Mesh;
    ConvertMode convert = ConvertMode::Copy;  // mesh objects only
    Keyed<MeshData> mesh = MeshData{};        // mesh objects only
    // Mesh objects whose source has a bind pose: one position per vertex of
    // every key, in the mesh's own space; empty otherwise. The host never
    // serves it; the tools reduce meshes from it.
    std::vector<Point3> restPose = {};
};

enum class MapKind { Bitmap, Other };

struct MapData {
    MapKind kind = MapKind::Bitmap;
    std::string file;  // bitmap maps: what GetMapName reports
};

enum class MaterialKind { Standard, Other };

struct MaterialData {
    MaterialKind kind = MaterialKind::Standard;
    std::optional<MapData> diffuse;  // standard materials only
};

struct NoteKeyData {
    TimeValue time = 0;
    std::string text;
};

struct NodeData {
    std::string name;
    bool hidden = false;
    std::optional<ObjectData> object;      // none: evaluation yields no object
    Keyed<Matrix3> transform = Matrix3{};  // relative to the parent
    std::optional<MaterialData> material;
    std::vector<std::vector<NoteKeyData>> noteTracks;
    std::vector<NodeData> children;
};

using Color64 = BMM_Color_64;

// A picture with 16-bit channels. A plain picture is held as its one colour.
// A width or height of 0 means no pixel storage.
struct Picture {
    uint16_t width = 0;
    uint16_t height = 0;
    bool plain = false;
    Color64 fill;                 // plain pictures
    std::vector<Color64> pixels;  // width * height, row 0 (top) first, otherwise
};

struct SceneDocument {
    SceneDocument() = default;
    // Takes the hierarchy apart level by level: a chain of nodes many
    // thousands deep would otherwise be destroyed by as deep a recursion.
    ~SceneDocument();
    SceneDocument(SceneDocument&&) = default;
    SceneDocument& operator=(SceneDocument&&) = default;
    SceneDocument(const SceneDocument&) = default;
    SceneDocument& operator=(const SceneDocument&) = default;

    int32_t ticksPerFrame = 160;
    Interval animRange{0, 0};
    std::map<std::string, Picture> images;  // served by exact name before files
    std::vector<NodeData> nodes;            // children of the scene root
    // Folder that relative picture file names are resolved against; empty means
    // the working directory.
    std::string baseDir;
};

}  // namespace quorvex::scene
