#include "cli/FlagValues.h"

#include "import/Importer.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quorvex::cli {

namespace {

constexpr int kTicksPerSecond = 4800;

bool WholeNumber(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    value = v;
    return true;
}

}  // namespace

std::string ParseFps(const std::string& text, int& fps) {
    int64_t whole = 0;
    if (WholeNumber(text, whole) && whole > 0 && whole <= kTicksPerSecond &&
        quorvex::importer::ValidFps(static_cast<int>(whole))) {
        fps = static_cast<int>(whole);
        return {};
    }
    // The nearest divisors on either side of what was asked for.
    char* end = nullptr;
    const double asked = std::strtod(text.c_str(), &end);
    const bool number = !text.empty() && end && *end == '\0' && std::isfinite(asked);
    std::string message =
        "--fps " + text + ": the frame rate must be a whole number that divides 4800 (the ticks in a second)";
    if (!number) return message + ", e.g. 24, 25, 30 or 60";
    int below = 0, above = 0;
    for (int d = 1; d <= kTicksPerSecond; ++d) {
        if (!quorvex::importer::ValidFps(d)) continue;
        if (d <= asked) below = d;
        if (d >= asked && above == 0) above = d;
    }
    if (below && above && below != above)
        return message + "; the nearest are " + std::to_string(below) + " and " + std::to_string(above);
    return message + "; the nearest is " + std::to_string(below ? below : above);
}

std::string ParseWholeNumber(const std::string& flag, const std::string& text, int64_t low, int64_t high,
                             int64_t& value) {
    int64_t v = 0;
    if (WholeNumber(text, v) && v >= low && v <= high) {
        value = v;
        return {};
    }
    return flag + " " + text + ": wants a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

}  // namespace quorvex::cli
