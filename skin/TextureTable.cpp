#include "skin/TextureTable.h"

#include <cstring>
#include <new>

#include "model/Numeric.h"

namespace quorvex {

void ClearTextureTable(TextureTable& table) {
    for (int k = 0; k < kTextureTableSize; ++k) {
        TextureSlot& slot = table.slots[k];
        slot.inUse = 0;
        slot.name[0] = '\0';
        slot.fullName.clear();
        if (k + 1 < kTextureTableSize) table.slots[k + 1].rowOffset = 0;
    }
}

int FindOrAddTexture(TextureTable& table, const char* name, int32_t width, int32_t height) {
    if (!name) name = "";
    for (int k = 0; k < kTextureTableSize; ++k) {
        TextureSlot& slot = table.slots[k];
        // Names are kept and compared by their first kTextureNameLength bytes,
        // so a long name registered twice still finds its slot. The test runs
        // on free slots too: an empty name matches the first free slot, whose
        // index is returned without taking it.
        if (std::strncmp(slot.name, name, kTextureNameLength) == 0) return k;
        if (slot.inUse) continue;

        try {
            slot.fullName.assign(name);
        } catch (const std::bad_alloc&) {
            return -1;  // the slot stays free
        }
        slot.inUse = 1;
        std::strncpy(slot.name, name, kTextureNameLength);
        slot.name[kTextureNameLength] = '\0';
        slot.width = width;
        slot.height = height;
        if (k + 1 < kTextureTableSize) {
            table.slots[k + 1].rowOffset = WrapToInt32(static_cast<int64_t>(slot.rowOffset) + height);
        }
        return k;
    }
    return -1;
}

int32_t LargestTextureWidth(const TextureTable& table) {
    int32_t largest = 0;
    for (const TextureSlot& slot : table.slots) {
        if (slot.inUse == 1 && slot.width > largest) largest = slot.width;
    }
    return largest;
}

int32_t TotalTextureHeight(const TextureTable& table) {
    int64_t total = 0;
    for (const TextureSlot& slot : table.slots) {
        if (slot.inUse == 1) total += slot.height;
    }
    return WrapToInt32(total);
}

}  // namespace quorvex
