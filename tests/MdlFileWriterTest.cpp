#include "mdl/MdlFileWriter.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "mdl/NormalTable.h"
#include "model/Normals.h"
#include "tests/ScratchDir.h"

using namespace quorvex;

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
int32_t I32(const std::vector<uint8_t>& b, size_t at) {
    return int32_t(uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
                   uint32_t(b.at(at + 3)) << 24);
}
float F32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t bits = uint32_t(I32(b, at));
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
float FloatBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

const float K8 = FloatBits(0x3B808081u);
const float K16 = FloatBits(0x37800080u);

// Three vertices, two frames, 8 x 1 skin. On x the values run from -10 to 5,
// on y every value is 2, on z every value is -5. Each frame carries its own
// normals so that the file shows which frame's normals were used.
struct SmallModel {
    ModelPtr model;
    SkinPtr skin;
};

SmallModel MakeSmallModel(int16_t skinFormat) {
    SmallModel s{ModelPtr(CreateModel(1, 3, 3, 2)), SkinPtr(CreateSkinImage(8, 1, skinFormat))};
    ModelData* m = s.model.get();
    for (int i = 0; i < 8; ++i) s.skin->pixels[i] = uint16_t(0x1234 + 0x101 * i);
    m->texCoords[0] = {1, 2, 1};
    m->texCoords[1] = {-3, 400, 1};
    m->texCoords[2] = {7, 0, 0};
    m->triangles[0] = {{0, 2, 1}, {2, 1, 0}, 4, {}};
    ModelFrame* f = m->frames;
    f[0].positions[0] = {-10, 2, -5};
    f[0].positions[1] = {5, 2, -5};
    f[0].positions[2] = {0, 2, -5};
    f[1].positions[0] = {5, 2, -5};
    f[1].positions[1] = {-10, 2, -5};
    f[1].positions[2] = {2.5f, 2, -5};
    const uint8_t indices[2][3] = {{5, 52, 104}, {32, 143, 84}};  // +z, +x, -y; +y, -x, -z
    for (int v = 0; v < 3; ++v) {
        f[0].normalIndex[v] = indices[0][v];
        f[1].normalIndex[v] = indices[1][v];
    }
    std::strcpy(f[0].name, "Frame7");
    std::strcpy(f[1].name, "ABCDEFGHIJKLMNO");
    return s;
}

class MdlFileWriterTest : public ::testing::Test {
protected:
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    ScratchDir scratch_{"writer"};
    const std::filesystem::path& dir_ = scratch_.path;
};

