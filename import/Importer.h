// Importing the interchange formats artists export (glTF through tinygltf;
// FBX, OBJ, COLLADA, 3DS and the rest through Assimp) into the stand-in scene.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/Facing.h"
#include "import/Surfaces.h"
#include "import/ReaderLimits.h"
#include "scene/SceneDocument.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::SceneDocument;

// Which way is up in the file.
enum class UpAxis {
    AsFile,  // the file's metadata, else its format's convention
    Y,       // Y-up: turned to stand upright in the Z-up host
    Z,       // Z-up: the axes as stored
};

struct ImportOptions {
    int fps = 30;        // must divide 4800; ticks per frame = 4800 / fps
    double scale = 1.0;  // multiplies every position
    UpAxis up = UpAxis::AsFile;
    // The file's up axis and front, when given, in place of its own (and of
    // `up`); a front not given goes with the up as Facing.h's ChooseFacing says.
    SignedAxis upAxis;
    SignedAxis forwardAxis;
    bool upFix = true;  // false: the axes as stored, whatever `up` says
    // The user's pictures and picture folders (guessFrom is set by the import).
    PictureChoices pictures;
    // Vertex-frame files with skin files: the one to use ("" the model's default).
    std::string skinFile;
    // The user named the frame rate; files whose frames are taken one for one say it does not apply.
    bool fpsGiven = false;
    // Export only these clips, in this order (empty: all, in file order). An
    // entry is a clip's name, or OLD=NEW to select clip OLD and name its
    // frames NEW.
    std::vector<std::string> clips;
    // Materials without a usable picture get a swatch of their colour; false:
    // they stay without one (and the exporter refuses them).
    bool swatches = true;
    // Files the model names (pictures, buffers, material libraries, anything
    // Assimp opens) are read only from inside the model's folder; a picture
    // outside becomes a swatch with a warning, a buffer outside fails the import.
    bool secure = false;
    // What Assimp's reader may take in its own process (import/IsolatedRead.h).
    ReaderLimits reader = DefaultReaderLimits();
    // Called as each phase of ImportScene begins ("Reading", then
    // "Evaluating"), for a progress display; may be empty.
    std::function<void(const std::string& phase)> onPhase;
};

// The frame-rate rule: positive and a divisor of the host's 4800 ticks per
// second, so that every frame starts on a whole tick.
bool ValidFps(int fps);
// Why `fps` breaks the rule, for people; empty when ValidFps(fps).
std::string FpsProblem(int fps);

struct ClipInfo {
    std::string name;  // as the file names it
    std::string used;  // the text its frames are named after
    int64_t frames = 0;
};

// The extension of the path's file name, from its last dot, lower-cased
// (ASCII): "Robot.GLB" gives ".glb"; a name without a dot gives "".
std::string LowerExtension(const std::string& path);

// True when the path's extension selects the glTF importer (.gltf, .glb, any case).
bool IsGltfPath(const std::string& path);

// What an import says besides its result.
struct ImportNotes {
    // One line each (without the file name) for everything the import
    // changed, guessed or left out.
    std::vector<std::string> warnings;
};

// Imports `path` into `out`. False with `error` (its message naming the file
// and the place) when the file cannot be read (Unreadable), breaks its
// format's rules (Malformed), asks for more than the limits of scene/Limits.h
// or the reader's (OverLimit), holds no triangle (NothingToExport), the
// options do not fit it (OptionsDoNotFit), or memory runs out
// (NotEnoughMemory). `notes` is reset first.
bool ImportScene(const std::string& path, const ImportOptions& options, SceneDocument& out, ImportNotes& notes,
                 LoadError& error);

// The clips the export would take (options.clips applied, in that order), with
// their lengths in frames and the texts their frames are named after.
bool ListClips(const std::string& path, const ImportOptions& options, std::vector<ClipInfo>& out, LoadError& error);

}  // namespace quorvex::importer
