// The export driver through DoExport against the stand-in host: phases,
// captions, percentages, results, refusals and what is released.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export/ExportState.h"
#include "export/ModelExporter.h"
#include "mdl/MdlReader.h"
#include "standin/HostProbe.h"
#include "standin/StandinHost.h"
#include "standin/Win32Standin.h"
#include "ui/Resource.h"
#include "tests/ScratchDir.h"

using namespace quorvex;

namespace fs = std::filesystem;
using quorvex::standin::ProgressCall;

namespace {

struct DriverFixture : ::testing::Test {
    ScratchDir scratch{"driver"};
    const std::filesystem::path& dir = scratch.path;
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope win32Scope{&win32};

    void SetUp() override { exportState.options = {}; }

    static std::vector<unsigned char> ReadFile(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

quorvex::scene::NodeData EmptyNode(const std::string& name) {
    quorvex::scene::NodeData node;
    node.name = name;
    return node;
}

quorvex::scene::NodeData TexturedTriangle(const std::string& name) {
    quorvex::scene::NodeData node;
    node.name = name;
    quorvex::scene::MeshData mesh;
    mesh.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}};
    mesh.tverts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.tvfaces = {{0, 1, 2}};
    quorvex::scene::ObjectData object;
    object.mesh = mesh;
    node.object = object;
    quorvex::scene::MaterialData material;
    material.diffuse = quorvex::scene::MapData{quorvex::scene::MapKind::Bitmap, "skin"};
    node.material = material;
    return node;
}

quorvex::scene::SceneDocument DocumentWith(std::vector<quorvex::scene::NodeData> nodes) {
    quorvex::scene::SceneDocument doc;
    doc.nodes = std::move(nodes);
    quorvex::scene::Picture skin;
    skin.width = 4;
    skin.height = 2;
    skin.plain = true;
    skin.fill = {65535, 0, 0, 65535};
    doc.images["skin"] = skin;
    return doc;
}

std::vector<std::string> Describe(const std::vector<ProgressCall>& log) {
    std::vector<std::string> out;
    for (const ProgressCall& call : log) {
        switch (call.kind) {
            case ProgressCall::Start: out.push_back("start " + call.caption); break;
            case ProgressCall::Update: out.push_back("update " + std::to_string(call.percent)); break;
            case ProgressCall::End: out.push_back("end"); break;
        }
    }
    return out;
}

}  // namespace

