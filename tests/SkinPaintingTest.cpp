#include <gtest/gtest.h>

#include "skin/SkinPainting.h"

namespace {

TEST(ConvertSkinPixel, KeepsTheTopBitsOfEachChannel) {
    EXPECT_EQ(ConvertSkinPixel(65535, 65535, 65535, 0), 0xFFFF);
    EXPECT_EQ(ConvertSkinPixel(65535, 65535, 65535, 1), 0x0FFF);
    // Nothing is rounded up.
    EXPECT_EQ(ConvertSkinPixel(0x07FF, 0x03FF, 0x07FF, 0), 0);
    EXPECT_EQ(ConvertSkinPixel(0x07FF, 0x03FF, 0x07FF, 1), 0);
    // Each channel lands in its own bits.
    EXPECT_EQ(ConvertSkinPixel(0xFFFF, 0, 0, 0), 0xF800);
    EXPECT_EQ(ConvertSkinPixel(0, 0xFFFF, 0, 0), 0x07E0);
    EXPECT_EQ(ConvertSkinPixel(0, 0, 0xFFFF, 0), 0x001F);
    EXPECT_EQ(ConvertSkinPixel(0xFFFF, 0, 0, 1), 0x0F00);
    EXPECT_EQ(ConvertSkinPixel(0, 0xFFFF, 0, 1), 0x00F0);
    EXPECT_EQ(ConvertSkinPixel(0, 0, 0xFFFF, 1), 0x000F);
    // 8-bit 0x80 widened to 0x8080: red 10000, green 100000, blue 10000.
    EXPECT_EQ(ConvertSkinPixel(0x8080, 0x8080, 0x8080, 0), 0x8410);
    EXPECT_EQ(ConvertSkinPixel(0x8080, 0x8080, 0x8080, 1), 0x0888);
}

}  // namespace