TEST_F(MdlFileWriterTest, EightBitLayout) {
    SmallModel s = MakeSmallModel(kSkinFormatRGB565);
    const fs::path path = dir_ / "small.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), s.model.get(), s.skin.get(), 0), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    ASSERT_EQ(b.size(), 208u);  // 88 + 16 + 12 + 12 + 2 * 40

    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MDL3");
    EXPECT_EQ(I32(b, 4), 0);
    EXPECT_EQ(F32(b, 8), 20.0f * K8);
    EXPECT_FLOAT_EQ(F32(b, 8), 0.0784314f);
    EXPECT_EQ(F32(b, 12), 1.0f);  // flat, non-negative axis
    EXPECT_EQ(F32(b, 16), 10.0f * K8);
    EXPECT_EQ(F32(b, 20), -10.0f);
    EXPECT_EQ(F32(b, 24), 2.0f);
    EXPECT_EQ(F32(b, 28), -5.0f);
    for (int i = 32; i < 48; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(I32(b, 48), 1);
    EXPECT_EQ(I32(b, 52), 8);
    EXPECT_EQ(I32(b, 56), 1);
    EXPECT_EQ(I32(b, 60), 3);
    EXPECT_EQ(I32(b, 64), 1);
    EXPECT_EQ(I32(b, 68), 2);
    EXPECT_EQ(I32(b, 72), 3);
    EXPECT_EQ(I32(b, 76), 0);
    EXPECT_EQ(I32(b, 80), 0);

    EXPECT_EQ(I32(b, 84), 2);  // RGB565
    for (int i = 0; i < 8; ++i) EXPECT_EQ(U16(b, 88 + 2 * i), 0x1234 + 0x101 * i);

    // Texture coordinates: u, v as signed 16-bit; the shifted flag is not written.
    EXPECT_EQ(U16(b, 104), 1);
    EXPECT_EQ(U16(b, 106), 2);
    EXPECT_EQ(U16(b, 108), 0xFFFD);
    EXPECT_EQ(U16(b, 110), 400);
    EXPECT_EQ(U16(b, 112), 7);
    EXPECT_EQ(U16(b, 114), 0);

    // Triangle: vertices, then texture coordinates; no slot, no face normal.
    const uint16_t triangle[6] = {0, 2, 1, 2, 1, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(U16(b, 116 + 2 * i), triangle[i]);

    // Frame 0 at 128: type, box min (-10, 2, -5) -> 0 0 0, box max (5, 2, -5) -> 191 0 0.
    const std::vector<uint8_t> frame0 = {0, 0, 0, 0, 0, 0, 0, 0, 191, 0, 0, 0, 'F', 'r', 'a', 'm', 'e', '7', 0, 0, 0, 0,
                                         0, 0, 0, 0, 0, 0,
                                         // x = -10, 5, 0 -> 0, 191, 127; normals +z, +x, -y
                                         0, 0, 0, 5, 191, 0, 0, 52, 127, 0, 0, 104};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 128, b.begin() + 168), frame0);
    // Frame 1 at 168: its own normals +y, -x, -z; x = 2.5 -> 159.
    const std::vector<uint8_t> frame1 = {0,   0,   0,   0,   0,   0,   0,   0,   191, 0,   0,   0,   'A', 'B',
                                         'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 0,
                                         191, 0,   0,   32,  0,   0,   0,   143, 159, 0,   0,   84};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 168, b.end()), frame1);

    // The writer stores the boxes it computed in the model.
    EXPECT_EQ(s.model->frames[1].bboxMin.x, -10.0f);
    EXPECT_EQ(s.model->frames[1].bboxMax.x, 5.0f);
}

TEST_F(MdlFileWriterTest, SixteenBitLayout) {
    SmallModel s = MakeSmallModel(kSkinFormatARGB4444);
    const fs::path path = dir_ / "small16.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), s.model.get(), s.skin.get(), 1), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    ASSERT_EQ(b.size(), 248u);  // 88 + 16 + 12 + 12 + 2 * 60

    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MDL4");
    EXPECT_EQ(F32(b, 8), 20.0f * K16);
    EXPECT_EQ(F32(b, 12), 1.0f);
    EXPECT_EQ(F32(b, 16), 10.0f * K16);
    EXPECT_EQ(I32(b, 84), 3);  // ARGB4444

    const size_t f0 = 128;
    EXPECT_EQ(I32(b, f0), 2);
    // Box corners: x, y, z, then normal index 0 and the zero byte.
    const uint16_t boxMin[4] = {0, 0, 0, 0}, boxMax[4] = {49151, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(U16(b, f0 + 4 + 2 * i), boxMin[i]);
        EXPECT_EQ(U16(b, f0 + 12 + 2 * i), boxMax[i]);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[f0 + 20])), "Frame7");
    for (int i = 6; i < 16; ++i) EXPECT_EQ(b[f0 + 20 + i], 0);
    const uint16_t xs[3] = {0, 49151, 32767};
    const uint8_t normals[3] = {5, 52, 104};
    for (int v = 0; v < 3; ++v) {
        const size_t at = f0 + 36 + 8 * v;
        EXPECT_EQ(U16(b, at), xs[v]);
        EXPECT_EQ(U16(b, at + 2), 0);
        EXPECT_EQ(U16(b, at + 4), 0);
        EXPECT_EQ(b[at + 6], normals[v]);
        EXPECT_EQ(b[at + 7], 0);
    }
    const size_t f1 = f0 + 60;
    EXPECT_EQ(I32(b, f1), 2);
    EXPECT_EQ(U16(b, f1 + 36 + 16), 40959);  // x = 2.5
    EXPECT_EQ(b[f1 + 36 + 16 + 6], 84);
}

