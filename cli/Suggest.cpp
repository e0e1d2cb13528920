#include "cli/Suggest.h"

#include <algorithm>
#include <cstdio>

namespace quorvex::cli {

namespace {

// Optimal string alignment distance.
size_t EditDistance(const std::string& a, const std::string& b) {
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (size_t i = 1; i <= n; ++i) {
        for (size_t j = 1; j <= m; ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

std::vector<std::string> LongFlags(const CLI::App& app) {
    std::vector<std::string> flags;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames()) flags.push_back("--" + name);
    return flags;
}

// True when `word` is a long option of `app` that takes a value, so the next
// word is that value even if it starts with dashes.
bool TakesValue(const CLI::App& app, const std::string& word) {
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            if (word == "--" + name) return option->get_type_size() != 0;
    return false;
}

void Unknown(const std::string& prefix, const std::string& what, const std::string& word,
             const std::vector<std::string>& known, const std::string& more) {
    const std::string nearest = NearestWord(word, known);
    std::fprintf(stderr, "%s: unknown %s '%s'", prefix.c_str(), what.c_str(), word.c_str());
    if (!nearest.empty()) std::fprintf(stderr, "; did you mean '%s'?", nearest.c_str());
    std::fprintf(stderr, "\n%s\n", more.c_str());
}

}  // namespace

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
    // A third of the word may be wrong, at least one letter, at most three.
    const size_t allowed = std::clamp<size_t>(word.size() / 3, 1, 3);
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string& candidate : candidates) {
        const size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

bool CheckCommandWords(const CLI::App& app, const std::vector<std::string>& words) {
    const CLI::App* command = nullptr;
    std::vector<const CLI::App*> subcommands =
        app.get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
    std::vector<std::string> commands;
    for (const CLI::App* sub : subcommands) commands.push_back(sub->get_name());
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") break;
        const CLI::App& scope = command ? *command : app;
        if (word.rfind("--", 0) == 0) {
            const std::string name = word.substr(0, word.find('='));
            const std::vector<std::string> flags = LongFlags(scope);
            if (std::find(flags.begin(), flags.end(), name) == flags.end()) {
                const std::string prefix = command ? "quorvex " + command->get_name() : "quorvex";
                Unknown(prefix, "flag", name, flags, "Run '" + prefix + " --help' for the flags.");
                return false;
            }
            if (word.find('=') == std::string::npos && TakesValue(scope, name)) ++i;
            continue;
        }
        if (command || (!word.empty() && word[0] == '-')) continue;
        for (const CLI::App* sub : subcommands)
            if (sub->get_name() == word) command = sub;
        if (!command) {
            std::string list;
            for (const std::string& name : commands) list += (list.empty() ? "" : ", ") + name;
            Unknown("quorvex", "command", word, commands,
                    "The commands are " + list + "; run 'quorvex help' for more.");
            return false;
        }
    }
    return true;
}

}  // namespace quorvex::cli
