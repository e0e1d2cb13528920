// What the command line adds to an exporter refusal that one of its own flags
// can remedy. The exporter's text itself is never changed.
#pragma once

#include <string>

namespace quorvex::cli {

// For the exporter's "Model has N vertices; at most 65536 fit", the text to
// print right after it: " (use --max-vertices 65536 to reduce it)". Empty for
// every other text.
std::string RefusalRemedy(const std::string& refusal);

}  // namespace quorvex::cli
