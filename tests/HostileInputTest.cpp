// Hostile inputs: files that declare more than they hold or more than the
// limits allow are refused from their headers, with the place and the limit;
// only regular files are read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "import/Importer.h"
#include "mdl/MdlReader.h"
#include "scene/Limits.h"
#include "scene/Pictures.h"
#include "scene/SceneFile.h"
#include "tests/CliRunner.h"
#include "tests/ImportTestSupport.h"
#include "tests/StbImageWrite.h"

using namespace quorvex;

using namespace importtest;
using json = nlohmann::json;

namespace {

using Bytes = std::vector<unsigned char>;

void Le(Bytes& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void Be(Bytes& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<unsigned char>(v >> s));
}

// A PNG signature and header declaring w x h, then nothing (the CRC is not
// checked before the size is).
Bytes PngHeader(uint32_t w, uint32_t h) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Be(png, 13);
    png.insert(png.end(), {'I', 'H', 'D', 'R'});
    Be(png, w);
    Be(png, h);
    png.insert(png.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});
    return png;
}

// A 2 x 2 BMP with a 40-byte header and the given compression and bit count,
// pixels present for 24 bits.
Bytes Bmp(uint32_t compression, uint16_t bits) {
    Bytes bmp = {'B', 'M'};
    Le(bmp, 54 + 16, 4);
    Le(bmp, 0, 4);
    Le(bmp, 54, 4);
    Le(bmp, 40, 4);
    Le(bmp, 2, 4);
    Le(bmp, 2, 4);
    Le(bmp, 1, 2);
    Le(bmp, bits, 2);
    Le(bmp, compression, 4);
    bmp.resize(54 + 16, 0x7F);
    return bmp;
}

void Append(void* ctx, void* data, int size) {
    auto* p = static_cast<unsigned char*>(data);
    static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), p, p + size);
}

std::string TinyPng() {
    Bytes out;
    const unsigned char rgb[3] = {1, 2, 3};
    stbi_write_png_to_func(Append, &out, 1, 1, 3, rgb, 3);
    return std::string(out.begin(), out.end());
}

Bytes Jpeg(int w, int h) {
    Bytes out;
    const Bytes pixels(static_cast<size_t>(w * h * 3), 120);
    stbi_write_jpg_to_func(Append, &out, w, h, 3, pixels.data(), 90);
    return out;
}

}  // namespace

