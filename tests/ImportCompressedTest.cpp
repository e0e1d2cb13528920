// Compressed glTF files (Draco primitives, meshopt buffer views, quantized
// attributes) made here with the compression libraries' own encoders, or by
// the packing tools where installed, imported and compared triangle by
// triangle with the same scene uncompressed.
#include <draco/compression/encode.h>
#include <draco/mesh/triangle_soup_mesh_builder.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <cstdlib>

#include "tests/CliRunner.h"
#include "tests/ImportTestSupport.h"

using quorvex::importer::ImportScene;
using quorvex::scene::NodeData;
using quorvex::scene::SceneDocument;

using namespace importtest;
using quorvex::importer::ImportOptions;
using json = nlohmann::json;

namespace {

using Triangle3 = std::array<Point3, 3>;

bool Before(const Point3& a, const Point3& b) { return a.x != b.x ? a.x < b.x : a.y != b.y ? a.y < b.y : a.z < b.z; }

// Every triangle of the scene in world space at time t, each turned to start
// at its smallest corner (its winding kept), in sorted order: equal for two
// files holding the same surface whatever their vertex and triangle order.
std::vector<Triangle3> WorldTriangles(const SceneDocument& doc, TimeValue t) {
    std::vector<Triangle3> out;
    std::vector<std::pair<const NodeData*, Matrix3>> pending;
    for (const NodeData& n : doc.nodes) pending.push_back({&n, n.transform.At(t)});
    while (!pending.empty()) {
        const auto [node, world] = pending.back();
        pending.pop_back();
        for (const NodeData& c : node->children) pending.push_back({&c, Mul(c.transform.At(t), world)});
        if (!node->object || node->object->kind != quorvex::scene::ObjectKind::Mesh) continue;
        const quorvex::scene::MeshData& mesh = node->object->mesh.At(t);
        for (const auto& f : mesh.faces.Items()) {
            Triangle3 tri{Apply(mesh.verts[f[0]], world), Apply(mesh.verts[f[1]], world),
                          Apply(mesh.verts[f[2]], world)};
            while (Before(tri[1], tri[0]) || Before(tri[2], tri[0]))
                std::rotate(tri.begin(), tri.begin() + 1, tri.end());
            out.push_back(tri);
        }
    }
    std::sort(out.begin(), out.end(), [](const Triangle3& a, const Triangle3& b) {
        for (int k = 0; k < 3; ++k) {
            if (Before(a[k], b[k])) return true;
            if (Before(b[k], a[k])) return false;
        }
        return false;
    });
    return out;
}

void ExpectSameSurface(const std::string& packed, const std::string& plain, float tol,
                       const std::vector<TimeValue>& times = {0}) {
    SceneDocument a, b;
    std::string error;
    ASSERT_TRUE(ImportScene(packed, ImportOptions{}, a, error)) << error;
    ASSERT_TRUE(ImportScene(plain, ImportOptions{}, b, error)) << error;
    for (TimeValue t : times) {
        const auto got = WorldTriangles(a, t), want = WorldTriangles(b, t);
        ASSERT_EQ(got.size(), want.size()) << packed << " at " << t;
        ASSERT_FALSE(got.empty());
        for (size_t i = 0; i < got.size(); ++i) {
            for (int k = 0; k < 3; ++k) ExpectNear(got[i][k], want[i][k].x, want[i][k].y, want[i][k].z, tol);
        }
    }
}

// A strip of quads, 2 x 5 vertices, every coordinate a multiple of 1/4.
std::vector<float> StripPositions() {
    std::vector<float> p;
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 2; ++j) p.insert(p.end(), {i * 1.0f, j * 1.5f, i * 0.25f});
    }
    return p;
}

std::vector<uint16_t> StripIndices() {
    std::vector<uint16_t> idx;
    for (uint16_t i = 0; i < 4; ++i) {
        const uint16_t a = i * 2;
        idx.insert(idx.end(), {a, uint16_t(a + 2), uint16_t(a + 1), uint16_t(a + 1), uint16_t(a + 2), uint16_t(a + 3)});
    }
    return idx;
}

