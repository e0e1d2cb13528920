// What the scene-file reader needs of JSON text besides the parser itself:
// where and why a text is not JSON, and how messages write names and places.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvex::scene {

// Containers (arrays and objects) one scene file may nest, so that no walk of
// it can exhaust the stack.
constexpr size_t kMaxJsonDepth = 2000;

// Checks `text` as strict JSON (RFC 8259: one value, no comments, strings in
// valid UTF-8 without raw control characters, surrogates in pairs) and nesting
// up to kMaxJsonDepth. Returns "" when it is, else the first fault as
// "line L, column C: reason" (both counted from 1, columns in bytes), e.g.
//   line 2, column 13: unexpected '}'; expected a value
// Never fails on any input; uses no recursion. `tooDeep`, when given, tells
// whether the fault is the nesting limit rather than text that is not JSON.
std::string JsonSyntaxFault(std::string_view text, bool* tooDeep = nullptr);

// The text of a JSON string given by its content between the quotes, which
// JsonSyntaxFault must have found sound: escapes decoded, \uXXXX pairs to UTF-8.
std::string UnescapeJsonString(std::string_view content);

// `s` as a JSON string literal, quotes included, for messages: `"`, `\` and
// control characters escaped; bytes that are not UTF-8 become U+FFFD.
std::string QuoteJson(std::string_view s);

// True when `name` can stand in a path as `.name` (a letter or `_`, then
// letters, digits and `_`); other member names are written `["name"]`.
bool IsPlainMemberName(std::string_view name);

}  // namespace quorvex::scene
