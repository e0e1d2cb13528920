// Several inputs in one `quorvex export`, its report, summarised warnings,
// output names and the generated completion.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Completion.h"
#include "cli/ExportBatch.h"
#include "cli/OutputCheck.h"
#include "cli/ReportFile.h"
#include "cli/Warnings.h"
#include "tests/CliRunner.h"
#include "tests/ScratchDir.h"

using quorvex::cli::AddCommands;
using quorvex::cli::BashCompletion;
using quorvex::cli::BatchItem;
using quorvex::cli::CheckOutputName;
using quorvex::cli::ExpandInputs;
using quorvex::cli::ExportRunReport;
using quorvex::cli::InputReport;
using quorvex::cli::kReportVersion;
using quorvex::cli::ParseReport;
using quorvex::cli::PlanOutputs;
using quorvex::cli::ReportJson;

namespace fs = std::filesystem;

namespace {

struct Batch : ::testing::Test {
    ScratchDir scratch{"batch"};
    const std::filesystem::path& dir = scratch.path;
    const std::string root = QUORVEX_SOURCE_DIR;

    CliResult Run(const std::string& args) { return RunQuorvex(args, dir); }
};

}  // namespace

TEST(Warnings, ManyOfOneKindPrintAsOneLine) {
    auto mesh = [](const std::string& name) {
        return "mesh \"" + name + "\" (material \"M\"): no diffuse texture; using its colour";
    };
    struct Case {
        std::vector<std::string> texts;
        bool all;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{mesh("a")}, false, {mesh("a")}},
        {{mesh("a"), "x", mesh("b"), "x"},
         false,
         {"2 meshes: no diffuse texture; using its colour: a, b", "x (2 times)"}},
        {{mesh("a"), mesh("b"), mesh("c"), mesh("d"), mesh("e"), mesh("f")},
         false,
         {"6 meshes: no diffuse texture; using its colour: a, b, c, d, e, ... (-v lists all)"}},
        {{mesh("a"), mesh("b")}, true, {mesh("a"), mesh("b")}},
        // A quote inside a name does not end it early.
        {{mesh("say \"hi\""), mesh("b")}, false, {"2 meshes: no diffuse texture; using its colour: say \"hi\", b"}},
        {{"clip \"a\": x", "material \"a\": x"}, false, {"clip \"a\": x", "material \"a\": x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(quorvex::cli::SummariseWarnings(c.texts, c.all), c.lines) << c.texts[0];
}

TEST(Warnings, KindsAreStableTags) {
    const std::pair<const char*, const char*> cases[] = {
        {"mesh \"a\" (no material): no material; using white", "swatch"},
        {"3 points left out: only triangles are exported", "primitives-left-out"},
        {"clip \"x\": its frames are named \"x_\" (15 ASCII ...)", "clip-renamed"},
        {"something new", "other"},
    };
    for (const auto& [text, kind] : cases) EXPECT_EQ(quorvex::cli::WarningKind(text), kind) << text;
}

TEST(OutputNames, OnlyWrittenExtensionsAndNoStandardOutput) {
    const std::pair<const char*, bool> cases[] = {
        {"out.mdl", true}, {"OUT.MDL", true}, {"dir.v2/out", false}, {"duck.obj", false}, {"-", false}};
    for (const auto& [name, ok] : cases) EXPECT_EQ(CheckOutputName(name).empty(), ok) << name;
    EXPECT_NE(CheckOutputName("duck.obj").find("it writes .mdl"), std::string::npos);
}

TEST_F(Batch, InputsExpandAndOutputsMayNotClash) {
    for (const char* name : {"b.glb", "a.glb", "c.obj"}) std::ofstream(dir / name) << "x";
    std::vector<std::string> inputs;
    EXPECT_EQ(ExpandInputs({(dir / "*.glb").string(), (dir / "c.obj").string()}, inputs), "");
    EXPECT_EQ(inputs,
              (std::vector<std::string>{(dir / "a.glb").string(), (dir / "b.glb").string(), (dir / "c.obj").string()}));
    EXPECT_NE(ExpandInputs({(dir / "*.fbx").string()}, inputs).find("matches no file"), std::string::npos);
    EXPECT_NE(ExpandInputs({dir.string()}, inputs).find("is a folder"), std::string::npos);

    std::vector<BatchItem> items;
    EXPECT_EQ(PlanOutputs({"m/robot.scene.json", "m/crate.obj"}, "out", items), "");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].output, "out/robot.mdl");
    EXPECT_EQ(items[1].output, "out/crate.mdl");
    for (const auto& clash : {std::vector<std::string>{"a/x.glb", "b/x.fbx"}, {"x.glb", "X.obj"}})
        EXPECT_NE(PlanOutputs(clash, "out", items).find("would both be written to"), std::string::npos);
}

