#include "cli/ReadBackCheck.h"

#include "cli/Interrupt.h"
#include "mdl/MdlFileWriter.h"

namespace quorvex::cli {

using namespace quorvex;

namespace {

bool ReadBack(const char* temporaryPath, void* context) {
    auto* state = static_cast<ReadBackCheck*>(context);
    // Every byte is checked; the positions are not kept, as nothing after the
    // export needs them.
    state->read = ReadMdlFileWithoutVertices(temporaryPath);
    state->checked = true;
    if (!state->read.ok()) return false;
    state->noTriangles = state->read.file.triangles.empty();
    if (state->noTriangles) return false;
    // From here a signal must not report the old file as kept: the handler
    // waits until the caller knows which file is in place.
    HoldInterrupts();
    return true;
}

}  // namespace

void InstallReadBackCheck(ReadBackCheck* state) {
    SetMdlWriteCheck(state ? MdlWriteCheck{ReadBack, state} : MdlWriteCheck{nullptr, nullptr});
}

}  // namespace quorvex::cli
