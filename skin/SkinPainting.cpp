#include "skin/SkinPainting.h"

#include <algorithm>
#include <memory>
#include <new>

#include "model/Numeric.h"
#include "plugin/HostServices.h"
#include "skin/TextureTable.h"

namespace quorvex {

uint16_t ConvertSkinPixel(uint16_t r, uint16_t g, uint16_t b, int alpha) {
    // Top bits only, never rounded; the alpha nibble of ARGB4444 stays 0.
    if (alpha) return static_cast<uint16_t>(((r >> 12) << 8) | ((g >> 12) << 4) | (b >> 12));
    return static_cast<uint16_t>((r & 0xF800u) | ((g >> 10) << 5) | (b >> 11));
}

namespace {

// Paints one loaded picture with its top-left corner at (0, top), at most
// `width` x `height` of it, and nothing outside the skin.
void PaintPicture(SkinImage* skin, int32_t rowLength, int alpha, Bitmap* picture, int64_t top, int64_t width,
                  int64_t height) {
    const int64_t skinPixels = static_cast<int64_t>(skin->width) * skin->height;
    const int64_t columns = std::min({width, static_cast<int64_t>(picture->Width()), static_cast<int64_t>(rowLength)});
    const int64_t rows = std::min(height, static_cast<int64_t>(picture->Height()));
    if (columns <= 0 || rows <= 0 || !skin->pixels) return;

    std::unique_ptr<BMM_Color_64[]> line(new (std::nothrow) BMM_Color_64[static_cast<size_t>(columns)]);
    if (!line) return;
    for (int64_t i = 0; i < rows; ++i) {
        const int64_t row = top + i;
        if (row < 0) continue;
        const int64_t start = row * rowLength;
        if (start + columns > skinPixels) break;
        if (!picture->GetPixels(0, static_cast<int>(i), static_cast<int>(columns), line.get())) continue;
        for (int64_t j = 0; j < columns; ++j) {
            const BMM_Color_64& c = line[static_cast<size_t>(j)];
            skin->pixels[start + j] = ConvertSkinPixel(c.r, c.g, c.b, alpha);
        }
    }
}

}  // namespace

int PaintTextures(const TextureTable& table, SkinImage* skin, int32_t rowLength, int alpha) {
    if (!skin || rowLength <= 0) return 1;
    BitmapManager* manager = TheManager();
    if (!manager) return 1;
    BitmapInfo info;
    for (const TextureSlot& slot : table.slots) {
        if (slot.inUse != 1) continue;
        info.SetName(slot.fullName.empty() ? slot.name : slot.fullName.c_str());
        uint16_t status = 0;
        Bitmap* picture = manager->Load(&info, &status);
        if (!picture) continue;
        // Each picture goes where its texture coordinates will point: at the
        // slot's row offset, no larger than it was registered, so a picture
        // that changed size since it was registered cannot shift the others.
        PaintPicture(skin, rowLength, alpha, picture, slot.rowOffset, slot.width, slot.height);
        picture->DeleteThis();
    }
    return 1;
}

void ShiftTexCoords(const TextureTable& table, ModelData* model) {
    if (!model || !model->triangles || !model->texCoords) return;
    for (int32_t t = 0; t < model->triangleCount; ++t) {
        const ModelTriangle& tri = model->triangles[t];
        const int slot = tri.textureSlot;
        if (slot < 0 || slot >= kTextureTableSize) continue;
        const uint16_t offset = Low16(table.slots[slot].rowOffset);
        for (uint16_t index : tri.texCoord) {
            if (index >= model->texCoordCount) continue;
            ModelTexCoord& tc = model->texCoords[index];
            // A coordinate shared by several triangles moves once.
            if (tc.shifted) continue;
            tc.shifted = 1;
            tc.v = Low16Signed(static_cast<int64_t>(static_cast<uint16_t>(tc.v)) + offset);
        }
    }
}

}  // namespace quorvex