TEST_F(DriverFixture, EmptySceneWritesHeaderEmptySkinAndNamedFrames) {
    quorvex::standin::StandinHost host(DocumentWith({}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    exportState.options = {0, 1, 0, 0};
    const fs::path out = dir / "empty.mdl";
    ModelExporter exporter;
    ASSERT_EQ(exporter.DoExport(out.string().c_str(), nullptr, &host, TRUE, 0), 1);

    const MdlReadResult read = ReadMdlFile(out.string().c_str());
    ASSERT_TRUE(read.ok()) << read.error.message;
    // Header, skin type, no pixels, two frames of 28 bytes.
    EXPECT_EQ(read.file.fileSize, 88u + 2 * 28u);
    EXPECT_FALSE(read.file.sixteenBit);
    EXPECT_EQ(read.file.header.skinWidth, 0);
    EXPECT_EQ(read.file.header.skinHeight, 0);
    ASSERT_EQ(read.file.frames.size(), 2u);
    EXPECT_EQ(read.file.frames[0].name, "Frame0");
    EXPECT_EQ(read.file.frames[1].name, "Frame1");

    EXPECT_EQ(Describe(probe.progressLog),
              (std::vector<std::string>{"start Scanning...", "end", "start Writing Frames", "update 0", "update 50",
                                        "start Calculating..", "update 0", "update 50", "end"}));
    EXPECT_TRUE(win32.messageBoxes.empty());
    EXPECT_EQ(exportState.model, nullptr);
    EXPECT_EQ(exportState.skin, nullptr);
}

TEST_F(DriverFixture, GatherReportsProgressPerRootChildAndFramesPerFrame) {
    quorvex::standin::StandinHost host(DocumentWith({EmptyNode("a"), EmptyNode("b"), EmptyNode("c")}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    exportState.options = {5, 7, 0, 0};
    ModelExporter exporter;
    ASSERT_EQ(exporter.DoExport((dir / "three.mdl").string().c_str(), nullptr, &host, TRUE, 0), 1);
    EXPECT_EQ(Describe(probe.progressLog),
              (std::vector<std::string>{"start Scanning...", "update 0", "update 33", "update 66", "end",
                                        "start Writing Frames", "update 0", "update 33", "update 66",
                                        "start Calculating..", "update 0", "update 33", "update 66", "end"}));
}

TEST_F(DriverFixture, CancelledDialogReturnsOneAndTouchesNothing) {
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull")}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    win32.script = {{quorvex::standin::DialogStep::Press, IDCANCEL}};
    const fs::path out = dir / "cancel.mdl";
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport(out.string().c_str(), nullptr, &host, FALSE, 0), 1);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(probe.progressLog.empty());
    EXPECT_EQ(win32.dialogs.size(), 1u);
    EXPECT_EQ(win32.dialogs[0].resourceId, IDD_EXPORT_OPTIONS);
}

// A library whose adapter never installed the host services, or a call without
// an interface, must not export a scene it cannot read whole.
TEST_F(DriverFixture, WithoutHostServicesOrInterfaceTheExportIsRefusedBeforeTheDialog) {
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull")}));
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    for (const bool globalsInstalled : {false, true}) {
        SCOPED_TRACE(globalsInstalled ? "no interface" : "no host services");
        quorvex::standin::HostGlobalsScope scope(globalsInstalled ? &host : nullptr);
        win32.messageBoxes.clear();
        win32.script = {{quorvex::standin::DialogStep::Press, IDOK}};
        const fs::path out = dir / "refused.mdl";
        ModelExporter exporter;
        EXPECT_EQ(exporter.DoExport(out.string().c_str(), nullptr, globalsInstalled ? nullptr : &host, FALSE, 0), 0);
        ASSERT_EQ(win32.messageBoxes.size(), 1u);
        EXPECT_EQ(win32.messageBoxes[0].caption, "Aborting !");
        EXPECT_EQ(win32.messageBoxes[0].text, "Host services are not installed");
        EXPECT_EQ(win32.messageBoxes[0].owner, globalsInstalled ? nullptr : host.GetMAXHWnd());
        EXPECT_TRUE(win32.dialogs.empty());
        EXPECT_TRUE(probe.progressLog.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

// The system answers -1 when it cannot create the dialog (e.g. its resource is
// missing): the user chose nothing, so nothing is exported.
TEST_F(DriverFixture, ADialogThatCannotOpenRefusesTheExport) {
    struct FailingDialog : quorvex::standin::ScriptedWin32 {
        INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) override { return -1; }
    } failing;
    quorvex::standin::Win32Scope scope(&failing);
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull")}));
    quorvex::standin::HostGlobalsScope hostScope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    const fs::path out = dir / "refused.mdl";
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport(out.string().c_str(), nullptr, &host, FALSE, 0), 0);
    ASSERT_EQ(failing.messageBoxes.size(), 1u);
    EXPECT_EQ(failing.messageBoxes[0].caption + ": " + failing.messageBoxes[0].text,
              "Aborting !: Cannot open the options dialog");
    EXPECT_TRUE(probe.progressLog.empty());
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(DriverFixture, DialogAnswersDecideTheOptionsAndSuppressedExportsReuseThem) {
    quorvex::scene::SceneDocument doc = DocumentWith({TexturedTriangle("Hull")});
    doc.animRange = {160, 480};
    quorvex::standin::StandinHost host(std::move(doc));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    win32.script = {{quorvex::standin::DialogStep::Toggle, IDC_HI_PRECISION},
                    {quorvex::standin::DialogStep::Press, IDOK}};
    ModelExporter exporter;
    ASSERT_EQ(exporter.DoExport((dir / "a.mdl").string().c_str(), nullptr, &host, FALSE, 0), 1);
    const MdlReadResult read = ReadMdlFile((dir / "a.mdl").string().c_str());
    ASSERT_TRUE(read.ok()) << read.error.message;
    EXPECT_TRUE(read.file.sixteenBit);
    EXPECT_EQ(read.file.header.frameCount, 3);  // frames 1 to 3
    const auto bytes = ReadFile(dir / "a.mdl");

    // No dialog: the options stay as the dialog left them.
    win32.script.clear();
    ASSERT_EQ(exporter.DoExport((dir / "b.mdl").string().c_str(), nullptr, &host, TRUE, 0), 1);
    EXPECT_EQ(ReadFile(dir / "b.mdl"), bytes);
    EXPECT_EQ(win32.dialogs.size(), 1u);
}

TEST_F(DriverFixture, FailedWriteShowsOneBoxBeforeEndingProgressAndReturnsZero) {
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull")}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    size_t progressCallsAtBox = 0;
    win32.onMessageBox = [&](const quorvex::standin::MessageBoxCall&) {
        progressCallsAtBox = probe.progressLog.size();
    };
    const std::string out = (dir / "missing" / "x.mdl").string();
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport(out.c_str(), nullptr, &host, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].caption, "Aborting !");
    EXPECT_EQ(win32.messageBoxes[0].text, "Cannot write " + out);
    EXPECT_EQ(win32.messageBoxes[0].type, UINT(MB_OK | MB_ICONERROR));
    EXPECT_EQ(progressCallsAtBox + 1, probe.progressLog.size());
    EXPECT_EQ(probe.progressLog.back().kind, ProgressCall::End);
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(exportState.model, nullptr);
    EXPECT_EQ(exportState.skin, nullptr);
    EXPECT_TRUE(host.AllReleasedOnce());
}

TEST_F(DriverFixture, PositionsTooFarApartAreRefusedAndTheOldFileStays) {
    quorvex::scene::NodeData node = TexturedTriangle("Hull");
    node.object->mesh.keys[0].value.verts = {{-3e38f, 0, 0}, {3e38f, 0, 0}, {0, 1, 0}};
    quorvex::standin::StandinHost host(DocumentWith({node}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    size_t progressCallsAtBox = 0;
    win32.onMessageBox = [&](const quorvex::standin::MessageBoxCall&) {
        progressCallsAtBox = probe.progressLog.size();
    };
    const fs::path out = dir / "far.mdl";
    std::ofstream(out) << "old";
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport(out.string().c_str(), nullptr, &host, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].caption, "Aborting !");
    EXPECT_EQ(win32.messageBoxes[0].text, "Model is too large to quantize");
    EXPECT_EQ(progressCallsAtBox + 1, probe.progressLog.size());
    EXPECT_EQ(ReadFile(out).size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_EQ(exportState.model, nullptr);
    EXPECT_TRUE(host.AllReleasedOnce());
}

TEST_F(DriverFixture, InvalidNodeIsRefusedWithItsMessageAndNothingWritten) {
    quorvex::scene::NodeData bad = TexturedTriangle("Hull");
    bad.material.reset();
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Good"), bad}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    const fs::path out = dir / "refused.mdl";
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport(out.string().c_str(), nullptr, &host, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].text, "Hull: No Material");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(Describe(probe.progressLog), (std::vector<std::string>{"start Scanning...", "end"}));
    EXPECT_TRUE(host.AllReleasedOnce());
}

TEST_F(DriverFixture, ModelsBeyondTheMemoryLimitAreRefusedBeforeAllocating) {
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull")}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    // 3 vertices * 24 bytes * frames just over 2^32 bytes.
    exportState.options = {0, 59652323, 0, 0};
    ModelExporter exporter;
    EXPECT_EQ(exporter.DoExport((dir / "big.mdl").string().c_str(), nullptr, &host, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].text, "Not enough memory for the model");

    // An end frame before the start frame leaves a negative frame count.
    win32.messageBoxes.clear();
    exportState.options = {10, 2, 0, 0};
    EXPECT_EQ(exporter.DoExport((dir / "neg.mdl").string().c_str(), nullptr, &host, TRUE, 0), 0);
    ASSERT_EQ(win32.messageBoxes.size(), 1u);
    EXPECT_EQ(win32.messageBoxes[0].text, "Not enough memory for the model");
    EXPECT_FALSE(fs::exists(dir / "neg.mdl"));
}

TEST_F(DriverFixture, FramesAreSampledAtFrameTimesIncludingNegativeOnes) {
    quorvex::scene::SceneDocument doc = DocumentWith({TexturedTriangle("Hull")});
    doc.ticksPerFrame = 100;
    quorvex::standin::StandinHost host(std::move(doc));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    exportState.options = {-2, 0, 0, 0};
    ModelExporter exporter;
    ASSERT_EQ(exporter.DoExport((dir / "neg.mdl").string().c_str(), nullptr, &host, TRUE, 0), 1);
    std::vector<TimeValue> sampled;
    // Classification runs at time 0; the sample walks evaluate the mesh at each frame's time.
    for (const auto& call : probe.evalLog)
        if (call.node == "Hull" && call.time != 0) sampled.push_back(call.time);
    EXPECT_NE(std::find(sampled.begin(), sampled.end(), -200), sampled.end());
    EXPECT_NE(std::find(sampled.begin(), sampled.end(), -100), sampled.end());
    EXPECT_TRUE(host.AllReleasedOnce());
    // Everything the export was handed is freed once it ends, so exports on
    // one host do not pile up.
    host.ExportEnded();
    EXPECT_EQ(host.HeldObjects(), 0u);
}

TEST_F(DriverFixture, TheWriterTakesThePrecisionOptionAsSixteenBits) {
    quorvex::standin::StandinHost host(DocumentWith({}));
    quorvex::standin::HostGlobalsScope scope(&host);
    quorvex::standin::HostProbe probe;
    host.probe = &probe;
    ModelExporter exporter;
    exportState.options = {0, 0, 0x10001, 0};
    ASSERT_EQ(exporter.DoExport((dir / "a.mdl").string().c_str(), nullptr, &host, TRUE, 0), 1);
    const auto first = ReadFile(dir / "a.mdl");
    EXPECT_EQ(std::string(first.begin(), first.begin() + 4), "MDL4");
    exportState.options = {0, 0, 0x10000, 0};
    ASSERT_EQ(exporter.DoExport((dir / "b.mdl").string().c_str(), nullptr, &host, TRUE, 0), 1);
    const auto bytes = ReadFile(dir / "b.mdl");
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "MDL3");
}

TEST_F(DriverFixture, TheThreadCountChangesNoByte) {
    quorvex::standin::StandinHost host(DocumentWith({TexturedTriangle("Hull"), TexturedTriangle("Keel")}));
    quorvex::standin::HostGlobalsScope scope(&host);
    ModelExporter exporter;
    std::vector<std::vector<unsigned char>> files;
    for (int threads : {1, 4, 0}) {
        exportState.options = {0, 6, 1, 0};
        exportState.threadCount = threads;
        const fs::path path = dir / ("t" + std::to_string(threads) + ".mdl");
        ASSERT_EQ(exporter.DoExport(path.string().c_str(), nullptr, &host, TRUE, 0), 1);
        files.push_back(ReadFile(path));
    }
    exportState.threadCount = 0;
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(files[0], files[2]);
}
