#include "tests/support/SceneBuilder.h"

#include <cmath>

namespace quorvex::testkit {
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

MeshData UvSphere(int rings, int segments) {
    MeshData m;
    std::vector<Point3> verts{{0, 0, 1}}, tverts;
    std::vector<std::array<uint32_t, 3>> faces, tvfaces;
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const double lat = M_PI * r / rings, lon = 2 * M_PI * s / segments;
            verts.push_back(
                {float(std::sin(lat) * std::cos(lon)), float(std::sin(lat) * std::sin(lon)), float(std::cos(lat))});
        }
    verts.push_back({0, 0, -1});
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s <= segments; ++s) tverts.push_back({float(s) / segments, 1.0f - float(r) / rings, 0});
    auto v = [&](int r, int s) -> uint32_t {
        return r == 0 ? 0 : r == rings ? uint32_t(verts.size() - 1) : uint32_t(1 + (r - 1) * segments + s % segments);
    };
    auto t = [&](int r, int s) { return uint32_t(r * (segments + 1) + s); };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            if (r != rings - 1) {
                faces.push_back({v(r, s), v(r + 1, s), v(r + 1, s + 1)});
                tvfaces.push_back({t(r, s), t(r + 1, s), t(r + 1, s + 1)});
            }
            if (r != 0) {
                faces.push_back({v(r, s), v(r + 1, s + 1), v(r, s + 1)});
                tvfaces.push_back({t(r, s), t(r + 1, s + 1), t(r, s + 1)});
            }
        }
    m.verts = verts;
    m.tverts = tverts;
    m.faces = faces;
    m.tvfaces = tvfaces;
    return m;
}

Matrix3 MatrixOf(const std::array<float, 12>& v) {
    Matrix3 m;
    for (int r = 0; r < 4; ++r) m.row[r] = Point3{v[3 * r], v[3 * r + 1], v[3 * r + 2]};
    return m;
}

Matrix3 Translation(float x, float y, float z) {
    Matrix3 m;
    m.row[3] = Point3{x, y, z};
    return m;
}

Matrix3 Scaling(float x, float y, float z) {
    Matrix3 m;
    m.row[0] = Point3{x, 0, 0};
    m.row[1] = Point3{0, y, 0};
    m.row[2] = Point3{0, 0, z};
    return m;
}

Matrix3 QuarterTurnZ() { return MatrixOf({0, 1, 0, -1, 0, 0, 0, 0, 1, 0, 0, 0}); }

Keyed<Matrix3> KeyedTransform(std::initializer_list<std::pair<TimeValue, Matrix3>> keys) {
    return KeyedTransform(std::vector<std::pair<TimeValue, Matrix3>>(keys));
}

Keyed<Matrix3> KeyedTransform(std::vector<std::pair<TimeValue, Matrix3>> keys) {
    Keyed<Matrix3> keyed;
    for (auto& [time, value] : keys) keyed.keys.push_back({time, value});
    return keyed;
}

MeshData TriangleMesh() {
    MeshData mesh = UntexturedTriangleMesh();
    mesh.tverts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.tvfaces = {{0, 1, 2}};
    return mesh;
}

MeshData UntexturedTriangleMesh() {
    MeshData mesh;
    mesh.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}};
    return mesh;
}

MeshData QuadMesh() {
    MeshData mesh;
    mesh.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}, {0, 2, 3}};
    mesh.tverts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    mesh.tvfaces = mesh.faces;
    return mesh;
}

MeshData Moved(MeshData mesh, float x, float y, float z) {
    for (Point3& p : mesh.verts) p = Point3{p.x + x, p.y + y, p.z + z};
    return mesh;
}

Keyed<MeshData> KeyedMesh(std::vector<std::pair<TimeValue, MeshData>> keys) {
    Keyed<MeshData> keyed;
    for (auto& [time, value] : keys) keyed.keys.push_back({time, std::move(value)});
    return keyed;
}

ObjectData MeshObject(MeshData mesh, ConvertMode convert) {
    return MeshObject(Keyed<MeshData>(std::move(mesh)), convert);
}

ObjectData MeshObject(Keyed<MeshData> mesh, ConvertMode convert) {
    ObjectData object;
    object.kind = ObjectKind::Mesh;
    object.convert = convert;
    object.mesh = std::move(mesh);
    return object;
}

ObjectData ObjectOfKind(ObjectKind kind) {
    ObjectData object;
    object.kind = kind;
    return object;
}

MapData BitmapMap(std::string file) { return MapData{MapKind::Bitmap, std::move(file)}; }

MapData OtherMap() { return MapData{MapKind::Other, {}}; }

MaterialData BitmapMaterial(std::string file) { return StandardMaterial(BitmapMap(std::move(file))); }

MaterialData StandardMaterial(std::optional<MapData> diffuse) {
    return MaterialData{MaterialKind::Standard, std::move(diffuse)};
}

MaterialData OtherMaterial() { return MaterialData{MaterialKind::Other, std::nullopt}; }

NodeData MeshNode(std::string name, MeshData mesh, std::optional<MaterialData> material) {
    return MeshNode(std::move(name), MeshObject(std::move(mesh)), std::move(material));
}

NodeData MeshNode(std::string name, ObjectData object, std::optional<MaterialData> material) {
    NodeData node;
    node.name = std::move(name);
    node.object = std::move(object);
    node.material = std::move(material);
    return node;
}

NodeData NodeOfKind(std::string name, ObjectKind kind) {
    NodeData node;
    node.name = std::move(name);
    node.object = ObjectOfKind(kind);
    return node;
}

NodeData EmptyNode(std::string name, std::vector<NodeData> children) {
    NodeData node;
    node.name = std::move(name);
    node.children = std::move(children);
    return node;
}

NodeData HelperNode(std::string name, std::vector<NodeData> children) {
    NodeData node = NodeOfKind(std::move(name), ObjectKind::Helper);
    node.children = std::move(children);
    return node;
}

NodeData FrameNames(std::vector<NoteKeyData> keys) {
    NodeData node = HelperNode("FrameNames");
    node.noteTracks.push_back(std::move(keys));
    return node;
}

NodeData WithTransform(NodeData node, Keyed<Matrix3> transform) {
    node.transform = std::move(transform);
    return node;
}

NodeData WithChildren(NodeData node, std::vector<NodeData> children) {
    for (NodeData& child : children) node.children.push_back(std::move(child));
    return node;
}

NodeData Hidden(NodeData node) {
    node.hidden = true;
    return node;
}

Color64 Rgba(uint16_t r, uint16_t g, uint16_t b, uint16_t a) { return Color64{r, g, b, a}; }

Picture PlainPicture(uint16_t width, uint16_t height, Color64 colour) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.plain = true;
    picture.fill = colour;
    return picture;
}

Picture PixelPicture(uint16_t width, uint16_t height, std::vector<Color64> pixels) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels = std::move(pixels);
    return picture;
}

SceneDocument Scene(std::vector<NodeData> nodes, int32_t ticksPerFrame, Interval animRange) {
    SceneDocument doc;
    doc.nodes = std::move(nodes);
    doc.ticksPerFrame = ticksPerFrame;
    doc.animRange = animRange;
    return doc;
}

}  // namespace quorvex::testkit
