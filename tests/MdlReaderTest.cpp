#include "mdl/MdlReader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "MdlTestFile.h"
#include "mdl/MdlFileWriter.h"
#include "mdl/NormalTable.h"
#include "tests/ScratchDir.h"

using namespace quorvex;

namespace {

namespace fs = std::filesystem;
using mdltest::Bytes;
using mdltest::Model;

// Four vertices, two triangles, three frames (walk0, walk1, stand), a 3 x 2
// skin; in the 16-bit variant the packed values use the high byte.
Model Walker(bool sixteenBit) {
    Model m;
    m.sixteenBit = sixteenBit;
    m.scale[0] = 0.5f;
    m.scale[1] = 0.25f;
    m.scale[2] = 2.0f;
    m.origin[0] = -3.0f;
    m.origin[1] = 1.5f;
    m.origin[2] = 0.0f;
    m.skinWidth = 3;
    m.skinHeight = 2;
    m.skinType = sixteenBit ? kSkinFormatARGB4444 : kSkinFormatRGB565;
    m.skin = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000, 0x1234};
    m.vertexCount = 4;
    m.texCoords = {{0, 0}, {2, -1}, {-7, 300}};
    m.triangles = {{{0, 1, 2}, {0, 1, 2}}, {{3, 2, 1}, {2, 2, 0}}};
    const uint16_t big = sixteenBit ? 40000 : 200;
    for (int f = 0; f < 3; ++f) {
        mdltest::Frame frame;
        frame.name = f < 2 ? "walk" + std::to_string(f) : "stand";
        frame.bboxMin = {0, 1, 2, 0};
        frame.bboxMax = {big, uint16_t(big - 1), uint16_t(big - 2), 0};
        frame.vertices = {{0, 1, 2, 5},
                          {big, 7, uint16_t(f), 161},
                          {3, uint16_t(big - 1), 9, 0},
                          {uint16_t(10 + f), 11, uint16_t(big - 2), 84}};
        m.frames.push_back(frame);
    }
    return m;
}

MdlReadResult Read(const std::vector<uint8_t>& b) { return ReadMdlBytes(b.data(), b.size()); }

// Byte offsets of the sections of a file laid out as `m`.
struct Layout {
    uint64_t skin, texCoords, triangles, frames, end, frameSize;
};
Layout LayoutOf(const Model& m) {
    Layout l;
    l.skin = 88;
    l.texCoords = l.skin + 2 * m.skin.size();
    l.triangles = l.texCoords + 4 * m.texCoords.size();
    l.frames = l.triangles + 12 * m.triangles.size();
    l.frameSize = m.sixteenBit ? 36 + 8 * uint64_t(m.vertexCount) : 28 + 4 * uint64_t(m.vertexCount);
    l.end = l.frames + m.frames.size() * l.frameSize;
    return l;
}

void ExpectSameAsModel(const MdlFile& f, const Model& m) {
    EXPECT_EQ(std::string(f.header.magic, 4), m.sixteenBit ? "MDL4" : "MDL3");
    EXPECT_EQ(f.sixteenBit, m.sixteenBit);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.header.scale[i], m.scale[i]);
        EXPECT_EQ(f.header.origin[i], m.origin[i]);
    }
    EXPECT_EQ(f.header.skinCount, 1);
    EXPECT_EQ(f.header.skinWidth, m.skinWidth);
    EXPECT_EQ(f.header.skinHeight, m.skinHeight);
    EXPECT_EQ(f.skinType, m.skinType);
    EXPECT_EQ(f.skinPixels, m.skin);
    ASSERT_EQ(f.texCoords.size(), m.texCoords.size());
    for (size_t i = 0; i < m.texCoords.size(); ++i) {
        EXPECT_EQ(f.texCoords[i].u, m.texCoords[i].u) << i;
        EXPECT_EQ(f.texCoords[i].v, m.texCoords[i].v) << i;
    }
    ASSERT_EQ(f.triangles.size(), m.triangles.size());
    for (size_t t = 0; t < m.triangles.size(); ++t)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(f.triangles[t].vertex[c], m.triangles[t].vertex[c]);
            EXPECT_EQ(f.triangles[t].texCoord[c], m.triangles[t].texCoord[c]);
        }
    ASSERT_EQ(f.frames.size(), m.frames.size());
    for (size_t i = 0; i < m.frames.size(); ++i) {
        const MdlFrame& got = f.frames[i];
        const mdltest::Frame& want = m.frames[i];
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.frameType, m.sixteenBit ? 2 : 0);
        EXPECT_EQ(got.bboxMax.x, want.bboxMax.x);
        EXPECT_EQ(got.bboxMin.z, want.bboxMin.z);
        ASSERT_EQ(got.vertices.size(), want.vertices.size());
        for (size_t v = 0; v < want.vertices.size(); ++v) {
            EXPECT_EQ(got.vertices[v].x, want.vertices[v].x);
            EXPECT_EQ(got.vertices[v].y, want.vertices[v].y);
            EXPECT_EQ(got.vertices[v].z, want.vertices[v].z);
            EXPECT_EQ(got.vertices[v].normalIndex, want.vertices[v].normalIndex);
        }
    }
}