template <typename T>
std::string Bytes(const std::vector<T>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// The .glb container of `doc` with `bin` as its binary chunk (buffer 0).
std::string Glb(json doc, std::string bin) {
    doc["buffers"][0] = {{"byteLength", bin.size()}};
    std::string text = doc.dump();
    while (text.size() % 4) text += ' ';
    while (bin.size() % 4) bin += '\0';
    return "glTF" + Le32(2) + Le32(static_cast<uint32_t>(28 + text.size() + bin.size())) + Le32(text.size()) + "JSON" +
           text + Le32(bin.size()) + std::string("BIN\0", 4) + bin;
}

// The strip with texture coordinates as normalised 16-bit integers and a
// rotation animation as normalised 16-bit quaternions (KHR_mesh_quantization,
// as packing tools write them), each view meshopt-compressed or plain.
struct MeshoptScene {
    json doc = {{"asset", {{"version", "2.0"}}}};
    std::string packed, plain;  // buffer 0 of the packed file, of the plain one

    // One view: plain holds `raw`; packed holds it encoded, the view itself
    // pointing into the fallback buffer 1.
    int View(const std::string& raw, const std::string& encodedRaw, size_t stride, size_t count, const char* mode,
             const char* filter) {
        std::vector<unsigned char> enc;
        const auto* src = reinterpret_cast<const unsigned char*>(encodedRaw.data());
        if (std::string(mode) == "ATTRIBUTES") {
            enc.resize(meshopt_encodeVertexBufferBound(count, stride));
            enc.resize(meshopt_encodeVertexBuffer(enc.data(), enc.size(), src, count, stride));
        } else {
            std::vector<uint32_t> idx(count);
            for (size_t i = 0; i < count; ++i) {
                idx[i] =
                    stride == 2 ? reinterpret_cast<const uint16_t*>(src)[i] : reinterpret_cast<const uint32_t*>(src)[i];
            }
            const bool tri = std::string(mode) == "TRIANGLES";
            enc.resize(tri ? meshopt_encodeIndexBufferBound(count, 64) : meshopt_encodeIndexSequenceBound(count, 64));
            enc.resize(tri ? meshopt_encodeIndexBuffer(enc.data(), enc.size(), idx.data(), count)
                           : meshopt_encodeIndexSequence(enc.data(), enc.size(), idx.data(), count));
        }
        while (packed.size() % 4) packed += '\0';
        json ext = {{"buffer", 0},
                    {"byteOffset", packed.size()},
                    {"byteLength", enc.size()},
                    {"byteStride", stride},
                    {"count", count},
                    {"mode", mode}};
        if (filter) ext["filter"] = filter;
        packed.append(enc.begin(), enc.end());
        while (plain.size() % 4) plain += '\0';
        json view = {{"buffer", 0}, {"byteOffset", plain.size()}, {"byteLength", raw.size()}};
        if (std::string(mode) == "ATTRIBUTES") view["byteStride"] = stride;
        view["extensions"]["EXT_meshopt_compression"] = ext;
        plain += raw;
        doc["bufferViews"].push_back(view);
        return static_cast<int>(doc["bufferViews"].size()) - 1;
    }

    int Accessor(int view, int componentType, size_t count, const char* type, bool normalized = false) {
        json acc = {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}};
        if (normalized) acc["normalized"] = true;
        doc["accessors"].push_back(acc);
        return static_cast<int>(doc["accessors"].size()) - 1;
    }

    void Build(const char* indexMode, size_t indexStride) {
        const std::vector<float> pos = StripPositions();
        std::vector<unsigned char> expPos(pos.size() * 4);
        meshopt_encodeFilterExp(expPos.data(), pos.size() / 3, 12, 24, pos.data());
        std::vector<uint16_t> uv;
        for (int i = 0; i < 10; ++i) uv.insert(uv.end(), {uint16_t(i / 2 * 16383), uint16_t(i % 2 * 65535)});
        std::vector<int8_t> normals;
        for (int i = 0; i < 10; ++i) normals.insert(normals.end(), {0, 0, 127, 0});
        std::vector<float> unitZ(10 * 4, 0.0f);
        for (int i = 0; i < 10; ++i) unitZ[i * 4 + 2] = 1.0f;
        std::vector<unsigned char> octNormals(10 * 4);
        meshopt_encodeFilterOct(octNormals.data(), 10, 4, 8, unitZ.data());
        const std::vector<uint16_t> idx16 = StripIndices();
        const std::vector<uint32_t> idx32(idx16.begin(), idx16.end());
        const std::string idx = indexStride == 2 ? Bytes(idx16) : Bytes(idx32);
        // The plain file holds what the filters give back, so both files hold
        // the same numbers.
        std::vector<float> posBack(pos.size());
        std::memcpy(posBack.data(), expPos.data(), expPos.size());
        meshopt_decodeFilterExp(posBack.data(), pos.size() / 3, 12);
        const std::vector<float> turn = {0, 0, 0, 1, 0, 0, 0.38268343f, 0.92387953f};
        std::vector<unsigned char> quat(2 * 8);
        meshopt_encodeFilterQuat(quat.data(), 2, 8, 16, turn.data());
        std::vector<int16_t> quatBack(8);
        std::memcpy(quatBack.data(), quat.data(), quat.size());
        meshopt_decodeFilterQuat(quatBack.data(), 2, 8);
        const std::vector<float> times = {0, 1};

        const int p = Accessor(
            View(Bytes(posBack), std::string(expPos.begin(), expPos.end()), 12, 10, "ATTRIBUTES", "EXPONENTIAL"), 5126,
            10, "VEC3");
        doc["accessors"][p]["min"] = {0, 0, 0};
        doc["accessors"][p]["max"] = {4, 1.5, 1};
        const int t = Accessor(View(Bytes(uv), Bytes(uv), 4, 10, "ATTRIBUTES", nullptr), 5123, 10, "VEC2", true);
        const int n = Accessor(
            View(Bytes(normals), std::string(octNormals.begin(), octNormals.end()), 4, 10, "ATTRIBUTES", "OCTAHEDRAL"),
            5120, 10, "VEC3", true);
        const int i = Accessor(View(idx, idx, indexStride, idx16.size(), indexMode, nullptr),
                               indexStride == 2 ? 5123 : 5125, idx16.size(), "SCALAR");
        const int k = Accessor(View(Bytes(times), Bytes(times), 4, 2, "ATTRIBUTES", nullptr), 5126, 2, "SCALAR");
        doc["accessors"][k]["min"] = {0};
        doc["accessors"][k]["max"] = {1};
        const int q =
            Accessor(View(Bytes(quatBack), std::string(quat.begin(), quat.end()), 8, 2, "ATTRIBUTES", "QUATERNION"),
                     5122, 2, "VEC4", true);
        const json prim = {{"attributes", {{"POSITION", p}, {"TEXCOORD_0", t}, {"NORMAL", n}}}, {"indices", i}};
        doc["meshes"] = json::array({{{"primitives", json::array({prim})}}});
        doc["nodes"] = json::array({{{"name", "Strip"}, {"mesh", 0}, {"translation", {1, 2, 3}}}});
        doc["scenes"] = json::array({{{"nodes", {0}}}});
        const json sampler = {{"input", k}, {"output", q}};
        const json channel = {{"sampler", 0}, {"target", {{"node", 0}, {"path", "rotation"}}}};
        doc["animations"] = json::array({{{"samplers", json::array({sampler})}, {"channels", json::array({channel})}}});
        doc["extensionsUsed"] = {"EXT_meshopt_compression", "KHR_mesh_quantization"};
        doc["extensionsRequired"] = {"EXT_meshopt_compression", "KHR_mesh_quantization"};
    }

    // The plain file: the same views without the extension, in one buffer.
    std::string WritePlain(const std::string& path) const {
        json d = doc;
        for (auto& v : d["bufferViews"]) v.erase("extensions");
        d["extensionsUsed"] = {"KHR_mesh_quantization"};
        d["extensionsRequired"] = {"KHR_mesh_quantization"};
        d["buffers"] = {
            {{"byteLength", plain.size()}, {"uri", "data:application/octet-stream;base64," + Base64(plain)}}};
        WriteFile(path, d.dump());
        return path;
    }

    // The packed file: buffer 0 the encoded data, buffer 1 the fallback that
    // holds nothing (as packing tools write it).
    std::string WritePacked(const std::string& path, bool glb, const char* name = "EXT_meshopt_compression") const {
        json d = doc;
        for (auto& v : d["bufferViews"]) {
            v["buffer"] = 1;
            v["extensions"] = {{name, v["extensions"]["EXT_meshopt_compression"]}};
        }
        d["extensionsUsed"][0] = name;
        d["extensionsRequired"][0] = name;
        const json fallback = {{"byteLength", plain.size()}, {"extensions", {{name, {{"fallback", true}}}}}};
        if (glb) {
            d["buffers"] = {json::object(), fallback};
            WriteFile(path, Glb(d, packed));
        } else {
            d["buffers"] = {
                {{"byteLength", packed.size()}, {"uri", "data:application/octet-stream;base64," + Base64(packed)}},
                fallback};
            WriteFile(path, d.dump());
        }
        return path;
    }
};

