// Turning the texture table into the model's one skin.
#pragma once

#include <cstdint>

#include "model/ModelData.h"
#include "skin/TextureTable.h"

namespace quorvex {

// 16-bit pixel of a colour with 16-bit channels: RGB565 when alpha is 0,
// ARGB4444 with a zero alpha nibble when alpha is 1.
uint16_t ConvertSkinPixel(uint16_t r, uint16_t g, uint16_t b, int alpha);

// Paints the picture of every used slot of `table` into `skin` (rows `rowLength`
// pixels long, equal to skin->width) at the slot's row offset, clipped to the
// size the slot was registered with and to the skin; the pictures are loaded
// through the host's bitmap manager by the slot's full name and released.
// Pixels nothing covers keep their value. Returns 1.
int PaintTextures(const TextureTable& table, SkinImage* skin, int32_t rowLength, int alpha);

// Moves each textured triangle's texture coordinates down by its slot's row
// offset in `table`, once per coordinate, modulo 65536.
void ShiftTexCoords(const TextureTable& table, ModelData* model);

}  // namespace quorvex
