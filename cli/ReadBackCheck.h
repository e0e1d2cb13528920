// `quorvex export` reads the model file back before it replaces the target:
// a file the reader refuses never takes the old file's place, and nothing
// slow happens between the rename and the end of the export.
#pragma once

#include "mdl/MdlReader.h"

namespace quorvex::cli {

struct ReadBackCheck {
    quorvex::MdlReadResult read;  // the reader's result for the last file checked, without vertices
    bool checked = false;         // a finished file was looked at
    bool noTriangles = false;     // it read back but holds no triangle, so it was refused
};

// Installs a writer check (SetMdlWriteCheck) that reads each finished
// temporary file into *state and refuses one the reader refuses or one
// without a triangle (an empty model is no use to an engine). Once a file
// has read back it is about to replace the target, so SIGINT and SIGTERM are
// held off from then on (HoldInterrupts); the caller lets them through when
// it knows whether the rename happened. `state` must outlive the export; null
// removes the check.
void InstallReadBackCheck(ReadBackCheck* state);

}  // namespace quorvex::cli
