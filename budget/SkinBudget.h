// The skin budget: the pictures of the exported meshes made to fit W x H
// before the exporter stacks them. Pictures are scaled down with a filter,
// never up. Where stacking them one under another wastes the budget, they are
// packed side by side into one atlas picture and the texture coordinates of
// their meshes move with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/SceneDocument.h"

namespace quorvex::budget {
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;


struct SkinReport {
    bool reduced = false;  // false: the skin fitted already and nothing changed
    int64_t widthBefore = 0, heightBefore = 0;
    int64_t widthAfter = 0, heightAfter = 0;
    int64_t pictures = 0;  // pictures in the skin
    bool atlas = false;    // packed into one atlas picture
    double scale = 1.0;    // the factor each picture's sides were scaled by (at most 1)
};

// Smallest skin width a budget may ask for: the exporter rounds widths up to
// a multiple of 8.
constexpr int64_t kMinSkinWidth = 8;

// Makes the skin of `document` fit `maxWidth` x `maxHeight` (maxWidth at least
// kMinSkinWidth, maxHeight at least 1). Scaled pictures replace the originals
// in document.images under the names the materials use; an atlas is added
// there under a new name, the materials of its meshes name it, and their
// texture vertices move into its pictures' places. An atlas is made only when
// it keeps more of the pictures than stacking and every texture vertex of its
// meshes lies within 0..1. A skin that fits already changes nothing. False,
// with `error`, when no scale fits (more pictures than rows, say); nothing is
// changed then. Pictures that do not load are left as they are (the exporter
// gives them no room).
bool FitSkin(SceneDocument& document, int64_t maxWidth, int64_t maxHeight, SkinReport& report, std::string& error);

// `picture` scaled to `width` x `height` (each at least 1) with a filter, each
// channel on its own; a plain picture stays plain.
Picture ResizedPicture(const Picture& picture, int width, int height);

}  // namespace quorvex::budget
