#include "import/Surfaces.h"

#include "scene/FolderCheck.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "scene/FolderCheck.h"
#include "scene/Pictures.h"

namespace quorvex::importer {
using quorvex::scene::Color64;
using quorvex::scene::LiesInside;
using quorvex::scene::LoadPictureFile;
using quorvex::scene::Picture;

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The entry of `dir` whose name equals `name` without regard to case.
std::optional<fs::path> FindNoCase(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    const std::string want = Lower(name);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (Lower(it->path().filename().string()) == want) return it->path();
    }
    return std::nullopt;
}

// `rel` under `base`, each component matched without regard to case.
std::optional<fs::path> FindPathNoCase(const fs::path& base, const std::string& rel) {
    fs::path at = base;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t slash = rel.find('/', start);
        if (slash == std::string::npos) slash = rel.size();
        const std::string part = rel.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            at /= "..";
            continue;
        }
        const auto found = FindNoCase(at, part);
        if (!found) return std::nullopt;
        at = *found;
    }
    return IsFile(at) ? std::optional<fs::path>(at) : std::nullopt;
}

// A colour channel of 0..1 at 16 bits; what is not a number shows as full.
uint16_t Channel(double v) {
    return static_cast<uint16_t>(std::lround((std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 1.0) * 65535.0));
}

// Only the colour's channels that reach the skin matter; a key per 8-bit
// colour shares one swatch between materials of the same colour.
std::string SwatchKey(const std::array<double, 4>& colour, uint16_t rgb[3]) {
    char key[32];
    int bytes[3];
    for (int c = 0; c < 3; ++c) {
        rgb[c] = Channel(colour[c]);
        bytes[c] = rgb[c] >> 8;
    }
    std::snprintf(key, sizeof key, "colour #%02x%02x%02x", bytes[0], bytes[1], bytes[2]);
    return key;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

struct TileNeed {
    int u = 1;
    int v = 1;
    bool clamped = false;
};

// Moves one coordinate of a triangle's corners into the first tiles by whole
// tiles (pairs of tiles when mirrored, so that the mirroring stays), and
// returns how many tiles the corners then span.
int ShiftIntoTiles(double* c[3], Wrap wrap, int bound, bool& clamped) {
    constexpr double kSlack = 1e-4;  // a corner a hair beyond a tile edge stays in its tile
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(*c[k])) *c[k] = 0.0;
    }
    if (wrap == Wrap::Clamp) {
        for (int k = 0; k < 3; ++k) *c[k] = std::clamp(*c[k], 0.0, 1.0);
        return 1;
    }
    const double lo = std::min({*c[0], *c[1], *c[2]});
    const double hi = std::max({*c[0], *c[1], *c[2]});
    if (lo >= 0.0 && hi <= 1.0) return 1;  // within the picture: as written
    const double period = wrap == Wrap::Mirror ? 2.0 : 1.0;
    const double shift = std::floor((lo + kSlack) / period) * period;
    const double span = std::ceil(hi - shift - kSlack);
    int tiles = span < 1.0 ? 1 : span > bound ? bound + 1 : static_cast<int>(span);
    if (tiles > bound) {
        clamped = true;
        tiles = bound;
    }
    for (int k = 0; k < 3; ++k) *c[k] = std::clamp(*c[k] - shift, 0.0, static_cast<double>(tiles));
    return tiles;
}

// Gives every corner of `mesh` its own coordinates, `corners` (three per
// triangle); a position whose corners want different coordinates is copied,
// which the evaluator's welding joins again as one vertex.
void SetCornerUvs(AnimMesh& mesh, const std::vector<std::array<double, 2>>& corners) {
    const size_t n = mesh.positions.size();
    std::vector<bool> set(n, false);
    mesh.uvs.assign(n, {0.0, 0.0});
    std::map<std::pair<uint32_t, std::array<double, 2>>, uint32_t> copies;
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            uint32_t& i = mesh.triangles[t][k];
            const std::array<double, 2>& uv = corners[t * 3 + k];
            if (!set[i]) {
                set[i] = true;
                mesh.uvs[i] = uv;
                continue;
            }
            if (mesh.uvs[i] == uv) continue;
            auto [it, added] = copies.emplace(std::make_pair(i, uv), static_cast<uint32_t>(mesh.positions.size()));
            if (added) {
                mesh.positions.push_back(mesh.positions[i]);
                mesh.uvs.push_back(uv);
                if (!mesh.influences.empty()) mesh.influences.push_back(mesh.influences[i]);
                for (auto& target : mesh.morphTargets) target.push_back(target[i]);
            }
            i = it->second;
        }
    }
}