TEST(MdlReader, ReadsEveryFieldOfBothVariants) {
    for (bool sixteen : {false, true}) {
        SCOPED_TRACE(sixteen ? "MDL4" : "MDL3");
        const Model m = Walker(sixteen);
        const std::vector<uint8_t> b = Bytes(m);
        const MdlReadResult r = Read(b);
        ASSERT_TRUE(r.ok()) << r.error.message;
        ExpectSameAsModel(r.file, m);
        EXPECT_EQ(r.file.fileSize, b.size());
        EXPECT_EQ(r.file.modelSize, LayoutOf(m).end);
        EXPECT_EQ(r.file.modelSize, b.size());
        EXPECT_TRUE(r.warnings.empty());
    }
}

TEST(MdlReader, EmptySectionsAreValid) {
    Model m;  // no skin pixels, texture coordinates, triangles or frames
    const MdlReadResult r = Read(Bytes(m));
    ASSERT_TRUE(r.ok()) << r.error.message;
    EXPECT_EQ(r.file.modelSize, 88u);
    EXPECT_TRUE(r.file.frames.empty());
}

TEST(MdlReader, BytesAfterTheModelAreAWarning) {
    const Model m = Walker(false);
    std::vector<uint8_t> b = Bytes(m);
    b.insert(b.end(), 5, 0xAB);
    const MdlReadResult r = Read(b);
    ASSERT_TRUE(r.ok()) << r.error.message;
    EXPECT_EQ(r.file.fileSize, b.size());
    EXPECT_EQ(r.file.modelSize, b.size() - 5);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("5 bytes"), std::string::npos) << r.warnings[0];
    EXPECT_NE(r.warnings[0].find(std::to_string(b.size() - 5)), std::string::npos) << r.warnings[0];
}

// A malformed file gives its kind at the exact byte, whichever section is hit.
TEST(MdlReader, TruncationInEachSectionNamesTheSection) {
    for (bool sixteen : {false, true}) {
        SCOPED_TRACE(sixteen ? "MDL4" : "MDL3");
        const Model m = Walker(sixteen);
        const std::vector<uint8_t> full = Bytes(m);
        const Layout l = LayoutOf(m);
        struct Cut {
            uint64_t length, offset;
            const char* words;
        };
        const Cut cuts[] = {
            {0, 0, "84-byte header"},
            {83, 83, "84-byte header"},
            {86, 84, "skin type"},
            {l.skin + 5, l.skin, "skin"},
            {l.texCoords + 6, l.texCoords, "texture coordinates"},
            {l.triangles + 11, l.triangles, "triangles"},
            {l.frames + l.frameSize + 3, l.frames, "frames"},
            {l.end - 1, l.frames, "frames"},
        };
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(cut.length);
            const std::vector<uint8_t> b(full.begin(), full.begin() + cut.length);
            const MdlReadResult r = Read(b);
            ASSERT_FALSE(r.ok());
            EXPECT_EQ(r.error.kind, MdlErrorKind::Truncated);
            EXPECT_EQ(r.error.offset, cut.offset);
            EXPECT_NE(r.error.message.find(cut.words), std::string::npos) << r.error.message;
        }
    }
}

