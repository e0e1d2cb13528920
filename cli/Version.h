// What `quorvex --version` and `quorvex version` print.
#pragma once

#include <string>

namespace quorvex::cli {

// "quorvex X.Y.Z" (the build's version), then a line naming the libraries the
// build was made with and their versions; ends with a newline.
std::string VersionText();

}  // namespace quorvex::cli
