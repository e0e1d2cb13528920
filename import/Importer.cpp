#include "import/Importer.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "import/AnimatedScene.h"
#include "import/ClipNames.h"
#include "import/DeclaredFrames.h"
#include "import/ImportVertexFrames.h"
#include "import/SceneEvaluator.h"
#include "import/Surfaces.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::SceneDocument;

bool LoadFailure(const std::string& path, LoadError& error) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, path + ": Not enough memory to read the file"};
    } catch (const std::exception& e) {
        error = {LoadErrorKind::Malformed, path + ": " + e.what()};
    }
    // Anything else goes on up, as it would without the loader's catch.
    return false;
}

std::string LowerExtension(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Mat4d YUpToZUp() {
    Mat4d m;
    m.m[1][1] = 0.0;
    m.m[1][2] = -1.0;
    m.m[2][1] = 1.0;
    m.m[2][2] = 0.0;
    return m;
}

bool IsGltfPath(const std::string& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".gltf" || ext == ".glb";
}

bool ValidFps(int fps) { return fps > 0 && fps <= kTicksPerSecond && kTicksPerSecond % fps == 0; }

std::string FpsProblem(int fps) {
    if (ValidFps(fps)) return "";
    return "the frame rate " + std::to_string(fps) + " does not divide " + std::to_string(kTicksPerSecond) +
           " (e.g. 10, 15, 24, 25, 30, 60)";
}

static bool Load(const std::string& path, const ImportOptions& options, AnimatedScene& scene, LoadError& error) {
    const std::string ext = LowerExtension(path);
    if (ext == ".md2") return LoadMd2Scene(path, options.fps, scene, error);
    if (ext == ".md3") return LoadMd3Scene(path, options.fps, options.skinFile, scene, error);
    const LoadSettings settings{options.secure, options.reader};
    if (IsGltfPath(path)) return LoadGltfScene(path, scene, error, settings);
    if (!LoadAssimpScene(path, scene, error, settings)) return false;
    const std::string missing = UndeliveredAnimation(path, scene);
    if (!missing.empty()) scene.warnings.push_back(missing);
    return true;
}

// Reads the file once the options are known to fit any file.
static bool LoadWithOptions(const std::string& path, const ImportOptions& options, AnimatedScene& scene,
                            LoadError& error) {
    if (!ValidFps(options.fps)) {
        error = {LoadErrorKind::OptionsDoNotFit, FpsProblem(options.fps)};
        return false;
    }
    return Load(path, options, scene, error);
}

// A scene without a triangle would be written as an empty model.
static bool HasSurface(const std::string& path, AnimatedScene& scene, LoadError& error) {
    const bool points = scene.skippedPoints > 0, lines = scene.skippedLines > 0;
    const bool any =
        std::any_of(scene.meshes.begin(), scene.meshes.end(), [](const AnimMesh& m) { return !m.triangles.empty(); });
    if (!any && !points && !lines && scene.meshes.empty() && !scene.clips.empty()) {
        error = {LoadErrorKind::NothingToExport, path + ": no mesh: the file holds only a skeleton and its motion"};
        return false;
    }
    if (!any) {
        error = {LoadErrorKind::NothingToExport,
                 path + ": no triangles: " +
                     (points && lines ? std::string("the file holds only points and lines")
                      : points        ? std::string("the file holds only points")
                      : lines         ? std::string("the file holds only lines")
                                      : std::string("the file holds no mesh"))};
        return false;
    }
    auto count = [](size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    if (points || lines) {
        const std::string what = points && lines
                                     ? count(scene.skippedPoints, "point") + " and " + count(scene.skippedLines, "line")
                                 : points ? count(scene.skippedPoints, "point")
                                          : count(scene.skippedLines, "line");
        scene.warnings.push_back(what + " left out: only triangles are exported");
    }
    return true;
}

// The clips the export takes, in the order asked, with the texts their frames
// are named after.
static bool ChooseClips(const AnimatedScene& scene, const ImportOptions& options, std::vector<ClipInfo>& chosen,
                        std::vector<const AnimClip*>& clips, std::string& error) {
    std::vector<std::string> wanted;
    auto find = [&](const std::string& name) -> const AnimClip* {
        for (const AnimClip& c : scene.clips) {
            if (c.name == name) return &c;
        }
        return nullptr;
    };
    if (options.clips.empty()) {
        for (const AnimClip& c : scene.clips) {
            clips.push_back(&c);
            wanted.push_back(c.name);
        }
    }
    for (const std::string& entry : options.clips) {
        if (const AnimClip* c = find(entry)) {
            clips.push_back(c);
            wanted.push_back(entry);
            continue;
        }
        const size_t eq = entry.find('=');
        const AnimClip* c = eq == std::string::npos ? nullptr : find(entry.substr(0, eq));
        if (!c) {
            std::string names;
            for (const AnimClip& k : scene.clips) names += (names.empty() ? "" : ", ") + ("\"" + k.name + "\"");
            error = "no clip named \"" + (eq == std::string::npos ? entry : entry.substr(0, eq)) + "\"; " +
                    (names.empty() ? std::string("the file has no clips") : "its clips are " + names);
            return false;
        }
        if (eq + 1 == entry.size()) {
            error = "--clip " + entry + ": the new name is empty";
            return false;
        }
        clips.push_back(c);
        wanted.push_back(entry.substr(eq + 1));
    }
    std::vector<ClipText> texts;
    for (size_t i = 0; i < clips.size(); ++i)
        texts.push_back({wanted[i], ClipFrameCount(clips[i]->duration, options.fps)});
    const std::vector<std::string> used = ClipNoteTexts(texts);
    for (size_t i = 0; i < clips.size(); ++i) chosen.push_back({clips[i]->name, used[i], texts[i].frames});
    return true;
}

// An error of the import's options, naming the file.
static bool OptionsDoNotFit(const std::string& path, const std::string& why, LoadError& error) {
    error = {LoadErrorKind::OptionsDoNotFit, path + ": " + why};
    return false;
}

static bool ImportUnguarded(const std::string& path, const ImportOptions& options, SceneDocument& out,
                            ImportNotes& notes, LoadError& error) {
    notes = ImportNotes{};
    AnimatedScene scene;
    if (options.onPhase) options.onPhase("Reading");
    if (!LoadWithOptions(path, options, scene, error) || !HasSurface(path, scene, error)) return false;
    std::vector<ClipInfo> chosen;
    std::vector<const AnimClip*> clips;
    std::string why;
    if (!ChooseClips(scene, options, chosen, clips, why)) return OptionsDoNotFit(path, why, error);
    if (options.fpsGiven && IsVertexFramePath(path)) {
        scene.warnings.push_back("--fps " + std::to_string(options.fps) +
                                 " does not apply: each frame of the file is one frame of the model");
    }
    PictureChoices pictures = options.pictures;
    pictures.guessFrom = path;
    PrepareSurfaces(scene, options.swatches, pictures, options.secure);
    if (options.upAxis.Given() || options.forwardAxis.Given()) {
        if (!ChooseFacing(scene.toZUp, options.upAxis, options.forwardAxis, scene.toZUp, why))
            return OptionsDoNotFit(path, why, error);
    } else if (options.up == UpAxis::Y) {
        scene.toZUp = YUpToZUp();
    } else if (options.up == UpAxis::Z) {
        scene.toZUp = Mat4d{};
    }

    // The evaluator lays out every clip it is given, in order, named as given.
    std::vector<AnimClip> laidOut;
    for (size_t i = 0; i < clips.size(); ++i) {
        laidOut.push_back(*clips[i]);
        laidOut.back().name = chosen[i].used;
        const std::string& asked = options.clips.empty() || options.clips[i] == chosen[i].name
                                       ? chosen[i].name
                                       : options.clips[i].substr(options.clips[i].find('=') + 1);
        // A name the importer made up for an unnamed clip is its own to fit:
        // nothing the file or the user said was changed.
        const bool madeUp = clips[i]->madeUp && asked == chosen[i].name;
        if (chosen[i].used != asked && !madeUp) {
            scene.warnings.push_back("clip \"" + chosen[i].name + "\": its frames are named \"" + chosen[i].used +
                                     "\" (15 ASCII characters with the counter; --clip OLD=NEW names it)");
        }
    }
    scene.clips = std::move(laidOut);
    ImportOptions sampling = options;
    sampling.clips.clear();
    if (options.onPhase) options.onPhase("Evaluating");
    if (!SampleScene(scene, sampling, out, error)) {
        error.message = path + ": " + error.message;
        return false;
    }
    notes.warnings = std::move(scene.warnings);
    return true;
}

bool ImportScene(const std::string& path, const ImportOptions& options, SceneDocument& out, ImportNotes& notes,
                 LoadError& error) {
    try {
        return ImportUnguarded(path, options, out, notes, error);
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, path + ": Not enough memory to import the scene"};
        return false;
    }
}

bool ListClips(const std::string& path, const ImportOptions& options, std::vector<ClipInfo>& out, LoadError& error) {
    AnimatedScene scene;
    if (!LoadWithOptions(path, options, scene, error)) return false;
    out.clear();
    std::vector<const AnimClip*> clips;
    std::string why;
    if (!ChooseClips(scene, options, out, clips, why)) return OptionsDoNotFit(path, why, error);
    return true;
}

}  // namespace quorvex::importer
