// The JSON layer under the scene-file loader: a document tree that keeps what a
// plain JSON parse loses. Every number keeps the kind of literal it was written
// as (an integer literal, or one with a fraction or exponent), and a key that
// appears twice in one object is refused instead of one copy being dropped.
// Private to host/SceneFile.cpp and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace standin::scenejson {

struct Value {
    enum class Type : uint8_t { Null, Bool, Integer, Float, String, Array, Object };

    Type type = Type::Null;
    bool boolean = false;      // Bool
    bool isUnsigned = false;   // Integer: the value is in `u`, else in `i` (then negative)
    bool wideInteger = false;  // Float: written as an integer too large for 64 bits
    union {
        int64_t i;
        uint64_t u;
        double d;  // Float
    };
    std::vector<Value> items;  // Array: the elements; Object: the member values
    // String: `text`; Object: `keys`, parallel to `items`, in document order;
    // Float with wideInteger: `text` is the literal. Null for the other types.
    struct Extra {
        std::string text;
        std::vector<std::string> keys;
    };
    std::unique_ptr<Extra> extra;

    Value() : u(0) {}

    // The member named `key` of an object, or null (also for non-objects).
    const Value* Find(std::string_view key) const;
};

// One step of a path from the document root to a value.
struct PathStep {
    std::string_view key;  // member name, when not an index
    size_t index = 0;
    bool isIndex = false;
};

// Writes a path in the style `nodes[2].children[0].object.mesh`. Member names
// that are not plain identifiers are written as `["name"]`, JSON-escaped.
std::string FormatPath(const std::vector<PathStep>& steps);

// `s` as a JSON string literal, quotes included, for messages.
std::string Quote(std::string_view s);

// Parses `text` as strict JSON (no comments, nothing after the value) into
// `root`. Objects nested deeper than kMaxDepth levels are refused so that
// walking the tree cannot exhaust the stack. On failure returns false and
// `error` says where and what: "line L, column C: ..." for malformed text, or
// "<path>: ..." for a repeated key or excessive nesting. `root` is unspecified
// after a failure.
constexpr size_t kMaxDepth = 2000;
bool Parse(const std::string& text, Value& root, std::string& error);

}  // namespace standin::scenejson
