#include "cli/RefusalRemedy.h"

#include <algorithm>
#include <cctype>

namespace quorvex::cli {

std::string RefusalRemedy(const std::string& refusal) {
    const std::string head = "Model has ", tail = " vertices; at most 65536 fit";
    if (refusal.size() <= head.size() + tail.size() || refusal.compare(0, head.size(), head) != 0 ||
        refusal.compare(refusal.size() - tail.size(), tail.size(), tail) != 0) {
        return "";
    }
    const auto first = refusal.begin() + static_cast<std::ptrdiff_t>(head.size());
    const auto last = refusal.end() - static_cast<std::ptrdiff_t>(tail.size());
    if (!std::all_of(first, last, [](unsigned char c) { return std::isdigit(c) != 0; })) return "";
    return " (use --max-vertices 65536 to reduce it)";
}

}  // namespace quorvex::cli
