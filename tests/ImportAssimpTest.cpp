// Files in the formats Assimp reads, written by the tests, imported into the
// stand-in scene.
#include <algorithm>
#include <cmath>

#include "import/Importer.h"
#include "standin/StandinHost.h"
#include "tests/ImportTestSupport.h"

using quorvex::importer::ImportScene;
using quorvex::scene::NodeData;

using namespace importtest;
using quorvex::importer::ImportOptions;
using quorvex::scene::SceneDocument;

namespace {

// A 2 x 1, 24-bit BMP: red, then blue.
std::string TinyBmp() {
    std::string b = "BM";
    auto u32 = [&b](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&b](uint16_t v) {
        b.push_back(static_cast<char>(v & 0xFF));
        b.push_back(static_cast<char>(v >> 8));
    };
    u32(54 + 8);  // file size: headers and one row padded to 8 bytes
    u32(0);
    u32(54);
    u32(40);
    u32(2);
    u32(1);
    u16(1);
    u16(24);
    u32(0);
    u32(8);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    const unsigned char row[8] = {0, 0, 255, 255, 0, 0, 0, 0};  // BGR red, BGR blue, padding
    b.append(reinterpret_cast<const char*>(row), 8);
    return b;
}

// A cube whose faces each have their own texture patch, and a plane without
// texture coordinates. The texture is named with a backslash, as files written
// on Windows have it.
std::string ObjScene(const std::string& dir) {
    std::filesystem::create_directories(dir + "pics");
    WriteFile(dir + "pics/skin.bmp", TinyBmp());
    WriteFile(dir + "scene.mtl",
              "newmtl skin\nKd 1 1 1\nmap_Kd pics\\skin.bmp\n"
              "newmtl plain\nKd 0.5 0.5 0.5\n");
    std::string obj = "mtllib scene.mtl\no Box\n";
    const char* corners[8] = {"0 0 0", "1 0 0", "1 1 0", "0 1 0", "0 0 1", "1 0 1", "1 1 1", "0 1 1"};
    for (const char* c : corners) obj += std::string("v ") + c + "\n";
    const int quads[6][4] = {{1, 4, 3, 2}, {5, 6, 7, 8}, {1, 2, 6, 5}, {3, 4, 8, 7}, {2, 3, 7, 6}, {1, 5, 8, 4}};
    for (int f = 0; f < 6; ++f) {
        obj += "vt " + std::to_string(f / 6.0) + " 0\nvt " + std::to_string((f + 1) / 6.0) + " 0\nvt " +
               std::to_string((f + 1) / 6.0) + " 1\nvt " + std::to_string(f / 6.0) + " 1\n";
    }
    obj += "usemtl skin\n";
    for (int f = 0; f < 6; ++f) {
        obj += "f";
        for (int k = 0; k < 4; ++k) obj += " " + std::to_string(quads[f][k]) + "/" + std::to_string(f * 4 + k + 1);
        obj += "\n";
    }
    obj += "o Plane\nv 0 2 0\nv 1 2 0\nv 1 3 0\nusemtl plain\nf 9 10 11\n";
    WriteFile(dir + "scene.obj", obj);
    return dir + "scene.obj";
}

TEST(ImportAssimp, ObjWithMaterialsTexturesAndSeams) {
    const std::string dir = ScratchDir("obj");
    const std::string path = ObjScene(dir);
    SceneDocument doc;
    std::string error;
    ASSERT_TRUE(ImportScene(path, ImportOptions{}, doc, error)) << error;
    EXPECT_EQ(doc.baseDir, dir);
    EXPECT_EQ(doc.animRange.end, 0);

    const NodeData* box = Find(doc, "Box");
    const NodeData* plane = Find(doc, "Plane");
    ASSERT_TRUE(box && box->object && plane && plane->object);
    const quorvex::scene::MeshData& cube = box->object->mesh.At(0);
    EXPECT_EQ(cube.verts.size(), 8u);  // the seams cost texture vertices only
    EXPECT_EQ(cube.faces.size(), 12u);
    EXPECT_EQ(cube.tvfaces.size(), 12u);
    EXPECT_GT(cube.tverts.size(), 8u);
    ASSERT_TRUE(box->material && box->material->diffuse);
    EXPECT_EQ(box->material->diffuse->file, "pics/skin.bmp");
    quorvex::scene::Picture picture;
    ASSERT_TRUE(quorvex::scene::LoadPictureFile(doc.baseDir + box->material->diffuse->file, picture, error)) << error;
    EXPECT_EQ(picture.width, 2);

    // The untextured plane shows its colour (Kd 0.5) through a swatch.
    const quorvex::scene::MeshData& flat = plane->object->mesh.At(0);
    ASSERT_EQ(flat.tverts.size(), 1u);
    EXPECT_EQ(flat.tverts[0].x, 0.5f);
    ASSERT_TRUE(plane->material && plane->material->diffuse);
    EXPECT_EQ(plane->material->diffuse->file, "colour #808080");
    ASSERT_TRUE(doc.images.count("colour #808080"));
    EXPECT_EQ(doc.images.at("colour #808080").pixels.at(0).g, 32768);

    // OBJ is Y-up: the plane's corner (1,3,0) stands at (1,0,3).
    const auto v = WorldVerts(doc, "Plane", 0);
    ASSERT_EQ(v.size(), 3u);
    bool found = false;
    for (const Point3& p : v) found = found || (p.x == 1 && p.y == 0 && p.z == 3);
    EXPECT_TRUE(found);
    ImportOptions asIs;
    asIs.upFix = false;
    ASSERT_TRUE(ImportScene(path, asIs, doc, error)) << error;
    found = false;
    for (const Point3& p : WorldVerts(doc, "Plane", 0)) found = found || (p.x == 1 && p.y == 3 && p.z == 0);
    EXPECT_TRUE(found);
}

// A COLLADA node moved 3 along x over one second.
std::string DaeScene(const std::string& dir) {
    const std::string dae = R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><unit name="meter" meter="1"/><up_axis>Y_UP</up_axis></asset>
  <library_geometries>
    <geometry id="tri" name="tri"><mesh>
      <source id="tri-pos"><float_array id="tri-pos-a" count="9">0 0 0 1 0 0 0 1 0</float_array>
        <technique_common><accessor source="#tri-pos-a" count="3" stride="3">
          <param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>
        </accessor></technique_common></source>
      <vertices id="tri-v"><input semantic="POSITION" source="#tri-pos"/></vertices>
      <triangles count="1"><input semantic="VERTEX" source="#tri-v" offset="0"/><p>0 1 2</p></triangles>
    </mesh></geometry>
  </library_geometries>
  <library_animations>
    <animation id="slide">
      <source id="slide-in"><float_array id="slide-in-a" count="2">0 1</float_array>
        <technique_common><accessor source="#slide-in-a" count="2" stride="1"><param name="TIME" type="float"/></accessor></technique_common></source>
      <source id="slide-out"><float_array id="slide-out-a" count="2">0 3</float_array>
        <technique_common><accessor source="#slide-out-a" count="2" stride="1"><param name="X" type="float"/></accessor></technique_common></source>
      <source id="slide-interp"><Name_array id="slide-interp-a" count="2">LINEAR LINEAR</Name_array>
        <technique_common><accessor source="#slide-interp-a" count="2" stride="1"><param name="INTERPOLATION" type="name"/></accessor></technique_common></source>
      <sampler id="slide-s">
        <input semantic="INPUT" source="#slide-in"/><input semantic="OUTPUT" source="#slide-out"/>
        <input semantic="INTERPOLATION" source="#slide-interp"/>
      </sampler>
      <channel source="#slide-s" target="Mover/location.X"/>
    </animation>
  </library_animations>
  <library_visual_scenes>
    <visual_scene id="scene" name="scene">
      <node id="Mover" name="Mover" type="NODE">
        <translate sid="location">0 0 0</translate>
        <instance_geometry url="#tri"/>
      </node>
    </visual_scene>
  </library_visual_scenes>
  <scene><instance_visual_scene url="#scene"/></scene>
</COLLADA>
)";
    WriteFile(dir + "slide.dae", dae);
    return dir + "slide.dae";
}