// A mesh whose triangles each have one vertex colour shows exactly those
// colours through a palette: a column of swatch-sized cells, one per colour,
// each triangle's corners at the middle of its colour's cell. False (and
// nothing changed) when a triangle's corners differ or the colours are too
// many.
bool BakeFaceColours(AnimMesh& mesh, Picture& palette) {
    constexpr size_t kMaxColours = 64;
    if (mesh.colours.size() != mesh.positions.size()) return false;
    std::vector<Color64> colours;
    std::vector<size_t> cellOf(mesh.triangles.size());
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        Color64 corner[3];
        for (int k = 0; k < 3; ++k) {
            const auto& c = mesh.colours[mesh.triangles[t][k]];
            corner[k] = {Channel(c[0]), Channel(c[1]), Channel(c[2]), 65535};
        }
        auto same = [](const Color64& a, const Color64& b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
        if (!same(corner[0], corner[1]) || !same(corner[0], corner[2])) return false;
        size_t cell = 0;
        while (cell < colours.size() && !same(colours[cell], corner[0])) ++cell;
        if (cell == colours.size()) {
            if (colours.size() == kMaxColours) return false;
            colours.push_back(corner[0]);
        }
        cellOf[t] = cell;
    }
    if (colours.empty()) return false;
    const size_t n = colours.size();
    palette = Picture{};
    palette.width = kSwatchSize;
    palette.height = static_cast<uint16_t>(kSwatchSize * n);
    for (const Color64& c : colours) palette.pixels.insert(palette.pixels.end(), kSwatchSize * kSwatchSize, c);
    // Cell k holds rows from the top; v runs up.
    std::vector<std::array<double, 2>> corners;
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        const double v = 1.0 - (static_cast<double>(cellOf[t]) + 0.5) / static_cast<double>(n);
        corners.insert(corners.end(), 3, {0.5, v});
    }
    SetCornerUvs(mesh, corners);
    return true;
}

struct Resolved {
    std::string key;      // in scene.pictures; empty: no usable picture
    std::string problem;  // why not, for the warning
};

}  // namespace

std::string FindTextureFile(const std::string& written, const std::string& baseDir) {
    if (written.empty()) return "";
    const fs::path base = baseDir.empty() ? fs::path(".") : fs::path(baseDir);
    auto under = [&](const std::string& rel) { return fs::path(rel).is_absolute() ? fs::path(rel) : base / rel; };
    if (IsFile(under(written))) return under(written).string();

    std::string rel = written;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    if (rel.rfind("file://", 0) == 0) rel.erase(0, 7);
    // "./x", ".\x" and "\..\x" (a root-relative path that climbs) mean the model's folder.
    while (rel.rfind("./", 0) == 0) rel.erase(0, 2);
    if (rel.rfind("/../", 0) == 0) rel.erase(0, 1);
    if (IsFile(under(rel))) return under(rel).string();
    if (!fs::path(rel).is_absolute()) {
        if (const auto found = FindPathNoCase(base, rel)) return found->string();
    }
    const std::string bare = rel.substr(rel.find_last_of('/') + 1);
    if (bare.empty()) return "";
    if (IsFile(base / bare)) return (base / bare).string();
    if (const auto found = FindNoCase(base, bare); found && IsFile(*found)) return found->string();
    return "";
}

