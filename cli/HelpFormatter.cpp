#include "cli/HelpFormatter.h"

namespace quorvex::cli {

std::string HelpFormatter::make_expanded(const CLI::App* sub) const {
    const std::string text = CLI::Formatter::make_expanded(sub);
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // A group's heading: indented once, one word or two, ending in a colon.
        const bool heading = line.size() > 3 && line.compare(0, 2, "  ") == 0 && line[2] != ' ' && line.back() == ':' &&
                             line.find(' ', 2) == std::string::npos;
        if (heading && !out.empty() && out.compare(out.size() - 2, 2, "\n\n") != 0) out += '\n';
        out += line + (end == std::string::npos ? "" : "\n");
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

}  // namespace quorvex::cli