TEST_F(MdlFileWriterTest, OnlyHiPrecisionOneSelectsSixteenBits) {
    SmallModel s = MakeSmallModel(kSkinFormatRGB565);
    const fs::path path = dir_ / "two.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), s.model.get(), s.skin.get(), 2), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    EXPECT_EQ(b.size(), 208u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MDL3");
    EXPECT_EQ(I32(b, 128), 0);
}

TEST_F(MdlFileWriterTest, EmptyModelKeepsStartingExtremes) {
    ModelPtr m(CreateModel(0, 0, 0, 2));
    SkinPtr skin(CreateSkinImage(0, 0, kSkinFormatRGB565));
    ASSERT_TRUE(m && skin);

    const MdlQuantization q = ComputeQuantization(m.get(), false);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(q.origin[a], 1000000.0f);
        EXPECT_EQ(q.scale[a], -1000000.0f * K8);  // negative, and kept
    }

    const fs::path path = dir_ / "empty.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), m.get(), skin.get(), 0), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    ASSERT_EQ(b.size(), 88u + 2 * 28);
    EXPECT_EQ(I32(b, 60), 0);
    EXPECT_EQ(F32(b, 20), 1000000.0f);
    // Box min (1e6) packs to 0; box max (-1e6) to 509 steps, of which the low 8 bits are kept.
    const std::vector<uint8_t> frame = {0,   0,   0,   0,   0, 0, 0, 0, 253, 253, 253, 0, 'F', 'r',
                                        'a', 'm', 'e', '1', 0, 0, 0, 0, 0,   0,   0,   0, 0,   0};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 116, b.end()), frame);
}

TEST_F(MdlFileWriterTest, DegenerateAndUnusedVerticesGetIndexFive) {
    // Triangle 0 has two corners at one position, triangle 1 faces +x;
    // vertex 5 belongs to no triangle.
    ModelPtr m(CreateModel(2, 6, 0, 1));
    SkinPtr skin(CreateSkinImage(1, 1, kSkinFormatRGB565));
    ASSERT_TRUE(m && skin);
    ModelVec3* p = m->frames[0].positions;
    p[0] = {0, 0, 0};
    p[1] = {1, 1, 1};
    p[2] = {1, 1, 1};
    p[3] = {0, 1, 0};
    p[4] = {0, 0, 1};
    p[5] = {3, 3, 3};
    m->triangles[0] = {{0, 1, 2}, {0, 0, 0}, -1, {}};
    m->triangles[1] = {{0, 3, 4}, {0, 0, 0}, -1, {}};
    ComputeFrameNormals(m.get(), 0);
    StoreFrameNormalIndices(m.get(), 0);

    const fs::path path = dir_ / "degenerate.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), m.get(), skin.get(), 0), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    const size_t vertices = 88 + 2 + 2 * 12 + 28;
    ASSERT_EQ(b.size(), vertices + 6 * 4);
    const uint8_t expected[6] = {52, 5, 5, 52, 52, 5};
    for (int v = 0; v < 6; ++v) EXPECT_EQ(b[vertices + 4 * v + 3], expected[v]) << v;
}