TEST(MdlReader, RejectsBadCountsBeforeAllocating) {
    const std::vector<uint8_t> valid = Bytes(Walker(true));
    // Every count field, negative.
    for (size_t at = 48; at <= 72; at += 4) {
        std::vector<uint8_t> b = valid;
        mdltest::SetI32(b, at, -1);
        const MdlReadResult r = Read(b);
        EXPECT_EQ(r.error.kind, MdlErrorKind::BadCount) << at;
        EXPECT_EQ(r.error.offset, at);
        EXPECT_NE(r.error.message.find("negative"), std::string::npos) << r.error.message;
    }
    {
        // A skin far larger than the file: refused by size, not by the allocator.
        std::vector<uint8_t> b = valid;
        mdltest::SetI32(b, 52, 2000000000);
        mdltest::SetI32(b, 56, 2000000000);
        const MdlReadResult r = Read(b);
        EXPECT_EQ(r.error.kind, MdlErrorKind::Truncated);
        EXPECT_EQ(r.error.offset, 88u);
        EXPECT_NE(r.error.message.find("skin"), std::string::npos) << r.error.message;
    }
    {
        // skinCount * width * height * 2 does not fit in 64 bits.
        std::vector<uint8_t> b = valid;
        for (size_t at : {48, 52, 56}) mdltest::SetI32(b, at, std::numeric_limits<int32_t>::max());
        const MdlReadResult r = Read(b);
        EXPECT_EQ(r.error.kind, MdlErrorKind::BadCount);
        EXPECT_EQ(r.error.offset, 48u);
    }
    {
        // frameCount * frame size overflows with the largest counts; the
        // triangles must index no vertex for this to reach the frames.
        Model m;
        m.sixteenBit = true;
        std::vector<uint8_t> b = Bytes(m);
        mdltest::SetI32(b, 60, std::numeric_limits<int32_t>::max());
        mdltest::SetI32(b, 68, std::numeric_limits<int32_t>::max());
        const MdlReadResult r = Read(b);
        EXPECT_EQ(r.error.kind, MdlErrorKind::BadCount);  // about 2^31 frames of 2^34 bytes
        EXPECT_EQ(r.error.offset, 68u);
    }
    {
        // Large counts with small frames: the texture coordinates are refused first.
        std::vector<uint8_t> b = valid;
        mdltest::SetI32(b, 72, std::numeric_limits<int32_t>::max());
        const MdlReadResult r = Read(b);
        EXPECT_EQ(r.error.kind, MdlErrorKind::Truncated);
        EXPECT_EQ(r.error.offset, LayoutOf(Walker(true)).texCoords);
    }
}

