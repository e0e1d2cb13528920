// `quorvex info` and `quorvex view` as a user runs them: the built program,
// its exit statuses, its JSON and the pictures it writes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gif_lib.h>
#include <nlohmann/json.hpp>

#include "mdl/MdlReader.h"
#include "tests/CliRunner.h"
#include "mdl/MdlFileWriter.h"
#include "model/Normals.h"
#include "tests/ScratchDir.h"

using namespace quorvex;

namespace {

namespace fs = std::filesystem;

using CliRun = CliResult;

std::string Slurp(const fs::path& path) { return ReadWholeFile(path); }

class InfoViewCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(QUORVEX_CLI)) GTEST_SKIP() << "the quorvex program is not built: " << QUORVEX_CLI;
    }

    CliRun Quorvex(const std::vector<std::string>& args) const {
        std::string words;
        for (const std::string& a : args) words += " " + ShellQuote(a);
        return RunQuorvex(words, dir_);
    }

    // A square that walks for eight frames, then stands; 4 x 2 skin.
    fs::path WriteWalker(const std::string& name, int hiPrecision, const char* standName = "stand") const {
        ModelPtr model(CreateModel(2, 4, 4, 9));
        SkinPtr skin(CreateSkinImage(4, 2, hiPrecision ? kSkinFormatARGB4444 : kSkinFormatRGB565));
        for (int i = 0; i < 8; ++i) skin->pixels[i] = uint16_t(0x1111 * i);
        const int16_t uv[4][2] = {{0, 0}, {3, 0}, {3, 1}, {0, 1}};
        for (int i = 0; i < 4; ++i) model->texCoords[i] = {uv[i][0], uv[i][1], 1};
        model->triangles[0] = {{0, 2, 1}, {0, 2, 1}, 0, {}};
        model->triangles[1] = {{0, 3, 2}, {0, 3, 2}, 0, {}};
        for (int f = 0; f < 9; ++f) {
            ModelFrame& frame = model->frames[f];
            if (f < 8)
                std::snprintf(frame.name, sizeof frame.name, "walk%d", f);
            else
                std::snprintf(frame.name, sizeof frame.name, "%s", standName);
            const float y = 0.5f * float(f);
            frame.positions[0] = {0, y - 1, 0};
            frame.positions[1] = {0, y + 1, 0};
            frame.positions[2] = {0, y + 1, 2};
            frame.positions[3] = {0, y - 1, 2};
            ComputeFrameNormals(model.get(), f);
            StoreFrameNormalIndices(model.get(), f);
        }
        const fs::path path = dir_ / name;
        EXPECT_EQ(WriteMdlFile(path.c_str(), model.get(), skin.get(), hiPrecision), 1);
        return path;
    }

    static void ExpectPng(const fs::path& path, uint32_t width, uint32_t height) {
        const std::string b = Slurp(path);
        ASSERT_GT(b.size(), 24u) << path;
        EXPECT_EQ(b.substr(1, 3), "PNG");
        auto be32 = [&](size_t at) {
            return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
                   uint32_t(uint8_t(b[at + 2])) << 8 | uint8_t(b[at + 3]);
        };
        EXPECT_EQ(be32(16), width);
        EXPECT_EQ(be32(20), height);
    }

    ScratchDir scratch_{"cli"};
    const std::filesystem::path& dir_ = scratch_.path;
};