TEST(MdlQuantizationTest, RangeRunsFromSmallestToLargestMagnitude) {
    ModelPtr m(CreateModel(0, 2, 0, 2));
    ASSERT_TRUE(m);
    // x: -10..5 spread over frames; y: all -5; z: all 0 (the first zero's sign decides).
    m->frames[0].positions[0] = {-10, -5, 0};
    m->frames[0].positions[1] = {1, -5, -0.0f};
    m->frames[1].positions[0] = {5, -5, 0};
    m->frames[1].positions[1] = {-3, -5, 0};
    MdlQuantization q = ComputeQuantization(m.get(), false);
    EXPECT_EQ(q.origin[0], -10.0f);
    EXPECT_EQ(q.scale[0], 20.0f * K8);  // |-10| - (-10), not 5 - (-10)
    EXPECT_EQ(q.origin[1], -5.0f);
    EXPECT_EQ(q.scale[1], 10.0f * K8);
    EXPECT_EQ(q.scale[2], 1.0f);
    EXPECT_EQ(q.origin[2], 0.0f);

    q = ComputeQuantization(m.get(), true);
    EXPECT_EQ(q.scale[0], 20.0f * K16);
    EXPECT_FLOAT_EQ(K16, 1.0f / 65535.0f);
    EXPECT_FLOAT_EQ(K8, 1.0f / 255.0f);
}

TEST(MdlBoundsTest, BoxesPerFrameAndStartingValues) {
    ModelPtr m(CreateModel(0, 3, 0, 2));
    ASSERT_TRUE(m);
    m->frames[0].positions[0] = {1, 2, 3};
    m->frames[0].positions[1] = {-4, 5, 0};
    m->frames[0].positions[2] = {2, -1, 7};
    // All beyond the starting values: they act as bounds.
    for (int v = 0; v < 3; ++v) m->frames[1].positions[v] = {2e6f, -3e6f, std::nanf("")};
    ComputeFrameBounds(m.get());
    const ModelFrame* f = m->frames;
    EXPECT_EQ(f[0].bboxMin.x, -4.0f);
    EXPECT_EQ(f[0].bboxMin.y, -1.0f);
    EXPECT_EQ(f[0].bboxMin.z, 0.0f);
    EXPECT_EQ(f[0].bboxMax.x, 2.0f);
    EXPECT_EQ(f[0].bboxMax.y, 5.0f);
    EXPECT_EQ(f[0].bboxMax.z, 7.0f);
    EXPECT_EQ(f[1].bboxMin.x, 1e6f);
    EXPECT_EQ(f[1].bboxMax.x, 2e6f);
    EXPECT_EQ(f[1].bboxMin.y, -3e6f);
    EXPECT_EQ(f[1].bboxMax.y, -1e6f);
    EXPECT_EQ(f[1].bboxMin.z, 1e6f);  // not-a-number never replaces
    EXPECT_EQ(f[1].bboxMax.z, -1e6f);

    ModelPtr empty(CreateModel(0, 0, 0, 1));
    ASSERT_TRUE(empty);
    ComputeFrameBounds(empty.get());
    EXPECT_EQ(empty->frames[0].bboxMin.y, 1e6f);
    EXPECT_EQ(empty->frames[0].bboxMax.y, -1e6f);
}

TEST(MdlNormalIndexTest, NearestEntryByAbsoluteDifferences) {
    EXPECT_EQ(NearestNormalIndex(0, 0, 1), 5);
    EXPECT_EQ(NearestNormalIndex(0, 0, 0), kZeroNormalIndex);
    EXPECT_EQ(NearestNormalIndex(0, 1, 0), 32);
    EXPECT_EQ(NearestNormalIndex(1, 0, 0), 52);
    EXPECT_EQ(NearestNormalIndex(0, 0, -1), 84);
    EXPECT_EQ(NearestNormalIndex(0, -1, 0), 104);
    EXPECT_EQ(NearestNormalIndex(-1, 0, 0), 143);
    EXPECT_EQ(NearestNormalIndex(0.7071068f, 0.7071068f, 0), 42);  // tie with 43
    EXPECT_EQ(NearestNormalIndex(std::nanf(""), 0, 1), 0);
    EXPECT_EQ(NearestNormalIndex(0, 0, std::numeric_limits<float>::infinity()), 0);
    // Every entry is its own nearest entry, and the table is of unit length.
    for (int i = 0; i < kNormalTableSize; ++i) {
        const double* t = NormalTable[i];
        EXPECT_EQ(NearestNormalIndex(float(t[0]), float(t[1]), float(t[2])), i);
        EXPECT_NEAR(std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]), 1.0, 1e-5) << i;
    }
    EXPECT_EQ(NormalTable[0][0], -0.525725);
    EXPECT_EQ(NormalTable[76][1], 0.587780);
    EXPECT_EQ(NormalTable[161][2], -0.425327);
}

