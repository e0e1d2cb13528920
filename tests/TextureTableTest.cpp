#include <gtest/gtest.h>

#include <string>

#include "skin/TextureTable.h"

using namespace quorvex;

namespace {

class TextureTableTest : public ::testing::Test {
protected:
    TextureTable table{};
};

TEST_F(TextureTableTest, RegistersPicturesInOrderAndStacksTheirRows) {
    EXPECT_EQ(LargestTextureWidth(table), 0);
    EXPECT_EQ(TotalTextureHeight(table), 0);

    EXPECT_EQ(FindOrAddTexture(table, "a.png", 64, 32), 0);
    EXPECT_EQ(FindOrAddTexture(table, "b.png", 100, 50), 1);
    // A second registration finds the slot and keeps the first size.
    EXPECT_EQ(FindOrAddTexture(table, "a.png", 10, 10), 0);
    EXPECT_EQ(table.slots[0].width, 64);
    EXPECT_EQ(table.slots[0].height, 32);

    EXPECT_EQ(table.slots[0].rowOffset, 0);
    EXPECT_EQ(table.slots[1].rowOffset, 32);
    EXPECT_EQ(table.slots[2].rowOffset, 82);
    EXPECT_EQ(table.slots[2].inUse, 0);
    EXPECT_EQ(LargestTextureWidth(table), 100);
    EXPECT_EQ(TotalTextureHeight(table), 82);
}

TEST_F(TextureTableTest, NamesAreExactBytes) {
    EXPECT_EQ(FindOrAddTexture(table, "skins/hull.png", 8, 8), 0);
    EXPECT_EQ(FindOrAddTexture(table, "skins/Hull.png", 8, 8), 1);
    EXPECT_EQ(FindOrAddTexture(table, "skins\\hull.png", 8, 8), 2);
    EXPECT_EQ(FindOrAddTexture(table, "skins/hull.png ", 8, 8), 3);
    EXPECT_EQ(FindOrAddTexture(table, "skins/hull.pn", 8, 8), 4);
    EXPECT_EQ(TotalTextureHeight(table), 40);
}

TEST_F(TextureTableTest, ClearingStartsAgainFromSlotZero) {
    FindOrAddTexture(table, "a.png", 64, 32);
    FindOrAddTexture(table, "b.png", 16, 16);
    ClearTextureTable(table);
    EXPECT_EQ(LargestTextureWidth(table), 0);
    EXPECT_EQ(TotalTextureHeight(table), 0);
    for (const TextureSlot& slot : table.slots) {
        EXPECT_EQ(slot.inUse, 0);
        EXPECT_EQ(slot.rowOffset, 0);
        EXPECT_STREQ(slot.name, "");
        EXPECT_TRUE(slot.fullName.empty());
    }
    EXPECT_EQ(FindOrAddTexture(table, "b.png", 4, 2), 0);
    EXPECT_EQ(table.slots[0].width, 4);
    EXPECT_EQ(table.slots[1].rowOffset, 2);
}

TEST_F(TextureTableTest, FullTableRefusesNewNamesButFindsOldOnes) {
    for (int k = 0; k < kTextureTableSize; ++k) {
        ASSERT_EQ(FindOrAddTexture(table, ("t" + std::to_string(k)).c_str(), k + 1, 2), k);
    }
    EXPECT_EQ(FindOrAddTexture(table, "one too many", 500, 500), -1);
    EXPECT_EQ(FindOrAddTexture(table, "", 500, 500), -1);
    EXPECT_EQ(FindOrAddTexture(table, "t0", 1, 1), 0);
    EXPECT_EQ(FindOrAddTexture(table, "t63", 1, 1), 63);
    EXPECT_EQ(LargestTextureWidth(table), 64);
    EXPECT_EQ(TotalTextureHeight(table), 128);
}

TEST_F(TextureTableTest, EmptyNameMatchesTheFirstFreeSlotWithoutTakingIt) {
    FindOrAddTexture(table, "a.png", 8, 8);
    EXPECT_EQ(FindOrAddTexture(table, "", 30, 40), 1);
    EXPECT_EQ(table.slots[1].inUse, 0);
    EXPECT_EQ(table.slots[2].rowOffset, 0);
    EXPECT_EQ(TotalTextureHeight(table), 8);
    EXPECT_EQ(LargestTextureWidth(table), 8);
    // The slot is still free for the next real picture.
    EXPECT_EQ(FindOrAddTexture(table, "b.png", 2, 3), 1);
    EXPECT_EQ(table.slots[1].inUse, 1);
}

TEST_F(TextureTableTest, ZeroSizesTakeASlotButAddNothing) {
    EXPECT_EQ(FindOrAddTexture(table, "missing.png", 0, 0), 0);
    EXPECT_EQ(table.slots[1].rowOffset, 0);
    EXPECT_EQ(FindOrAddTexture(table, "a.png", 5, 7), 1);
    EXPECT_EQ(table.slots[2].rowOffset, 7);
    EXPECT_EQ(LargestTextureWidth(table), 5);
    EXPECT_EQ(TotalTextureHeight(table), 7);
}

TEST_F(TextureTableTest, LongNamesKeepTheirFirst255BytesAndFullName) {
    const std::string longName = std::string(300, 'x') + ".png";
    EXPECT_EQ(FindOrAddTexture(table, longName.c_str(), 8, 8), 0);
    EXPECT_EQ(std::string(table.slots[0].name), longName.substr(0, 255));
    EXPECT_EQ(table.slots[0].fullName, longName);
    // The same long name again finds the slot; so does any name that shares
    // the stored bytes, and the slot keeps the name it was first given.
    EXPECT_EQ(FindOrAddTexture(table, longName.c_str(), 1, 1), 0);
    const std::string otherTail = std::string(300, 'x') + ".tga";
    EXPECT_EQ(FindOrAddTexture(table, otherTail.c_str(), 1, 1), 0);
    EXPECT_EQ(table.slots[0].fullName, longName);
    // 254 bytes differ from the 255-byte stored prefix.
    EXPECT_EQ(FindOrAddTexture(table, std::string(254, 'x').c_str(), 1, 1), 1);
}

}  // namespace