TEST(HostileInput, PicturesAreRefusedFromWhatTheirHeadersDeclare) {
    Bytes cutJpeg = Jpeg(32, 32);
    cutJpeg.resize(cutJpeg.size() / 2);
    // A Huffman table whose counts add up to far more than 256 codes.
    Bytes dht = {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x13, 0x00};
    dht.insert(dht.end(), 16, 0xFF);
    const struct {
        const char* name;
        Bytes bytes;
        const char* says;
    } cases[] = {
        {"PNG of 100000 x 100000", PngHeader(100000, 100000), "100000 x 100000; at most 65535 x 65535"},
        {"PNG of 20000 x 20000 in a few bytes", PngHeader(20000, 20000), "cut short"},
        {"PNG of 65535 x 65535, beyond the pixel limit", PngHeader(65535, 65535), "pixels are supported"},
        {"BMP with a negative compression", Bmp(0xFFFFFFFFu, 24), "unsupported BMP layout"},
        {"BMP of 64 bits per pixel", Bmp(0, 64), "unsupported BMP layout"},
        {"JPEG cut short", cutJpeg, "cut short"},
        {"JPEG with an overfull Huffman table", dht, "cannot decode picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        quorvex::scene::Picture picture;
        std::string error;
        EXPECT_FALSE(quorvex::scene::DecodePicture(c.bytes.data(), c.bytes.size(), picture, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(picture.pixels.empty());
    }
    // The same BMP with a plain layout loads.
    const Bytes plain = Bmp(0, 24);
    quorvex::scene::Picture picture;
    std::string error;
    EXPECT_TRUE(quorvex::scene::DecodePicture(plain.data(), plain.size(), picture, error)) << error;
}

TEST(HostileInput, OnlyRegularFilesAreRead) {
    const std::string dir = ScratchDir("hostile-files");
    const std::string pipe = dir + "pipe.gltf";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    quorvex::scene::Picture picture;
    quorvex::scene::SceneDocument doc;
    quorvex::importer::ImportNotes notes;
    std::string why;
    EXPECT_FALSE(quorvex::scene::LoadPictureFile("/dev/zero", picture, why));
    EXPECT_EQ(why, "/dev/zero: cannot read the file: not a regular file");
    quorvex::scene::LoadError error;
    EXPECT_FALSE(quorvex::scene::LoadSceneFile("/dev/zero", doc, error));
    EXPECT_EQ(error.message, "/dev/zero: cannot read the file: not a regular file");
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::Unreadable);
    EXPECT_FALSE(quorvex::importer::ImportScene(pipe, quorvex::importer::ImportOptions{}, doc, notes, error));
    EXPECT_EQ(error.message, pipe + ": cannot read the file: not a regular file");
    EXPECT_EQ(error.kind, quorvex::scene::LoadErrorKind::Unreadable);
    // A model file may come through a pipe, but what is no model ends at once.
    EXPECT_EQ(ReadMdlFile("/dev/zero").error.kind, MdlErrorKind::BadMagic);
}

TEST(HostileInput, GltfRefusesWhatItsBuffersCannotHoldAndWhatTheLimitsForbid) {
    const std::string dir = ScratchDir("hostile-gltf");
    auto base = [] {
        GltfBuilder b;
        json prim = {{"attributes",
                      {{"POSITION", b.Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3")},
                       {"TEXCOORD_0", b.Floats({0, 0, 1, 0, 0, 1}, "VEC2")}}},
                     {"material", 0}};
        b.Add("images", {{"bufferView", b.View(TinyPng())}, {"mimeType", "image/png"}});
        b.Add("textures", {{"source", 0}});
        b.Add("materials", {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}});
        b.Add("meshes", {{"primitives", {prim}}});
        b.Add("nodes", {{"name", "Tri"}, {"mesh", 0}});
        return b;
    };
    const struct {
        const char* name;
        void (*change)(GltfBuilder&);
        const char* says;
        quorvex::scene::LoadErrorKind kind;
    } cases[] = {
        {"picture 64 bytes past its buffer",
         [](GltfBuilder& b) { b.doc["bufferViews"][2]["byteLength"] = b.bin.size() + 64; },
         "images[0]: buffer view beyond its buffer", quorvex::scene::LoadErrorKind::Malformed},
        {"picture 1 GiB past its buffer", [](GltfBuilder& b) { b.doc["bufferViews"][2]["byteOffset"] = 1u << 30; },
         "images[0]: buffer view beyond its buffer", quorvex::scene::LoadErrorKind::Malformed},
        {"positions without a buffer view, 2^28 of them",
         [](GltfBuilder& b) {
             b.doc["accessors"][0].erase("bufferView");
             b.doc["accessors"][0]["count"] = 1u << 28;
         },
         "accessors[0]: 268435456 elements of 3 values are more than the limit of 67108864 values",
         quorvex::scene::LoadErrorKind::OverLimit},
        {"one key at 447000 s",
         [](GltfBuilder& b) {
             const int times = b.Floats({0.0f, 447000.0f}, "SCALAR");
             const int moves = b.Floats({0, 0, 0, 1, 0, 0}, "VEC3");
             b.Add("animations",
                   {{"samplers", {{{"input", times}, {"output", moves}}}},
                    {"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}}}}});
         },
         "at most 4194304 node frames are sampled", quorvex::scene::LoadErrorKind::OverLimit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GltfBuilder b = base();
        c.change(b);
        const std::string path = b.Write(dir + "hostile.gltf");
        quorvex::scene::SceneDocument doc;
        quorvex::importer::ImportNotes notes;
        quorvex::scene::LoadError error;
        EXPECT_FALSE(quorvex::importer::ImportScene(path, quorvex::importer::ImportOptions{}, doc, notes, error));
        EXPECT_EQ(error.message.rfind(path + ": ", 0), 0u) << error.message;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
        EXPECT_EQ(error.kind, c.kind);
    }
}

TEST(HostileInput, ExportSaysWhichPictureItCouldNotLoad) {
    const std::string dir = ScratchDir("hostile-cli");
    const Bytes huge = PngHeader(100000, 100000);
    WriteFile(dir + "huge.png", std::string(huge.begin(), huge.end()));
    json scene = json::parse(ReadWholeFile(QUORVEX_SOURCE_DIR "/tests/fixtures/triangle.scene.json"));
    scene.erase("images");
    scene["nodes"][0]["material"]["diffuse"]["file"] = "huge.png";
    WriteFile(dir + "huge.scene.json", scene.dump());
    const CliResult run = RunQuorvex(
        "export " + ShellQuote(dir + "huge.scene.json") + " -o " + ShellQuote(dir + "out.mdl") + " --frames 0:0 -q",
        dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "quorvex: warning: " + dir + "huge.scene.json: " + dir +
                           "huge.png: picture is 100000 x 100000; at most 65535 x 65535 is supported\n");
}
