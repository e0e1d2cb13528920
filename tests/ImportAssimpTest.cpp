// Files in the formats Assimp reads, written by the tests, imported into the
// stand-in scene.
#include "import/Importer.h"
#include "standin/StandinHost.h"
#include "tests/ImportTestSupport.h"

using namespace importtest;
using standin::ImportOptions;
using standin::SceneDocument;

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
    const standin::MeshData& cube = box->object->mesh.At(0);
    EXPECT_EQ(cube.verts.size(), 8u);  // the seams cost texture vertices only
    EXPECT_EQ(cube.faces.size(), 12u);
    EXPECT_EQ(cube.tvfaces.size(), 12u);
    EXPECT_GT(cube.tverts.size(), 8u);
    ASSERT_TRUE(box->material && box->material->diffuse);
    EXPECT_EQ(box->material->diffuse->file, "pics/skin.bmp");
    standin::Picture picture;
    ASSERT_TRUE(standin::LoadPictureFile(doc.baseDir + box->material->diffuse->file, picture, error)) << error;
    EXPECT_EQ(picture.width, 2);

    // The untextured plane shows its colour (Kd 0.5) through a swatch.
    const standin::MeshData& flat = plane->object->mesh.At(0);
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

TEST(ImportAssimp, UnreadableFileNamesTheFile) {
    const std::string dir = ScratchDir("bad");
    WriteFile(dir + "junk.fbx", "this is not a scene");
    SceneDocument doc;
    std::string error;
    EXPECT_FALSE(ImportScene(dir + "junk.fbx", ImportOptions{}, doc, error));
    EXPECT_NE(error.find("junk.fbx"), std::string::npos) << error;
}

}  // namespace
