// `quorvex export` end to end: the built command on small fixture scenes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/Warnings.h"
#include "tests/CliRunner.h"
#include <vector>

namespace fs = std::filesystem;

namespace {

using CommandResult = CliResult;

std::string Slurp(const fs::path& p) { return ReadWholeFile(p); }

struct ExportCli : ::testing::Test {
    fs::path dir;
    const std::string fixtures = std::string(QUORVEX_SOURCE_DIR) + "/tests/fixtures/";

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorvex-cli-" + std::to_string(getpid()) + "-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

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
    r = Run("export " + fixtures + "triangle.scene.json -o " + model.string() + " --hi-precision --alpha --single-frame");
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
    EXPECT_EQ(r.err, "Aborting !: Hull: No Material\n");
    EXPECT_FALSE(fs::exists(model));

    // A directory that does not exist: the box names the path as given.
    r = Run("export " + fixtures + "triangle.scene.json -o nowhere-dir/x.mdl");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Aborting !: Cannot write nowhere-dir/x.mdl\n");
}

TEST_F(ExportCli, UsageErrorsAndUnreadableScenesExitTwo) {
    const std::string scene = fixtures + "triangle.scene.json";
    const std::string out = " -o " + (dir / "x.mdl").string();
    for (const std::string& args : std::vector<std::string>{"export " + scene + out + " --frames 5:2",
                                    "export " + scene + out + " --frames 1:2 --single-frame",
                                    "export " + scene + out + " --frames 1-2",
                                    "export " + scene + out + " --frames 0:99999999999",
                                    "export " + scene + out + " --fps 24",
                                    "export " + scene,
                                    "export",
                                    "frobnicate"}) {
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

TEST_F(ExportCli, ImportWarningsAreListedAndStrictMakesThemFailures) {
    const fs::path obj = dir / "parts.obj";
    std::ofstream(dir / "parts.mtl") << "newmtl Red\nKd 1 0 0\n";
    std::ofstream(obj) << "mtllib parts.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                          "o Lid\nusemtl Red\nf 1 2 3\no Box\nusemtl Red\nf 1 3 4\n";
    const fs::path model = dir / "parts.mdl";
    CommandResult r = Run("export " + obj.string() + " -o " + model.string());
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

    std::ofstream(dir / "lines.obj") << "v 0 0 0\nv 1 0 0\nl 1 2\n";
    r = Run("export " + (dir / "lines.obj").string() + " -o " + model.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lines.obj: no triangles: the file holds only lines"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(model));
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
    standin::PrintWarnings(out, "a.obj", {"x", "y", "x", "x"});
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "quorvex: warning: a.obj: x (3 times)\nquorvex: warning: a.obj: y\n");
    std::free(text);
}
