// The table of distinct pictures one export uses, in the order the gather walk
// meets them. The skin stacks them one under another in slot order.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex {

constexpr int kTextureTableSize = 64;
constexpr int kTextureNameLength = 255;  // bytes compared and stored

struct TextureSlot {
    int32_t inUse;      // 1 when the slot holds a picture
    int32_t width;      // as registered
    int32_t height;     // as registered
    int32_t rowOffset;  // first skin row of the picture
    char name[256];     // first 255 bytes of the name, NUL-terminated
    // The full name of the first registration; painting loads the picture by it.
    std::string fullName;
};

// The export keeps one table and clears it at the start of every export.
struct TextureTable {
    TextureSlot slots[kTextureTableSize];
};

void ClearTextureTable(TextureTable& table);
// Slot index 0..63 of `name` (registering it with width x height when new), or
// -1 when the table is full. A null name counts as empty.
int FindOrAddTexture(TextureTable& table, const char* name, int32_t width, int32_t height);
int32_t LargestTextureWidth(const TextureTable& table);
int32_t TotalTextureHeight(const TextureTable& table);

}  // namespace quorvex
