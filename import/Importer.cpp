#include "import/Importer.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "import/AnimatedScene.h"
#include "import/SceneEvaluator.h"

namespace standin {

static std::string LowerExtension(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
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

bool IsGltfPath(const std::string& path) {
    const std::string ext = LowerExtension(path);
    return ext == ".gltf" || ext == ".glb";
}

static bool Load(const std::string& path, AnimatedScene& scene, std::string& error) {
    return IsGltfPath(path) ? LoadGltfScene(path, scene, error) : LoadAssimpScene(path, scene, error);
}

// Reads the file once the options are known to fit any file.
static bool LoadWithOptions(const std::string& path, const ImportOptions& options, AnimatedScene& scene,
                            std::string& error) {
    if (!ValidFps(options.fps)) {
        error = "--fps " + std::to_string(options.fps) + ": the frame rate must divide " +
                std::to_string(kTicksPerSecond);
        return false;
    }
    return Load(path, scene, error);
}

bool ImportScene(const std::string& path, const ImportOptions& options, SceneDocument& out, std::string& error) {
    try {
        AnimatedScene scene;
        if (!LoadWithOptions(path, options, scene, error)) return false;
        if (!SampleScene(scene, options, out, error)) {
            error = path + ": " + error;
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        error = path + ": Not enough memory to import the scene";
        return false;
    }
}

bool ListClips(const std::string& path, const ImportOptions& options, std::vector<ClipInfo>& out, std::string& error) {
    AnimatedScene scene;
    if (!LoadWithOptions(path, options, scene, error)) return false;
    out.clear();
    for (const AnimClip& clip : scene.clips) out.push_back({clip.name, ClipFrameCount(clip.duration, options.fps)});
    return true;
}

}  // namespace standin