std::string FindPictureFile(const std::string& written, const std::string& baseDir,
                            const std::vector<std::string>& dirs, bool& substituted) {
    substituted = false;
    if (written.empty()) return "";
    auto search = [&](const std::string& name) -> std::string {
        if (std::string f = FindTextureFile(name, baseDir); !f.empty()) return f;
        for (const std::string& d : dirs) {
            if (d.empty()) continue;
            if (std::string f = FindTextureFile(name, d.back() == '/' ? d : d + "/"); !f.empty()) return f;
        }
        // A path from the game's root, as the classic formats write them.
        std::string rel = name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        while (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
        if (rel.find('/') == std::string::npos || rel.find(':') != std::string::npos) return "";
        std::error_code ec;
        fs::path dir = fs::absolute(baseDir.empty() ? fs::path(".") : fs::path(baseDir), ec).lexically_normal();
        if (ec) return "";
        if (!dir.has_filename()) dir = dir.parent_path();
        for (int level = 0; level < 16 && dir.has_parent_path() && dir.parent_path() != dir; ++level) {
            dir = dir.parent_path();
            if (const auto found = FindPathNoCase(dir, rel)) return found->string();
        }
        return "";
    };
    if (std::string f = search(written); !f.empty()) return f;
    // Names whose picture was converted after the model was made.
    const size_t slash = written.find_last_of("/\\");
    const size_t dot = written.rfind('.');
    const std::string stem =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? written : written.substr(0, dot);
    const std::string had = Lower(written.substr(stem.size()));
    for (const char* ext : {".tga", ".png", ".jpg", ".jpeg", ".bmp", ".pcx"}) {
        if (had == ext) continue;
        if (std::string f = search(stem + ext); !f.empty()) {
            substituted = true;
            return f;
        }
    }
    return "";
}

Picture TiledPicture(const Picture& picture, int tilesU, int tilesV, Wrap wrapU, Wrap wrapV) {
    const int w = picture.width, h = picture.height;
    Picture out;
    out.width = static_cast<uint16_t>(w * tilesU);
    out.height = static_cast<uint16_t>(h * tilesV);
    out.plain = picture.plain;
    out.fill = picture.fill;
    if (picture.plain || picture.pixels.size() != static_cast<size_t>(w) * h) return out;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height);
    for (int row = 0; row < out.height; ++row) {
        // Rows run down the picture; tiles count up from the bottom one.
        const int j = tilesV - 1 - row / h;
        const int y = row % h;
        const int sy = (wrapV == Wrap::Mirror && j % 2 == 1) ? h - 1 - y : y;
        for (int col = 0; col < out.width; ++col) {
            const int i = col / w;
            const int x = col % w;
            const int sx = (wrapU == Wrap::Mirror && i % 2 == 1) ? w - 1 - x : x;
            out.pixels[static_cast<size_t>(row) * out.width + col] = picture.pixels[static_cast<size_t>(sy) * w + sx];
        }
    }
    return out;
}