TEST(ImportCompressed, MeshoptViewsDecodeToTheSceneTheyCompress) {
    const std::string dir = ScratchDir("meshopt");
    const struct {
        const char* indexMode;
        size_t indexStride;
        bool glb;
        const char* name;
    } cases[] = {{"TRIANGLES", 2, true, "EXT_meshopt_compression"},
                 {"INDICES", 4, false, "EXT_meshopt_compression"},
                 {"TRIANGLES", 4, false, "MESHOPT_compression"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.indexMode) + " " + c.name);
        MeshoptScene s;
        s.Build(c.indexMode, c.indexStride);
        const std::string packed = s.WritePacked(dir + (c.glb ? "packed.glb" : "packed.gltf"), c.glb, c.name);
        ExpectSameSurface(packed, s.WritePlain(dir + "plain.gltf"), 1e-6f, {0, 2400, 4800});
    }
}

// The Draco strip: positions and texture coordinates compressed, accessors
// without views, as compressing tools write them.
std::string WriteDracoStrip(const std::string& path, int positionBits) {
    const std::vector<float> pos = StripPositions();
    const std::vector<uint16_t> idx = StripIndices();
    draco::TriangleSoupMeshBuilder builder;
    builder.Start(static_cast<int>(idx.size() / 3));
    const int p = builder.AddAttribute(draco::GeometryAttribute::POSITION, 3, draco::DT_FLOAT32);
    const int t = builder.AddAttribute(draco::GeometryAttribute::TEX_COORD, 2, draco::DT_FLOAT32);
    for (size_t f = 0; f < idx.size() / 3; ++f) {
        const float* v[3];
        float uv[3][2];
        for (int k = 0; k < 3; ++k) {
            v[k] = &pos[idx[f * 3 + k] * 3];
            uv[k][0] = v[k][0] / 4;
            uv[k][1] = v[k][1] / 1.5f;
        }
        builder.SetAttributeValuesForFace(p, draco::FaceIndex(static_cast<uint32_t>(f)), v[0], v[1], v[2]);
        builder.SetAttributeValuesForFace(t, draco::FaceIndex(static_cast<uint32_t>(f)), uv[0], uv[1], uv[2]);
    }
    const std::unique_ptr<draco::Mesh> mesh = builder.Finalize();
    draco::Encoder encoder;
    if (positionBits > 0) encoder.SetAttributeQuantization(draco::GeometryAttribute::POSITION, positionBits);
    draco::EncoderBuffer stream;
    EXPECT_TRUE(encoder.EncodeMeshToBuffer(*mesh, &stream).ok());
    const std::string bytes(stream.data(), stream.size());

    json doc = {{"asset", {{"version", "2.0"}}}, {"extensionsUsed", {"KHR_draco_mesh_compression"}}};
    doc["extensionsRequired"] = doc["extensionsUsed"];
    doc["buffers"] =
        json::array({{{"byteLength", bytes.size()}, {"uri", "data:application/octet-stream;base64," + Base64(bytes)}}});
    doc["bufferViews"] = json::array({{{"buffer", 0}, {"byteLength", bytes.size()}}});
    doc["accessors"] = {
        {{"componentType", 5126}, {"count", 10}, {"type", "VEC3"}, {"min", {0, 0, 0}}, {"max", {4, 1.5, 1}}},
        {{"componentType", 5126}, {"count", 10}, {"type", "VEC2"}},
        {{"componentType", 5123}, {"count", idx.size()}, {"type", "SCALAR"}}};
    const json ext = {
        {"bufferView", 0},
        {"attributes",
         {{"POSITION", mesh->attribute(p)->unique_id()}, {"TEXCOORD_0", mesh->attribute(t)->unique_id()}}}};
    const json prim = {{"attributes", {{"POSITION", 0}, {"TEXCOORD_0", 1}}},
                       {"indices", 2},
                       {"extensions", {{"KHR_draco_mesh_compression", ext}}}};
    doc["meshes"] = json::array({{{"primitives", json::array({prim})}}});
    doc["nodes"] = json::array({{{"name", "Strip"}, {"mesh", 0}, {"translation", {1, 2, 3}}}});
    WriteFile(path, doc.dump());
    return path;
}

