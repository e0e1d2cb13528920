#include "cli/SourceFlags.h"

#include <filesystem>

namespace quorvex::cli {

namespace {

bool Exists(const std::string& path, bool folder) {
    std::error_code ec;
    return folder ? std::filesystem::is_directory(path, ec) : std::filesystem::is_regular_file(path, ec);
}

}  // namespace

std::string ApplyFacingFlags(const std::string& up, const std::string& forward, bool noUpFix,
                             quorvex::importer::ImportOptions& options) {
    if (noUpFix && (!up.empty() || !forward.empty()))
        return "--no-up-fix takes the axes as stored; leave out --up and --forward";
    if (noUpFix) {
        options.up = quorvex::importer::UpAxis::Z;
        return "";
    }
    if (!up.empty() && !quorvex::importer::ParseSignedAxis(up, options.upAxis))
        return "--up wants x, y or z, optionally signed (+z, -y), not " + up;
    if (!forward.empty() && !quorvex::importer::ParseSignedAxis(forward, options.forwardAxis))
        return "--forward wants x, y or z, optionally signed (+x, -z), not " + forward;
    if (options.upAxis.Given() && options.forwardAxis.Given() && options.upAxis.axis == options.forwardAxis.axis)
        return "--forward " + forward + " is parallel to --up " + up + "; they must be different axes";
    return "";
}

std::string ApplyPictureFlags(const std::vector<std::string>& dirs, const std::vector<std::string>& textures,
                              const std::string& skinFile, quorvex::importer::ImportOptions& options) {
    for (const std::string& dir : dirs) {
        if (!Exists(dir, true)) return "--texture-dir " + dir + ": no such folder";
        options.pictures.dirs.push_back(dir);
    }
    for (const std::string& entry : textures) {
        const size_t eq = entry.find('=');
        const std::string file = eq == std::string::npos ? entry : entry.substr(eq + 1);
        if (!Exists(file, false)) return "--texture " + entry + ": no such file " + file;
        if (eq == std::string::npos) {
            if (!options.pictures.fallback.empty()) return "--texture " + entry + ": only one FILE for every mesh";
            options.pictures.fallback = file;
            continue;
        }
        const std::string material = entry.substr(0, eq);
        if (material.empty()) return "--texture " + entry + ": the material name is empty";
        if (!options.pictures.byMaterial.emplace(material, file).second)
            return "--texture " + entry + ": material " + material + " already has a picture";
    }
    if (!skinFile.empty() && !Exists(skinFile, false)) return "--skin-file " + skinFile + ": no such file";
    options.skinFile = skinFile;
    return "";
}

bool CutFramesToSource(const quorvex::scene::SceneDocument& document, int32_t& start, int32_t& end,
                       std::vector<std::string>& warnings, std::string& error) {
    const int64_t last = document.ticksPerFrame > 0 ? document.animRange.end / document.ticksPerFrame : 0;
    if (end <= last) return true;
    const std::string asked = "--frames " + std::to_string(start) + ":" + std::to_string(end);
    if (start > last) {
        error = asked + ": the file's frames are 0 to " + std::to_string(last);
        return false;
    }
    warnings.push_back(asked + " runs past the file's last frame " + std::to_string(last) + "; exporting " +
                       std::to_string(start) + ":" + std::to_string(last));
    end = static_cast<int32_t>(last);
    return true;
}

}  // namespace quorvex::cli
