// The hand-written scene-file parser the simdjson reader replaced, kept only
// as the yardstick of SceneLoadBench.cpp: it reads well-formed files straight
// into a document and declines everything else. Not used by any program.
#include "scene/SceneDocument.h"
#include <string_view>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

using quorvex::scene::Color64;
using quorvex::scene::ConvertMode;
using quorvex::scene::Keyed;
using quorvex::scene::MapData;
using quorvex::scene::MapKind;
using quorvex::scene::MaterialData;
using quorvex::scene::MaterialKind;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::NoteKeyData;
using quorvex::scene::ObjectData;
using quorvex::scene::ObjectKind;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;
using quorvex::scene::ShareRepeatedTopology;

namespace quickparser {

using namespace quorvex::scene;
constexpr size_t kMaxDepth = 2000;

bool NearestFloat(double d, float& out) {
    // Doubles from FLT_MAX up to halfway towards 2^128 round down to FLT_MAX;
    // from halfway on the nearest float is infinite.
    const double largest = std::numeric_limits<float>::max();
    const double halfway = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    const double magnitude = std::fabs(d);
    if (!(magnitude < halfway)) return false;
    out = magnitude > largest ? static_cast<float>(std::copysign(largest, d)) : static_cast<float>(d);
    return true;
}

bool ObjectKindNamed(std::string_view name, ObjectKind& out) {
    static const std::pair<std::string_view, ObjectKind> kinds[] = {
        {"mesh", ObjectKind::Mesh},     {"unconvertible", ObjectKind::Unconvertible},
        {"target", ObjectKind::Target}, {"helper", ObjectKind::Helper},
        {"camera", ObjectKind::Camera}, {"light", ObjectKind::Light}};
    for (const auto& [n, kind] : kinds) {
        if (n == name) return out = kind, true;
    }
    return false;
}

bool ConvertModeNamed(std::string_view name, ConvertMode& out) {
    static const std::pair<std::string_view, ConvertMode> modes[] = {
        {"copy", ConvertMode::Copy}, {"same", ConvertMode::Same}, {"none", ConvertMode::None}};
    for (const auto& [n, mode] : modes) {
        if (n == name) return out = mode, true;
    }
    return false;
}

namespace {

using Triple = std::array<uint32_t, 3>;

// A number as the checking reader's parser gives it: a literal without
// fraction or exponent is an integer (negative ones signed, others unsigned),
// turned into a double only where a float field takes it.
struct Number {
    bool integer = false;
    bool negative = false;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0.0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Every function returns false to decline; the text is then read again by the
// checking reader, so none of them needs to say why.
class Reader {
public:
    explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool Document(SceneDocument& doc) {
        Ws();
        if (p_ == end_ || *p_ != '{') return false;
        bool version = false, ticks = false, range = false, images = false, nodes = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "version") {
                int64_t v = 0;
                return Once(version) &&
                       Integer(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), v) && v == 1;
            }
            if (key == "ticksPerFrame") {
                int64_t v = 0;
                if (!Once(ticks) || !Integer(1, std::numeric_limits<int32_t>::max(), v)) return false;
                doc.ticksPerFrame = static_cast<int32_t>(v);
                return true;
            }
            if (key == "animRange") return Once(range) && AnimRange(doc.animRange);
            if (key == "images") return Once(images) && Images(doc);
            if (key == "nodes") {
                return Once(nodes) && Array([&] { return Node(doc.nodes.emplace_back()); });
            }
            return false;
        });
        Ws();
        return ok && version && p_ == end_;
    }

