// Files from anywhere: a reader that crashes ends as a refusal in our words,
// and under --secure nothing outside the model's folder is read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "import/Importer.h"
#include "scene/FolderCheck.h"
#include "tests/CliRunner.h"
#include "tests/ImportTestSupport.h"
#include "tests/StbImageWrite.h"

using namespace importtest;

namespace {

void WriteBmp(const std::string& path) {
    const unsigned char pixels[4 * 3] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    ASSERT_TRUE(stbi_write_bmp(path.c_str(), 2, 2, 3, pixels));
}

const char* kTriangleObj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nusemtl skin\nf 1/1 2/2 3/3\n";

// One textured triangle; `buffer` and `image` are the URIs as written.
std::string Gltf(const std::string& buffer, const std::string& image) {
    return R"({"asset":{"version":"2.0"},"buffers":[{"uri":")" + buffer +
           R"(","byteLength":60}],
  "bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":24}],
  "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},
               {"bufferView":1,"componentType":5126,"count":3,"type":"VEC2"}],
  "images":[{"uri":")" +
           image +
           R"("}],"textures":[{"source":0}],
  "materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],
  "meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"material":0}]}],
  "nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
}

std::string TriangleBuffer() {
    const float values[15] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1};
    return std::string(reinterpret_cast<const char*>(values), sizeof values);
}

bool Mentions(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

}  // namespace

TEST(UntrustedInput, ACrashingReaderAndEmptyFilesAreRefusedInOurWords) {
    const std::string dir = ScratchDir("untrusted-cli");
    std::filesystem::create_directories(dir + "crash");
    // Found by fuzzing: a material setting before any material, in a library
    // that is the model itself.
    WriteFile(dir + "crash/in.obj",
              ReadWholeFile(QUORVEX_SOURCE_DIR "/fuzz/regressions/obj/material-before-newmtl-in-own-library.obj"));
    WriteFile(dir + "walk.bvh",
              "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 3 Xposition Yposition Zposition\n End Site\n {\n"
              "  OFFSET 0 1 0\n }\n}\nMOTION\nFrames: 2\nFrame Time: 0.1\n0 0 0\n1 0 0\n");
    WriteFile(dir + "cloud.ply",
              "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\nproperty float z\n"
              "end_header\n0 0 0\n1 0 0\n0 1 0\n");
    struct Case {
        std::string file;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"crash/in.obj", 2, "the reader for this format failed (segmentation fault); nothing was written"},
        {"walk.bvh", 1, "no mesh: the file holds only a skeleton and its motion"},
        {"cloud.ply", 1, "no triangles: the file holds only points"},
        {"missing.fbx", 2, "cannot read the file: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const CliResult run =
            RunQuorvex("export " + ShellQuote(dir + c.file) + " -o " + ShellQuote(dir + "out.mdl") + " -q", dir);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "quorvex export: " + dir + c.file + ": " + c.message + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir + "out.mdl"));
    }
}

TEST(UntrustedInput, FolderCheckResolvesDotsAndLinks) {
    const std::string dir = ScratchDir("folder-check");
    std::filesystem::create_directories(dir + "model/sub");
    std::filesystem::create_symlink(dir, dir + "model/up");
    struct Case {
        std::string file;
        bool inside;
    };
    const std::vector<Case> cases = {
        {dir + "model/a.png", true},
        {dir + "model/sub/../a.png", true},
        {dir + "model/../a.png", false},
        {dir + "model/up/a.png", false},
        {"/etc/passwd", false},
        {dir + "model", false},
        {dir + "model/sub/x/y.png", true},  // judged by the folder it would be in
    };
    for (const Case& c : cases) EXPECT_EQ(quorvex::scene::LiesInside(c.file, dir + "model/"), c.inside) << c.file;
}