TEST(Report, ReadsBackWhatItWrote) {
    ExportRunReport report;
    report.exitStatus = 1;
    report.seconds = 1.5;
    InputReport a;
    a.input = "a.glb";
    a.output = "out/a.mdl";
    a.status = "written";
    a.warnings = {{"swatch", "mesh \"n\": no material; using white"}};
    a.reductions = {{"triangles", "from 900 to 500"}};
    a.variant = "MDL3";
    a.vertices = 3;
    a.frames = 2;
    a.fileSize = 264;
    a.sequences = {{"walk", 0, 2}};
    a.step = {0.5, 0.25, 0};
    a.largestError = {0.5, 0.25, 0};
    a.times = {{"Reading", 0.125}};
    InputReport b;
    b.input = "b.obj";
    b.status = "refused";
    b.exitStatus = 1;
    b.message = "b.obj: no triangles";
    report.inputs = {a, b};

    ExportRunReport back;
    std::string error;
    ASSERT_TRUE(ParseReport(ReportJson(report), back, error)) << error;
    EXPECT_EQ(ReportJson(back), ReportJson(report));
    ASSERT_EQ(back.inputs.size(), 2u);
    EXPECT_EQ(back.inputs[0].sequences[0].name, "walk");
    EXPECT_EQ(back.inputs[0].reductions[0].text, "from 900 to 500");
    EXPECT_EQ(back.inputs[1].message, "b.obj: no triangles");

    nlohmann::json newer = nlohmann::json::parse(ReportJson(report));
    newer["version"] = kReportVersion + 1;
    EXPECT_FALSE(ParseReport(newer.dump(), back, error));
    EXPECT_FALSE(ParseReport("{}", back, error));
}

