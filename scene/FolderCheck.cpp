#include "scene/FolderCheck.h"

#include <filesystem>
#include <system_error>

namespace quorvex::scene {

bool LiesInside(const std::string& file, const std::string& folder) {
    namespace fs = std::filesystem;
    if (file.empty()) return false;
    std::error_code ec;
    const fs::path root = fs::canonical(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec) return false;
    // Links resolved wherever they exist, ".." folded in the rest.
    const fs::path target = fs::weakly_canonical(fs::absolute(file, ec), ec);
    if (ec) return false;
    auto t = target.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++t) {
        if (t == target.end() || *t != *r) return false;
    }
    return t != target.end();
}

}  // namespace quorvex::scene
