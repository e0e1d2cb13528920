// `quorvex export` end to end: the built command on small fixture scenes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cli/RefusalRemedy.h"
#include "cli/Warnings.h"
#include "mdl/MdlReader.h"
#include "tests/CliRunner.h"
#include "tests/ImportTestSupport.h"
#include "tests/ScratchDir.h"

using quorvex::cli::RefusalRemedy;

using namespace quorvex;
using namespace quorvex::cli;

namespace fs = std::filesystem;

namespace {

using CommandResult = CliResult;

std::string Slurp(const fs::path& p) { return ReadWholeFile(p); }

struct ExportCli : ::testing::Test {
    ScratchDir scratch{"cli"};
    const std::filesystem::path& dir = scratch.path;
    const std::string fixtures = std::string(QUORVEX_SOURCE_DIR) + "/tests/fixtures/";

    CommandResult Run(const std::string& args) { return RunQuorvex(args, dir); }
};

}  // namespace

TEST_F(ExportCli, ExportsASceneFileThroughTheDialogAndWithFrames) {
    const fs::path model = dir / "tri.mdl";
    CommandResult r = Run("export " + fixtures + "triangle.scene.json -o " + model.string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string bytes = Slurp(model);
    ASSERT_GE(bytes.size(), 84u);
    EXPECT_EQ(bytes.substr(0, 4), "MDL3");
    EXPECT_EQ(static_cast<unsigned char>(bytes[68]), 3);  // animation range 0..320 ticks: frames 0 to 2
    EXPECT_NE(r.out.find("tri.mdl"), std::string::npos);
    EXPECT_EQ(r.err, "");  // not a terminal: no progress bar

    // The flags answer the dialog: a 16-bit single-frame export with an alpha skin.
    r = Run("export " + fixtures + "triangle.scene.json -o " + model.string() +
            " --hi-precision --alpha --single-frame");
    ASSERT_EQ(r.status, 0) << r.err;
    bytes = Slurp(model);
    EXPECT_EQ(bytes.substr(0, 4), "MDL4");
    EXPECT_EQ(static_cast<unsigned char>(bytes[68]), 1);
    EXPECT_EQ(static_cast<unsigned char>(bytes[84]), 3);  // ARGB4444 skin type

    // Negative frames, in both spellings.
    r = Run("export " + fixtures + "triangle.scene.json -o " + model.string() + " --frames=-3:-1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(static_cast<unsigned char>(Slurp(model)[68]), 3);
    r = Run("export " + fixtures + "triangle.scene.json -o " + model.string() + " --frames -4:-1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(static_cast<unsigned char>(Slurp(model)[68]), 4);
}

TEST_F(ExportCli, RefusedExportPrintsTheBoxAndWritesNothing) {
    const fs::path model = dir / "refused.mdl";
    CommandResult r = Run("export " + fixtures + "no-material.scene.json -o " + model.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvex export: " + fixtures + "no-material.scene.json: Hull: No Material\n");
    EXPECT_FALSE(fs::exists(model));

    // A directory that does not exist is found before any work; the message
    // names the path as given and the system's reason.
    r = Run("export " + fixtures + "triangle.scene.json -o nowhere-dir/x.mdl");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvex export: Cannot write nowhere-dir/x.mdl: No such file or directory\n");

    // A failure during the write keeps the exporter's words and adds the reason:
    // the temporary name beside the target is one the system cannot take.
    const std::string longName = (dir / std::string(250, 'm')).string() + ".mdl";
    r = Run("export " + fixtures + "triangle.scene.json -o " + longName);
    EXPECT_EQ(r.status, 1);
    // (The exporter's text is cut at 255 bytes.)
    EXPECT_EQ(r.err, "quorvex export: " + fixtures + "triangle.scene.json: " +
                         ("Cannot write " + longName).substr(0, 255) + ": File name too long\n");

    // Too many vertices for the file: the exporter's words, then the flag that
    // reduces the model. 65538 vertices, none in the same place.
    std::vector<float> positions;
    for (int i = 0; i < 65538; ++i) positions.insert(positions.end(), {float(i % 256), float(i / 256), 0.0f});
    const size_t bytes = positions.size() * 4;
    const fs::path big = dir / "big.gltf";
    std::ofstream(big) << "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" << bytes
                       << ",\"uri\":\"data:application/octet-stream;base64,"
                       << importtest::Base64(std::string(reinterpret_cast<const char*>(positions.data()), bytes))
                       << "\"}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":" << bytes
                       << "}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":65538,\"type\":"
                          "\"VEC3\",\"min\":[0,0,0],\"max\":[255,255,0]}],\"meshes\":[{\"primitives\":[{\"attributes\":"
                          "{\"POSITION\":0}}]}],\"nodes\":[{\"mesh\":0}]}";
    r = Run("export " + big.string() + " -o " + model.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(": Model has 65538 vertices; at most 65536 fit (use --max-vertices 65536 to "
                         "reduce it)\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(model));
}

TEST(RefusalRemedy, OnlyTheVertexLimitNamesTheFlag) {
    const struct {
        const char* refusal;
        const char* remedy;
    } cases[] = {
        {"Model has 70000 vertices; at most 65536 fit", " (use --max-vertices 65536 to reduce it)"},
        {"Model has 70000 texture coordinates; at most 65536 fit", ""},
        {"Model has  vertices; at most 65536 fit", ""},
        {"Model has 7e4 vertices; at most 65536 fit", ""},
        {"Hull: Model has 70000 vertices; at most 65536 fit", ""},
        {"Cannot write out.mdl", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RefusalRemedy(c.refusal), c.remedy) << c.refusal;
}

TEST_F(ExportCli, OutputIsCheckedBeforeTheSceneIsLoaded) {
    // The scene is broken: had it been loaded, the export would end with status 2.
    const fs::path scene = dir / "broken.json";
    std::ofstream(scene) << "{\"version\": 1, \"nodes\": [ {\"nmae\": \"x\"} ]}";
    const std::string before = Slurp(scene);
    fs::create_directory(dir / "folder");
    std::ofstream(dir / "plain") << "x";
    fs::create_symlink(scene, dir / "link.json");
    fs::create_hard_link(scene, dir / "hard.json");
    struct Case {
        std::string output;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {(dir / "missing" / "x.mdl").string(), "No such file or directory"},
        {(dir / "folder").string(), "Is a directory"},
        {(dir / "plain" / "x.mdl").string(), "Not a directory"},
        {scene.string(), "it is the input file"},
        {(dir / "link.json").string(), "it is the input file " + scene.string()},
        {(dir / "hard.json").string(), "it is the input file " + scene.string()},
    };
    for (const Case& c : cases) {
        const CommandResult r = Run("export " + scene.string() + " -o " + c.output);
        EXPECT_EQ(r.status, 1) << c.output;
        EXPECT_EQ(r.err, "quorvex export: Cannot write " + c.output + ": " + c.reason + "\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(Slurp(scene), before);
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
}

TEST_F(ExportCli, ASignalMidExportLeavesNoTemporaryFileAndTheOldTarget) {
    // An 8192 x 8192 skin makes a 128 MB file, long enough to catch the write.
    std::string scene = Slurp(fixtures + "triangle.scene.json");
    const std::string small = "\"width\": 4, \"height\": 2";
    scene.replace(scene.find(small), small.size(), "\"width\": 8192, \"height\": 8192");
    std::ofstream(dir / "big.json") << scene;
    const fs::path target = dir / "big.mdl";
    for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        std::ofstream(target) << "old model";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen((dir / "stderr.txt").c_str(), "w", stderr);
            execl(QUORVEX_CLI, QUORVEX_CLI, "export", (dir / "big.json").c_str(), "-o", target.c_str(), "--frames",
                  "0:0", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait for the temporary file to appear, then interrupt.
        bool seen = false;
        int raw = 0;
        while (!seen && waitpid(child, &raw, WNOHANG) == 0) {
            for (const auto& entry : fs::directory_iterator(dir))
                if (entry.path().filename().string().rfind("big.mdl.tmp", 0) == 0) seen = true;
            if (!seen) usleep(1000);
        }
        if (seen) {
            kill(child, signal);
            ASSERT_EQ(waitpid(child, &raw, 0), child);
        }
        ASSERT_TRUE(seen) << "the export ended before its temporary file was seen";
        ASSERT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), status);
        EXPECT_EQ(Slurp(target), "old model");
        for (const auto& entry : fs::directory_iterator(dir))
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
        EXPECT_NE(Slurp(dir / "stderr.txt").find(signal == SIGINT ? "interrupted" : "terminated"), std::string::npos);
    }
}

TEST_F(ExportCli, WordsSuggestTheNearestAndSayWhatIsWanted) {
    const std::string scene = fixtures + "triangle.scene.json";
    const std::string out = " -o " + (dir / "x.mdl").string();
    struct Case {
        std::string args;
        int status;
        std::string said;  // found in the output or the error stream
    };
    const std::vector<Case> cases = {
        {"exprot " + scene + out, 2, "unknown command 'exprot'; did you mean 'export'?"},
        {"export " + scene + out + " --hi-precison", 2, "unknown flag '--hi-precison'; did you mean '--hi-precision'?"},
        {"help exprot", 2, "did you mean 'export'?"},
        {"help export", 0, "--hi-precision"},
        {"help", 0, "version"},
        {"--version", 0, "quorvex 0."},
        {"version", 0, "built with CLI11"},
        {"export model.glb" + out + " --fps 29.97", 2,
         "must be a whole number that divides 4800 (the ticks in a second); "
         "the nearest are 25 and 30"},
        {"export model.glb" + out + " --scale -1", 2, "--scale -1: wants a finite number greater than 0"},
        {"export model.glb" + out + " --list-clips", 2, "--list-clips exports nothing"},
        {"view x.mdl -o x.png --frame -1", 2, "0 to 2147483647"},
    };
    for (const Case& c : cases) {
        const CommandResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.args << "\n" << r.out << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.mdl"));
}

TEST_F(ExportCli, UsageErrorsAndUnreadableScenesExitTwo) {
    const std::string scene = fixtures + "triangle.scene.json";
    const std::string out = " -o " + (dir / "x.mdl").string();
    for (const std::string& args : std::vector<std::string>{
             "export " + scene + out + " --frames 5:2", "export " + scene + out + " --frames 1:2 --single-frame",
             "export " + scene + out + " --frames 1-2", "export " + scene + out + " --frames 0:99999999999",
             "export " + scene + out + " --fps 24", "export " + scene, "export", "frobnicate"}) {
        CommandResult r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err, "") << args;
    }
    EXPECT_FALSE(fs::exists(dir / "x.mdl"));

    std::ofstream(dir / "broken.json") << "{\"version\": 1, \"nodes\": [ {\"nmae\": \"x\"} ]}";
    CommandResult r = Run("export " + (dir / "broken.json").string() + out);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("broken.json"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nodes[0]"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.mdl"));
}

TEST_F(ExportCli, HelpExplainsEveryFlag) {
    CommandResult r = Run("export --help");
    EXPECT_EQ(r.status, 0);
    for (const char* flag : {"--output", "--hi-precision", "--alpha", "--single-frame", "--frames", "--fps", "--scale",
                             "--clip", "--up", "--no-up-fix", "--no-swatches", "--strict", "--list-clips"})
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
    r = Run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("export"), std::string::npos);
}

TEST_F(ExportCli, APartialRangeOfTheWindmillIsNamedAfterTheFramesItHolds) {
    const fs::path model = dir / "spin.mdl";
    const std::string windmill = std::string(QUORVEX_SOURCE_DIR) + "/examples/windmill/windmill.scene.json";
    CommandResult r = Run("export " + windmill + " -o " + model.string() + " --frames 20:39");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sequences: spin 20\n"), std::string::npos) << r.out;
    r = Run("export " + windmill + " -o " + model.string() + " --frames 35:44");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sequences: spin 5, gust 5\n"), std::string::npos) << r.out;
}

TEST_F(ExportCli, MirrorFlipsOneAxisAndKeepsTrianglesFacingOut) {
    const std::string crate = std::string(QUORVEX_SOURCE_DIR) + "/examples/crate/crate.obj";
    const fs::path plain = dir / "plain.mdl";
    ASSERT_EQ(Run("export " + crate + " -o " + plain.string() + " --hi-precision").status, 0);
    const MdlReadResult a = ReadMdlFile(plain.c_str());
    ASSERT_TRUE(a.ok());
    for (int axis = 0; axis < 3; ++axis) {
        const fs::path mirrored = dir / "mirrored.mdl";
        const std::string flag = std::string(" --mirror ") + "xyz"[axis];
        const CommandResult r = Run("export " + crate + " -o " + mirrored.string() + " --hi-precision" + flag);
        ASSERT_EQ(r.status, 0) << r.err;
        const MdlReadResult b = ReadMdlFile(mirrored.c_str());
        ASSERT_TRUE(b.ok());
        ASSERT_EQ(b.file.header.vertexCount, a.file.header.vertexCount);
        for (size_t t = 0; t < a.file.triangles.size(); ++t) {
            const auto& was = a.file.triangles[t].vertex;
            const auto& is = b.file.triangles[t].vertex;
            EXPECT_TRUE(is[0] == was[0] && is[1] == was[2] && is[2] == was[1]) << flag << " triangle " << t;
        }
        for (size_t v = 0; v < a.file.frames[0].vertices.size(); ++v) {
            const MdlVec3 p = DecodeMdlPosition(a.file.header, a.file.frames[0].vertices[v]);
            const MdlVec3 q = DecodeMdlPosition(b.file.header, b.file.frames[0].vertices[v]);
            const float want[3] = {axis == 0 ? -p.x : p.x, axis == 1 ? -p.y : p.y, axis == 2 ? -p.z : p.z};
            const float got[3] = {q.x, q.y, q.z};
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got[c], want[c], 2.5f * (a.file.header.scale[c] + b.file.header.scale[c]))
                    << flag << " vertex " << v;
        }
    }
}

TEST_F(ExportCli, ImportWarningsAreListedAndStrictMakesThemFailures) {
    const fs::path obj = dir / "parts.obj";
    std::ofstream(dir / "parts.mtl") << "newmtl Red\nKd 1 0 0\n";
    std::ofstream(obj) << "mtllib parts.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                          "o Lid\nusemtl Red\nf 1 2 3\no Box\nusemtl Red\nf 1 3 4\n";
    const fs::path model = dir / "parts.mdl";
    CommandResult r = Run("export " + obj.string() + " -o " + model.string());
    ASSERT_EQ(r.status, 0) << r.err;
    // One line for the kind; -v lists each mesh.
    EXPECT_EQ(r.err,
              "quorvex: warning: " + obj.string() + ": 2 meshes: no diffuse texture; using its colour: Lid, Box\n");
    fs::remove(model);
    r = Run("export " + obj.string() + " -o " + model.string() + " -v");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string warning = "quorvex: warning: " + obj.string() + ": mesh \"";
    EXPECT_EQ(r.err, warning + "Lid\" (material \"Red\"): no diffuse texture; using its colour\n" + warning +
                         "Box\" (material \"Red\"): no diffuse texture; using its colour\n");
    fs::remove(model);

    for (const char* flag : {"--strict", "--no-swatches"}) {
        r = Run("export " + obj.string() + " -o " + model.string() + " " + flag);
        EXPECT_EQ(r.status, 1) << flag;
        EXPECT_FALSE(fs::exists(model)) << flag;
    }
    EXPECT_NE(r.err.find("No Texture Map"), std::string::npos) << r.err;
    r = Run("export " + obj.string() + " -o " + model.string() + " --strict");
    EXPECT_NE(r.err.find("--strict: 2 warnings; " + model.string() + " not written"), std::string::npos) << r.err;

    std::ofstream(dir / "lines.obj") << "v 0 0 0\nv 1 0 0\nl 1 2\n";
    r = Run("export " + (dir / "lines.obj").string() + " -o " + model.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lines.obj: no triangles: the file holds only lines"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(model));

    // A scene file whose export holds no triangle: the old file stays.
    std::ofstream(dir / "bare.scene.json") << R"({"version": 1, "nodes": [{"children": []}]})";
    std::ofstream(model) << "old";
    r = Run("export " + (dir / "bare.scene.json").string() + " -o " + model.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvex export: " + (dir / "bare.scene.json").string() +
                         ": no triangles: nothing in the scene exports a triangle; nothing was written\n");
    EXPECT_EQ(ReadWholeFile(model), "old");
}

TEST_F(ExportCli, ClipsAreTakenInTheOrderGivenAndCanBeRenamed) {
    const std::string robot = std::string(QUORVEX_SOURCE_DIR) + "/examples/robot/robot.gltf";
    const fs::path model = dir / "robot.mdl";
    CommandResult r = Run("export " + robot + " -o " + model.string() + " --clip bob --clip wave=Hello1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Sequences: bob 24, Hello1_ 31\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("clip \"wave\": its frames are named \"Hello1_\""), std::string::npos) << r.err;

    r = Run("export " + robot + " --list-clips --clip nod=N --clip bob");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "nod: 39 frames, named N\nbob: 24 frames\n");

    r = Run("export " + robot + " --list-clips --clip dance");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no clip named \"dance\"; its clips are \"wave\", \"nod\", \"bob\""), std::string::npos)
        << r.err;
}

TEST(Warnings, RepeatsAreMergedWithTheirCountInFirstOrder) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    quorvex::cli::PrintWarnings(out, "a.obj", {"x", "y", "x", "x"});
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "quorvex: warning: a.obj: x (3 times)\nquorvex: warning: a.obj: y\n");
    std::free(text);
}

TEST_F(ExportCli, PositionsTooFarApartAreRefusedAndNothingIsWritten) {
    // Finite positions whose span overflows a float cannot be stored at all.
    const fs::path model = dir / "overflow.mdl";
    CommandResult r = Run("export " + fixtures + "overflowing-range.scene.json -o " + model.string() + " --frames 0:0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvex export: " + fixtures + "overflowing-range.scene.json: Model is too large to quantize\n");
    EXPECT_FALSE(fs::exists(model));
}
