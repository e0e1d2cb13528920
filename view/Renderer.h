// A software renderer for model files: draws one frame, or a sheet of frames,
// textured with the skin and lit by the stored normals, into an RGB picture.
// No GPU and no window; everything happens in memory.
//
// Projection is orthographic. The camera looks at the centre of the union of
// every frame's bounding box and is scaled so that the whole union fits the
// picture from the chosen direction, so an animation never leaves the frame
// and every frame of a model is drawn at the same scale.
//
// Front faces. The exporter reverses the host's winding, and the stored
// normals are computed from the reversed triangles, so in the file a triangle
// whose corners 0, 1, 2 run clockwise as seen by the viewer (in the file's
// right-handed axes) faces the viewer, and its stored normals point into the
// model. The renderer draws exactly those triangles and lights with the
// negated stored normals.
//
// Texturing takes the nearest texel of the first skin, with u, v as pixel
// coordinates whose integer values are texel centres. The ARGB4444 alpha
// nibble is ignored (the exporter writes it as 0): skins are opaque.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mdl/MdlReader.h"

namespace quorvex::view {

// Largest width or height of a picture the renderer makes, in pixels, and the
// largest number of pixels in one picture (a sheet included).
constexpr int32_t kRenderMaxSide = 8192;
constexpr int64_t kRenderMaxPixels = int64_t(1) << 26;

struct RenderColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

// An RGB picture, 3 bytes per pixel, row 0 at the top. rgb holds exactly
// width * height * 3 bytes.
struct RenderImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    RenderColor At(int32_t x, int32_t y) const;  // x, y must lie inside
};

struct RenderOptions {
    int32_t width = 512;   // picture, or each sheet cell, 1..RenderMaxSide
    int32_t height = 512;  // likewise
    // View direction: yaw 0, pitch 0 looks from +x towards -x with +z up
    // (the model's front); positive yaw swings the camera towards +y, positive
    // pitch raises it. Pitch is limited to -89..89 degrees.
    float yawDegrees = 30.0f;
    float pitchDegrees = 15.0f;
    RenderColor background{40, 44, 52};
    // Light direction towards the light in camera space: x right, y up, z
    // towards the viewer. Need not be of unit length; (0, 0, 0) means head-on.
    float light[3] = {-0.4f, 0.6f, 1.0f};
    float ambient = 0.3f;  // share of the texel colour every lit face keeps, 0..1
    float margin = 0.06f;  // share of the picture left free around the model, 0..0.45
};

// What a renderer call produced: the picture, or an error for people.
struct RenderResult {
    RenderImage image;
    std::string error;  // empty on success
    // True when the request itself cannot be met (a frame that does not exist,
    // sizes outside the limits, a skin that is absent or too large); false for
    // running out of memory.
    bool badRequest = false;
    bool ok() const { return error.empty(); }
};

// The first skin as a picture of skinWidth x (skinHeight * skinCount) pixels:
// every skin, one below the other. Fails when the file has no skin pixels or
// the picture would exceed kRenderMaxPixels.
RenderResult RenderSkinPicture(const quorvex::MdlFile& file);

// Draws frame `frameIndex` (0..frameCount-1) into a picture of
// options.width x options.height. Fails for a frame index outside the file
// or sizes outside the limits above.
RenderResult RenderModelFrame(const quorvex::MdlFile& file, int32_t frameIndex, const RenderOptions& options);

// Draws every `every`-th frame (0, every, 2*every, ...) into a grid of cells
// of options.width x options.height, each labelled with its frame's name.
// `every` 0 picks the smallest step that keeps the sheet within 64 cells.
// Fails when the file has no frames, `every` is negative, or the sheet would
// exceed kRenderMaxSide on a side or kRenderMaxPixels in all.
RenderResult RenderModelSheet(const quorvex::MdlFile& file, int32_t every, const RenderOptions& options);

// How the sheet labels its cells: every label at one size (`scale` 2 or 1
// times the 3x5 font; 0: no labels, the cell is too small to hold one beside
// the model), each text "<frame> <name>" cut at the end so that it fits the
// cell's width. `labels` holds one text per entry of `frames`/`names`.
struct SheetLabels {
    int32_t scale = 0;
    std::vector<std::string> texts;
};
SheetLabels FitSheetLabels(const std::vector<int64_t>& frames, const std::vector<std::string>& names, int32_t cellWidth,
                           int32_t cellHeight);

// `image` scaled to width x height by taking the nearest pixel. Fails for an
// empty image or a size outside the limits above.
RenderResult ScaleRenderImage(const RenderImage& image, int32_t width, int32_t height);

// Colour of one 16-bit skin pixel in the file's skin type (RGB565 or
// ARGB4444), widened to 8 bits per channel; alpha is ignored.
RenderColor DecodeSkinPixel(uint16_t pixel, int32_t skinType);

}  // namespace quorvex::view
