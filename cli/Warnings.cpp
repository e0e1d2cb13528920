#include "cli/Warnings.h"

#include <map>

namespace quorvex::cli {

namespace {

// How many names a summary line shows before "...".
constexpr size_t kNamesShown = 5;

// A warning about one named thing: `mesh "Hull" (material "Steel"): what`.
struct Subject {
    std::string noun;  // "mesh", "material", "clip"; empty when the text names none
    std::string name;
    std::string what;
};

Subject SplitSubject(const std::string& text) {
    static const char* const nouns[] = {"mesh", "material", "clip"};
    for (const char* noun : nouns) {
        const std::string lead = std::string(noun) + " \"";
        if (text.rfind(lead, 0) != 0) continue;
        // Names are not escaped: the subject ends at the first quote followed
        // by what the importer puts after a name.
        for (size_t close = text.find('"', lead.size()); close != std::string::npos;
             close = text.find('"', close + 1)) {
            size_t rest = close + 1;
            if (text.compare(rest, 2, " (") == 0) {
                const size_t shut = text.find("): ", rest);
                if (shut == std::string::npos) continue;
                rest = shut + 1;
            }
            if (text.compare(rest, 2, ": ") != 0) continue;
            return {noun, text.substr(lead.size(), close - lead.size()), text.substr(rest + 2)};
        }
    }
    return {};
}

std::string Plural(const std::string& noun) { return noun == "mesh" ? "meshes" : noun + "s"; }

}  // namespace

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

std::string WarningKind(const std::string& text) {
    struct Rule {
        const char* part;
        const char* kind;
    };
    static const Rule rules[] = {
        {"left out: only triangles", "primitives-left-out"},
        {"its frames are named", "clip-renamed"},
        {"tiles; clamped", "texture-clamped"},
        {"pictures, but the skin holds", "too-many-pictures"},
        {"glTF 1.0:", "partial-read"},
        {"using its colour", "swatch"},
        {"using white", "swatch"},
        {"using its vertex colours", "swatch"},
    };
    for (const Rule& rule : rules)
        if (text.find(rule.part) != std::string::npos) return rule.kind;
    // What the picture loader says names the picture file first.
    if (text.find("picture") != std::string::npos || text.find(".png") != std::string::npos ||
        text.find(".jpg") != std::string::npos)
        return "picture";
    return "other";
}

std::vector<std::string> SummariseWarnings(const std::vector<std::string>& texts, bool all) {
    const std::vector<WarningLine> merged = MergeWarnings(texts);
    auto plain = [](const WarningLine& line) {
        return line.count > 1 ? line.text + " (" + std::to_string(line.count) + " times)" : line.text;
    };
    std::vector<std::string> out;
    if (all) {
        for (const WarningLine& line : merged) out.push_back(plain(line));
        return out;
    }
    struct Group {
        std::string noun, what;
        std::vector<std::string> names;
        size_t line = 0;  // where in `out` it prints
    };
    std::vector<Group> groups;
    std::map<std::pair<std::string, std::string>, size_t> groupOf;
    std::vector<std::pair<bool, size_t>> order;  // (grouped, index into groups or merged)
    for (size_t i = 0; i < merged.size(); ++i) {
        const Subject s = SplitSubject(merged[i].text);
        if (s.noun.empty() || merged[i].count > 1) {
            order.push_back({false, i});
            continue;
        }
        auto [it, added] = groupOf.emplace(std::make_pair(s.noun, s.what), groups.size());
        if (added) {
            groups.push_back({s.noun, s.what, {}, i});
            order.push_back({true, groups.size() - 1});
        }
        groups[it->second].names.push_back(s.name);
    }
    for (const auto& [grouped, index] : order) {
        if (!grouped) {
            out.push_back(plain(merged[index]));
            continue;
        }
        const Group& g = groups[index];
        if (g.names.size() == 1) {
            out.push_back(merged[g.line].text);
            continue;
        }
        std::string names;
        for (size_t k = 0; k < g.names.size() && k < kNamesShown; ++k) names += (k ? ", " : "") + g.names[k];
        if (g.names.size() > kNamesShown) names += ", ... (-v lists all)";
        out.push_back(std::to_string(g.names.size()) + " " + Plural(g.noun) + ": " + g.what + ": " + names);
    }
    return out;
}

void PrintWarnings(std::FILE* out, const std::string& file, const std::vector<std::string>& texts, bool all) {
    for (const std::string& line : SummariseWarnings(texts, all))
        std::fprintf(out, "quorvex: warning: %s: %s\n", file.c_str(), line.c_str());
}

}  // namespace quorvex::cli
