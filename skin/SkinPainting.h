// Turning the texture table into the model's one skin.
#pragma once

#include <cstdint>

#include "model/ModelData.h"

// 16-bit pixel of a colour with 16-bit channels: RGB565 when alpha is 0,
// ARGB4444 with a zero alpha nibble when alpha is 1.
uint16_t ConvertSkinPixel(uint16_t r, uint16_t g, uint16_t b, int alpha);

// Paints the picture of every used texture slot into `skin` (rows `rowLength`
// pixels long, equal to skin->width) at the slot's row offset, clipped to the
// size the slot was registered with and to the skin; the pictures are loaded
// through the host's bitmap manager by the slot's full name and released.
// Pixels nothing covers keep their value. Returns 1.
int PaintTextures(SkinImage* skin, int32_t rowLength, int alpha);

// Moves each textured triangle's texture coordinates down by its slot's row
// offset, once per coordinate, modulo 65536.
void ShiftTexCoords(ModelData* model);