TEST_F(Batch, SeveralInputsWriteWhatSingleExportsWriteAndReportIt) {
    const std::string windmill = root + "/examples/windmill/windmill.scene.json";
    const std::string robot = root + "/examples/robot/robot.gltf";
    const std::string refused = root + "/tests/fixtures/no-material.scene.json";
    const fs::path report = dir / "report.json";
    CliResult r = Run("export " + windmill + " " + robot + " " + refused + " --out-dir " + (dir / "out").string() +
                      " -j 2 --report " + report.string());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("quorvex export: " + refused + ": Hull: No Material\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("2 of 3 inputs written"), std::string::npos) << r.out;

    ExportRunReport back;
    std::string error;
    ASSERT_TRUE(ParseReport(ReadWholeFile(report), back, error)) << error;
    EXPECT_EQ(back.exitStatus, 1);
    ASSERT_EQ(back.inputs.size(), 3u);
    const char* statuses[] = {"written", "written", "refused"};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(back.inputs[i].status, statuses[i]) << i;
    EXPECT_EQ(back.inputs[2].message, refused + ": Hull: No Material");
    // Each file is what a single export writes, and the report says what it holds.
    for (const std::string& scene : {windmill, robot}) {
        const size_t i = scene == windmill ? 0 : 1;
        const fs::path single = dir / "single.mdl";
        ASSERT_EQ(Run("export " + scene + " -o " + single.string()).status, 0);
        EXPECT_EQ(ReadWholeFile(back.inputs[i].output), ReadWholeFile(single)) << scene;
        EXPECT_EQ(back.inputs[i].fileSize, fs::file_size(single));
        EXPECT_GT(back.inputs[i].frames, 1);
        EXPECT_FALSE(back.inputs[i].times.empty());
    }
    EXPECT_EQ(back.inputs[1].sequences.size(), 3u);

    // --fail-fast: nothing after the failure starts.
    fs::remove_all(dir / "out");
    r = Run("export " + refused + " " + windmill + " --out-dir " + (dir / "out").string() +
            " -j 1 --fail-fast --report " + report.string());
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(ParseReport(ReadWholeFile(report), back, error)) << error;
    EXPECT_EQ(back.inputs[1].status, "skipped");
    EXPECT_FALSE(fs::exists(dir / "out" / "windmill.mdl"));
}

TEST_F(Batch, UsageMistakesAreRefusedBeforeAnyWork) {
    const std::string tri = root + "/tests/fixtures/triangle.scene.json";
    const std::string robot = root + "/examples/robot/robot.gltf";
    struct Case {
        std::string args;
        std::string said;
    };
    const Case cases[] = {
        {tri + " " + robot + " -o x.mdl", "use --out-dir"},
        {tri + " " + robot, "--out-dir DIR is required"},
        {tri + " " + tri + " --out-dir out", "would both be written to"},
        {tri + " -o duck.obj", "it writes .mdl"},
        {tri + " -o -", "not written to standard output"},
        {tri + " --out-dir out --fail-fast --keep-going", "excludes"},
    };
    for (const Case& c : cases) {
        const CliResult r = Run("export " + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_FALSE(fs::exists(dir / "-"));
    EXPECT_FALSE(fs::exists(dir / "duck.obj"));
}

TEST_F(Batch, UnnamedClipsNeedNoRenameWarning) {
    nlohmann::json gltf = nlohmann::json::parse(ReadWholeFile(root + "/examples/robot/robot.gltf"));
    for (auto& animation : gltf["animations"]) animation.erase("name");
    std::ofstream(dir / "robot.gltf") << gltf.dump();
    fs::copy_file(root + "/examples/robot/robot.png", dir / "robot.png");
    const CliResult r =
        Run("export " + (dir / "robot.gltf").string() + " -o " + (dir / "r.mdl").string() + " --strict");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Completion, OffersEveryFlagOfEveryCommand) {
    CLI::App app;
    int status = 0;
    AddCommands(app, status);
    const std::string script = BashCompletion(app);
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
        const size_t arm = script.find("        " + sub->get_name() + ")\n");
        ASSERT_NE(arm, std::string::npos) << sub->get_name();
        const size_t end = script.find(";;\n", script.find("flags=", arm));
        std::string flags = script.substr(arm, end - arm) + " ";
        for (char& c : flags)
            if (c == '"') c = ' ';
        for (const CLI::Option* option : sub->get_options()) {
            for (const std::string& l : option->get_lnames())
                EXPECT_NE(flags.find(" --" + l + " "), std::string::npos) << sub->get_name() << " --" << l;
            for (const std::string& s : option->get_snames())
                EXPECT_NE(flags.find(" -" + s + " "), std::string::npos) << sub->get_name() << " -" << s;
        }
    }
    EXPECT_NE(script.find("--mirror) COMPREPLY=($(compgen -W \"x y z\""), std::string::npos);
}

TEST_F(Batch, InfoOnASceneSaysToExportIt) {
    const CliResult r = Run("info " + root + "/tests/fixtures/triangle.scene.json");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("a scene, not a model file; 'quorvex export "), std::string::npos) << r.err;
}

TEST_F(Batch, StrictRefusesAPictureThatFailedToLoad) {
    std::string scene = ReadWholeFile(root + "/tests/fixtures/triangle.scene.json");
    const size_t at = scene.find("\"file\": \"red\"");
    ASSERT_NE(at, std::string::npos);
    scene.replace(at, 13, "\"file\": \"gone.png\"");
    std::ofstream(dir / "gone.json") << scene;
    const fs::path model = dir / "gone.mdl";
    CliResult r = Run("export " + (dir / "gone.json").string() + " -o " + model.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("gone.png: cannot read the file"), std::string::npos) << r.err;
    fs::remove(model);
    r = Run("export " + (dir / "gone.json").string() + " -o " + model.string() + " --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--strict: 1 warning; " + model.string() + " not written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(model));
}