TEST(ImportCompressed, DracoPrimitivesDecodeToTheSceneTheyCompress) {
    const std::string dir = ScratchDir("draco");
    GltfBuilder plain;
    const int p = plain.Floats(StripPositions(), "VEC3");
    const int i = plain.Indices(StripIndices());
    const json prim = {{"attributes", {{"POSITION", p}}}, {"indices", i}};
    plain.Add("meshes", {{"primitives", json::array({prim})}});
    plain.Add("nodes", {{"name", "Strip"}, {"mesh", 0}, {"translation", {1, 2, 3}}});
    plain.Write(dir + "plain.gltf");
    // Lossless, then positions quantized to 11 bits over the 4-unit span.
    ExpectSameSurface(WriteDracoStrip(dir + "lossless.gltf", -1), dir + "plain.gltf", 1e-6f);
    ExpectSameSurface(WriteDracoStrip(dir + "quantized.gltf", 11), dir + "plain.gltf", 4.0f / 2047);

    // Every corner keeps its texture coordinate: u = x / 4, v = 1 - y / 1.5
    // (glTF's v runs down).
    SceneDocument doc;
    std::string error;
    ImportOptions keepCoordinates;
    keepCoordinates.swatches = false;
    ASSERT_TRUE(ImportScene(dir + "lossless.gltf", keepCoordinates, doc, error)) << error;
    const quorvex::scene::MeshData& mesh = Find(doc, "Strip")->object->mesh.At(0);
    ASSERT_EQ(mesh.tvfaces.size(), mesh.faces.size());
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            const Point3& p = mesh.verts[mesh.faces[f][k]];
            const Point3& uv = mesh.tverts[mesh.tvfaces[f][k]];
            EXPECT_NEAR(uv.x, p.x / 4, 1e-6);
            EXPECT_NEAR(uv.y, 1 - p.y / 1.5, 1e-6);
        }
    }
}