TEST(MdlReader, RejectsBadValuesAndIndicesAtTheirByte) {
    const Model m = Walker(false);
    const std::vector<uint8_t> valid = Bytes(m);
    const Layout l = LayoutOf(m);
    struct Case {
        const char* what;
        uint64_t at;
        std::vector<uint8_t> bytes;  // written at `at`
        MdlErrorKind kind;
        uint64_t offset;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<uint8_t> nanBytes(4), infBytes(4);
    const float inf = std::numeric_limits<float>::infinity();
    std::memcpy(nanBytes.data(), &nan, 4);
    std::memcpy(infBytes.data(), &inf, 4);
    const std::vector<Case> cases = {
        {"magic", 0, {'M', 'D', 'L', '2'}, MdlErrorKind::BadMagic, 0},
        {"scale not a number", 12, nanBytes, MdlErrorKind::BadValue, 12},
        {"origin infinite", 28, infBytes, MdlErrorKind::BadValue, 28},
        {"skin type 1", 84, {1, 0, 0, 0}, MdlErrorKind::BadValue, 84},
        {"triangle vertex = vertexCount", l.triangles + 12 + 2, {4, 0}, MdlErrorKind::BadIndex, l.triangles + 14},
        {"triangle texture coordinate = count", l.triangles + 6, {3, 0}, MdlErrorKind::BadIndex, l.triangles + 6},
        {"frame type of the other variant",
         l.frames + l.frameSize,
         {2, 0, 0, 0},
         MdlErrorKind::BadValue,
         l.frames + l.frameSize},
        {"name without terminator", l.frames + 12, std::vector<uint8_t>(16, 'a'), MdlErrorKind::BadValue,
         l.frames + 12},
        {"normal index 162",
         l.frames + 2 * l.frameSize + 28 + 4 * 2 + 3,
         {162},
         MdlErrorKind::BadIndex,
         l.frames + 2 * l.frameSize + 28 + 4 * 2 + 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> b = valid;
        std::copy(c.bytes.begin(), c.bytes.end(), b.begin() + c.at);
        const MdlReadResult r = Read(b);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error.kind, c.kind) << r.error.message;
        EXPECT_EQ(r.error.offset, c.offset) << r.error.message;
        EXPECT_FALSE(r.error.message.empty());
    }
}

// Every truncation and many byte changes of valid files: the reader either
// reads a consistent model or names a byte inside the input, never more.
TEST(MdlReader, SurvivesEveryTruncationAndByteChange) {
    for (bool sixteen : {false, true}) {
        const std::vector<uint8_t> valid = Bytes(Walker(sixteen));
        for (size_t length = 0; length < valid.size(); ++length) {
            const std::vector<uint8_t> b(valid.begin(), valid.begin() + length);
            const MdlReadResult r = Read(b);
            ASSERT_FALSE(r.ok()) << length;
            EXPECT_LE(r.error.offset, length);
        }
        int readable = 0;
        for (size_t at = 0; at < valid.size(); ++at) {
            for (uint8_t change : {0x01, 0x80, 0xFF}) {
                std::vector<uint8_t> b = valid;
                b[at] ^= change;
                const MdlReadResult r = Read(b);
                if (!r.ok()) {
                    EXPECT_LE(r.error.offset, b.size()) << at;
                    EXPECT_FALSE(r.error.message.empty());
                    continue;
                }
                ++readable;
                const MdlHeader& h = r.file.header;
                ASSERT_EQ(r.file.frames.size(), size_t(h.frameCount));
                ASSERT_EQ(r.file.triangles.size(), size_t(h.triangleCount));
                for (const MdlTriangle& t : r.file.triangles)
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_LT(t.vertex[c], h.vertexCount);
                        ASSERT_LT(t.texCoord[c], h.texCoordCount);
                    }
                for (const MdlFrame& f : r.file.frames) ASSERT_EQ(f.vertices.size(), size_t(h.vertexCount));
                ASSERT_LE(r.file.modelSize, r.file.fileSize);
            }
        }
        EXPECT_GT(readable, 0);  // pixel and coordinate bytes may take any value
    }
}

TEST(MdlReader, DecodesPositionsNormalsAndSequences) {
    MdlHeader h;
    h.scale[0] = 0.5f;
    h.scale[1] = 2.0f;
    h.scale[2] = -1.0f;
    h.origin[0] = -3.0f;
    h.origin[1] = 10.0f;
    h.origin[2] = 1.0f;
    MdlPackedVertex p;
    p.x = 4;
    p.y = 65535;
    p.z = 3;
    const MdlVec3 v = DecodeMdlPosition(h, p);
    EXPECT_EQ(v.x, -1.0f);
    EXPECT_EQ(v.y, 10.0f + 65535.0f * 2.0f);
    EXPECT_EQ(v.z, -2.0f);

    const MdlVec3 up = DecodeMdlNormal(5);
    EXPECT_EQ(up.z, 1.0f);
    const MdlVec3 n = DecodeMdlNormal(161);
    EXPECT_EQ(n.x, float(NormalTable[161][0]));
    const MdlVec3 none = DecodeMdlNormal(162);
    EXPECT_EQ(none.x, 0.0f);
    EXPECT_EQ(none.y, 0.0f);
    EXPECT_EQ(none.z, 0.0f);

    std::vector<MdlFrame> frames;
    for (const char* name : {"walk0", "walk1", "walk10", "stand", "walk2", "12", "", "run"}) {
        MdlFrame f;
        f.name = name;
        frames.push_back(f);
    }
    const std::vector<MdlSequence> s = GroupMdlSequences(frames);
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0].name, "walk");
    EXPECT_EQ(s[0].frameCount, 3);
    EXPECT_EQ(s[1].name, "stand");
    EXPECT_EQ(s[1].firstFrame, 3);
    EXPECT_EQ(s[2].name, "walk");  // a later run of walk frames is its own sequence
    EXPECT_EQ(s[3].name, "");      // "12" and "" share the empty stem
    EXPECT_EQ(s[3].frameCount, 2);
    EXPECT_EQ(s[4].firstFrame, 7);
}

