// What each imported mesh shows in the skin. The exporter paints one picture
// per mesh, addressed by texture coordinates within 0..1; files in the wild
// name pictures with other separators, other letter case or not at all, and
// let coordinates run over many tiles. This unit turns a loaded scene into one
// the exporter paints as the artist's tool shows it, and says where it could
// not.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "import/AnimatedScene.h"
#include "scene/SceneDocument.h"

namespace quorvex::importer {
using quorvex::scene::Picture;

// A picture repeats at most this many times in each direction within its
// mesh's skin area; coordinates that span more tiles are clamped to it.
constexpr int kMaxTiles = 4;

// The skin holds at most this many distinct pictures.
constexpr size_t kMaxPictures = 64;

// Swatches are this many pixels wide and tall.
constexpr int kSwatchSize = 4;

// The file a texture name refers to, found the way artists' tools find it:
// the name as written (absolute, or relative to `baseDir`); with `\` read as a
// separator and leading "./", ".\" or a leading separator before ".." taken as
// relative; then the same relative path matched without regard to letter case;
// then the bare file name in `baseDir`, exactly and without regard to case.
// Returns the path to open, or "" when nothing matches. `baseDir` is empty
// (the working directory) or ends with '/'.
std::string FindTextureFile(const std::string& written, const std::string& baseDir);

// What the user says about pictures, and where else to look for them.
struct PictureChoices {
    // Folders searched, in order, after the model's own, with the same rules.
    std::vector<std::string> dirs;
    // Material name -> picture file (as given, relative to the working folder).
    std::map<std::string, std::string> byMaterial;
    // A picture for every mesh with texture coordinates but no usable one.
    std::string fallback;
    // The model file's path: a material naming kPlaceholderPicture takes a
    // picture named like the model beside it, with a warning. Empty: no guess.
    std::string guessFrom;
};

// The name a reader gives a material that names no picture; it is no picture.
constexpr const char* kPlaceholderPicture = "$texture_dummy.bmp";

// The file a picture name refers to: FindTextureFile in `baseDir`, then in each
// of `dirs`, then the name as a path below a folder above `baseDir` (a game's
// root: "models/players/x/skin.tga" beside models/players/x/). When none
// holds it, the same name with another picture extension (.tga, .png, .jpg,
// .jpeg, .bmp, .pcx), setting `substituted`. "" when nothing matches.
std::string FindPictureFile(const std::string& written, const std::string& baseDir,
                            const std::vector<std::string>& dirs, bool& substituted);

// `picture` laid out `tilesU` x `tilesV` times (each at least 1): tile (i, j)
// counts i to the right and j upwards from the bottom-left tile (0, 0), which
// is the picture itself. Where a direction wraps as Mirror, its odd tiles are
// mirrored. A plain picture stays plain at the larger size. The caller keeps
// each side within 65535 pixels.
Picture TiledPicture(const Picture& picture, int tilesU, int tilesV, Wrap wrapU, Wrap wrapV);

// Gives every mesh of `scene` a picture the exporter can paint and texture
// coordinates within it:
// - pictures named by file are looked up (FindTextureFile) and decoded once
//   each into scene.pictures, and materials point at them by key;
// - a triangle whose coordinates lie in one tile is moved into 0..1 by whole
//   tiles; a material whose triangles span tiles gets its picture repeated
//   (mirrored, clamped) as its wrap modes say, up to kMaxTiles each way;
// - with `swatches`, a mesh whose material has no usable picture, that has no
//   material or no texture coordinates, gets the material's swatch (a
//   kSwatchSize square of its colour, one per colour) and coordinates at its
//   middle; without, it stays as it is and the exporter refuses it.
// - with `secure`, a picture file outside scene.baseDir (scene/FolderCheck.h)
//   is not read: its material is treated as having no usable picture.
// Every substitution adds one line to scene.warnings, and so do meshes that
// together use more than kMaxPictures pictures. `choices` adds the user's
// pictures and folders and the guess by the model's name; a material naming
// kPlaceholderPicture names none. With `secure`, a picture the model names
// that lies outside the model's folder (and the --texture-dir folders) is not
// read: the mesh gets its colour swatch, with a warning.
void PrepareSurfaces(AnimatedScene& scene, bool swatches, const PictureChoices& choices = {}, bool secure = false);

}  // namespace quorvex::importer