TEST(ImportAssimp, ColladaNodeAnimation) {
    const std::string path = DaeScene(ScratchDir("dae"));
    SceneDocument doc;
    std::string error;
    ImportOptions options;
    options.upFix = false;
    ASSERT_TRUE(ImportScene(path, options, doc, error)) << error;
    EXPECT_EQ(doc.animRange.end, 30 * 160);
    ASSERT_NE(Find(doc, "Mover"), nullptr);
    auto v = WorldVerts(doc, "Mover", 10 * 160);
    ASSERT_EQ(v.size(), 3u);
    ExpectNear(v[0], 1, 0, 0);  // a third of the way
    v = WorldVerts(doc, "Mover", 30 * 160);
    ExpectNear(v[0], 3, 0, 0);
    const NodeData* names = Find(doc, "FrameNames");
    ASSERT_TRUE(names && names->noteTracks.size() == 1 && names->noteTracks[0].size() == 1);
}

// A mesh on the scene's own root, beside cameras and lights, is exported like
// any node's; so is one on a node that also holds a camera.
TEST(ImportAssimp, RootMeshesBesideCamerasAndLightsAreExported) {
    const std::string dir = ScratchDir("dae-root");
    const std::string head =
        "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
        "<asset><up_axis>Y_UP</up_axis></asset>"
        "<library_cameras><camera id=\"cam\"><optics><technique_common><perspective><yfov>45</yfov><znear>0.1</znear>"
        "<zfar>100</zfar></perspective></technique_common></optics></camera></library_cameras>"
        "<library_lights><light id=\"lamp\"><technique_common><point><color>1 1 1</color></point></technique_common>"
        "</light></library_lights><library_geometries><geometry id=\"tri\" name=\"Tri\"><mesh><source id=\"p\">"
        "<float_array id=\"pa\" count=\"9\">0 0 0 1 0 0 0 1 0</float_array><technique_common><accessor source=\"#pa\" "
        "count=\"3\" stride=\"3\"><param name=\"X\" type=\"float\"/><param name=\"Y\" type=\"float\"/><param "
        "name=\"Z\" type=\"float\"/></accessor></technique_common></source><vertices id=\"v\"><input "
        "semantic=\"POSITION\" source=\"#p\"/></vertices><triangles count=\"1\"><input semantic=\"VERTEX\" "
        "source=\"#v\" offset=\"0\"/><p>0 1 2</p></triangles></mesh></geometry></library_geometries>"
        "<library_visual_scenes><visual_scene id=\"Scene\" name=\"Scene\">";
    const std::string tail =
        "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#Scene\"/></scene></COLLADA>";
    const std::string camera = "<node id=\"Cam\" name=\"Cam\"><instance_camera url=\"#cam\"/></node>";
    const std::string light = "<node id=\"Lamp\" name=\"Lamp\"><instance_light url=\"#lamp\"/></node>";
    const struct {
        const char* file;
        std::string scene;
        const char* node;  // the node carrying the mesh
    } cases[] = {
        {"on-root.dae", camera + light + "<instance_geometry url=\"#tri\"/>", "Scene"},
        {"with-camera.dae",
         "<node id=\"Box\" name=\"Box\"><instance_geometry url=\"#tri\"/><instance_camera url=\"#cam\"/></node>",
         "Box"},
        {"beside.dae", camera + "<node id=\"Box\" name=\"Box\"><instance_geometry url=\"#tri\"/>" + light + "</node>",
         "Box"},
    };
    for (const auto& c : cases) {
        WriteFile(dir + c.file, head + c.scene + tail);
        SceneDocument doc;
        std::string error;
        ImportOptions options;
        options.upFix = false;
        ASSERT_TRUE(ImportScene(dir + c.file, options, doc, error)) << error;
        const auto v = WorldVerts(doc, c.node, 0);
        ASSERT_EQ(v.size(), 3u) << c.file;
        ExpectNear(v[1], 1, 0, 0);
    }
}

