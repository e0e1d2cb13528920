// The stand-in host's scene as plain data. Scene files, importers and tests fill
// a SceneDocument; StandinHost (host/StandinHost.h) serves it through the host
// interface. Every value here is what the host reports, as is.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plugin/HostServices.h"

namespace standin {

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
    const T& At(TimeValue t) const {
        const Key* found = &keys.front();
        for (const Key& k : keys) {
            if (k.time > t) break;
            found = &k;
        }
        return found->value;
    }
};

struct MeshData {
    std::vector<Point3> verts;
    std::vector<std::array<uint32_t, 3>> faces;
    std::vector<Point3> tverts;   // u, v, w (w carried, never used)
    std::vector<std::array<uint32_t, 3>> tvfaces;  // one per face when tverts is not empty
};

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
    std::optional<ObjectData> object;  // none: evaluation yields no object
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
    int32_t ticksPerFrame = 160;
    Interval animRange{0, 0};
    std::map<std::string, Picture> images;  // served by exact name before files
    std::vector<NodeData> nodes;            // children of the scene root
    // Folder that relative picture file names are resolved against; empty means
    // the working directory.
    std::string baseDir;
};

}  // namespace standin