class MdlReaderFileTest : public ::testing::Test {
protected:
    ScratchDir scratch_{"reader"};
    const std::filesystem::path& dir_ = scratch_.path;
};

TEST_F(MdlReaderFileTest, UnreadablePathsAreIoErrors) {
    const MdlReadResult missing = ReadMdlFile((dir_ / "missing.mdl").c_str());
    EXPECT_EQ(missing.error.kind, MdlErrorKind::Io);
    EXPECT_NE(missing.error.message.find("No such file"), std::string::npos) << missing.error.message;
    EXPECT_EQ(ReadMdlFile(dir_.c_str()).error.kind, MdlErrorKind::Io);
    EXPECT_EQ(ReadMdlFile(nullptr).error.kind, MdlErrorKind::Io);
}

// What the writer writes, the reader reads back: counts, names, texture
// coordinates, triangles, skin, and packed values that decode to within one
// step of every position, with the normal index of each vertex's own normal.
TEST_F(MdlReaderFileTest, ReadsBackWhatTheWriterWrote) {
    const int32_t vertices = 5, triangles = 3, texCoords = 4, frames = 3;
    for (int hi : {0, 1}) {
        SCOPED_TRACE(hi ? "MDL4" : "MDL3");
        ModelPtr model(CreateModel(triangles, vertices, texCoords, frames));
        SkinPtr skin(CreateSkinImage(4, 3, hi ? kSkinFormatARGB4444 : kSkinFormatRGB565));
        ASSERT_TRUE(model && skin);
        for (int i = 0; i < 12; ++i) skin->pixels[i] = uint16_t(i * 4099);
        for (int i = 0; i < texCoords; ++i) model->texCoords[i] = {int16_t(i * 3 - 2), int16_t(100 - i), 1};
        for (int t = 0; t < triangles; ++t)
            model->triangles[t] = {
                {uint16_t(t), uint16_t(t + 1), uint16_t(t + 2)}, {uint16_t(3 - t), uint16_t(t), 1}, 0, {}};
        const ModelVec3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, 0, -1}};
        for (int f = 0; f < frames; ++f) {
            std::snprintf(model->frames[f].name, 16, "run%d", f);
            for (int v = 0; v < vertices; ++v) {
                model->frames[f].positions[v] = {float(v) * 1.7f - 3.0f, float(f) * 10.0f + 0.3f * float(v),
                                                 -0.25f * float(v * v)};
                const ModelVec3 n = axes[(v + f) % 5];
                model->frames[f].normalIndex[v] = uint8_t(NearestNormalIndex(n.x, n.y, n.z));
            }
        }
        const fs::path path = dir_ / (hi ? "hi.mdl" : "lo.mdl");
        ASSERT_EQ(WriteMdlFile(path.c_str(), model.get(), skin.get(), hi), 1);

        const MdlReadResult r = ReadMdlFile(path.c_str());
        ASSERT_TRUE(r.ok()) << r.error.message;
        const MdlFile& file = r.file;
        EXPECT_EQ(file.sixteenBit, hi == 1);
        EXPECT_EQ(file.header.vertexCount, vertices);
        EXPECT_EQ(file.header.triangleCount, triangles);
        EXPECT_EQ(file.header.texCoordCount, texCoords);
        EXPECT_EQ(file.header.frameCount, frames);
        EXPECT_EQ(file.skinType, hi ? kSkinFormatARGB4444 : kSkinFormatRGB565);
        EXPECT_EQ(file.fileSize, file.modelSize);
        EXPECT_TRUE(r.warnings.empty());
        ASSERT_EQ(file.skinPixels.size(), 12u);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(file.skinPixels[i], skin->pixels[i]);
        for (int i = 0; i < texCoords; ++i) {
            EXPECT_EQ(file.texCoords[i].u, model->texCoords[i].u);
            EXPECT_EQ(file.texCoords[i].v, model->texCoords[i].v);
        }
        for (int t = 0; t < triangles; ++t)
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(file.triangles[t].vertex[c], model->triangles[t].vertex[c]);
                EXPECT_EQ(file.triangles[t].texCoord[c], model->triangles[t].texCoord[c]);
            }
        const float* scale = file.header.scale;
        for (int f = 0; f < frames; ++f) {
            const MdlFrame& frame = file.frames[f];
            EXPECT_EQ(frame.name, model->frames[f].name);
            for (int v = 0; v < vertices; ++v) {
                const MdlVec3 got = DecodeMdlPosition(file.header, frame.vertices[v]);
                const ModelVec3 want = model->frames[f].positions[v];
                // Packing truncates: the decoded value lies at most one step below.
                EXPECT_NEAR(got.x, want.x - 0.5f * scale[0], 0.5f * scale[0] + 1e-4f);
                EXPECT_NEAR(got.y, want.y - 0.5f * scale[1], 0.5f * scale[1] + 1e-4f);
                EXPECT_NEAR(got.z, want.z - 0.5f * scale[2], 0.5f * scale[2] + 1e-4f);
                const ModelVec3 n = axes[(v + f) % 5];
                EXPECT_EQ(frame.vertices[v].normalIndex, model->frames[f].normalIndex[v]);
                const MdlVec3 decoded = DecodeMdlNormal(frame.vertices[v].normalIndex);
                EXPECT_NEAR(decoded.x, n.x, 1e-5);
                EXPECT_NEAR(decoded.y, n.y, 1e-5);
                EXPECT_NEAR(decoded.z, n.z, 1e-5);
            }
            const MdlVec3 low = DecodeMdlPosition(file.header, frame.bboxMin);
            const MdlVec3 high = DecodeMdlPosition(file.header, frame.bboxMax);
            EXPECT_NEAR(low.x, model->frames[f].bboxMin.x, scale[0] + 1e-4f);
            EXPECT_NEAR(high.y, model->frames[f].bboxMax.y, scale[1] + 1e-4f);
            EXPECT_NEAR(low.z, model->frames[f].bboxMin.z, scale[2] + 1e-4f);
        }
    }
}