TEST(ImportAssimp, UnreadableFileNamesTheFile) {
    const std::string dir = ScratchDir("bad");
    WriteFile(dir + "junk.fbx", "this is not a scene");
    SceneDocument doc;
    std::string error;
    EXPECT_FALSE(ImportScene(dir + "junk.fbx", ImportOptions{}, doc, error));
    EXPECT_NE(error.find("junk.fbx"), std::string::npos) << error;
}

// Texture names as Windows tools write them: another letter case, a path that
// climbs out of the model's folder, two spellings of one file, and a picture
// that is not there at all.
TEST(ImportAssimp, ObjTexturesFoundLikeArtistsToolsOrReplacedWithAWarning) {
    const std::string root = ScratchDir("obj-lookup");
    std::filesystem::create_directories(root + "textures");
    std::filesystem::create_directories(root + "model");
    WriteFile(root + "textures/IMAGE1.bmp", TinyBmp());
    WriteFile(root + "model/scene.mtl",
              "newmtl A\nmap_Kd \\..\\textures\\IMAGE1.BMP\n"
              "newmtl B\nmap_Kd ..\\textures\\image1.bmp\n"
              "newmtl Gone\nKd 0 0 1\nmap_Kd lost.png\n");
    std::string obj = "mtllib scene.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n";
    for (const char* m : {"A", "B", "Gone"}) obj += std::string("o ") + m + "\nusemtl " + m + "\nf 1/1 2/2 3/3\n";
    WriteFile(root + "model/scene.obj", obj);

    SceneDocument doc;
    quorvex::importer::ImportNotes notes;
    quorvex::scene::LoadError error;
    ASSERT_TRUE(quorvex::importer::ImportScene(root + "model/scene.obj", ImportOptions{}, doc, notes, error))
        << error.message;
    const NodeData* a = Find(doc, "A");
    const NodeData* b = Find(doc, "B");
    const NodeData* gone = Find(doc, "Gone");
    ASSERT_TRUE(a && b && gone && a->material->diffuse && b->material->diffuse && gone->material->diffuse);
    // One file, one picture: both spellings give the same name, so one skin slot.
    EXPECT_EQ(a->material->diffuse->file, b->material->diffuse->file);
    ASSERT_EQ(doc.images.count(a->material->diffuse->file), 1u);
    EXPECT_EQ(doc.images.at(a->material->diffuse->file).width, 2);
    EXPECT_EQ(gone->material->diffuse->file, "colour #0000ff");
    ASSERT_EQ(notes.warnings.size(), 1u);
    EXPECT_EQ(notes.warnings[0], "mesh \"Gone\" (material \"Gone\"): picture \"lost.png\" not found; using its colour");
}

