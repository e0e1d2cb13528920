#include "cli/Warnings.h"

#include <map>

namespace standin {

std::vector<WarningLine> MergeWarnings(const std::vector<std::string>& texts) {
    std::vector<WarningLine> lines;
    std::map<std::string, size_t> at;
    for (const std::string& text : texts) {
        auto [it, added] = at.emplace(text, lines.size());
        if (added) {
            lines.push_back({text, 1});
        } else {
            ++lines[it->second].count;
        }
    }
    return lines;
}

void PrintWarnings(std::FILE* out, const std::string& file, const std::vector<std::string>& texts) {
    for (const WarningLine& line : MergeWarnings(texts)) {
        std::fprintf(out, "quorvex: warning: %s: %s", file.c_str(), line.text.c_str());
        if (line.count > 1) std::fprintf(out, " (%zu times)", line.count);
        std::fputc('\n', out);
    }
}

}  // namespace standin
