#include "scene/SceneFileJson.h"

#include <cctype>
#include <new>
#include <unordered_set>

#include <nlohmann/json.hpp>

namespace standin::scenejson {

const Value* Value::Find(std::string_view key) const {
    if (type != Type::Object || !extra) return nullptr;
    const std::vector<std::string>& keys = extra->keys;
    for (size_t k = 0; k < keys.size(); ++k) {
        if (keys[k] == key) return &items[k];
    }
    return nullptr;
}

namespace {

bool IsIdentifier(std::string_view s) {
    if (s.empty()) return false;
    if (!(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    return true;
}

}  // namespace

std::string Quote(std::string_view s) {
    // Names were checked as UTF-8 by the parser; replace anyway so that a
    // message can never fail to be written.
    return nlohmann::json(std::string(s)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// Builds the tree from the parser's events. Containers being filled are kept
// on a stack of pointers: a container's parent gains no element while it is
// open, so those pointers stay valid.
class TreeBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit TreeBuilder(Value& root) : root_(root) {}

    std::string error;  // set when this builder stopped the parse

    bool null() override { return Place(Value{}) != nullptr; }
    bool boolean(bool val) override {
        Value v;
        v.type = Value::Type::Bool;
        v.boolean = val;
        return Place(std::move(v)) != nullptr;
    }
    bool number_integer(number_integer_t val) override {
        Value v;
        v.type = Value::Type::Integer;
        // One form per sign: non-negative values always live in `u`.
        if (val >= 0) {
            v.u = static_cast<uint64_t>(val);
            v.isUnsigned = true;
        } else {
            v.i = val;
        }
        return Place(std::move(v)) != nullptr;
    }
    bool number_unsigned(number_unsigned_t val) override {
        Value v;
        v.type = Value::Type::Integer;
        v.u = val;
        v.isUnsigned = true;
        return Place(std::move(v)) != nullptr;
    }
    bool number_float(number_float_t val, const string_t& s) override {
        Value v;
        v.type = Value::Type::Float;
        v.d = val;
        // The parser hands integer literals beyond 64 bits over as floats; the
        // literal itself tells them apart from numbers with a fraction or exponent.
        if (s.find_first_of(".eE") == std::string::npos) {
            v.wideInteger = true;
            v.extra = std::make_unique<Value::Extra>();
            v.extra->text = s;
        }
        return Place(std::move(v)) != nullptr;
    }
    bool string(string_t& val) override {
        Value v;
        v.type = Value::Type::String;
        v.extra = std::make_unique<Value::Extra>();
        v.extra->text = std::move(val);
        return Place(std::move(v)) != nullptr;
    }
    bool binary(binary_t&) override { return false; }  // JSON text has none

    bool start_object(std::size_t) override {
        Value v;
        v.type = Value::Type::Object;
        v.extra = std::make_unique<Value::Extra>();
        return Open(std::move(v));
    }
    bool key(string_t& val) override {
        Frame& top = open_.back();
        if (!top.seen.insert(val).second) {
            std::vector<PathStep> steps = Steps();
            steps.push_back({val, 0, false});
            error = FormatPath(steps) + ": the key " + Quote(val) + " appears twice";
            return false;
        }
        top.pendingKey = std::move(val);
        return true;
    }
    bool end_object() override { return Close(); }
    bool start_array(std::size_t) override {
        Value v;
        v.type = Value::Type::Array;
        return Open(std::move(v));
    }
    bool end_array() override { return Close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
        // The parser's text reads "[json.exception.parse_error.101] parse error
        // at line 1, column 5: syntax error ..."; keep the place and the reason.
        std::string what = ex.what();
        if (ex.id == 406) {
            // A number beyond the double range: no field takes it, and the
            // place in the document says more than a line and column would.
            std::vector<PathStep> steps = Steps();
            std::string key;
            if (!open_.empty()) {
                const Value& top = *open_.back().container;
                if (top.type == Value::Type::Array) {
                    steps.push_back({{}, top.items.size(), true});
                } else {
                    key = open_.back().pendingKey;
                    steps.push_back({key, 0, false});
                }
            }
            const size_t quote = what.find('\'');
            const std::string literal = quote == std::string::npos
                                            ? std::string("the number")
                                            : "number " + what.substr(quote + 1, what.size() - quote - 2);
            std::string where = FormatPath(steps);
            error = (where.empty() ? std::string() : where + ": ") + literal +
                    " is beyond the float range (its nearest float is infinite)";
            return false;
        }
        const size_t at = what.find("at line ");
        error = at == std::string::npos ? what : what.substr(at + 3);
        return false;
    }

private:
    struct Frame {
        Value* container;
        std::unordered_set<std::string> seen;  // objects only
        std::string pendingKey;
    };

    // The path of the value about to be placed in the innermost open container.
    std::vector<PathStep> Steps() const {
        std::vector<PathStep> steps;
        for (size_t f = 1; f < open_.size(); ++f) {
            const Frame& parent = open_[f - 1];
            if (parent.container->type == Value::Type::Array) {
                steps.push_back({{}, parent.container->items.size() - 1, true});
            } else {
                steps.push_back({parent.container->extra->keys.back(), 0, false});
            }
        }
        return steps;
    }

    Value* Place(Value v) {
        if (open_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        Frame& top = open_.back();
        Value& c = *top.container;
        if (c.type == Value::Type::Object) c.extra->keys.push_back(std::move(top.pendingKey));
        c.items.push_back(std::move(v));
        return &c.items.back();
    }

    bool Open(Value v) {
        if (open_.size() >= kMaxDepth) {
            std::vector<PathStep> steps = Steps();
            std::string where = FormatPath(steps);
            error = (where.empty() ? std::string() : where + ": ") + "values are nested deeper than " +
                    std::to_string(kMaxDepth) + " levels";
            return false;
        }
        Value* placed = Place(std::move(v));
        open_.push_back(Frame{placed, {}, {}});
        return true;
    }

    bool Close() {
        open_.pop_back();
        return true;
    }

    Value& root_;
    std::vector<Frame> open_;
};

}  // namespace

std::string FormatPath(const std::vector<PathStep>& steps) {
    std::string out;
    for (const PathStep& s : steps) {
        if (s.isIndex) {
            out += '[';
            out += std::to_string(s.index);
            out += ']';
        } else if (IsIdentifier(s.key)) {
            if (!out.empty()) out += '.';
            out += s.key;
        } else {
            out += '[';
            out += Quote(s.key);
            out += ']';
        }
    }
    return out;
}

bool Parse(const std::string& text, Value& root, std::string& error) {
    TreeBuilder builder(root);
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json, true, false);
    } catch (const std::bad_alloc&) {
        error = "Not enough memory to read the scene";
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    if (!ok) {
        error = builder.error.empty() ? "the text is not valid JSON" : builder.error;
        return false;
    }
    return true;
}

}  // namespace standin::scenejson