// Damaged or inconsistent compressed data is refused naming the place.
TEST(ImportCompressed, DamagedStreamsAreRefusedNamingThePlace) {
    const std::string dir = ScratchDir("damaged");
    MeshoptScene s;
    s.Build("TRIANGLES", 2);
    const struct {
        const char* field;
        json value;
        const char* message;
    } meshopt[] = {
        {"byteLength", 3, "bufferViews[0]: EXT_meshopt_compression data cannot be decoded"},
        {"byteOffset", 1 << 20, "bufferViews[0]: EXT_meshopt_compression data beyond its buffer"},
        {"byteStride", 6, "bufferViews[0]: EXT_meshopt_compression byteStride 6 does not fit mode ATTRIBUTES"},
        {"filter", "QUATERNION", "bufferViews[0]: EXT_meshopt_compression filter \"QUATERNION\" does not fit"},
        {"mode", "POINTS", "bufferViews[0]: EXT_meshopt_compression unknown mode \"POINTS\""},
        {"count", 1 << 30, "bufferViews[0]: EXT_meshopt_compression decodes to more than the limit"},
    };
    SceneDocument doc;
    std::string error;
    for (const auto& c : meshopt) {
        MeshoptScene broken = s;
        broken.doc["bufferViews"][0]["extensions"]["EXT_meshopt_compression"][c.field] = c.value;
        EXPECT_FALSE(ImportScene(broken.WritePacked(dir + "broken.glb", true), ImportOptions{}, doc, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // The standard extension's newer encodings are not read: refused by name.
    EXPECT_FALSE(
        ImportScene(s.WritePacked(dir + "khr.glb", true, "KHR_meshopt_compression"), ImportOptions{}, doc, error));
    EXPECT_NE(error.find("compressed with KHR_meshopt_compression, which this build does not decode"),
              std::string::npos)
        << error;

    // A Draco stream cut short, and an attribute id it does not hold.
    json draco = json::parse(ReadWholeFile(WriteDracoStrip(dir + "draco.gltf", 11)));
    json cut = draco;
    cut["bufferViews"][0]["byteLength"] = 20;
    WriteFile(dir + "cut.gltf", cut.dump());
    EXPECT_FALSE(ImportScene(dir + "cut.gltf", ImportOptions{}, doc, error));
    EXPECT_NE(error.find("cut.gltf: meshes[0].primitives[0]: Draco data cannot be decoded"), std::string::npos)
        << error;
    draco["meshes"][0]["primitives"][0]["extensions"]["KHR_draco_mesh_compression"]["attributes"]["POSITION"] = 9;
    WriteFile(dir + "missing.gltf", draco.dump());
    EXPECT_FALSE(ImportScene(dir + "missing.gltf", ImportOptions{}, doc, error));
    EXPECT_NE(error.find("meshes[0].primitives[0].extensions.KHR_draco_mesh_compression.attributes.POSITION: no such "
                         "attribute in the Draco data"),
              std::string::npos)
        << error;
}

// The packing tools users compress with, where installed (they must be in CI).
bool HaveTool(const char* name) {
    const bool found = std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
    const char* ci = std::getenv("CI");
    if (!found && ci && std::string(ci) == "true") ADD_FAILURE() << name << " is not installed (scripts/setup.sh)";
    return found;
}

TEST(ImportCompressed, FilesPackedByTheToolsExportTheTrianglesOfTheirSources) {
    const std::string dir = ScratchDir("tools");
    GltfBuilder b;
    std::vector<float> uv;
    const std::vector<float> pos = StripPositions();
    for (size_t v = 0; v < pos.size() / 3; ++v) uv.insert(uv.end(), {pos[v * 3] / 4, pos[v * 3 + 1] / 1.5f});
    const int p = b.Floats(pos, "VEC3"), t = b.Floats(uv, "VEC2"), i = b.Indices(StripIndices());
    const json prim = {{"attributes", {{"POSITION", p}, {"TEXCOORD_0", t}}}, {"indices", i}};
    b.Add("meshes", {{"primitives", json::array({prim})}});
    b.Add("nodes", {{"name", "Strip"}, {"mesh", 0}, {"translation", {1, 2, 3}}});
    b.Add("scenes", {{"nodes", {0}}});
    const std::string source = b.Write(dir + "source.gltf");
    // The skinned, animated robot too, compared at frames 0, 20 and 40 (the
    // compressor keeps its animation as it is).
    const std::string robot = std::string(QUORVEX_SOURCE_DIR) + "/examples/robot/robot.gltf";
    const struct {
        const char* tool;
        std::string args;
        const char* out;
        std::string source;
        float tol;  // the tool's default quantization
        std::vector<TimeValue> times;
    } cases[] = {
        {"gltfpack", "-c -i " + source + " -o " + dir + "c.glb", "c.glb", source, 4.0f / 16383, {0}},
        {"gltfpack", "-cc -i " + source + " -o " + dir + "cc.gltf", "cc.gltf", source, 4.0f / 16383, {0}},
        {"draco_transcoder", "-i " + source + " -o " + dir + "draco.gltf", "draco.gltf", source, 4.0f / 2047, {0}},
        {"draco_transcoder",
         "-i " + robot + " -o " + dir + "robot.gltf",
         "robot.gltf",
         robot,
         0.01f,
         {0, 20 * 160, 40 * 160}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        if (!HaveTool(c.tool)) continue;
        const std::string command = std::string(c.tool) + " " + c.args + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const std::string made = ReadWholeFile(dir + c.out);
        EXPECT_TRUE(made.find("meshopt_compression") != std::string::npos ||
                    made.find("KHR_draco_mesh_compression") != std::string::npos)
            << "the tool wrote no compressed file";
        ExpectSameSurface(dir + c.out, c.source, c.tol, c.times);
    }
}

}  // namespace
