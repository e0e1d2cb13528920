#include "scene/SceneFile.h"

#include "scene/InputFile.h"
#include "scene/Limits.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <string_view>

#include "mdl/WholeFile.h"
#include "scene/SceneFileDirect.h"
#include "scene/SceneFileJson.h"

using namespace quorvex;

namespace standin {

namespace {

using scenejson::PathStep;
using scenejson::Value;
using Type = Value::Type;

// Where a value sits in the document. Lives on the stack beside the walk and
// is only written out when something is refused.
struct Path {
    const Path* parent = nullptr;
    PathStep step;

    Path Key(std::string_view key) const { return Path{this, PathStep{key, 0, false}}; }
    Path Index(size_t index) const { return Path{this, PathStep{{}, index, true}}; }

    std::string Format() const {
        std::vector<PathStep> steps;
        for (const Path* p = this; p && p->parent; p = p->parent) steps.push_back(p->step);
        return scenejson::FormatPath({steps.rbegin(), steps.rend()});
    }
};

// A broken rule. Thrown inside the walk only; ParseSceneText turns it into its
// result, so nothing leaves this file as an exception.
struct Refusal {
    std::string message;
};

[[noreturn]] void Fail(const Path& path, const std::string& rule) {
    const std::string where = path.Format();
    throw Refusal{where.empty() ? rule : where + ": " + rule};
}

std::string Quoted(std::string_view s) { return scenejson::Quote(s); }

const char* TypeName(Type t) {
    switch (t) {
        case Type::Null: return "null";
        case Type::Bool: return "a boolean";
        case Type::Integer:
        case Type::Float: return "a number";
        case Type::String: return "a string";
        case Type::Array: return "an array";
        case Type::Object: return "an object";
    }
    return "a value";
}

const char* const kKeyedRule = "a keyed value is allowed only for a node's transform and a mesh object's mesh";

bool LooksKeyed(const Value& v) { return v.type == Type::Object && v.Find("keys") != nullptr; }

void ExpectType(const Value& v, const Path& path, Type wanted, const char* what) {
    if (v.type == wanted) return;
    if (LooksKeyed(v)) Fail(path, kKeyedRule);
    Fail(path, std::string("expected ") + what + ", got " + TypeName(v.type));
}

// Refuses every member not in `allowed`. `misplaced` names fields this kind of
// thing does not take although others do, with the reason.
struct Misplaced {
    std::string_view field;
    const char* rule;
};

void CheckFields(const Value& obj, const Path& path, std::initializer_list<std::string_view> allowed,
                 std::initializer_list<Misplaced> misplaced = {}) {
    const std::vector<std::string>& keys = obj.extra->keys;
    for (const std::string& key : keys) {
        bool known = false;
        for (std::string_view a : allowed) known = known || a == key;
        if (known) continue;
        const Path at = path.Key(key);
        for (const Misplaced& m : misplaced) {
            if (m.field == key) Fail(at, m.rule);
        }
        Fail(at, "unknown field " + Quoted(key));
    }
}

const Value& Require(const Value& obj, const Path& path, std::string_view field) {
    const Value* v = obj.Find(field);
    if (!v) Fail(path, "missing required field " + Quoted(field));
    return *v;
}

std::string IntegerText(const Value& v) {
    if (v.type == Type::Float) return v.extra->text;  // a wide integer literal
    return v.isUnsigned ? std::to_string(v.u) : std::to_string(v.i);
}

// An integer field: only literals without fraction or exponent, within [lo, hi].
int64_t ReadInteger(const Value& v, const Path& path, int64_t lo, int64_t hi) {
    if (v.type == Type::Float && !v.wideInteger) {
        Fail(path, "expected an integer written without fraction or exponent");
    }
    if (v.type != Type::Integer && v.type != Type::Float) ExpectType(v, path, Type::Integer, "an integer");
    bool inRange = false;
    int64_t value = 0;
    if (v.type == Type::Integer) {
        if (v.isUnsigned) {
            inRange = hi >= 0 && v.u <= static_cast<uint64_t>(hi) && (lo <= 0 || v.u >= static_cast<uint64_t>(lo));
            value = static_cast<int64_t>(v.u);
        } else {
            inRange = v.i >= lo && v.i <= hi;
            value = v.i;
        }
    }
    if (!inRange) {
        Fail(path,
             "integer " + IntegerText(v) + " is out of range " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return value;
}

TimeValue ReadTime(const Value& v, const Path& path) {
    return static_cast<TimeValue>(
        ReadInteger(v, path, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// A float field: any number, read as a double, then rounded to the nearest float.
float ReadFloat(const Value& v, const Path& path) {
    double d = 0.0;
    if (v.type == Type::Integer) {
        d = v.isUnsigned ? static_cast<double>(v.u) : static_cast<double>(v.i);
    } else if (v.type == Type::Float) {
        d = v.d;
    } else {
        ExpectType(v, path, Type::Float, "a number");
    }
    float nearest = 0.0f;
    if (!NearestFloat(d, nearest)) {
        char text[64];
        const std::to_chars_result written = std::to_chars(text, text + sizeof text, d);
        Fail(path,
             "number " + std::string(text, written.ptr) + " is beyond the float range (its nearest float is infinite)");
    }
    return nearest;
}

std::string CutAtNul(const std::string& s) {
    const size_t nul = s.find('\0');
    return nul == std::string::npos ? s : s.substr(0, nul);
}

const std::string& ReadString(const Value& v, const Path& path) {
    ExpectType(v, path, Type::String, "a string");
    return v.extra->text;
}

bool ReadBool(const Value& v, const Path& path) {
    ExpectType(v, path, Type::Bool, "true or false");
    return v.boolean;
}

const std::vector<Value>& ReadArray(const Value& v, const Path& path) {
    ExpectType(v, path, Type::Array, "an array");
    return v.items;
}

// Every object the format has, other than the keyed form itself: one that
// carries "keys" is a keyed value given where none is allowed.
void ExpectObject(const Value& v, const Path& path) {
    ExpectType(v, path, Type::Object, "an object");
    if (LooksKeyed(v)) Fail(path, kKeyedRule);
}

// A fixed-size tuple of numbers, such as a vertex or a matrix.
const std::vector<Value>& ReadTuple(const Value& v, const Path& path, size_t minCount, size_t maxCount,
                                    const char* what) {
    const std::vector<Value>& items = ReadArray(v, path);
    if (items.size() < minCount || items.size() > maxCount) {
        const std::string count = minCount == maxCount ? std::to_string(minCount)
                                                       : std::to_string(minCount) + " or " + std::to_string(maxCount);
        Fail(path, std::string(what) + " needs " + count + " numbers, got " + std::to_string(items.size()));
    }
    return items;
}

Point3 ReadPoint(const Value& v, const Path& path, size_t minCount, const char* what) {
    const std::vector<Value>& items = ReadTuple(v, path, minCount, 3, what);
    Point3 p;
    float* out[3] = {&p.x, &p.y, &p.z};
    for (size_t k = 0; k < items.size(); ++k) *out[k] = ReadFloat(items[k], path.Index(k));
    return p;
}

// Twelve numbers, four rows of three: the x, y and z axes, then the translation.
Matrix3 ReadMatrix(const Value& v, const Path& path) {
    const std::vector<Value>& items = ReadTuple(v, path, 12, 12, "a matrix");
    Matrix3 m;
    for (size_t k = 0; k < 12; ++k) {
        const float f = ReadFloat(items[k], path.Index(k));
        Point3& row = m.row[k / 3];
        (k % 3 == 0 ? row.x : k % 3 == 1 ? row.y : row.z) = f;
    }
    return m;
}

// A value that may be keyed: {"keys": [{"time": t, "value": ...}, ...]}.
template <class T, class ReadPlain>
Keyed<T> ReadKeyed(const Value& v, const Path& path, ReadPlain readPlain) {
    if (!LooksKeyed(v)) return Keyed<T>(readPlain(v, path));
    CheckFields(v, path, {"keys"});
    const Path keysPath = path.Key("keys");
    const std::vector<Value>& keys = ReadArray(*v.Find("keys"), keysPath);
    if (keys.empty()) Fail(keysPath, "a keyed value needs at least one key");
    Keyed<T> keyed;
    keyed.keys.reserve(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const Path at = keysPath.Index(k);
        ExpectObject(keys[k], at);
        CheckFields(keys[k], at, {"time", "value"});
        const Value& timeValue = Require(keys[k], at, "time");
        const Value& value = Require(keys[k], at, "value");
        const TimeValue time = ReadTime(timeValue, at.Key("time"));
        if (k > 0 && time <= keyed.keys.back().time) {
            Fail(at.Key("time"), "key time " + std::to_string(time) + " is not after the previous key's time " +
                                     std::to_string(keyed.keys.back().time));
        }
        keyed.keys.push_back({time, readPlain(value, at.Key("value"))});
    }
    return keyed;
}

std::vector<std::array<uint32_t, 3>> ReadIndexTriples(const Value& v, const Path& path, size_t limit,
                                                      const char* limitName) {
    const std::vector<Value>& items = ReadArray(v, path);
    std::vector<std::array<uint32_t, 3>> out;
    out.reserve(items.size());
    for (size_t f = 0; f < items.size(); ++f) {
        const Path facePath = path.Index(f);
        const std::vector<Value>& corners = ReadArray(items[f], facePath);
        if (corners.size() != 3) Fail(facePath, "a face needs 3 indices, got " + std::to_string(corners.size()));
        std::array<uint32_t, 3> face{};
        for (size_t c = 0; c < 3; ++c) {
            const Path at = facePath.Index(c);
            const int64_t index = ReadInteger(corners[c], at, 0, std::numeric_limits<uint32_t>::max());
            if (static_cast<uint64_t>(index) >= limit) {
                Fail(at,
                     "index " + std::to_string(index) + " is not below the " + limitName + " " + std::to_string(limit));
            }
            face[c] = static_cast<uint32_t>(index);
        }
        out.push_back(face);
    }
    return out;
}

MeshData ReadMesh(const Value& v, const Path& path) {
    ExpectObject(v, path);
    CheckFields(v, path, {"verts", "faces", "tverts", "tvfaces"});
    MeshData mesh;
    if (const Value* verts = v.Find("verts")) {
        const Path at = path.Key("verts");
        const std::vector<Value>& items = ReadArray(*verts, at);
        mesh.verts.reserve(items.size());
        for (size_t k = 0; k < items.size(); ++k) mesh.verts.push_back(ReadPoint(items[k], at.Index(k), 3, "a vertex"));
    }
    if (const Value* faces = v.Find("faces")) {
        mesh.faces = ReadIndexTriples(*faces, path.Key("faces"), mesh.verts.size(), "vertex count");
    }
    if (const Value* tverts = v.Find("tverts")) {
        const Path at = path.Key("tverts");
        const std::vector<Value>& items = ReadArray(*tverts, at);
        std::vector<Point3> read;
        read.reserve(items.size());
        for (size_t k = 0; k < items.size(); ++k)
            read.push_back(ReadPoint(items[k], at.Index(k), 2, "a texture vertex"));
        mesh.tverts = std::move(read);
    }
    if (const Value* tvfaces = v.Find("tvfaces")) {
        mesh.tvfaces = ReadIndexTriples(*tvfaces, path.Key("tvfaces"), mesh.tverts.size(), "texture-vertex count");
    }
    // Texture faces pair with faces one to one, or are absent altogether.
    if (mesh.tverts.empty()) {
        if (!mesh.tvfaces.empty()) Fail(path.Key("tvfaces"), "tvfaces must be empty when tverts is empty");
    } else if (mesh.tvfaces.size() != mesh.faces.size()) {
        Fail(path.Key("tvfaces"), "tvfaces has " + std::to_string(mesh.tvfaces.size()) + " entries but faces has " +
                                      std::to_string(mesh.faces.size()));
    }
    return mesh;
}

ObjectData ReadObject(const Value& v, const Path& path) {
    ExpectObject(v, path);
    const std::string& kind = ReadString(Require(v, path, "kind"), path.Key("kind"));
    ObjectData object;
    if (!ObjectKindNamed(kind, object.kind)) {
        Fail(path.Key("kind"),
             "unknown object kind " + Quoted(kind) + "; expected mesh, unconvertible, target, helper, camera or light");
    }
    if (object.kind != ObjectKind::Mesh) {
        CheckFields(v, path, {"kind"},
                    {{"mesh", "only mesh objects take a mesh"}, {"convert", "only mesh objects take convert"}});
        object.mesh = MeshData{};
        return object;
    }
    CheckFields(v, path, {"kind", "mesh", "convert"});
    if (const Value* convert = v.Find("convert")) {
        const Path at = path.Key("convert");
        const std::string& mode = ReadString(*convert, at);
        if (!ConvertModeNamed(mode, object.convert)) {
            Fail(at, "unknown convert mode " + Quoted(mode) + "; expected copy, same or none");
        }
    }
    object.mesh = ReadKeyed<MeshData>(Require(v, path, "mesh"), path.Key("mesh"), ReadMesh);
    ShareRepeatedTopology(object.mesh);
    return object;
}

MapData ReadMap(const Value& v, const Path& path) {
    ExpectObject(v, path);
    const std::string& kind = ReadString(Require(v, path, "kind"), path.Key("kind"));
    MapData map;
    if (kind == "bitmap") {
        CheckFields(v, path, {"kind", "file"});
        map.kind = MapKind::Bitmap;
        map.file = CutAtNul(ReadString(Require(v, path, "file"), path.Key("file")));
    } else if (kind == "other") {
        CheckFields(v, path, {"kind"}, {{"file", "only bitmap maps take a file"}});
        map.kind = MapKind::Other;
    } else {
        Fail(path.Key("kind"), "unknown map kind " + Quoted(kind) + "; expected bitmap or other");
    }
    return map;
}

MaterialData ReadMaterial(const Value& v, const Path& path) {
    ExpectObject(v, path);
    const std::string& kind = ReadString(Require(v, path, "kind"), path.Key("kind"));
    MaterialData material;
    if (kind == "standard") {
        CheckFields(v, path, {"kind", "diffuse"});
        material.kind = MaterialKind::Standard;
        const Value* diffuse = v.Find("diffuse");
        if (diffuse && diffuse->type != Type::Null) material.diffuse = ReadMap(*diffuse, path.Key("diffuse"));
    } else if (kind == "other") {
        CheckFields(v, path, {"kind"}, {{"diffuse", "only standard materials take a diffuse map"}});
        material.kind = MaterialKind::Other;
    } else {
        Fail(path.Key("kind"), "unknown material kind " + Quoted(kind) + "; expected standard or other");
    }
    return material;
}

std::vector<NoteKeyData> ReadNoteTrack(const Value& v, const Path& path) {
    const std::vector<Value>& items = ReadArray(v, path);
    std::vector<NoteKeyData> track;
    track.reserve(items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        const Path at = path.Index(k);
        ExpectObject(items[k], at);
        CheckFields(items[k], at, {"time", "text"});
        NoteKeyData key;
        key.time = ReadTime(Require(items[k], at, "time"), at.Key("time"));
        key.text = CutAtNul(ReadString(Require(items[k], at, "text"), at.Key("text")));
        track.push_back(std::move(key));
    }
    return track;
}

NodeData ReadNode(const Value& v, const Path& path) {
    ExpectObject(v, path);
    CheckFields(v, path, {"name", "hidden", "object", "transform", "material", "noteTracks", "children"});
    NodeData node;
    if (const Value* name = v.Find("name")) node.name = CutAtNul(ReadString(*name, path.Key("name")));
    if (const Value* hidden = v.Find("hidden")) node.hidden = ReadBool(*hidden, path.Key("hidden"));
    if (const Value* object = v.Find("object"); object && object->type != Type::Null) {
        node.object = ReadObject(*object, path.Key("object"));
    }
    if (const Value* transform = v.Find("transform")) {
        node.transform = ReadKeyed<Matrix3>(*transform, path.Key("transform"), ReadMatrix);
    }
    if (const Value* material = v.Find("material"); material && material->type != Type::Null) {
        node.material = ReadMaterial(*material, path.Key("material"));
    }
    if (const Value* tracks = v.Find("noteTracks")) {
        const Path at = path.Key("noteTracks");
        const std::vector<Value>& items = ReadArray(*tracks, at);
        node.noteTracks.reserve(items.size());
        for (size_t k = 0; k < items.size(); ++k) node.noteTracks.push_back(ReadNoteTrack(items[k], at.Index(k)));
    }
    if (const Value* children = v.Find("children")) {
        const Path at = path.Key("children");
        const std::vector<Value>& items = ReadArray(*children, at);
        node.children.reserve(items.size());
        for (size_t k = 0; k < items.size(); ++k) node.children.push_back(ReadNode(items[k], at.Index(k)));
    }
    return node;
}

Color64 ReadColor(const Value& v, const Path& path) {
    const std::vector<Value>& items = ReadArray(v, path);
    if (items.size() != 4) Fail(path, "a colour needs 4 channels (r, g, b, a), got " + std::to_string(items.size()));
    uint16_t channel[4];
    for (size_t k = 0; k < 4; ++k) channel[k] = static_cast<uint16_t>(ReadInteger(items[k], path.Index(k), 0, 65535));
    return Color64{channel[0], channel[1], channel[2], channel[3]};
}

Picture ReadImage(const Value& v, const Path& path) {
    ExpectObject(v, path);
    CheckFields(v, path, {"width", "height", "pixels", "fill"});
    Picture picture;
    picture.width = static_cast<uint16_t>(ReadInteger(Require(v, path, "width"), path.Key("width"), 0, 65535));
    picture.height = static_cast<uint16_t>(ReadInteger(Require(v, path, "height"), path.Key("height"), 0, 65535));
    const Value* pixels = v.Find("pixels");
    const Value* fill = v.Find("fill");
    if ((pixels != nullptr) == (fill != nullptr)) Fail(path, "an image needs exactly one of pixels and fill");
    if (fill) {
        // One colour, however large the picture: nothing per pixel is stored.
        picture.plain = true;
        picture.fill = ReadColor(*fill, path.Key("fill"));
        return picture;
    }
    const Path at = path.Key("pixels");
    const std::vector<Value>& items = ReadArray(*pixels, at);
    const size_t expected = size_t{picture.width} * picture.height;
    if (items.size() != expected) {
        Fail(at, "pixels has " + std::to_string(items.size()) + " entries; a " + std::to_string(picture.width) + " x " +
                     std::to_string(picture.height) + " image needs " + std::to_string(expected));
    }
    picture.pixels.reserve(expected);
    for (size_t k = 0; k < items.size(); ++k) picture.pixels.push_back(ReadColor(items[k], at.Index(k)));
    return picture;
}

void ReadScene(const Value& root, SceneDocument& doc) {
    const Path top;
    if (root.type != Type::Object)
        Fail(top, std::string("the scene must be a JSON object, not ") + TypeName(root.type));
    // The version speaks first: a newer file may well have fields this reader
    // does not know, and the version is the reason it is refused.
    const int64_t version = ReadInteger(Require(root, top, "version"), top.Key("version"),
                                        std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    if (version != 1) Fail(top.Key("version"), "version " + std::to_string(version) + " is not supported; expected 1");
    CheckFields(root, top, {"version", "ticksPerFrame", "animRange", "images", "nodes"});

    if (const Value* tpf = root.Find("ticksPerFrame")) {
        doc.ticksPerFrame =
            static_cast<int32_t>(ReadInteger(*tpf, top.Key("ticksPerFrame"), 1, std::numeric_limits<int32_t>::max()));
    }
    if (const Value* range = root.Find("animRange")) {
        const Path at = top.Key("animRange");
        ExpectObject(*range, at);
        CheckFields(*range, at, {"start", "end"});
        doc.animRange.start = ReadTime(Require(*range, at, "start"), at.Key("start"));
        doc.animRange.end = ReadTime(Require(*range, at, "end"), at.Key("end"));
        if (doc.animRange.end < doc.animRange.start) {
            Fail(at.Key("end"),
                 "end " + std::to_string(doc.animRange.end) + " is below start " + std::to_string(doc.animRange.start));
        }
    }
    if (const Value* images = root.Find("images")) {
        const Path at = top.Key("images");
        // A map of names, not a record: an image may well be named "keys".
        ExpectType(*images, at, Type::Object, "an object");
        const std::vector<std::string>& names = images->extra->keys;
        for (size_t k = 0; k < names.size(); ++k) {
            const Path imagePath = at.Key(names[k]);
            // Maps report names up to their first NUL, so that is the name a
            // picture is looked up by.
            std::string name = CutAtNul(names[k]);
            if (doc.images.count(name)) {
                Fail(imagePath, "image name " + Quoted(name) + " appears twice once cut at its NUL character");
            }
            doc.images.emplace(std::move(name), ReadImage(images->items[k], imagePath));
        }
    }
    if (const Value* nodes = root.Find("nodes")) {
        const Path at = top.Key("nodes");
        const std::vector<Value>& items = ReadArray(*nodes, at);
        doc.nodes.reserve(items.size());
        for (size_t k = 0; k < items.size(); ++k) doc.nodes.push_back(ReadNode(items[k], at.Index(k)));
    }
}

}  // namespace

namespace {

bool ParseChecked(const std::string& text, const std::string& fileName, SceneDocument& out, LoadError& error) {
    try {
        Value root;
        std::string problem;
        if (!scenejson::Parse(text, root, problem)) {
            error = {LoadErrorKind::Malformed, fileName + ": " + problem};
            return false;
        }
        SceneDocument doc;
        ReadScene(root, doc);
        out = std::move(doc);
        return true;
    } catch (const Refusal& refusal) {
        error = {LoadErrorKind::Malformed, fileName + ": " + refusal.message};
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, fileName + ": Not enough memory to read the scene"};
    }
    return false;
}

}  // namespace

bool ParseSceneText(const std::string& text, const std::string& fileName, SceneDocument& out, LoadError& error) {
    // Most files are fine: those go the quick way. The rest, and the odd ones
    // the quick way leaves alone, through the tree that names what is wrong.
    try {
        if (SceneDocument direct; ReadSceneDirect(text, direct)) {
            out = std::move(direct);
            return true;
        }
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, fileName + ": Not enough memory to read the scene"};
        return false;
    }
    return ParseChecked(text, fileName, out, error);
}

bool ParseSceneTextChecked(const std::string& text, const std::string& fileName, SceneDocument& out,
                           std::string& error) {
    LoadError failure;
    if (ParseChecked(text, fileName, out, failure)) return true;
    error = std::move(failure.message);
    return false;
}

bool LoadSceneFile(const std::string& path, SceneDocument& out, LoadError& error) {
    try {
        std::string text;
        if (!ReadInputFile(path, text, error, kMaxInputFileBytes)) {
            error.message = path + ": " + error.message;
            return false;
        }
        SceneDocument doc;
        if (!ParseSceneText(text, path, doc, error)) return false;
        doc.baseDir = std::filesystem::path(path).parent_path().string();
        out = std::move(doc);
        return true;
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, path + ": Not enough memory to read the scene"};
        return false;
    }
}

}  // namespace standin