TEST_F(InfoViewCli, InfoJsonAgreesWithTheReader) {
    for (int hi : {0, 1}) {
        SCOPED_TRACE(hi ? "MDL4" : "MDL3");
        const fs::path path = WriteWalker(hi ? "walker16.mdl" : "walker8.mdl", hi);
        const CliRun run = Quorvex({"info", path.string(), "--json"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const nlohmann::json j = nlohmann::json::parse(run.out);
        const MdlReadResult r = ReadMdlFile(path.c_str());
        ASSERT_TRUE(r.ok());
        const MdlHeader& h = r.file.header;
        EXPECT_EQ(j.at("magic"), hi ? "MDL4" : "MDL3");
        EXPECT_EQ(j.at("skinCount"), h.skinCount);
        EXPECT_EQ(j.at("skinWidth"), 4);
        EXPECT_EQ(j.at("skinHeight"), 2);
        EXPECT_EQ(j.at("skinType"), hi ? 3 : 2);
        EXPECT_EQ(j.at("vertexCount"), 4);
        EXPECT_EQ(j.at("triangleCount"), 2);
        EXPECT_EQ(j.at("texCoordCount"), 4);
        EXPECT_EQ(j.at("frameCount"), 9);
        EXPECT_EQ(j.at("fileSize"), fs::file_size(path));
        EXPECT_EQ(j.at("modelSize"), fs::file_size(path));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(j.at("scale").at(i).get<float>(), h.scale[i]);
            EXPECT_EQ(j.at("origin").at(i).get<float>(), h.origin[i]);
        }
        ASSERT_EQ(j.at("frames").size(), 9u);
        for (size_t f = 0; f < 9; ++f) {
            const nlohmann::json& frame = j.at("frames").at(f);
            EXPECT_EQ(frame.at("name"), r.file.frames[f].name);
            const MdlVec3 low = DecodeMdlPosition(h, r.file.frames[f].bboxMin);
            const MdlVec3 high = DecodeMdlPosition(h, r.file.frames[f].bboxMax);
            EXPECT_EQ(frame.at("bboxMin").at(1).get<float>(), low.y);
            EXPECT_EQ(frame.at("bboxMax").at(2).get<float>(), high.z);
        }
        const nlohmann::json& sequences = j.at("sequences");
        ASSERT_EQ(sequences.size(), 2u);
        EXPECT_EQ(sequences.at(0).at("name"), "walk");
        EXPECT_EQ(sequences.at(0).at("frameCount"), 8);
        EXPECT_EQ(sequences.at(1).at("name"), "stand");
    }
}

TEST_F(InfoViewCli, InfoForPeopleShowsSequencesAndSizes) {
    const fs::path path = WriteWalker("walker.mdl", 0);
    const CliRun run = Quorvex({"info", path.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("walk: 8 frames"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("stand: 1 frame"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("RGB565"), std::string::npos) << run.out;
    const std::string size = std::to_string(fs::file_size(path));
    EXPECT_NE(run.out.find(size + " bytes; the header implies " + size), std::string::npos) << run.out;
}

TEST_F(InfoViewCli, ExitStatusesSayWhatWentWrong) {
    const fs::path good = WriteWalker("walker.mdl", 1);
    const std::string bytes = Slurp(good);

    const fs::path cut = dir_ / "cut.mdl";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    for (const char* command : {"info", "view"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, cut.string()};
        if (std::string(command) == "view") args.insert(args.end(), {"-o", (dir_ / "cut.png").string()});
        const CliRun run = Quorvex(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(cut.string()), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("byte"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "cut.png"));

    const fs::path longer = dir_ / "longer.mdl";
    std::ofstream(longer, std::ios::binary) << bytes << "tail";
    const CliRun warned = Quorvex({"info", longer.string(), "--json"});
    EXPECT_EQ(warned.status, 0);
    EXPECT_NE(warned.err.find("warning: 4 bytes after the model's end"), std::string::npos) << warned.err;
    EXPECT_EQ(nlohmann::json::parse(warned.out).at("warnings").size(), 1u);

    const std::string png = (dir_ / "out.png").string();
    const std::vector<std::vector<std::string>> usage = {
        {"info"},
        {"info", good.string(), "--colour"},
        {"info", (dir_ / "missing.mdl").string()},
        {"view", good.string()},
        {"view", good.string(), "-o", png, "--frame", "9"},
        {"view", good.string(), "-o", png, "--frame", "-1"},
        {"view", good.string(), "-o", png, "--size", "64"},
        {"view", good.string(), "-o", png, "--size", "0x64"},
        {"view", good.string(), "-o", png, "--sheet", "--frame", "2"},
        {"view", good.string(), "-o", png, "--every", "2"},
    };
    for (const auto& args : usage) {
        const CliRun run = Quorvex(args);
        EXPECT_EQ(run.status, 2) << args.back() << ": " << run.err;
        EXPECT_FALSE(run.err.empty());
    }
    EXPECT_FALSE(fs::exists(png));

    const CliRun unwritable = Quorvex({"view", good.string(), "-o", (dir_ / "no" / "dir.png").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("dir.png"), std::string::npos) << unwritable.err;
}

TEST_F(InfoViewCli, ViewWritesFramesSheetsAndTheSkin) {
    const fs::path path = WriteWalker("walker.mdl", 0);
    const fs::path frame = dir_ / "frame.png", sized = dir_ / "sized.png", sheet = dir_ / "sheet.png",
                   skin = dir_ / "skin.png";
    EXPECT_EQ(Quorvex({"view", path.string(), "-o", frame.string(), "--frame", "8"}).status, 0);
    ExpectPng(frame, 512, 512);
    EXPECT_EQ(Quorvex({"view", path.string(), "-o", sized.string(), "--size", "64x48"}).status, 0);
    ExpectPng(sized, 64, 48);
    EXPECT_EQ(Quorvex({"view", path.string(), "-o", sheet.string(), "--sheet", "--size", "40x30"}).status, 0);
    ExpectPng(sheet, 3 * 40, 3 * 30);  // nine frames
    EXPECT_EQ(
        Quorvex({"view", path.string(), "-o", sheet.string(), "--sheet", "--every", "4", "--size", "40x30"}).status, 0);
    ExpectPng(sheet, 2 * 40, 2 * 30);  // frames 0, 4, 8
    EXPECT_EQ(Quorvex({"view", path.string(), "-o", skin.string(), "--skin"}).status, 0);
    ExpectPng(skin, 4, 2);
}

TEST_F(InfoViewCli, InfoTakesSeveralFilesAndPrintsUtf8NamesAsTheyAre) {
    const fs::path snowman = WriteWalker("snowman.mdl", 0, "\xe2\x98\x83");
    const fs::path broken = WriteWalker("broken.mdl", 1, "\xe2\x98");  // cut inside a character
    CliRun run = Quorvex({"info", snowman.string(), broken.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(snowman.string() + ": MDL3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(broken.string() + ": MDL4"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\xe2\x98\x83: 1 frame"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\\xe2\\x98: 1 frame"), std::string::npos) << run.out;

    run = Quorvex({"info", "--json", snowman.string(), broken.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json all = nlohmann::json::parse(run.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].at("magic"), "MDL4");

    // A missing file among good ones: the others are still shown, the status says so.
    run = Quorvex({"info", (dir_ / "missing.mdl").string(), snowman.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("missing.mdl"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(snowman.string() + ": MDL3"), std::string::npos) << run.out;
}

TEST_F(InfoViewCli, ViewWritesTheFormatItsExtensionNames) {
    const fs::path path = WriteWalker("walker.mdl", 0);
    struct Case {
        const char* name;
        std::string magic;
    };
    for (const Case& c : {Case{"v.jpg", "\xff\xd8\xff"}, Case{"v.JPEG", "\xff\xd8\xff"}, Case{"v.bmp", "BM"},
                          Case{"v.tga", std::string("\0\0\x0a", 3)}}) {
        const fs::path out = dir_ / c.name;
        const CliRun run = Quorvex({"view", path.string(), "-o", out.string(), "--size", "32x24"});
        ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(Slurp(out).substr(0, c.magic.size()), c.magic) << c.name;
    }
    for (const char* refused : {"v.webp", "v.gif", "v"}) {
        const CliRun run = Quorvex({"view", path.string(), "-o", (dir_ / refused).string()});
        EXPECT_EQ(run.status, 2) << refused;
        EXPECT_FALSE(fs::exists(dir_ / refused)) << refused;
    }
    // The skin is scaled to --size.
    ASSERT_EQ(Quorvex({"view", path.string(), "-o", (dir_ / "skin.png").string(), "--skin", "--size", "8x6"}).status,
              0);
    ExpectPng(dir_ / "skin.png", 8, 6);
}

TEST_F(InfoViewCli, AnimateWritesALoopingGifOfTheFrames) {
    const fs::path path = WriteWalker("walker.mdl", 0);
    struct Case {
        std::vector<std::string> flags;
        int frames;
        int firstDelay;  // hundredths of a second
    };
    for (const Case& c : {Case{{}, 9, 3}, Case{{"--every", "4"}, 3, 13}, Case{{"--fps", "10"}, 9, 10}}) {
        const fs::path gif = dir_ / "anim.gif";
        std::vector<std::string> args = {"view", path.string(), "-o", gif.string(), "--animate", "--size", "40x30"};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const CliRun run = Quorvex(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Slurp(gif).substr(0, 6), "GIF89a");  // frame timing needs the later version
        int error = 0;
        GifFileType* decoded = DGifOpenFileName(gif.c_str(), &error);
        ASSERT_NE(decoded, nullptr) << GifErrorString(error);
        ASSERT_EQ(DGifSlurp(decoded), GIF_OK);
        EXPECT_EQ(decoded->ImageCount, c.frames);
        EXPECT_EQ(decoded->SWidth, 40);
        EXPECT_EQ(decoded->SHeight, 30);
        GraphicsControlBlock control{};
        EXPECT_EQ(DGifSavedExtensionToGCB(decoded, 0, &control), GIF_OK);
        EXPECT_EQ(control.DelayTime, c.firstDelay);
        DGifCloseFile(decoded, &error);
    }
}

}  // namespace
