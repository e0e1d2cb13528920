#include "budget/SkinBudget.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

#include "budget/ModelPlan.h"

// The resizer and the packer are compiled here, private to this unit.
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STBRP_STATIC
#define STB_RECT_PACK_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image_resize.h>
#include <stb_rect_pack.h>
#pragma GCC diagnostic pop

namespace quorvex::budget {
using quorvex::scene::Color64;
using quorvex::scene::NodeData;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;
using quorvex::scene::SharedList;


namespace {

static_assert(sizeof(Color64) == 4 * sizeof(uint16_t), "a pixel is four 16-bit channels");

// Room left around each picture of an atlas, so that an engine filtering the
// skin does not blend a picture with its neighbour.
constexpr int kAtlasPadding = 2;

// A side scaled by `s`, at least one pixel.
int Scaled(int side, double s) { return std::max(1, static_cast<int>(std::floor(side * s))); }

struct Source {
    const PlannedPicture* planned;
    int width, height;
};

bool StackFits(const std::vector<Source>& sources, double s, int64_t maxWidth, int64_t maxHeight) {
    int64_t widest = 0, height = 0;
    for (const Source& p : sources) {
        widest = std::max<int64_t>(widest, Scaled(p.width, s));
        height += Scaled(p.height, s);
    }
    return (widest + 7) / 8 * 8 <= maxWidth && height <= maxHeight;
}

// Packs the scaled pictures into maxWidth x maxHeight; `places` gets each
// picture's top-left corner. False when they do not all fit.
bool Pack(const std::vector<Source>& sources, double s, int64_t maxWidth, int64_t maxHeight,
          std::vector<std::pair<int, int>>& places) {
    const int width = static_cast<int>(std::min<int64_t>(maxWidth, 65528) / 8 * 8) + kAtlasPadding;
    const int height = static_cast<int>(std::min<int64_t>(maxHeight, 65535)) + kAtlasPadding;
    std::vector<stbrp_node> nodes(static_cast<size_t>(width));
    stbrp_context context;
    stbrp_init_target(&context, width, height, nodes.data(), width);
    std::vector<stbrp_rect> rects(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        rects[i].id = static_cast<int>(i);
        rects[i].w = Scaled(sources[i].width, s) + kAtlasPadding;
        rects[i].h = Scaled(sources[i].height, s) + kAtlasPadding;
    }
    if (!stbrp_pack_rects(&context, rects.data(), static_cast<int>(rects.size()))) return false;
    places.assign(sources.size(), {0, 0});
    for (const stbrp_rect& r : rects) places[static_cast<size_t>(r.id)] = {r.x, r.y};
    return true;
}

// The largest scale in (0, 1] for which `fits` holds, or 0 when none does.
template <class Fits>
double LargestScale(const Fits& fits) {
    if (fits(1.0)) return 1.0;
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (fits(mid) ? lo : hi) = mid;
    }
    return lo > 0.0 && fits(lo) ? lo : 0.0;
}

// Texture vertices within the picture, with a hair of slack, in every key.
bool WithinPicture(const NodeData& node) {
    constexpr float kSlack = 1e-3f;
    for (const auto& key : node.object->mesh.keys)
        for (const Point3& t : key.value.tverts)
            if (!(t.x >= -kSlack && t.x <= 1 + kSlack && t.y >= -kSlack && t.y <= 1 + kSlack)) return false;
    return true;
}

std::string UnusedName(const SceneDocument& document) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? "skin-atlas" : "skin-atlas-" + std::to_string(n);
        if (!document.images.count(name)) return name;
    }
}

void BuildAtlas(SceneDocument& document, const std::vector<ExportedMesh>& meshes, const std::vector<Source>& sources,
                double s, const std::vector<std::pair<int, int>>& places, SkinReport& report) {
    int right = 0, bottom = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        right = std::max(right, places[i].first + Scaled(sources[i].width, s));
        bottom = std::max(bottom, places[i].second + Scaled(sources[i].height, s));
    }
    Picture atlas;
    atlas.width = static_cast<uint16_t>((right + 7) / 8 * 8);
    atlas.height = static_cast<uint16_t>(bottom);
    atlas.pixels.assign(size_t(atlas.width) * atlas.height, Color64{0, 0, 0, 65535});
    const std::string name = UnusedName(document);
    const double lastColumn = atlas.width - 1, lastRow = atlas.height - 1;
    std::map<std::pair<const void*, size_t>, SharedList<Point3>> moved;
    for (size_t i = 0; i < sources.size(); ++i) {
        const int w = Scaled(sources[i].width, s), h = Scaled(sources[i].height, s);
        const Picture scaled = ResizedPicture(*sources[i].planned->picture, w, h);
        const auto [x, y] = places[i];
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w; ++col)
                atlas.pixels[size_t(y + row) * atlas.width + size_t(x + col)] =
                    scaled.plain ? scaled.fill : scaled.pixels[size_t(row) * w + size_t(col)];
        for (size_t user : sources[i].planned->users) {
            NodeData& node = meshes[user].Node();
            node.material->diffuse->file = name;
            // The exporter addresses column trunc((W - 1) u) and row
            // H - trunc((H - 1) v) - 1; each moved coordinate lands on the
            // nearest texel of the place its picture's texel went to.
            for (auto& key : node.object->mesh.keys) {
                auto found = moved.find({key.value.tverts.Identity(), i});
                if (found == moved.end()) {
                    SharedList<Point3> list = key.value.tverts;
                    for (Point3& t : list.Edit()) {
                        t.x = static_cast<float>((x + t.x * (w - 1) + 0.5) / lastColumn);
                        t.y = lastRow > 0
                                  ? static_cast<float>((lastRow - y - (h - 1) * (1.0 - t.y) + 0.5) / lastRow)
                                  : 0.0f;
                    }
                    found = moved.emplace(std::make_pair(key.value.tverts.Identity(), i), list).first;
                }
                key.value.tverts = found->second;
            }
        }
    }
    report.widthAfter = atlas.width;
    report.heightAfter = atlas.height;
    document.images[name] = std::move(atlas);
}

}  // namespace