TEST(ImportAssimp, FilesWithoutTrianglesAreRefusedAndLinesAreLeftOutWithAWarning) {
    const std::string dir = ScratchDir("no-surface");
    WriteFile(dir + "points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\np 1 2 3\n");
    WriteFile(dir + "mixed.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\nf 1 2 3\n");
    SceneDocument doc;
    quorvex::importer::ImportNotes notes;
    quorvex::scene::LoadError error;
    EXPECT_FALSE(quorvex::importer::ImportScene(dir + "points.obj", ImportOptions{}, doc, notes, error));
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::NothingToExport);
    EXPECT_EQ(error.message, dir + "points.obj: no triangles: the file holds only points");
    // A scene of nodes only: Assimp's stand-in skeleton mesh is not exported.
    WriteFile(dir + "empty.dae",
              "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" "
              "version=\"1.4.1\"><library_visual_scenes><visual_scene id=\"s\"><node id=\"E\" name=\"E\"/>"
              "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene></COLLADA>");
    EXPECT_FALSE(quorvex::importer::ImportScene(dir + "empty.dae", ImportOptions{}, doc, notes, error));
    EXPECT_EQ(error.message, dir + "empty.dae: no triangles: the file holds no mesh");

    ASSERT_TRUE(quorvex::importer::ImportScene(dir + "mixed.obj", ImportOptions{}, doc, notes, error)) << error.message;
    ASSERT_FALSE(notes.warnings.empty());
    EXPECT_EQ(notes.warnings[0], "2 lines left out: only triangles are exported");
}