private:
    const char* p_;
    const char* end_;
    size_t depth_ = 0;

    // ---------------------------------------------------------------- JSON

    void Ws() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }
    bool Eat(char c) {
        Ws();
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }
    bool Word(std::string_view word) {
        Ws();
        if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }
    static bool Once(bool& seen) {
        if (seen) return false;  // a repeated member
        seen = true;
        return true;
    }

    // Plain ASCII without escapes only: anything else is the checking reader's.
    bool String(std::string_view& out) {
        if (!Eat('"')) return false;
        const char* start = p_;
        for (; p_ < end_; ++p_) {
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                out = std::string_view(start, static_cast<size_t>(p_ - start));
                ++p_;
                return true;
            }
            if (c == '\\' || c < 0x20 || c >= 0x80) return false;
        }
        return false;
    }
    bool Text(std::string& out) {
        std::string_view s;
        if (!String(s)) return false;
        out.assign(s);
        return true;
    }

    bool Read(Number& n) {
        Ws();
        const char* start = p_;
        const char* q = p_;
        if (q < end_ && *q == '-') ++q;
        if (q == end_) return false;
        if (*q == '0') {
            ++q;
        } else if (*q >= '1' && *q <= '9') {
            while (q < end_ && IsDigit(*q)) ++q;
        } else {
            return false;
        }
        n.integer = true;
        if (q < end_ && *q == '.') {
            n.integer = false;
            const char* digits = ++q;
            while (q < end_ && IsDigit(*q)) ++q;
            if (q == digits) return false;
        }
        if (q < end_ && (*q == 'e' || *q == 'E')) {
            n.integer = false;
            ++q;
            if (q < end_ && (*q == '+' || *q == '-')) ++q;
            const char* digits = q;
            while (q < end_ && IsDigit(*q)) ++q;
            if (q == digits) return false;
        }
        n.negative = *start == '-';
        std::from_chars_result r{};
        if (!n.integer) {
            r = std::from_chars(start, q, n.d);
        } else if (n.negative) {
            r = std::from_chars(start, q, n.i);
            n.d = static_cast<double>(n.i);
        } else {
            r = std::from_chars(start, q, n.u);
            n.d = static_cast<double>(n.u);
        }
        if (r.ec != std::errc() || r.ptr != q) return false;  // beyond 64 bits or the double range
        p_ = q;
        return true;
    }

    template <class Item>
    bool Array(Item item) {
        if (!Eat('[') || ++depth_ >= kMaxDepth) return false;
        if (!Eat(']')) {
            do {
                if (!item()) return false;
            } while (Eat(','));
            if (!Eat(']')) return false;
        }
        --depth_;
        return true;
    }

    // Calls member(key) with the text at the member's value.
    template <class Member>
    bool Object(Member member) {
        if (!Eat('{') || ++depth_ >= kMaxDepth) return false;
        if (!Eat('}')) {
            do {
                std::string_view key;
                if (!String(key) || !Eat(':') || !member(key)) return false;
            } while (Eat(','));
            if (!Eat('}')) return false;
        }
        --depth_;
        return true;
    }

    // The first member name of the object ahead, without reading it.
    bool FirstKeyIs(std::string_view wanted) {
        const char* at = p_;
        const size_t depth = depth_;
        std::string_view key;
        const bool is = Eat('{') && String(key) && key == wanted;
        p_ = at;
        depth_ = depth;
        return is;
    }

    // ---------------------------------------------------------------- values

    bool Integer(int64_t lo, int64_t hi, int64_t& out) {
        Number n;
        if (!Read(n) || !n.integer) return false;
        if (n.negative) {
            out = n.i;
            return n.i >= lo && n.i <= hi;
        }
        out = static_cast<int64_t>(n.u);
        return hi >= 0 && n.u <= static_cast<uint64_t>(hi) && (lo <= 0 || n.u >= static_cast<uint64_t>(lo));
    }
    bool Time(TimeValue& out) {
        int64_t v = 0;
        if (!Integer(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v)) return false;
        out = static_cast<TimeValue>(v);
        return true;
    }
    bool Channel(uint16_t& out) {
        int64_t v = 0;
        if (!Integer(0, 65535, v)) return false;
        out = static_cast<uint16_t>(v);
        return true;
    }
    bool Float(float& out) {
        Number n;
        return Read(n) && NearestFloat(n.d, out);
    }
    bool Bool(bool& out) {
        if (Word("true")) return out = true, true;
        if (Word("false")) return out = false, true;
        return false;
    }

    // A point of minCount to 3 numbers; absent ones stay 0.
    bool Point(Point3& p, size_t minCount) {
        float* out[3] = {&p.x, &p.y, &p.z};
        size_t count = 0;
        return Array([&] { return count < 3 && Float(*out[count++]); }) && count >= minCount;
    }
    bool Points(std::vector<Point3>& out, size_t minCount) {
        return Array([&] { return Point(out.emplace_back(), minCount); });
    }
    bool Matrix(Matrix3& m) {
        size_t k = 0;
        return Array([&] {
                   if (k == 12) return false;
                   Point3& row = m.row[k / 3];
                   float& f = k % 3 == 0 ? row.x : k % 3 == 1 ? row.y : row.z;
                   ++k;
                   return Float(f);
               }) &&
               k == 12;
    }
    bool Triples(std::vector<Triple>& out) {
        return Array([&] {
            Triple& t = out.emplace_back();
            size_t c = 0;
            return Array([&] {
                       int64_t v = 0;
                       if (c == 3 || !Integer(0, std::numeric_limits<uint32_t>::max(), v)) return false;
                       t[c++] = static_cast<uint32_t>(v);
                       return true;
                   }) &&
                   c == 3;
        });
    }
    static bool Below(const std::vector<Triple>& triples, size_t limit) {
        for (const Triple& t : triples) {
            if (t[0] >= limit || t[1] >= limit || t[2] >= limit) return false;
        }
        return true;
    }

    bool Mesh(MeshData& mesh) {
        std::vector<Point3> verts, tverts;
        std::vector<Triple> faces, tvfaces;
        bool hasVerts = false, hasFaces = false, hasTverts = false, hasTvfaces = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "verts") return Once(hasVerts) && Points(verts, 3);
            if (key == "faces") return Once(hasFaces) && Triples(faces);
            if (key == "tverts") return Once(hasTverts) && Points(tverts, 2);
            if (key == "tvfaces") return Once(hasTvfaces) && Triples(tvfaces);
            return false;
        });
        if (!ok || !Below(faces, verts.size()) || !Below(tvfaces, tverts.size())) return false;
        if (tverts.empty() ? !tvfaces.empty() : tvfaces.size() != faces.size()) return false;
        mesh.verts = std::move(verts);
        mesh.faces = std::move(faces);
        mesh.tverts = std::move(tverts);
        mesh.tvfaces = std::move(tvfaces);
        return true;
    }

    // {"keys": [{"time": t, "value": ...}, ...]}: at least one key, times rising.
    template <class T, class Plain>
    bool KeyedForm(Keyed<T>& out, Plain plain) {
        Keyed<T> keyed;
        bool keys = false;
        const bool ok = Object([&](std::string_view key) {
            return key == "keys" && Once(keys) && Array([&] {
                       TimeValue time = 0;
                       T value{};
                       bool hasTime = false, hasValue = false;
                       if (!Object([&](std::string_view k) {
                               if (k == "time") return Once(hasTime) && Time(time);
                               if (k == "value") return Once(hasValue) && plain(value);
                               return false;
                           })) {
                           return false;
                       }
                       if (!hasTime || !hasValue) return false;
                       if (!keyed.keys.empty() && time <= keyed.keys.back().time) return false;
                       keyed.keys.push_back({time, std::move(value)});
                       return true;
                   });
        });
        if (!ok || keyed.keys.empty()) return false;
        out = std::move(keyed);
        return true;
    }
    bool Transform(Keyed<Matrix3>& out) {
        Ws();
        if (p_ < end_ && *p_ == '[') {
            Matrix3 m;
            if (!Matrix(m)) return false;
            out = Keyed<Matrix3>(m);
            return true;
        }
        return KeyedForm(out, [&](Matrix3& m) { return Matrix(m); });
    }
    bool MeshValue(Keyed<MeshData>& out) {
        if (FirstKeyIs("keys")) {
            if (!KeyedForm(out, [&](MeshData& m) { return Mesh(m); })) return false;
            ShareRepeatedTopology(out);
            return true;
        }
        MeshData mesh;
        if (!Mesh(mesh)) return false;
        out = Keyed<MeshData>(std::move(mesh));
        return true;
    }

    bool Thing(ObjectData& object) {
        std::string_view kind, convert;
        bool hasKind = false, hasConvert = false, hasMesh = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "kind") return Once(hasKind) && String(kind);
            if (key == "convert") return Once(hasConvert) && String(convert);
            if (key == "mesh") return Once(hasMesh) && MeshValue(object.mesh);
            return false;
        });
        if (!ok || !hasKind) return false;
        if (!ObjectKindNamed(kind, object.kind)) return false;
        if (object.kind != ObjectKind::Mesh) return !hasConvert && !hasMesh;
        if (!hasMesh) return false;
        return !hasConvert || ConvertModeNamed(convert, object.convert);
    }

    bool Map(MapData& map) {
        std::string_view kind;
        bool hasKind = false, hasFile = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "kind") return Once(hasKind) && String(kind);
            if (key == "file") return Once(hasFile) && Text(map.file);
            return false;
        });
        if (!ok || !hasKind) return false;
        if (kind == "bitmap") return map.kind = MapKind::Bitmap, hasFile;
        if (kind == "other") return map.kind = MapKind::Other, !hasFile;
        return false;
    }

    bool Material(MaterialData& material) {
        std::string_view kind;
        bool hasKind = false, hasDiffuse = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "kind") return Once(hasKind) && String(kind);
            if (key == "diffuse") return Once(hasDiffuse) && (Word("null") || Map(material.diffuse.emplace()));
            return false;
        });
        if (!ok || !hasKind) return false;
        if (kind == "standard") return material.kind = MaterialKind::Standard, true;
        if (kind == "other") return material.kind = MaterialKind::Other, !hasDiffuse;
        return false;
    }

    bool NoteTrack(std::vector<NoteKeyData>& track) {
        return Array([&] {
            NoteKeyData& note = track.emplace_back();
            bool hasTime = false, hasText = false;
            return Object([&](std::string_view key) {
                       if (key == "time") return Once(hasTime) && Time(note.time);
                       if (key == "text") return Once(hasText) && Text(note.text);
                       return false;
                   }) &&
                   hasTime && hasText;
        });
    }

    bool Node(NodeData& node) {
        bool name = false, hidden = false, object = false, transform = false, material = false, notes = false,
             children = false;
        return Object([&](std::string_view key) {
            if (key == "name") return Once(name) && Text(node.name);
            if (key == "hidden") return Once(hidden) && Bool(node.hidden);
            if (key == "object") return Once(object) && (Word("null") || Thing(node.object.emplace()));
            if (key == "transform") return Once(transform) && Transform(node.transform);
            if (key == "material") return Once(material) && (Word("null") || Material(node.material.emplace()));
            if (key == "noteTracks") {
                return Once(notes) && Array([&] { return NoteTrack(node.noteTracks.emplace_back()); });
            }
            if (key == "children") {
                return Once(children) && Array([&] { return Node(node.children.emplace_back()); });
            }
            return false;
        });
    }

    bool AnimRange(Interval& range) {
        bool start = false, end = false;
        return Object([&](std::string_view key) {
                   if (key == "start") return Once(start) && Time(range.start);
                   if (key == "end") return Once(end) && Time(range.end);
                   return false;
               }) &&
               start && end && range.end >= range.start;
    }

    bool Colour(Color64& out) {
        uint16_t channel[4] = {0, 0, 0, 0};
        size_t k = 0;
        if (!Array([&] { return k < 4 && Channel(channel[k++]); }) || k != 4) return false;
        out = Color64{channel[0], channel[1], channel[2], channel[3]};
        return true;
    }

    bool Image(Picture& picture) {
        bool width = false, height = false, pixels = false, fill = false;
        const bool ok = Object([&](std::string_view key) {
            if (key == "width") return Once(width) && Channel(picture.width);
            if (key == "height") return Once(height) && Channel(picture.height);
            if (key == "fill") return Once(fill) && Colour(picture.fill);
            if (key == "pixels") {
                return Once(pixels) && Array([&] { return Colour(picture.pixels.emplace_back()); });
            }
            return false;
        });
        if (!ok || !width || !height || pixels == fill) return false;
        picture.plain = fill;
        return fill || picture.pixels.size() == size_t{picture.width} * picture.height;
    }

    bool Images(SceneDocument& doc) {
        return Object([&](std::string_view name) {
            auto [at, added] = doc.images.try_emplace(std::string(name));
            return added && Image(at->second);
        });
    }
};

}  // namespace

bool ReadSceneDirect(std::string_view text, SceneDocument& out) {
    SceneDocument doc;
    if (!Reader(text).Document(doc)) return false;
    out = std::move(doc);
    return true;
}

}  // namespace quickparser
