#include "view/Renderer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace quorvex::view {

using namespace quorvex;

namespace {

constexpr float kDegreesToRadians = 3.14159265358979323846f / 180.0f;

MdlVec3 Add(MdlVec3 a, MdlVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
MdlVec3 Sub(MdlVec3 a, MdlVec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
MdlVec3 Mul(MdlVec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(MdlVec3 a, MdlVec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
MdlVec3 Cross(MdlVec3 a, MdlVec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
bool Finite(MdlVec3 a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }
MdlVec3 Normalized(MdlVec3 a) {
    const float length = std::sqrt(Dot(a, a));
    if (!(length > 0.0f) || !std::isfinite(length)) return {};
    return Mul(a, 1.0f / length);
}

// Clamps before converting, so that no float outside int range is ever cast.
int32_t ClampToInt(float value, int32_t low, int32_t high) {
    if (!(value >= float(low))) return low;  // NaN lands here too
    if (value >= float(high)) return high;
    return int32_t(value);
}

struct Camera {
    MdlVec3 center;
    MdlVec3 right;
    MdlVec3 up;
    MdlVec3 forward;  // from the camera into the scene
    float pixelsPerUnit = 1.0f;
};

// The view axes for a yaw and pitch; see RenderOptions.
void AimCamera(Camera& camera, const RenderOptions& options) {
    const float yaw = options.yawDegrees * kDegreesToRadians;
    const float pitch = std::clamp(options.pitchDegrees, -89.0f, 89.0f) * kDegreesToRadians;
    const MdlVec3 towardCamera{std::cos(yaw) * std::cos(pitch), std::sin(yaw) * std::cos(pitch), std::sin(pitch)};
    camera.forward = Mul(towardCamera, -1.0f);
    camera.right = Normalized(Cross(camera.forward, MdlVec3{0.0f, 0.0f, 1.0f}));
    camera.up = Cross(camera.right, camera.forward);
}

// Fits the camera to the union of every frame's box, for a viewport of
// width x height pixels. Frames whose box is empty (minimum above maximum, as
// a frame without vertices has) or not finite take no part.
Camera FitCamera(const MdlFile& file, const RenderOptions& options, int32_t width, int32_t height) {
    Camera camera;
    AimCamera(camera, options);
    MdlVec3 low{0, 0, 0}, high{0, 0, 0};
    bool any = false;
    for (const MdlFrame& frame : file.frames) {
        const MdlVec3 a = DecodeMdlPosition(file.header, frame.bboxMin);
        const MdlVec3 b = DecodeMdlPosition(file.header, frame.bboxMax);
        if (!Finite(a) || !Finite(b) || a.x > b.x || a.y > b.y || a.z > b.z) continue;
        if (!any) {
            low = a;
            high = b;
            any = true;
        } else {
            low = {std::min(low.x, a.x), std::min(low.y, a.y), std::min(low.z, a.z)};
            high = {std::max(high.x, b.x), std::max(high.y, b.y), std::max(high.z, b.z)};
        }
    }
    // Halves first, so that boxes near the float limit do not overflow.
    camera.center = Add(Mul(low, 0.5f), Mul(high, 0.5f));
    float extentX = 0.0f, extentY = 0.0f;
    for (int corner = 0; corner < 8; ++corner) {
        const MdlVec3 p{(corner & 1) ? high.x : low.x, (corner & 2) ? high.y : low.y, (corner & 4) ? high.z : low.z};
        const MdlVec3 d = Sub(p, camera.center);
        extentX = std::max(extentX, std::fabs(Dot(d, camera.right)));
        extentY = std::max(extentY, std::fabs(Dot(d, camera.up)));
    }
    const float margin = std::clamp(options.margin, 0.0f, 0.45f);
    const float usableX = 0.5f * float(width) * (1.0f - 2.0f * margin);
    const float usableY = 0.5f * float(height) * (1.0f - 2.0f * margin);
    float ppu = std::numeric_limits<float>::infinity();
    if (extentX > 0.0f) ppu = std::min(ppu, usableX / extentX);
    if (extentY > 0.0f) ppu = std::min(ppu, usableY / extentY);
    // A model that is a point (or has no box) still gets a finite scale.
    camera.pixelsPerUnit = std::isfinite(ppu) && ppu > 0.0f ? ppu : 1.0f;
    return camera;
}

struct Viewport {
    int32_t x0, y0, width, height;
};

struct ScreenVertex {
    float x, y, depth;
    bool valid;
};

bool CheckSize(int32_t width, int32_t height, std::string& error) {
    if (width < 1 || height < 1 || width > kRenderMaxSide || height > kRenderMaxSide) {
        error = "picture size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1.." +
                std::to_string(kRenderMaxSide) + " on a side";
        return false;
    }
    if (int64_t(width) * int64_t(height) > kRenderMaxPixels) {
        error = "picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels exceeds " +
                std::to_string(kRenderMaxPixels) + " pixels";
        return false;
    }
    return true;
}

void Fill(RenderImage& image, RenderColor color) {
    for (size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
        image.rgb[i] = color.r;
        image.rgb[i + 1] = color.g;
        image.rgb[i + 2] = color.b;
    }
}

void Put(RenderImage& image, int32_t x, int32_t y, RenderColor c) {
    uint8_t* p = &image.rgb[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

uint8_t Shade(uint8_t channel, float intensity) {
    return uint8_t(ClampToInt(float(channel) * intensity + 0.5f, 0, 255));
}

// Draws one frame into the viewport of `image`, depth-testing against `depth`
// (one float per pixel of the whole image).
void DrawFrame(const MdlFile& file, const MdlFrame& frame, const Camera& camera, const RenderOptions& options,
               const Viewport& view, RenderImage& image, std::vector<float>& depth) {
    const MdlHeader& h = file.header;
    const float cx = float(view.x0) + 0.5f * float(view.width);
    const float cy = float(view.y0) + 0.5f * float(view.height);

    std::vector<ScreenVertex> screen(frame.vertices.size());
    std::vector<MdlVec3> normals(frame.vertices.size());
    for (size_t i = 0; i < frame.vertices.size(); ++i) {
        const MdlVec3 d = Sub(DecodeMdlPosition(h, frame.vertices[i]), camera.center);
        ScreenVertex& s = screen[i];
        s.x = cx + Dot(d, camera.right) * camera.pixelsPerUnit;
        s.y = cy - Dot(d, camera.up) * camera.pixelsPerUnit;
        s.depth = Dot(d, camera.forward);
        s.valid = std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.depth);
        // Stored normals point into the model (see the header); light the outside.
        normals[i] = Mul(DecodeMdlNormal(frame.vertices[i].normalIndex), -1.0f);
    }

    MdlVec3 light{options.light[0], options.light[1], options.light[2]};
    light = Normalized(Add(Add(Mul(camera.right, light.x), Mul(camera.up, light.y)), Mul(camera.forward, -light.z)));
    if (light.x == 0.0f && light.y == 0.0f && light.z == 0.0f) light = Mul(camera.forward, -1.0f);
    const float ambient = std::clamp(options.ambient, 0.0f, 1.0f);

    const bool textured = h.skinWidth > 0 && h.skinHeight > 0 && h.skinCount > 0 && !file.skinPixels.empty();
    const RenderColor untextured{200, 200, 200};
    const int32_t x1 = view.x0 + view.width - 1;
    const int32_t y1 = view.y0 + view.height - 1;

    for (const MdlTriangle& tri : file.triangles) {
        const ScreenVertex& a = screen[tri.vertex[0]];
        const ScreenVertex& b = screen[tri.vertex[1]];
        const ScreenVertex& c = screen[tri.vertex[2]];
        if (!a.valid || !b.valid || !c.valid) continue;
        // Positive for clockwise-as-seen corners with y pointing down on
        // screen: the file's front faces.
        const float area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (!(area > 0.0f) || !std::isfinite(area)) continue;

        const int32_t minX = ClampToInt(std::floor(std::min({a.x, b.x, c.x})), view.x0, x1);
        const int32_t maxX = ClampToInt(std::ceil(std::max({a.x, b.x, c.x})), view.x0, x1);
        const int32_t minY = ClampToInt(std::floor(std::min({a.y, b.y, c.y})), view.y0, y1);
        const int32_t maxY = ClampToInt(std::ceil(std::max({a.y, b.y, c.y})), view.y0, y1);

        const MdlTexCoord& t0 = file.texCoords[tri.texCoord[0]];
        const MdlTexCoord& t1 = file.texCoords[tri.texCoord[1]];
        const MdlTexCoord& t2 = file.texCoords[tri.texCoord[2]];
        const MdlVec3& n0 = normals[tri.vertex[0]];
        const MdlVec3& n1 = normals[tri.vertex[1]];
        const MdlVec3& n2 = normals[tri.vertex[2]];

        for (int32_t y = minY; y <= maxY; ++y) {
            const float py = float(y) + 0.5f;
            for (int32_t x = minX; x <= maxX; ++x) {
                const float px = float(x) + 0.5f;
                const float w0 = (c.x - b.x) * (py - b.y) - (c.y - b.y) * (px - b.x);
                const float w1 = (a.x - c.x) * (py - c.y) - (a.y - c.y) * (px - c.x);
                const float w2 = (b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x);
                if (!(w0 >= 0.0f && w1 >= 0.0f && w2 >= 0.0f)) continue;
                const float l0 = w0 / area, l1 = w1 / area, l2 = w2 / area;
                const float z = l0 * a.depth + l1 * b.depth + l2 * c.depth;
                float& stored = depth[size_t(y) * size_t(image.width) + size_t(x)];
                if (!(z < stored)) continue;
                stored = z;

                RenderColor texel = untextured;
                if (textured) {
                    const float u = l0 * float(t0.u) + l1 * float(t1.u) + l2 * float(t2.u);
                    const float v = l0 * float(t0.v) + l1 * float(t1.v) + l2 * float(t2.v);
                    const int32_t col = ClampToInt(std::floor(u + 0.5f), 0, h.skinWidth - 1);
                    const int32_t row = ClampToInt(std::floor(v + 0.5f), 0, h.skinHeight - 1);
                    texel = DecodeSkinPixel(file.skinPixels[size_t(row) * size_t(h.skinWidth) + size_t(col)],
                                            file.skinType);
                }
                const MdlVec3 n = Normalized(Add(Add(Mul(n0, l0), Mul(n1, l1)), Mul(n2, l2)));
                const float intensity = std::min(1.0f, ambient + (1.0f - ambient) * std::max(0.0f, Dot(n, light)));
                Put(image, x, y, {Shade(texel.r, intensity), Shade(texel.g, intensity), Shade(texel.b, intensity)});
            }
        }
    }
}

// A 3 x 5 pixel font for sheet labels: five rows per glyph, three bits per
// row (4 = left column). Covers ' ' to '_'; lower case draws as upper case.
constexpr uint8_t kFontGlyphs[64][5] = {
    {0, 0, 0, 0, 0}, {2, 2, 2, 0, 2}, {5, 5, 0, 0, 0}, {5, 7, 5, 7, 5},  // space ! " #
    {3, 6, 2, 3, 6}, {5, 1, 2, 4, 5}, {2, 5, 2, 5, 3}, {2, 2, 0, 0, 0},  // $ % & '
    {1, 2, 2, 2, 1}, {4, 2, 2, 2, 4}, {0, 5, 2, 5, 0}, {0, 2, 7, 2, 0},  // ( ) * +
    {0, 0, 0, 2, 4}, {0, 0, 7, 0, 0}, {0, 0, 0, 0, 2}, {1, 1, 2, 4, 4},  // , - . /
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7},  // 0 1 2 3
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2},  // 4 5 6 7
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {0, 2, 0, 2, 0}, {0, 2, 0, 2, 4},  // 8 9 : ;
    {1, 2, 4, 2, 1}, {0, 7, 0, 7, 0}, {4, 2, 1, 2, 4}, {7, 1, 3, 0, 2},  // < = > ?
    {2, 5, 7, 4, 3}, {2, 5, 7, 5, 5}, {6, 5, 6, 5, 6}, {3, 4, 4, 4, 3},  // @ A B C
    {6, 5, 5, 5, 6}, {7, 4, 6, 4, 7}, {7, 4, 6, 4, 4}, {3, 4, 5, 5, 3},  // D E F G
    {5, 5, 7, 5, 5}, {7, 2, 2, 2, 7}, {1, 1, 1, 5, 2}, {5, 5, 6, 5, 5},  // H I J K
    {4, 4, 4, 4, 7}, {5, 7, 7, 5, 5}, {6, 5, 5, 5, 5}, {2, 5, 5, 5, 2},  // L M N O
    {6, 5, 6, 4, 4}, {2, 5, 5, 6, 3}, {6, 5, 6, 5, 5}, {3, 4, 2, 1, 6},  // P Q R S
    {7, 2, 2, 2, 2}, {5, 5, 5, 5, 7}, {5, 5, 5, 5, 2}, {5, 5, 7, 7, 5},  // T U V W
    {5, 5, 2, 5, 5}, {5, 5, 2, 2, 2}, {7, 1, 2, 4, 7}, {6, 4, 4, 4, 6},  // X Y Z [
    {4, 4, 2, 1, 1}, {3, 1, 1, 1, 3}, {2, 5, 0, 0, 0}, {0, 0, 0, 0, 7},  // \ ] ^ _
};
constexpr int32_t kLabelMargin = 3;  // left and right of a label, in pixels
int32_t LabelHeight(int32_t scale) { return scale > 0 ? 5 * scale + 4 : 0; }
// Width of `chars` glyphs: each 3 columns, one column apart.
int64_t LabelWidth(size_t chars, int32_t scale) { return chars == 0 ? 0 : (int64_t(chars) * 4 - 1) * scale; }

// Draws `text` with its top-left corner at (x, y), clipped to the viewport.
void DrawLabel(RenderImage& image, const Viewport& view, int32_t x, int32_t y, const std::string& text, int32_t scale,
               RenderColor color) {
    const int32_t advance = 4 * scale;
    for (unsigned char ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<unsigned char>(ch - 'a' + 'A');
        if (ch < ' ' || ch > '_') ch = '?';
        const uint8_t* glyph = kFontGlyphs[ch - ' '];
        for (int32_t row = 0; row < 5; ++row)
            for (int32_t col = 0; col < 3; ++col) {
                if (!(glyph[row] & (4 >> col))) continue;
                for (int32_t dy = 0; dy < scale; ++dy)
                    for (int32_t dx = 0; dx < scale; ++dx) {
                        const int32_t px = x + col * scale + dx, py = y + row * scale + dy;
                        if (px >= view.x0 && px < view.x0 + view.width && py >= view.y0 && py < view.y0 + view.height)
                            Put(image, px, py, color);
                    }
            }
        x += advance;
        if (x >= view.x0 + view.width) break;
    }
}

bool NewImage(RenderResult& result, int32_t width, int32_t height, RenderColor background) {
    try {
        result.image.width = width;
        result.image.height = height;
        result.image.rgb.assign(size_t(width) * size_t(height) * 3, 0);
    } catch (const std::bad_alloc&) {
        result.image = {};
        result.error = "not enough memory for the picture";
        return false;
    }
    Fill(result.image, background);
    return true;
}

}  // namespace

RenderColor RenderImage::At(int32_t x, int32_t y) const {
    const uint8_t* p = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
    return {p[0], p[1], p[2]};
}

RenderColor DecodeSkinPixel(uint16_t pixel, int32_t skinType) {
    if (skinType == kSkinFormatARGB4444) {
        return {uint8_t(((pixel >> 8) & 15) * 17), uint8_t(((pixel >> 4) & 15) * 17), uint8_t((pixel & 15) * 17)};
    }
    const uint32_t r = (pixel >> 11) & 31, g = (pixel >> 5) & 63, b = pixel & 31;
    return {uint8_t((r * 255 + 15) / 31), uint8_t((g * 255 + 31) / 63), uint8_t((b * 255 + 15) / 31)};
}

RenderResult RenderSkinPicture(const MdlFile& file) {
    RenderResult result;
    const MdlHeader& h = file.header;
    if (file.skinPixels.empty()) {
        result.error = "the model has no skin pixels";
        result.badRequest = true;
        return result;
    }
    const int64_t width = h.skinWidth;
    const int64_t height = int64_t(h.skinHeight) * int64_t(h.skinCount);
    if (width > kRenderMaxPixels || height > kRenderMaxPixels || width * height > kRenderMaxPixels) {
        result.error =
            "the skin (" + std::to_string(width) + "x" + std::to_string(height) + " pixels) is too large to draw";
        result.badRequest = true;
        return result;
    }
    if (!NewImage(result, int32_t(width), int32_t(height), {})) return result;
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x)
            Put(result.image, int32_t(x), int32_t(y),
                DecodeSkinPixel(file.skinPixels[size_t(y * width + x)], file.skinType));
    return result;
}

RenderResult RenderModelFrame(const MdlFile& file, int32_t frameIndex, const RenderOptions& options) {
    RenderResult result;
    if (frameIndex < 0 || size_t(frameIndex) >= file.frames.size()) {
        result.error = "frame " + std::to_string(frameIndex) + " does not exist; the model has " +
                       std::to_string(file.frames.size()) + (file.frames.size() == 1 ? " frame" : " frames") +
                       (file.frames.empty() ? std::string() : " (0.." + std::to_string(file.frames.size() - 1) + ")");
        result.badRequest = true;
        return result;
    }
    if (!CheckSize(options.width, options.height, result.error)) {
        result.badRequest = true;
        return result;
    }
    if (!NewImage(result, options.width, options.height, options.background)) return result;
    try {
        std::vector<float> depth(size_t(options.width) * size_t(options.height),
                                 std::numeric_limits<float>::infinity());
        const Camera camera = FitCamera(file, options, options.width, options.height);
        DrawFrame(file, file.frames[size_t(frameIndex)], camera, options, {0, 0, options.width, options.height},
                  result.image, depth);
    } catch (const std::bad_alloc&) {
        result.image = {};
        result.error = "not enough memory to draw the frame";
    }
    return result;
}

RenderResult RenderModelSheet(const MdlFile& file, int32_t every, const RenderOptions& options) {
    RenderResult result;
    const int64_t frames = int64_t(file.frames.size());
    if (frames == 0) {
        result.error = "the model has no frames";
        result.badRequest = true;
        return result;
    }
    if (every < 0) {
        result.error = "the frame step must not be negative";
        result.badRequest = true;
        return result;
    }
    constexpr int64_t kAutoCells = 64;
    const int64_t step = every > 0 ? every : (frames + kAutoCells - 1) / kAutoCells;
    const int64_t cells = (frames + step - 1) / step;
    const int64_t columns = int64_t(std::ceil(std::sqrt(double(cells))));
    const int64_t rows = (cells + columns - 1) / columns;
    if (!CheckSize(options.width, options.height, result.error)) {
        result.badRequest = true;
        return result;
    }
    const int64_t sheetWidth = columns * options.width, sheetHeight = rows * options.height;
    if (sheetWidth > kRenderMaxSide || sheetHeight > kRenderMaxSide || sheetWidth * sheetHeight > kRenderMaxPixels) {
        result.error = "a sheet of " + std::to_string(cells) + " cells of " + std::to_string(options.width) + "x" +
                       std::to_string(options.height) + " pixels would be " + std::to_string(sheetWidth) + "x" +
                       std::to_string(sheetHeight) + "; draw fewer frames or smaller cells";
        result.badRequest = true;
        return result;
    }
    if (!NewImage(result, int32_t(sheetWidth), int32_t(sheetHeight), options.background)) return result;
    try {
        std::vector<float> depth(size_t(sheetWidth) * size_t(sheetHeight), std::numeric_limits<float>::infinity());
        std::vector<int64_t> shown;
        std::vector<std::string> names;
        for (int64_t cell = 0; cell < cells; ++cell) {
            shown.push_back(cell * step);
            names.push_back(file.frames[size_t(cell * step)].name);
        }
        const SheetLabels labels = FitSheetLabels(shown, names, options.width, options.height);
        const int32_t band = LabelHeight(labels.scale);
        // The label band stays clear of the model: fit to the cell without it.
        const int32_t drawHeight = std::max<int32_t>(1, options.height - band);
        const Camera camera = FitCamera(file, options, options.width, drawHeight);
        const RenderColor ink{230, 230, 230};
        for (int64_t cell = 0; cell < cells; ++cell) {
            const int64_t frame = cell * step;
            const Viewport cellView{int32_t((cell % columns) * options.width),
                                    int32_t((cell / columns) * options.height), options.width, options.height};
            const Viewport drawView{cellView.x0, cellView.y0, options.width, drawHeight};
            DrawFrame(file, file.frames[size_t(frame)], camera, options, drawView, result.image, depth);
            if (labels.scale > 0)
                DrawLabel(result.image, cellView, cellView.x0 + kLabelMargin, cellView.y0 + options.height - band + 2,
                          labels.texts[size_t(cell)], labels.scale, ink);
        }
    } catch (const std::bad_alloc&) {
        result.image = {};
        result.error = "not enough memory to draw the sheet";
    }
    return result;
}

SheetLabels FitSheetLabels(const std::vector<int64_t>& frames, const std::vector<std::string>& names, int32_t cellWidth,
                           int32_t cellHeight) {
    SheetLabels out;
    const int64_t room = int64_t(cellWidth) - 2 * kLabelMargin;
    std::vector<std::string> full;
    size_t longest = 0, longestNumber = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::string number = std::to_string(frames[i]);
        full.push_back(number + " " + (i < names.size() ? names[i] : std::string()));
        longest = std::max(longest, full.back().size());
        longestNumber = std::max(longestNumber, number.size());
    }
    // The larger font when every label fits whole and the band leaves the
    // model three quarters of the cell; else the smaller one, cut to fit,
    // as long as every frame number fits whole.
    for (int32_t scale = 2; scale >= 1; --scale) {
        if (int64_t(cellHeight) < 4 * LabelHeight(scale)) continue;
        if (scale == 2 && LabelWidth(longest, scale) > room) continue;
        if (LabelWidth(longestNumber, scale) > room) continue;
        out.scale = scale;
        const size_t fits = size_t((room / scale + 1) / 4);
        for (const std::string& text : full) out.texts.push_back(text.substr(0, std::min(text.size(), fits)));
        // A cut that leaves the frame number and a lone space ends at the number.
        for (std::string& text : out.texts)
            if (!text.empty() && text.back() == ' ') text.pop_back();
        return out;
    }
    return out;
}

RenderResult ScaleRenderImage(const RenderImage& image, int32_t width, int32_t height) {
    RenderResult result;
    if (width < 1 || height < 1 || width > kRenderMaxSide || height > kRenderMaxSide ||
        int64_t(width) * height > kRenderMaxPixels || image.width < 1 || image.height < 1) {
        result.error = "cannot scale a " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                       " picture to " + std::to_string(width) + "x" + std::to_string(height);
        result.badRequest = true;
        return result;
    }
    if (!NewImage(result, width, height, {})) return result;
    // Nearest pixel: texels stay crisp, as a skin is painted.
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = int32_t(int64_t(y) * image.height / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = int32_t(int64_t(x) * image.width / width);
            Put(result.image, x, y, image.At(sx, sy));
        }
    }
    return result;
}

}  // namespace quorvex::view