Picture ResizedPicture(const Picture& picture, int width, int height) {
    Picture out;
    out.width = static_cast<uint16_t>(width);
    out.height = static_cast<uint16_t>(height);
    if (picture.plain || picture.pixels.empty()) {
        out.plain = picture.plain;
        out.fill = picture.fill;
        return out;
    }
    out.pixels.resize(size_t(width) * size_t(height));
    // Channels filtered each on its own: the exporter ignores alpha, so a
    // transparent texel keeps its colour instead of fading to black.
    stbir_resize_uint16_generic(reinterpret_cast<const uint16_t*>(picture.pixels.data()), picture.width,
                                picture.height, 0, reinterpret_cast<uint16_t*>(out.pixels.data()), width, height, 0,
                                4, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT,
                                STBIR_COLORSPACE_LINEAR, nullptr);
    return out;
}

bool FitSkin(SceneDocument& document, int64_t maxWidth, int64_t maxHeight, SkinReport& report, std::string& error) {
    report = SkinReport{};
    const std::vector<ExportedMesh> meshes = ExportedMeshes(document);
    std::vector<std::unique_ptr<Picture>> loaded;
    std::vector<std::string> problems;  // the export warns about these itself
    const std::vector<PlannedPicture> pictures = PlannedPictures(document, meshes, loaded, problems);
    StackedSkinSize(pictures, report.widthBefore, report.heightBefore);
    report.widthAfter = report.widthBefore;
    report.heightAfter = report.heightBefore;
    std::vector<Source> sources;
    for (const PlannedPicture& p : pictures)
        if (p.picture && p.Width() > 0 && p.Height() > 0) sources.push_back({&p, p.Width(), p.Height()});
    report.pictures = static_cast<int64_t>(sources.size());
    if (report.widthBefore <= maxWidth && report.heightBefore <= maxHeight) return true;

    const double stackScale =
        LargestScale([&](double s) { return StackFits(sources, s, maxWidth, maxHeight); });
    bool atlasAllowed = sources.size() > 1;
    for (const Source& source : sources)
        for (size_t user : source.planned->users) atlasAllowed = atlasAllowed && WithinPicture(meshes[user].Node());
    std::vector<std::pair<int, int>> places;
    const double atlasScale =
        atlasAllowed ? LargestScale([&](double s) { return Pack(sources, s, maxWidth, maxHeight, places); }) : 0.0;
    if (stackScale <= 0.0 && atlasScale <= 0.0) {
        error = "the skin cannot fit " + std::to_string(maxWidth) + "x" + std::to_string(maxHeight) + ": its " +
                std::to_string(sources.size()) + " pictures need at least " +
                std::to_string(sources.size()) + " rows stacked" +
                (atlasAllowed ? " and do not pack side by side either" : "");
        return false;
    }
    report.reduced = true;
    if (atlasScale > stackScale * 1.01) {
        Pack(sources, atlasScale, maxWidth, maxHeight, places);
        report.atlas = true;
        report.scale = atlasScale;
        BuildAtlas(document, meshes, sources, atlasScale, places, report);
        return true;
    }
    report.scale = stackScale;
    // Each picture scaled in place, under every name its materials use.
    for (const Source& source : sources) {
        const int w = Scaled(source.width, stackScale), h = Scaled(source.height, stackScale);
        if (w == source.width && h == source.height) continue;
        const Picture scaled = ResizedPicture(*source.planned->picture, w, h);
        for (const std::string& name : source.planned->names) document.images[name] = scaled;
    }
    int64_t width = 0, height = 0;
    for (const Source& source : sources) {
        width = std::max<int64_t>(width, Scaled(source.width, stackScale));
        height += Scaled(source.height, stackScale);
    }
    report.widthAfter = (width + 7) / 8 * 8;
    report.heightAfter = height;
    return true;
}

}  // namespace quorvex::budget