TEST_F(MdlFileWriterTest, UnopenablePathGivesZeroAndNoFile) {
    SmallModel s = MakeSmallModel(kSkinFormatRGB565);
    const fs::path path = dir_ / "missing" / "out.mdl";
    const MdlWriteResult result = WriteMdlFileWithReason(path.c_str(), s.model.get(), s.skin.get(), 0);
    EXPECT_EQ(result.written, 0);
    EXPECT_EQ(result.systemError, ENOENT);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(MdlFileWriterTest, SpanBeyondSinglePrecisionIsRefusedBeforeAnyFile) {
    // The range runs from the smallest value to the largest magnitude, so
    // -FLT_MAX alone already overflows it; 1.7e38 either side still fits.
    const float big = std::numeric_limits<float>::max();
    struct Case {
        float low, high;
        int axis, hiPrecision;
        bool written;
    } cases[] = {
        {-3e38f, 3e38f, 0, 0, false},    {-3e38f, 3e38f, 1, 1, false}, {-big, 0, 2, 0, false},
        {-1.7e38f, 1.7e38f, 0, 1, true}, {0, big, 1, 0, true},
    };
    const fs::path path = dir_ / "out.mdl";
    for (const Case& c : cases) {
        WriteText(path, "previous");
        SmallModel s = MakeSmallModel(kSkinFormatRGB565);
        float* first = &s.model->frames[1].positions[0].x;
        float* second = &s.model->frames[1].positions[2].x;
        first[c.axis] = c.low;
        second[c.axis] = c.high;
        const MdlWriteResult result = WriteMdlFileWithReason(path.c_str(), s.model.get(), s.skin.get(), c.hiPrecision);
        EXPECT_EQ(result.written, c.written ? 1 : 0) << c.low << " " << c.high;
        EXPECT_EQ(result.tooLarge, !c.written);
        EXPECT_EQ(result.systemError, 0);
        EXPECT_EQ(ReadFile(path).size() == 8, !c.written);
        EXPECT_EQ(Entries(), std::vector<std::string>{"out.mdl"});
    }
}

TEST_F(MdlFileWriterTest, WriteCheckSeesTheWholeFileBeforeTheRenameAndCanRefuseIt) {
    struct Seen {
        bool accept;
        uintmax_t size = 0;
        bool targetOld = false;
    };
    auto check = [](const char* temporary, void* context) {
        auto* seen = static_cast<Seen*>(context);
        seen->size = fs::file_size(temporary);
        seen->targetOld = fs::file_size(fs::path(temporary).parent_path() / "out.mdl") == 3;
        return seen->accept;
    };
    const fs::path path = dir_ / "out.mdl";
    for (const bool accept : {false, true}) {
        WriteText(path, "old");
        SmallModel s = MakeSmallModel(kSkinFormatRGB565);
        Seen seen{accept};
        SetMdlWriteCheck({check, &seen});
        const MdlWriteResult result = WriteMdlFileWithReason(path.c_str(), s.model.get(), s.skin.get(), 0);
        SetMdlWriteCheck({nullptr, nullptr});
        EXPECT_EQ(result.written, accept ? 1 : 0);
        EXPECT_EQ(result.systemError, accept ? 0 : EIO);
        EXPECT_EQ(seen.size, 208u);
        EXPECT_TRUE(seen.targetOld);
        EXPECT_EQ(fs::file_size(path), accept ? 208u : 3u);
        EXPECT_EQ(Entries(), std::vector<std::string>{"out.mdl"});
    }
}

TEST_F(MdlFileWriterTest, FailedRenameLeavesTargetAndNoTemporary) {
    // A directory where the file should go: creating the temporary file works,
    // moving it into place does not.
    SmallModel s = MakeSmallModel(kSkinFormatRGB565);
    const fs::path path = dir_ / "taken";
    fs::create_directory(path);
    WriteText(path / "inside", "keep");
    EXPECT_EQ(WriteMdlFile(path.c_str(), s.model.get(), s.skin.get(), 0), 0);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(Entries(), std::vector<std::string>{"taken"});
    EXPECT_EQ(ReadFile(path / "inside").size(), 4u);
}

// Caps the size of files this process writes, so that writes fall short as on
// a full disk; restores the limit and the signal it would raise.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit cap = saved_;
        cap.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &cap);
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(MdlFileWriterTest, ShortWriteLeavesExistingFileAndNoTemporary) {
    const fs::path path = dir_ / "out.mdl";
    WriteText(path, "previous contents");

    // The small model fails when closing flushes it; the large one while writing.
    SmallModel small = MakeSmallModel(kSkinFormatRGB565);
    ModelPtr large(CreateModel(0, 5000, 0, 4));
    SkinPtr skin(CreateSkinImage(64, 64, kSkinFormatRGB565));
    ASSERT_TRUE(large && skin);
    {
        FileSizeCap cap(100);
        EXPECT_EQ(WriteMdlFile(path.c_str(), small.model.get(), small.skin.get(), 0), 0);
        EXPECT_EQ(WriteMdlFile(path.c_str(), large.get(), skin.get(), 1), 0);
    }
    const std::vector<uint8_t> b = ReadFile(path);
    EXPECT_EQ(std::string(b.begin(), b.end()), "previous contents");
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.mdl"});

    // Without the cap the same call replaces the file.
    ASSERT_EQ(WriteMdlFile(path.c_str(), large.get(), skin.get(), 1), 1);
    EXPECT_EQ(fs::file_size(path), 88u + 2 * 64 * 64 + 4 * (36 + 8 * 5000));
    EXPECT_EQ(Entries(), std::vector<std::string>{"out.mdl"});
}