// Each model names one file outside its folder; with --secure it is not
// read and a warning (or, for a buffer, the refusal) names it, without the
// file reads as before.
TEST(UntrustedInput, SecureReadsNothingOutsideTheModelsFolder) {
    const std::string dir = ScratchDir("secure");
    const std::string in = dir + "model/";
    std::filesystem::create_directories(in);
    WriteBmp(dir + "outside.bmp");
    WriteFile(dir + "outside.mtl", "newmtl skin\nKd 1 1 1\n");
    WriteFile(dir + "outside.bin", TriangleBuffer());
    WriteFile(in + "inside.bin", TriangleBuffer());
    std::filesystem::create_symlink(dir + "outside.bmp", in + "link.bmp");
    WriteFile(in + "relative.mtl", "newmtl skin\nmap_Kd ../outside.bmp\n");
    WriteFile(in + "absolute.mtl", "newmtl skin\nmap_Kd " + dir + "outside.bmp\n");
    WriteFile(in + "linked.mtl", "newmtl skin\nmap_Kd link.bmp\n");
    WriteFile(in + "library.obj", std::string("mtllib ../outside.mtl\n") + kTriangleObj);
    for (const char* name : {"relative", "absolute", "linked"})
        WriteFile(in + name + ".obj", "mtllib " + std::string(name) + ".mtl\n" + kTriangleObj);
    WriteFile(in + "buffer.gltf", Gltf("../outside.bin", "x.bmp"));
    WriteFile(in + "encoded.gltf", Gltf("inside.bin", "%2e%2e/outside.bmp"));
    struct Case {
        std::string file;
        std::string secureSays;  // in a warning, or the error when `refused`
        bool refused = false;
    };
    const std::vector<Case> cases = {
        {"library.obj", "outside.mtl\" named by the model lies outside the model's folder: not read (--secure)"},
        {"relative.obj", "picture \"../outside.bmp\" lies outside the model's folder: not read (--secure); using"},
        {"absolute.obj", "picture \"" + dir + "outside.bmp\" lies outside the model's folder"},
        {"linked.obj", "picture \"link.bmp\" lies outside the model's folder"},
        {"encoded.gltf", "picture \"../outside.bmp\" lies outside the model's folder"},
        {"buffer.gltf", "buffer file \"" + in + "../outside.bin\" lies outside the model's folder: not read (--secure)",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        for (const bool secure : {false, true}) {
            quorvex::importer::ImportOptions options;
            options.secure = secure;
            quorvex::scene::SceneDocument doc;
            quorvex::importer::ImportNotes notes;
            quorvex::scene::LoadError error;
            const bool ok = quorvex::importer::ImportScene(in + c.file, options, doc, notes, error);
            if (!secure) {
                EXPECT_TRUE(ok) << error.message;
                EXPECT_FALSE(Mentions(notes.warnings, "outside"));
            } else if (c.refused) {
                EXPECT_FALSE(ok);
                EXPECT_EQ(error.message, in + c.file + ": " + c.secureSays);
            } else {
                EXPECT_TRUE(ok) << error.message;
                EXPECT_TRUE(Mentions(notes.warnings, c.secureSays)) << ::testing::PrintToString(notes.warnings);
            }
        }
    }
}

TEST(UntrustedInput, SecureKeepsASceneFilesPicturesInItsFolder) {
    const std::string dir = ScratchDir("secure-scene");
    std::filesystem::create_directories(dir + "scene");
    WriteBmp(dir + "outside.bmp");
    std::string scene = ReadWholeFile(QUORVEX_SOURCE_DIR "/tests/fixtures/triangle.scene.json");
    const size_t red = scene.find("\"file\": \"red\"");
    ASSERT_NE(red, std::string::npos);
    scene.replace(red, 13, "\"file\": \"../outside.bmp\"");
    WriteFile(dir + "scene/t.scene.json", scene);
    const std::string args =
        "export " + ShellQuote(dir + "scene/t.scene.json") + " -o " + ShellQuote(dir + "out.mdl") + " --frames 0:0 -q";
    EXPECT_EQ(RunQuorvex(args, dir).err, "");
    const CliResult secure = RunQuorvex(args + " --secure", dir);
    EXPECT_EQ(secure.err, "quorvex: warning: " + dir + "scene/t.scene.json: " + dir +
                              "scene/../outside.bmp: lies outside the scene's folder: not read (--secure)\n");
}
