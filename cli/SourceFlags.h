// The export flags that say how to read an imported file: which way it faces,
// where its pictures are, and which of its frames exist.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/Importer.h"
#include "scene/SceneDocument.h"

namespace quorvex::cli {

// --up, --forward (each "" or ±x|±y|±z) and --no-up-fix into `options`.
// Returns "" or the usage problem: an axis it cannot read, a front parallel
// to the up, or --no-up-fix with either of the others.
std::string ApplyFacingFlags(const std::string& up, const std::string& forward, bool noUpFix,
                             quorvex::importer::ImportOptions& options);

// --texture-dir DIR (each), --texture MATERIAL=FILE or FILE (each), and
// --skin-file into `options`. Returns "" or the usage problem: a folder or
// file that does not exist, two pictures for one material, two FILEs alone.
std::string ApplyPictureFlags(const std::vector<std::string>& dirs, const std::vector<std::string>& textures,
                              const std::string& skinFile, quorvex::importer::ImportOptions& options);

// Cuts the range START:END to the frames `document` holds (0 to its last
// frame). A cut adds one warning line to `warnings`; a range with no frame of
// the source gives false and `error`.
bool CutFramesToSource(const quorvex::scene::SceneDocument& document, int32_t& start, int32_t& end,
                       std::vector<std::string>& warnings, std::string& error);

}  // namespace quorvex::cli
