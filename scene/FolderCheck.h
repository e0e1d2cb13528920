// Whether a file a model names lies inside the model's folder: for people
// who convert files they did not make, a model may read only what sits beside
// it, never ../../private/secret.png or /etc/passwd.
#pragma once

#include <string>

namespace quorvex::scene {

// True when `file` (absolute, or relative to the working directory, as it
// would be opened) lies inside `folder` ("" the working directory) or below it
// once "..", "." and symbolic links in both are resolved. A file that does not
// exist is judged by the folder it would be in. False when either path cannot
// be resolved.
bool LiesInside(const std::string& file, const std::string& folder);

}  // namespace quorvex::scene