// SMD is Z-up by convention: no turn, unless the user says the file is Y-up.
TEST(ImportAssimp, UpAxisFollowsTheFormatUnlessGiven) {
    const std::string dir = ScratchDir("smd");
    WriteFile(dir + "tall.smd",
              "version 1\nnodes\n0 \"root\" -1\nend\nskeleton\ntime 0\n0 0 0 0 0 0 0\nend\ntriangles\nskin.bmp\n"
              "0 0 0 0 0 0 1 0 0\n0 1 0 0 0 0 1 1 0\n0 0 0 3 0 0 1 0 1\nend\n");
    WriteFile(dir + "skin.bmp", TinyBmp());
    const struct {
        quorvex::importer::UpAxis up;
        float x, y, z;  // where the file's (0, 0, 3) stands
    } cases[] = {{quorvex::importer::UpAxis::AsFile, 0, 0, 3},
                 {quorvex::importer::UpAxis::Z, 0, 0, 3},
                 {quorvex::importer::UpAxis::Y, 0, -3, 0}};
    for (const auto& c : cases) {
        ImportOptions options;
        options.up = c.up;
        SceneDocument doc;
        std::string error;
        ASSERT_TRUE(ImportScene(dir + "tall.smd", options, doc, error)) << error;
        bool found = false;
        for (const NodeData& node : doc.nodes) {
            if (!node.object) continue;
            for (const Point3& p : WorldVerts(doc, node.name, 0)) {
                found = found ||
                        (std::abs(p.x - c.x) < 1e-5f && std::abs(p.y - c.y) < 1e-5f && std::abs(p.z - c.z) < 1e-5f);
            }
        }
        EXPECT_TRUE(found) << static_cast<int>(c.up);
    }
}

// A COLLADA chain far deeper than the main stack allows Assimp to read, each
// level one unit above its parent: the levels keep their order and the leaf
// its place.
TEST(ImportAssimp, DeepHierarchies) {
    constexpr int kDepth = 20000;
    const std::string dir = ScratchDir("deep");
    std::string dae =
        "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
        "<asset><up_axis>Z_UP</up_axis></asset><library_geometries><geometry id=\"g\"><mesh>"
        "<source id=\"p\"><float_array id=\"pa\" count=\"9\">0 0 0 1 0 0 0 1 0</float_array><technique_common>"
        "<accessor source=\"#pa\" count=\"3\" stride=\"3\"><param name=\"X\" type=\"float\"/>"
        "<param name=\"Y\" type=\"float\"/><param name=\"Z\" type=\"float\"/></accessor></technique_common></source>"
        "<vertices id=\"v\"><input semantic=\"POSITION\" source=\"#p\"/></vertices><triangles count=\"1\">"
        "<input semantic=\"VERTEX\" source=\"#v\" offset=\"0\"/><p>0 1 2</p></triangles></mesh></geometry>"
        "</library_geometries><library_visual_scenes><visual_scene id=\"s\">";
    for (int i = 0; i < kDepth; ++i) dae += "<node id=\"n" + std::to_string(i) + "\"><translate>0 0 1</translate>";
    dae += "<instance_geometry url=\"#g\"/>";
    for (int i = 0; i < kDepth; ++i) dae += "</node>";
    dae += "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene></COLLADA>";
    WriteFile(dir + "deep.dae", dae);

    SceneDocument doc;
    std::string error;
    ASSERT_TRUE(ImportScene(dir + "deep.dae", ImportOptions{}, doc, error)) << error;
    // Down the first children from the root Assimp adds for the scene.
    ASSERT_FALSE(doc.nodes.empty());
    const NodeData* node = &doc.nodes.front();
    Matrix3 world = node->transform.At(0);
    for (int level = node->name == "n0" ? 1 : 0; level < kDepth; ++level) {
        ASSERT_FALSE(node->children.empty()) << level;
        node = &node->children.front();
        ASSERT_EQ(node->name, "n" + std::to_string(level));
        world = Mul(node->transform.At(0), world);
    }
    // The mesh hangs from the deepest node, as its own child or on the node.
    if (!node->object && !node->children.empty()) {
        node = &node->children.front();
        world = Mul(node->transform.At(0), world);
    }
    ASSERT_TRUE(node->object);
    ExpectNear(Apply(node->object->mesh.At(0).verts.at(0), world), 0, 0, kDepth);
}