namespace {

// The node each mesh hangs from, for the warnings.
std::vector<std::string> MeshNodeNames(const AnimatedScene& scene) {
    std::vector<std::string> nodeOf(scene.meshes.size());
    for (const AnimNode& node : scene.nodes) {
        for (const MeshInstance& inst : node.meshes) {
            if (inst.mesh >= 0 && static_cast<size_t>(inst.mesh) < nodeOf.size() && nodeOf[inst.mesh].empty()) {
                nodeOf[inst.mesh] = node.name;
            }
        }
    }
    return nodeOf;
}

// The user's picture for every mesh without one: meshes without a material
// take it through a material of its own. A material the user names that the
// file lacks is a warning.
void ApplyTextureChoices(AnimatedScene& scene, const PictureChoices& choices) {
    if (!choices.fallback.empty()) {
        int fallbackMaterial = -1;
        for (AnimMesh& mesh : scene.meshes) {
            if (mesh.material >= 0 || mesh.uvs.empty()) continue;
            if (fallbackMaterial < 0) {
                fallbackMaterial = static_cast<int>(scene.materials.size());
                AnimMaterial mat;
                mat.name = "--texture";
                scene.materials.push_back(std::move(mat));
            }
            mesh.material = fallbackMaterial;
        }
    }
    std::set<std::string> namedMaterials;
    for (const AnimMaterial& mat : scene.materials) namedMaterials.insert(mat.name);
    for (const auto& [name, file] : choices.byMaterial) {
        if (!namedMaterials.count(name)) {
            std::string names;
            for (const std::string& n : namedMaterials) names += (names.empty() ? "" : ", ") + Quoted(n);
            scene.warnings.push_back("--texture " + name + "=" + file + ": the file has no material " + Quoted(name) +
                                     (names.empty() ? "" : "; its materials are " + names));
        }
    }
}

// Each of the file's materials' picture (its key in scene.pictures) or why it has none; each file decoded once.
std::vector<Resolved> ResolvePictures(AnimatedScene& scene, const PictureChoices& choices, bool secure) {
    std::map<std::string, Resolved> byFile;
    std::vector<Resolved> resolved(scene.materials.size());
    auto decode = [&](const std::string& file) -> const Resolved& {
        auto [it, added] = byFile.emplace(file, Resolved{});
        if (added) {
            Picture picture;
            std::string why;
            // Keyed by the path below the model's folder, as the file names it.
            std::string key = file;
            if (!scene.baseDir.empty() && key.rfind(scene.baseDir, 0) == 0) key.erase(0, scene.baseDir.size());
            if (!LoadPictureFile(file, picture, why)) {
                it->second.problem = "picture " + Quoted(key) + " cannot be read: " + why;
            } else if (picture.width == 0 || picture.height == 0) {
                it->second.problem = "picture " + Quoted(key) + " is empty";
            } else {
                scene.pictures[key] = std::move(picture);
                it->second.key = key;
            }
        }
        return it->second;
    };
    for (size_t m = 0; m < scene.materials.size(); ++m) {
        AnimMaterial& mat = scene.materials[m];
        Resolved& r = resolved[m];
        const bool namesNone = mat.diffuseMap == kPlaceholderPicture;
        if (namesNone) mat.diffuseMap.clear();
        const auto chosen = choices.byMaterial.find(mat.name);
        if (chosen != choices.byMaterial.end()) {
            const std::string file = FindTextureFile(chosen->second, "");
            r = file.empty() ? Resolved{"", "picture " + Quoted(chosen->second) + " (--texture) not found"}
                             : decode(file);
        } else if (scene.pictures.count(mat.diffuseMap)) {
            r.key = mat.diffuseMap;
        } else if (!mat.diffuseMap.empty()) {
            bool substituted = false;
            const std::string file = FindPictureFile(mat.diffuseMap, scene.baseDir, choices.dirs, substituted);
            bool inside = !secure || LiesInside(file, scene.baseDir);
            for (const std::string& dir : choices.dirs) inside = inside || LiesInside(file, dir);
            if (file.empty()) {
                r.problem = "picture " + Quoted(mat.diffuseMap) + " not found";
            } else if (!inside) {
                r.problem =
                    "picture " + Quoted(mat.diffuseMap) + " lies outside the model's folder: not read (--secure)";
            } else {
                r = decode(file);
                if (substituted && !r.key.empty()) {
                    scene.warnings.push_back("material " + Quoted(mat.name) + ": picture " + Quoted(mat.diffuseMap) +
                                             " not found; using " + Quoted(r.key) + " instead");
                }
            }
        } else if (namesNone && !choices.guessFrom.empty()) {
            // A model that names no picture usually has one named like itself beside it.
            const std::string model = FileNameOf(choices.guessFrom);
            const std::string stem = model.substr(0, model.rfind('.'));
            for (const char* ext : {".bmp", ".png", ".pcx", ".tga", ".jpg"}) {
                const std::string file = FindTextureFile(stem + ext, FolderOf(choices.guessFrom));
                if (file.empty()) continue;
                r = decode(file);
                if (!r.key.empty()) {
                    scene.warnings.push_back("material " + Quoted(mat.name) + ": the file names no picture; guessed " +
                                             Quoted(FileNameOf(r.key)) + " from the model's name");
                    break;
                }
            }
        }
        if (r.key.empty() && r.problem.empty()) {
            r.problem = mat.mapProblem.empty() ? "no diffuse texture" : mat.mapProblem;
        }
        if (r.key.empty() && !choices.fallback.empty()) {
            const std::string file = FindTextureFile(choices.fallback, "");
            const Resolved& f = file.empty()
                                    ? Resolved{"", "picture " + Quoted(choices.fallback) + " (--texture) not found"}
                                    : decode(file);
            if (f.key.empty()) {
                r.problem += "; " + f.problem;
            } else {
                if (r.problem != "no diffuse texture" && chosen == choices.byMaterial.end()) {
                    scene.warnings.push_back("material " + Quoted(mat.name) + ": " + r.problem + "; using " +
                                             Quoted(f.key) + " (--texture)");
                }
                r = f;
            }
        }
    }
    return resolved;
}

// Meshes without a usable picture or texture coordinates get a swatch of
// their colour, or of their vertex colours (unless `swatches` is false).
// Returns which meshes are textured by a picture of the file's materials.
std::vector<bool> GiveSwatches(AnimatedScene& scene, const std::vector<Resolved>& resolved,
                               const std::vector<std::string>& nodeOf, bool swatches) {
    auto label = [&](size_t mesh, int material) {
        const std::string& node = nodeOf[mesh].empty() ? scene.meshes[mesh].name : nodeOf[mesh];
        return "mesh " + Quoted(node) +
               (material >= 0 ? " (material " + Quoted(scene.materials[material].name) + ")" : " (no material)");
    };

    // Swatch materials, one per colour, appended after the file's own.
    std::map<std::string, int> swatchMaterial;
    auto swatchFor = [&](const std::array<double, 4>& colour) {
        uint16_t rgb[3];
        const std::string key = SwatchKey(colour, rgb);
        auto [it, added] = swatchMaterial.emplace(key, static_cast<int>(scene.materials.size()));
        if (added) {
            Picture swatch;
            swatch.width = swatch.height = kSwatchSize;
            swatch.pixels.assign(kSwatchSize * kSwatchSize, Color64{rgb[0], rgb[1], rgb[2], 65535});
            scene.pictures[key] = std::move(swatch);
            AnimMaterial mat;
            mat.name = key;
            mat.diffuseMap = key;
            scene.materials.push_back(std::move(mat));
        }
        return it->second;
    };

    const size_t fileMaterials = resolved.size();
    std::vector<bool> textured(scene.meshes.size(), false);
    for (size_t i = 0; i < scene.meshes.size(); ++i) {
        AnimMesh& mesh = scene.meshes[i];
        const int m = mesh.material >= 0 && static_cast<size_t>(mesh.material) < fileMaterials ? mesh.material : -1;
        const bool hasPicture = m >= 0 && !resolved[m].key.empty();
        if (hasPicture && !mesh.uvs.empty()) {
            textured[i] = true;
            continue;
        }
        if (m >= 0 && !hasPicture && resolved[m].problem != "no diffuse texture") {
            // A named picture that cannot be used is never a silent empty skin.
            if (!swatches) scene.warnings.push_back(label(i, m) + ": " + resolved[m].problem);
        }
        if (!swatches) continue;
        const std::string why = m < 0 ? "no material" : !hasPicture ? resolved[m].problem : "no texture coordinates";
        Picture palette;
        if (!mesh.colours.empty() && BakeFaceColours(mesh, palette)) {
            const std::string key = "vertex colours #" + std::to_string(i);
            scene.pictures[key] = std::move(palette);
            AnimMaterial mat;
            mat.name = key;
            mat.diffuseMap = key;
            mesh.material = static_cast<int>(scene.materials.size());
            scene.materials.push_back(std::move(mat));
            scene.warnings.push_back(label(i, m) + ": " + why + "; using its vertex colours");
            continue;
        }
        std::string what = m < 0 ? "using white" : "using its colour";
        if (!mesh.colours.empty()) what += " (its vertex colours vary within triangles and are not carried)";
        scene.warnings.push_back(label(i, m) + ": " + why + "; " + what);
        mesh.material = swatchFor(m >= 0 ? scene.materials[m].colour : std::array<double, 4>{1, 1, 1, 1});
        mesh.uvs.assign(mesh.positions.size(), {0.5, 0.5});
    }
    return textured;
}

// Textured meshes: triangles moved into the first tiles, and each material's
// picture repeated as many tiles as its meshes need.
void TileTextures(AnimatedScene& scene, const std::vector<Resolved>& resolved, const std::vector<bool>& textured) {
    const size_t fileMaterials = resolved.size();
    std::vector<TileNeed> need(fileMaterials);
    std::vector<std::vector<std::array<double, 2>>> corners(scene.meshes.size());
    auto boundFor = [&](int m, bool horizontal) {
        const Picture& p = scene.pictures[resolved[m].key];
        const int side = std::max<int>(1, horizontal ? p.width : p.height);
        return std::clamp(65535 / side, 1, kMaxTiles);
    };
    for (size_t i = 0; i < scene.meshes.size(); ++i) {
        if (!textured[i]) continue;
        AnimMesh& mesh = scene.meshes[i];
        const AnimMaterial& mat = scene.materials[mesh.material];
        TileNeed& n = need[mesh.material];
        const int boundU = boundFor(mesh.material, true), boundV = boundFor(mesh.material, false);
        std::vector<std::array<double, 2>>& c = corners[i];
        c.reserve(mesh.triangles.size() * 3);
        for (const auto& tri : mesh.triangles) {
            for (int k = 0; k < 3; ++k) c.push_back(mesh.uvs[tri[k]]);
            std::array<double, 2>* t = &c[c.size() - 3];
            double* us[3] = {&t[0][0], &t[1][0], &t[2][0]};
            double* vs[3] = {&t[0][1], &t[1][1], &t[2][1]};
            n.u = std::max(n.u, ShiftIntoTiles(us, mat.wrapU, boundU, n.clamped));
            n.v = std::max(n.v, ShiftIntoTiles(vs, mat.wrapV, boundV, n.clamped));
        }
    }
    for (size_t m = 0; m < fileMaterials; ++m) {
        const TileNeed& n = need[m];
        if (n.clamped) {
            scene.warnings.push_back("material " + Quoted(scene.materials[m].name) +
                                     ": texture coordinates span more than " + std::to_string(kMaxTiles) + "x" +
                                     std::to_string(kMaxTiles) + " tiles; clamped at the edge of the repeated picture");
        }
        if (n.u == 1 && n.v == 1) {
            if (!resolved[m].key.empty()) scene.materials[m].diffuseMap = resolved[m].key;
            continue;
        }
        const AnimMaterial& mat = scene.materials[m];
        const std::string key = resolved[m].key + "#" + std::to_string(n.u) + "x" + std::to_string(n.v) +
                                (mat.wrapU == Wrap::Mirror ? "m" : "") + (mat.wrapV == Wrap::Mirror ? "m" : "");
        if (!scene.pictures.count(key)) {
            scene.pictures[key] = TiledPicture(scene.pictures[resolved[m].key], n.u, n.v, mat.wrapU, mat.wrapV);
        }
        scene.materials[m].diffuseMap = key;
    }
    for (size_t i = 0; i < scene.meshes.size(); ++i) {
        if (!textured[i]) continue;
        AnimMesh& mesh = scene.meshes[i];
        const TileNeed& n = need[mesh.material];
        for (auto& uv : corners[i]) uv = {uv[0] / n.u, uv[1] / n.v};
        SetCornerUvs(mesh, corners[i]);
    }
}

void WarnPictureCount(AnimatedScene& scene) {
    std::set<std::string> used;
    for (const AnimMesh& mesh : scene.meshes) {
        if (mesh.material >= 0 && static_cast<size_t>(mesh.material) < scene.materials.size() &&
            !scene.materials[mesh.material].diffuseMap.empty()) {
            used.insert(scene.materials[mesh.material].diffuseMap);
        }
    }
    if (used.size() > kMaxPictures) {
        scene.warnings.push_back(std::to_string(used.size()) + " pictures, but the skin holds " +
                                 std::to_string(kMaxPictures) + ": meshes using the later ones show no texture");
    }
}

}  // namespace

void PrepareSurfaces(AnimatedScene& scene, bool swatches, const PictureChoices& choices, bool secure) {
    const std::vector<std::string> nodeOf = MeshNodeNames(scene);
    ApplyTextureChoices(scene, choices);
    const std::vector<Resolved> resolved = ResolvePictures(scene, choices, secure);
    const std::vector<bool> textured = GiveSwatches(scene, resolved, nodeOf, swatches);
    TileTextures(scene, resolved, textured);
    WarnPictureCount(scene);
}

}  // namespace quorvex::importer
