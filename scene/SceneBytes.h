// A scene document as bytes: how the Windows test host, which reads no JSON,
// receives a scene the Linux side has read. Both ends are little-endian 64-bit
// builds of the same sources; the reading end still trusts nothing.
#pragma once

#include <string>
#include <string_view>

#include "scene/SceneDocument.h"

namespace quorvex::scene {

// `document` as bytes: a tag naming the layout, then every field. Throws
// std::bad_alloc when memory runs out.
std::string SceneDocumentBytes(const SceneDocument& document);

// Reads bytes written by SceneDocumentBytes into `out`; repeated topology is
// shared again as a scene file's reader shares it. False with `why` when the
// tag is wrong, the bytes are cut short or hold more than the document, or a
// count exceeds the bytes left; `out` is then unspecified.
bool ReadSceneDocumentBytes(std::string_view bytes, SceneDocument& out, std::string& why);

}  // namespace quorvex::scene
