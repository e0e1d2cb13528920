// Why a scene could not be loaded or imported: a kind the caller acts on, and
// the message for people.
#pragma once

#include <string>

namespace quorvex::scene {

enum class LoadErrorKind {
    Unreadable,       // the file (or one it names) cannot be opened or read
    NotEnoughMemory,  // memory ran out while reading
    Malformed,        // the content breaks a rule of its format
    OverLimit,        // the content asks for more than a limit allows (scene/Limits.h, the reader's limits)
    NothingToExport,  // read whole, but holds no triangle
    OptionsDoNotFit,  // the import's options do not fit the file (no such clip, no such axis)
};

struct LoadError {
    LoadErrorKind kind = LoadErrorKind::Malformed;
    std::string message;  // names the file and the place, unless a caller adds them
};

}  // namespace quorvex::scene