TEST_F(MdlFileWriterTest, FinishedFileHasPlainCreateMode) {
    SmallModel s = MakeSmallModel(kSkinFormatRGB565);
    const fs::path path = dir_ / "mode.mdl";
    const mode_t saved = umask(027);
    const int result = WriteMdlFile(path.c_str(), s.model.get(), s.skin.get(), 0);
    umask(saved);
    ASSERT_EQ(result, 1);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(MdlFileWriterTest, FrameLargerThanTheWriteBufferGoesOutWhole) {
    // 16-bit frames of over 8 MB leave the writer's buffer in parts; every
    // vertex must still land in its place, once.
    const int32_t vertices = (1 << 20) + 3;
    ModelPtr m(CreateModel(0, vertices, 0, 2));
    SkinPtr skin(CreateSkinImage(2, 2, kSkinFormatRGB565));
    ASSERT_TRUE(m && skin);
    for (int f = 0; f < 2; ++f)
        for (int32_t v = 0; v < vertices; ++v) m->frames[f].normalIndex[v] = uint8_t((v * 7 + f) % kNormalTableSize);
    const fs::path path = dir_ / "large.mdl";
    ASSERT_EQ(WriteMdlFile(path.c_str(), m.get(), skin.get(), 1), 1);
    const std::vector<uint8_t> b = ReadFile(path);
    const size_t frameSize = 4 + 16 + 16 + 8 * size_t(vertices);
    const size_t frames = 88 + 2 * 4;
    ASSERT_EQ(b.size(), frames + 2 * frameSize);
    for (int f = 0; f < 2; ++f) {
        const size_t at = frames + f * frameSize;
        EXPECT_EQ(I32(b, at), 2);
        int32_t misplaced = 0;
        for (int32_t v = 0; v < vertices; ++v)
            misplaced += b[at + 36 + 8 * size_t(v) + 6] != (v * 7 + f) % kNormalTableSize;
        EXPECT_EQ(misplaced, 0) << "frame " << f;
    }
}

}  // namespace