// tinygltf reads only glTF 2.0; a 1.0 file goes to Assimp. Its buffer may be
// embedded, or a file beside it named as on the artist's machine. Assimp
// leaves out its animations, which is said.
TEST(ImportAssimp, Gltf1IsReadThroughAssimp) {
    const std::string dir = ScratchDir("gltf1");
    std::string data;
    for (float f : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f}) data.append(reinterpret_cast<const char*>(&f), 4);
    for (uint16_t i : {0, 1, 2}) data.append(reinterpret_cast<const char*>(&i), 2);
    WriteFile(dir + "old.bin", data);
    for (const std::string& uri :
         {"data:application/octet-stream;base64," + Base64(data), std::string("/home/artist/OLD.BIN")}) {
        const nlohmann::json gltf = {
            {"asset", {{"version", "1.0"}}},
            {"scene", "s"},
            {"scenes", {{"s", {{"nodes", {"n"}}}}}},
            {"nodes", {{"n", {{"name", "Tri"}, {"meshes", {"m"}}}}}},
            {"meshes",
             {{"m",
               {{"primitives",
                 {{{"attributes", {{"POSITION", "p"}}}, {"indices", "i"}, {"mode", 4}, {"material", "green"}}}}}}}},
            {"accessors",
             {{"p", {{"bufferView", "vp"}, {"byteOffset", 0}, {"componentType", 5126}, {"count", 3}, {"type", "VEC3"}}},
              {"i",
               {{"bufferView", "vi"}, {"byteOffset", 0}, {"componentType", 5123}, {"count", 3}, {"type", "SCALAR"}}}}},
            {"bufferViews",
             {{"vp", {{"buffer", "b"}, {"byteOffset", 0}, {"byteLength", 36}, {"target", 34962}}},
              {"vi", {{"buffer", "b"}, {"byteOffset", 36}, {"byteLength", 6}, {"target", 34963}}}}},
            {"buffers", {{"b", {{"uri", uri}, {"byteLength", 42}}}}},
            {"materials", {{"green", {{"values", {{"diffuse", {0, 1, 0, 1}}}}}}}},
            {"animations", {{"spin", nlohmann::json::object()}}}};
        WriteFile(dir + "old.gltf", gltf.dump());
        SceneDocument doc;
        quorvex::importer::ImportNotes notes;
        quorvex::scene::LoadError error;
        ASSERT_TRUE(quorvex::importer::ImportScene(dir + "old.gltf", ImportOptions{}, doc, notes, error))
            << uri << ": " << error.message;
        EXPECT_NE(std::find(notes.warnings.begin(), notes.warnings.end(),
                            "glTF 1.0: 1 animation left out: they are not read from 1.0 files; the meshes are exported "
                            "as they stand"),
                  notes.warnings.end());
        size_t triangles = 0;
        std::string swatch;
        for (const NodeData& node : doc.nodes) {
            if (node.object) triangles += node.object->mesh.At(0).faces.size();
            if (node.material && node.material->diffuse) swatch = node.material->diffuse->file;
        }
        EXPECT_EQ(triangles, 1u) << uri;
        EXPECT_EQ(swatch, "colour #00ff00") << uri;
    }
}

}  // namespace
