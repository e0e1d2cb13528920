// Reading numeric flag values with messages that say what is wanted: the
// range, or for frame rates the nearest ones that work.
#pragma once

#include <cstdint>
#include <string>

namespace quorvex::cli {

// A frame rate: a whole number dividing 4800 (the host counts 4800 ticks a
// second). Returns empty and sets `fps`, or a message such as
// "--fps 29.97: the frame rate must be a whole number that divides 4800; the nearest are 25 and 30".
std::string ParseFps(const std::string& text, int& fps);

// A whole decimal number from `low` to `high`. Returns empty and sets `value`,
// or "<flag> <text>: wants a whole number from <low> to <high>".
std::string ParseWholeNumber(const std::string& flag, const std::string& text, int64_t low, int64_t high,
                             int64_t& value);

}  // namespace quorvex::cli
