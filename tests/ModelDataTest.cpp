#include "model/ModelData.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "model/Allocation.h"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

using namespace quorvex;

namespace {

TEST(ModelDataTest, ZeroCountsGiveEmptyArrays) {
    ModelData* model = CreateModel(0, 0, 0, 0);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->frameCount, 0);
    EXPECT_EQ(model->frames, nullptr);
    EXPECT_EQ(model->triangles, nullptr);
    EXPECT_EQ(model->texCoords, nullptr);
    DestroyModel(model);

    // Frames without vertices still exist and are named.
    model = CreateModel(0, 0, 0, 3);
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->frames[2].name, "Frame2");
    EXPECT_EQ(model->frames[2].positions, nullptr);
    DestroyModel(model);

    DestroyModel(nullptr);
}

TEST(ModelDataTest, LimitsRefuseNegativeAndOversizedCounts) {
    EXPECT_EQ(CreateModel(-1, 3, 3, 1), nullptr);
    EXPECT_EQ(CreateModel(1, -3, 3, 1), nullptr);
    EXPECT_EQ(CreateModel(1, 3, -3, 1), nullptr);
    EXPECT_EQ(CreateModel(1, 3, 3, -1), nullptr);
    // 65536 vertices take 1572864 bytes per frame: 2730 frames fit in 2^32 bytes, 2731 do not.
    EXPECT_EQ(CreateModel(0, 65536, 0, 2731), nullptr);
    EXPECT_TRUE(ModelFitsLimits(0, 65536, 0, 2730));
    EXPECT_FALSE(ModelFitsLimits(0, 65536, 0, 2731));

    // 24 * 178956970 = 2^32 - 16 is the largest frame payload that fits.
    EXPECT_TRUE(ModelFitsLimits(0, 178956970, 0, 1));
    EXPECT_FALSE(ModelFitsLimits(0, 178956971, 0, 1));
    EXPECT_TRUE(ModelFitsLimits(0, 1, 0, 178956970));
    EXPECT_FALSE(ModelFitsLimits(0, 1, 0, 178956971));

    EXPECT_TRUE(ModelFitsLimits(0, 0, 0, 2147483647));
    EXPECT_FALSE(ModelFitsLimits(0, 0, 0, 2147483648LL));
    EXPECT_FALSE(ModelFitsLimits(0, -1, 0, 0));
    EXPECT_FALSE(ModelFitsLimits(-1, 0, 0, 0));
    EXPECT_FALSE(ModelFitsLimits(0, 0, -1, 0));
    // Products that would overflow 64 bits are judged, not wrapped.
    EXPECT_FALSE(ModelFitsLimits(0, INT64_MAX, 0, 2));
    EXPECT_FALSE(ModelFitsLimits(0, INT64_MAX / 24 + 1, 0, 1));
}

TEST(ModelDataTest, SkinIsFilledAndSized) {
    SkinImage* skin = CreateSkinImage(8, 4, kSkinFormatRGB565);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->format, kSkinFormatRGB565);
    EXPECT_EQ(skin->width, 8);
    EXPECT_EQ(skin->height, 4);
    ASSERT_NE(skin->pixels, nullptr);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(skin->pixels[i], 0x001F);
    FreeSkinImage(skin);

    skin = CreateSkinImage(0, 0, kSkinFormatARGB4444);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->format, kSkinFormatARGB4444);
    EXPECT_EQ(skin->pixels, nullptr);
    FreeSkinImage(skin);

    skin = CreateSkinImage(16, 0, kSkinFormatRGB565);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->pixels, nullptr);
    FreeSkinImage(skin);

    FreeSkinImage(nullptr);
}

TEST(ModelDataTest, SkinLimitsRefuseNegativeAndOversizedSkins) {
    EXPECT_EQ(CreateSkinImage(-1, 4, kSkinFormatRGB565), nullptr);
    EXPECT_EQ(CreateSkinImage(4, -1, kSkinFormatRGB565), nullptr);
    EXPECT_EQ(CreateSkinImage(32768, 16385, kSkinFormatRGB565), nullptr);
    // 2^29 pixels are exactly 2^30 bytes.
    EXPECT_TRUE(SkinFitsLimits(32768, 16384));
    EXPECT_FALSE(SkinFitsLimits(32768, 16385));
    EXPECT_TRUE(SkinFitsLimits(0, INT64_MAX));
    EXPECT_FALSE(SkinFitsLimits(INT64_MAX, 2));
    EXPECT_FALSE(SkinFitsLimits(-2, -2));
}

}  // namespace

#ifdef __linux__
TEST(ModelDataTest, LargeArraysStartOnLargePages) {
    // From a large page on, a block starts on one, so that its whole large
    // pages can be backed as such.
    constexpr size_t kLargePage = size_t(2) << 20;
    for (const size_t size : {kLargePage, 3 * kLargePage + 5}) {
        auto* zeroed = static_cast<uint8_t*>(GatedCalloc(size, 1));
        void* plain = MallocLargePaged(size);
        ASSERT_TRUE(zeroed && plain);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(zeroed) % kLargePage, 0u) << size << " bytes";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(plain) % kLargePage, 0u) << size << " bytes";
        EXPECT_EQ(zeroed[0] | zeroed[size - 1], 0) << size << " bytes";
        std::free(zeroed);
        std::free(plain);
    }
}

TEST(ModelDataTest, LargeZeroedBlocksLeaveNothingMappedWhenFreed) {
    // A size off page boundaries: the mapping must still end with the block's
    // last page, and freeing must unmap all of it.
    constexpr size_t kLargePage = size_t(2) << 20;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t size = 3 * kLargePage + 5;
    auto* block = static_cast<uint8_t*>(GatedLargeZeroed(size));
    ASSERT_TRUE(block);
    EXPECT_EQ(block[size - 1], 0);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size + page - 1) & ~(page - 1);
    EXPECT_NE(msync(reinterpret_cast<void*>(end - page), page, MS_ASYNC), -1);
    EXPECT_EQ(msync(reinterpret_cast<void*>(end), page, MS_ASYNC), -1) << "mapped past the block's last page";
    FreeLargeZeroed(block, size);
    EXPECT_EQ(msync(reinterpret_cast<void*>(end - page), page, MS_ASYNC), -1) << "still mapped after the free";
}
#endif