// The read-back's way, a section at a time and without vertices, must give
// ReadMdlFile's verdict on every cut and on byte changes throughout.
TEST_F(MdlReaderFileTest, WithoutVerticesGivesTheWholeReadersVerdict) {
    const fs::path path = dir_ / "m.mdl";
    for (bool sixteen : {false, true}) {
        std::vector<uint8_t> valid = Bytes(Walker(sixteen));
        valid.push_back(7);  // a byte after the model's end
        std::vector<std::vector<uint8_t>> inputs;
        // Every third cut and every fifth byte keep the file system's work small.
        for (size_t length = sixteen; length <= valid.size(); length += 3)
            inputs.emplace_back(valid.begin(), valid.begin() + length);
        for (size_t at = sixteen; at < valid.size(); at += 5) {
            inputs.push_back(valid);
            inputs.back()[at] ^= 0xA5;
        }
        for (const std::vector<uint8_t>& input : inputs) {
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), input.size());
            const MdlReadResult whole = ReadMdlFile(path.c_str());
            const MdlReadResult checked = ReadMdlFileWithoutVertices(path.c_str());
            ASSERT_EQ(checked.error.kind, whole.error.kind) << input.size();
            ASSERT_EQ(checked.error.offset, whole.error.offset);
            ASSERT_EQ(checked.error.message, whole.error.message);
            if (!whole.ok()) continue;
            EXPECT_EQ(checked.warnings, whole.warnings);
            EXPECT_EQ(std::memcmp(&checked.file.header, &whole.file.header, sizeof whole.file.header), 0);
            EXPECT_EQ(checked.file.modelSize, whole.file.modelSize);
            EXPECT_EQ(checked.file.skinPixels, whole.file.skinPixels);
            ASSERT_EQ(checked.file.frames.size(), whole.file.frames.size());
            for (size_t f = 0; f < whole.file.frames.size(); ++f) {
                EXPECT_EQ(checked.file.frames[f].name, whole.file.frames[f].name);
                EXPECT_EQ(checked.file.frames[f].bboxMax.y, whole.file.frames[f].bboxMax.y);
                EXPECT_TRUE(checked.file.frames[f].vertices.empty());
            }
        }
    }
    // What is no regular file takes the whole-file way.
    EXPECT_EQ(ReadMdlFileWithoutVertices("/dev/zero").error.kind, MdlErrorKind::BadMagic);
    EXPECT_EQ(ReadMdlFileWithoutVertices((dir_ / "missing.mdl").c_str()).error.kind, MdlErrorKind::Io);
}

}  // namespace
