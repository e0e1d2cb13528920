// The quick way through a scene file: the text straight into the document,
// without a JSON tree in between. It takes only files the checking reader
// (SceneFile.cpp) takes, giving the same document, and declines everything
// else: anything wrong, and anything unusual it leaves to the checking reader
// (escapes and non-ASCII text in strings, integers wider than 64 bits,
// numbers at the edge of the float range). The checking reader then reads a
// declined file and names what is wrong. Private to SceneFile.cpp and its tests.
#pragma once

#include <string_view>

#include "scene/SceneDocument.h"

namespace standin {

// True with the document in `out`; false when declined (`out` unspecified).
// baseDir is left empty.
bool ReadSceneDirect(std::string_view text, SceneDocument& out);

// A number of a float field: the nearest float to `d`, where doubles from the
// largest float up to halfway towards 2^128 round down to the largest float.
// False when the nearest float is infinite.
bool NearestFloat(double d, float& out);

// The names the format gives object kinds and convert modes; false for any other.
bool ObjectKindNamed(std::string_view name, ObjectKind& out);
bool ConvertModeNamed(std::string_view name, ConvertMode& out);

}  // namespace standin
