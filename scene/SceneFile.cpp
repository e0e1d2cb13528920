#include "scene/SceneFile.h"

// The parser's development checks (on in builds without NDEBUG) take memory
// they never check for: with them, running out of memory would crash the
// reader instead of refusing the file.
#define SIMDJSON_DEVELOPMENT_CHECKS 0
#include <simdjson.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <optional>
#include <filesystem>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "scene/InputFile.h"
#include "scene/JsonText.h"
#include "scene/Limits.h"

namespace quorvex::scene {

namespace od = simdjson::ondemand;

namespace {

// The nearest float to `d`, where doubles from the largest float up to halfway
// towards 2^128 round down to the largest float. False when it is infinite.
bool NearestFloat(double d, float& out) {
    // Doubles from FLT_MAX up to halfway towards 2^128 round down to FLT_MAX;
    // from halfway on the nearest float is infinite.
    const double largest = std::numeric_limits<float>::max();
    const double halfway = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    const double magnitude = std::fabs(d);
    if (!(magnitude < halfway)) return false;
    out = magnitude > largest ? static_cast<float>(std::copysign(largest, d)) : static_cast<float>(d);
    return true;
}

// Where a value sits in the document. Lives on the stack beside the walk and
// is only written out when something is refused.
struct Path {
    const Path* parent = nullptr;
    std::string_view key;
    size_t index = 0;
    bool isIndex = false;
    size_t depth = 0;  // containers around the value

    Path Key(std::string_view k) const { return Path{this, k, 0, false, depth + 1}; }
    Path Index(size_t i) const { return Path{this, {}, i, true, depth + 1}; }

    std::string Format() const {
        std::vector<const Path*> steps;
        for (const Path* p = this; p && p->parent; p = p->parent) steps.push_back(p);
        std::string out;
        for (auto s = steps.rbegin(); s != steps.rend(); ++s) {
            if ((*s)->isIndex) {
                out += '[' + std::to_string((*s)->index) + ']';
            } else if (IsPlainMemberName((*s)->key)) {
                if (!out.empty()) out += '.';
                out += (*s)->key;
            } else {
                out += '[' + QuoteJson((*s)->key) + ']';
            }
        }
        return out;
    }
};

// A broken rule of the format, and text that is not JSON. Thrown inside the
// walk only; ParseText turns them into its result, so nothing leaves this file
// as an exception.
struct Refusal {
    std::string message;
    LoadErrorKind kind = LoadErrorKind::Malformed;
};
struct NotJson {
    simdjson::error_code code = simdjson::TAPE_ERROR;
};

[[noreturn]] void Fail(const Path& path, const std::string& rule, LoadErrorKind kind = LoadErrorKind::Malformed) {
    const std::string where = path.Format();
    throw Refusal{where.empty() ? rule : where + ": " + rule, kind};
}

// The parser's answer, or the walk ends: for want of memory, or because the
// text is not JSON (the syntax check then says where and why).
template <class T>
T Take(simdjson::simdjson_result<T>&& result) {
    T value{};
    if (const simdjson::error_code error = std::move(result).get(value)) {
        if (error == simdjson::MEMALLOC) throw std::bad_alloc();
        throw NotJson{error};
    }
    return value;
}
void Check(simdjson::error_code error) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    if (error) throw NotJson{error};
}

const char* TypeName(od::json_type t) {
    switch (t) {
        case od::json_type::null: return "null";
        case od::json_type::boolean: return "a boolean";
        case od::json_type::number: return "a number";
        case od::json_type::string: return "a string";
        case od::json_type::array: return "an array";
        case od::json_type::object: return "an object";
    }
    return "a value";
}

const char* const kKeyedRule = "a keyed value is allowed only for a node's transform and a mesh object's mesh";

od::json_type TypeOf(od::value& v) { return Take(v.type()); }

// True for an object that has a member "keys" (the keyed form). Reads the
// object's member names, so only for a value about to be refused.
bool LooksKeyed(od::value& v) {
    od::object object = Take(v.get_object());
    for (auto field : object) {
        if (Take(std::move(field)).key() == "keys") return true;
    }
    return false;
}

[[noreturn]] void FailType(od::value& v, od::json_type got, const Path& path, const char* what) {
    if (got == od::json_type::object && LooksKeyed(v)) Fail(path, kKeyedRule);
    Fail(path, std::string("expected ") + what + ", got " + TypeName(got));
}

void ExpectType(od::value& v, const Path& path, od::json_type wanted, const char* what) {
    const od::json_type got = TypeOf(v);
    if (got != wanted) FailType(v, got, path, what);
}

// The text of a string value or member name from its raw form (the content
// after the opening quote): checked as JSON, then unescaped here. The
// parser's own unescaping is not used: its buffer may be missing when memory
// ran out, and it would take raw control characters and lone surrogates.
std::string_view StringText(const char* content, std::list<std::string>& store) {
    const char* end = content;
    bool plain = true;
    for (; *end != '"'; ++end) {
        const unsigned char c = static_cast<unsigned char>(*end);
        if (c < 0x20) throw NotJson{};
        if (c == '\\') plain = false, ++end;
    }
    const std::string_view inner(content, static_cast<size_t>(end - content));
    if (plain) return inner;
    if (!JsonSyntaxFault(std::string_view(content - 1, inner.size() + 2)).empty()) throw NotJson{};
    return store.emplace_back(UnescapeJsonString(inner));
}

// Member names in document order. Records of the format have a handful of
// members, kept in place; only a longer list (the map of pictures, or a record
// about to be refused) takes memory.
struct NameList {
    static constexpr size_t kInPlace = 8;
    std::string_view inPlace[kInPlace];
    std::vector<std::string_view> more;
    size_t count = 0;

    size_t size() const { return count; }
    std::string_view operator[](size_t k) const { return k < kInPlace ? inPlace[k] : more[k - kInPlace]; }
    void push_back(std::string_view name) {
        if (count < kInPlace) {
            inPlace[count] = name;
        } else {
            more.push_back(name);
        }
        ++count;
    }
    bool Has(std::string_view name) const { return Find(name) != count; }
    size_t Find(std::string_view name) const {
        for (size_t k = 0; k < count; ++k) {
            if ((*this)[k] == name) return k;
        }
        return count;
    }
};

// An object opened for reading: its member names in document order (a name
// given twice is refused). Members are read by name in any order; the parser
// finds each from where it stands, so reading in document order walks the
// text once.
struct Members {
    od::object object;
    NameList names;
    NameList rawNames;                 // as written, for finding them again
    std::list<std::string> unescaped;  // names written with escapes

    bool Has(std::string_view name) const { return names.Has(name); }
    size_t Find(std::string_view name) const { return names.Find(name); }
    // The value of member k (< names.size()); any value taken before is done with.
    od::value Value(size_t k) { return Take(object.find_field_unordered(rawNames[k])); }
};

// Lists the members of `object`. With `document`, the object is the root and
// nothing but white space may follow it.
Members OpenMembers(od::object object, const Path& path, od::document* document = nullptr) {
    Members m;
    m.object = object;
    for (auto item : m.object) {
        od::field field = Take(std::move(item));
        const char* raw = field.key().raw();
        const std::string_view name = StringText(raw, m.unescaped);
        if (m.Has(name)) Fail(path.Key(name), "the key " + QuoteJson(name) + " appears twice");
        m.names.push_back(name);
        size_t length = 0;
        while (raw[length] != '"') length += raw[length] == '\\' ? 2 : 1;
        m.rawNames.push_back(std::string_view(raw, length));
    }
    const char* after = nullptr;
    if (document && document->current_location().get(after) == simdjson::SUCCESS) throw NotJson{};
    Take(m.object.reset());
    return m;
}

// Reads an object in one pass, in document order: `read(name, value, k)` is
// called for each member (the k-th), after a name given twice is refused.
// Returns the names in order, for the checks that follow. The big members
// (meshes, node lists) are read where they stand, never walked twice.
template <class Read>
NameList ReadInOnePass(od::object object, const Path& path, std::list<std::string>& unescaped, Read read) {
    NameList names;
    for (auto item : object) {
        od::field field = Take(std::move(item));
        const std::string_view name = StringText(field.key().raw(), unescaped);
        if (names.Has(name)) Fail(path.Key(name), "the key " + QuoteJson(name) + " appears twice");
        names.push_back(name);
        read(name, field.value(), names.size() - 1);
    }
    return names;
}

// Every object the format has, other than the keyed form itself: one that
// carries "keys" is a keyed value given where none is allowed.
Members ExpectObject(od::value& v, const Path& path) {
    ExpectType(v, path, od::json_type::object, "an object");
    Members m = OpenMembers(Take(v.get_object()), path);
    if (m.Has("keys")) Fail(path, kKeyedRule);
    return m;
}

// Refuses every member not in `allowed`. `misplaced` names fields this kind of
// thing does not take although others do, with the reason.
struct Misplaced {
    std::string_view field;
    const char* rule;
};

void CheckNames(const NameList& names, const Path& path, std::initializer_list<std::string_view> allowed,
                std::initializer_list<Misplaced> misplaced = {}) {
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string_view name = names[k];
        bool known = false;
        for (std::string_view a : allowed) known = known || a == name;
        if (known) continue;
        for (const Misplaced& mp : misplaced) {
            if (mp.field == name) Fail(path.Key(name), mp.rule);
        }
        Fail(path.Key(name), "unknown field " + QuoteJson(name));
    }
}

void CheckFields(const Members& m, const Path& path, std::initializer_list<std::string_view> allowed,
                 std::initializer_list<Misplaced> misplaced = {}) {
    CheckNames(m.names, path, allowed, misplaced);
}

void RequireName(const NameList& names, const Path& path, std::string_view field) {
    if (!names.Has(field)) Fail(path, "missing required field " + QuoteJson(field));
}

size_t Require(const Members& m, const Path& path, std::string_view field) {
    const size_t k = m.Find(field);
    if (k == m.names.size()) Fail(path, "missing required field " + QuoteJson(field));
    return k;
}

// A number as written: its kind of literal and its value.
// Plain, so that a tuple of them costs nothing until filled; Number{} is zero.
struct Number {
    bool integer;  // written without fraction or exponent
    bool wide;     // an integer beyond 64 bits: only `d` and `literal` hold it
    bool negative;
    uint64_t magnitude;  // integers that are not wide
    double d;
    std::string_view literal;
};

Number IntegerNumber(int64_t i) {
    Number n{};
    n.integer = true;
    n.negative = i < 0;
    n.magnitude = i < 0 ? uint64_t(0) - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
    n.d = static_cast<double>(i);
    return n;
}

// Reads a number value, checking its literal against JSON's grammar (the
// parser's own number readers know no integers beyond 64 bits). A number
// beyond the double range is refused here, whatever field it stands in.
Number ReadNumberAsWritten(od::value& v, const Path& path);

// Most numbers go the parser's quick way; the rest (integers beyond 64 bits,
// numbers beyond the double range, anything malformed) are read from their
// literal.
Number ReadNumber(od::value& v, const Path& path) {
    Number n{};
    od::number_type type;
    if (v.get_number_type().get(type) == simdjson::SUCCESS) {
        if (type == od::number_type::floating_point_number) {
            if (v.get_double().get(n.d) == simdjson::SUCCESS) return n;
        } else if (type == od::number_type::signed_integer) {
            int64_t i = 0;
            if (v.get_int64().get(i) == simdjson::SUCCESS) return IntegerNumber(i);
        } else if (v.get_uint64().get(n.magnitude) == simdjson::SUCCESS) {
            n.integer = true;
            n.d = static_cast<double>(n.magnitude);
            return n;
        }
    }
    return ReadNumberAsWritten(v, path);
}

Number ReadNumberAsWritten(od::value& v, const Path& path) {
    std::string_view raw = v.raw_json_token();
    size_t end = 0;
    while (end < raw.size() && raw[end] != ' ' && raw[end] != '\t' && raw[end] != '\n' && raw[end] != '\r') ++end;
    raw = raw.substr(0, end);
    Number n{};
    n.literal = raw;
    size_t i = 0;
    const auto digit = [&](size_t k) { return k < raw.size() && raw[k] >= '0' && raw[k] <= '9'; };
    if (i < raw.size() && raw[i] == '-') n.negative = true, ++i;
    if (!digit(i) || (raw[i] == '0' && digit(i + 1))) throw NotJson{};
    while (digit(i)) ++i;
    n.integer = true;
    if (i < raw.size() && raw[i] == '.') {
        n.integer = false;
        if (!digit(++i)) throw NotJson{};
        while (digit(i)) ++i;
    }
    if (i < raw.size() && (raw[i] == 'e' || raw[i] == 'E')) {
        n.integer = false;
        ++i;
        if (i < raw.size() && (raw[i] == '+' || raw[i] == '-')) ++i;
        if (!digit(i)) throw NotJson{};
        while (digit(i)) ++i;
    }
    if (i != raw.size()) throw NotJson{};

    if (n.integer) {
        const std::string_view digits = raw.substr(n.negative ? 1 : 0);
        const std::from_chars_result r = std::from_chars(digits.data(), digits.data() + digits.size(), n.magnitude);
        const uint64_t most = n.negative ? uint64_t(1) << 63 : std::numeric_limits<uint64_t>::max();
        if (r.ec == std::errc() && n.magnitude <= most) {
            // -0 written as an integer is plain 0.
            n.d = n.negative ? static_cast<double>(-static_cast<int64_t>(n.magnitude - 1) - 1)
                             : static_cast<double>(n.magnitude);
            if (n.magnitude == 0) n.negative = false, n.d = 0.0;
            return n;
        }
        n.wide = true;
    }
    const std::from_chars_result r = std::from_chars(raw.data(), raw.data() + raw.size(), n.d);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large, or too small: only the first is refused; the second is the
        // nearest double, zero or subnormal.
        n.d = std::strtod(std::string(raw).c_str(), nullptr);
    }
    if (std::isinf(n.d)) {
        Fail(path, "number " + std::string(raw) + " is beyond the float range (its nearest float is infinite)");
    }
    return n;
}

std::string IntegerText(const Number& n) {
    if (n.wide) return std::string(n.literal);
    return (n.negative ? "-" : "") + std::to_string(n.magnitude);
}

// With `limitAbove`, a value above `hi` is over a limit rather than malformed.
int64_t IntegerOf(const Number& n, const Path& path, int64_t lo, int64_t hi, bool limitAbove = false) {
    if (!n.integer) Fail(path, "expected an integer written without fraction or exponent");
    bool inRange = false;
    int64_t value = 0;
    if (!n.wide) {
        if (!n.negative) {
            inRange = hi >= 0 && n.magnitude <= static_cast<uint64_t>(hi) &&
                      (lo <= 0 || n.magnitude >= static_cast<uint64_t>(lo));
            value = static_cast<int64_t>(n.magnitude);
        } else {
            value = -static_cast<int64_t>(n.magnitude - 1) - 1;
            inRange = value >= lo && value <= hi;
        }
    }
    if (!inRange) {
        const bool above = !n.negative && (n.wide || n.magnitude > static_cast<uint64_t>(hi));
        Fail(path, "integer " + IntegerText(n) + " is out of range " + std::to_string(lo) + " to " + std::to_string(hi),
             limitAbove && above ? LoadErrorKind::OverLimit : LoadErrorKind::Malformed);
    }
    return value;
}

// An integer field: only literals without fraction or exponent, within [lo, hi].
int64_t ReadInteger(od::value& v, const Path& path, int64_t lo, int64_t hi, bool limitAbove = false) {
    ExpectType(v, path, od::json_type::number, "an integer");
    return IntegerOf(ReadNumber(v, path), path, lo, hi, limitAbove);
}

TimeValue ReadTime(od::value& v, const Path& path) {
    return static_cast<TimeValue>(
        ReadInteger(v, path, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// A float field: any number, read as a double, then rounded to the nearest float.
float FloatOf(const Number& n, const Path& path) {
    float nearest = 0.0f;
    if (!NearestFloat(n.d, nearest)) {
        char text[64];
        const std::to_chars_result written = std::to_chars(text, text + sizeof text, n.d);
        Fail(path,
             "number " + std::string(text, written.ptr) + " is beyond the float range (its nearest float is infinite)");
    }
    return nearest;
}

std::string CutAtNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

std::string ReadString(od::value& v, const Path& path) {
    ExpectType(v, path, od::json_type::string, "a string");
    std::list<std::string> store;
    return std::string(StringText(v.raw_json_token().data() + 1, store));
}

bool ReadBool(od::value& v, const Path& path) {
    ExpectType(v, path, od::json_type::boolean, "true or false");
    return Take(v.get_bool());
}

bool IsNull(od::value& v) { return TypeOf(v) == od::json_type::null && Take(v.is_null()); }

od::array ReadArray(od::value& v, const Path& path) {
    ExpectType(v, path, od::json_type::array, "an array");
    return Take(v.get_array());
}

// Up to `Most` numbers of an array of numbers, read as they come; what is
// wrong with an element is kept until the count has been checked, which
// speaks first.
template <size_t Most>
struct NumberTuple {
    size_t count = 0;
    Number items[Most];
    size_t firstBad = Most;  // the first element that is no number
    od::json_type badType = od::json_type::null;
    bool badKeyed = false;
};

// Reads the elements of an array of numbers. Elements of float fields
// (`integers` false) need only their value, those of integer fields their
// literal kind too; the parser's readers give both for ordinary numbers, and
// anything else goes the long way.
template <size_t Most>
void ReadNumberTuple(od::value& v, const Path& path, NumberTuple<Most>& t, bool integers) {
    od::array array = ReadArray(v, path);
    for (auto item : array) {
        od::value element = Take(std::move(item));
        if (t.count < Most) {
            Number& n = t.items[t.count];
            double d = 0.0;
            int64_t i = 0;
            if (!integers && element.get_double().get(d) == simdjson::SUCCESS) {
                n = Number{};
                n.d = d;
                // -0 written as an integer is plain 0; -0.0 keeps its sign.
                if (d == 0.0 && std::signbit(d)) {
                    const std::string_view raw = element.raw_json_token();
                    if (raw.substr(0, raw.find_first_of(" \t\r\n,]")).find_first_of(".eE") == std::string_view::npos) {
                        n.d = 0.0;
                    }
                }
            } else if (integers && element.get_int64().get(i) == simdjson::SUCCESS) {
                n = IntegerNumber(i);
            } else {
                const od::json_type type = TypeOf(element);
                if (type == od::json_type::number) {
                    n = ReadNumber(element, path.Index(t.count));
                } else if (t.firstBad == Most) {
                    t.firstBad = t.count;
                    t.badType = type;
                    t.badKeyed = type == od::json_type::object && LooksKeyed(element);
                }
            }
        }
        ++t.count;
    }
}

template <size_t Most>
void CheckTupleCount(const NumberTuple<Most>& t, const Path& path, size_t minCount, size_t maxCount, const char* what,
                     const char* unit) {
    if (t.count < minCount || t.count > maxCount) {
        const std::string count = minCount == maxCount ? std::to_string(minCount)
                                                       : std::to_string(minCount) + " or " + std::to_string(maxCount);
        Fail(path, std::string(what) + " needs " + count + " " + unit + ", got " + std::to_string(t.count));
    }
}

// The element k of a counted tuple, refused unless it is a number.
template <size_t Most>
const Number& TupleNumber(const NumberTuple<Most>& t, size_t k, const Path& path, const char* what) {
    if (k >= t.firstBad) {
        const Path at = path.Index(t.firstBad);
        if (t.badKeyed) Fail(at, kKeyedRule);
        Fail(at, std::string("expected ") + what + ", got " + TypeName(t.badType));
    }
    return t.items[k];
}

Point3 ReadPoint(od::value& v, const Path& path, size_t minCount, const char* what) {
    NumberTuple<3> t;
    ReadNumberTuple(v, path, t, false);
    CheckTupleCount(t, path, minCount, 3, what, "numbers");
    Point3 p;
    float* out[3] = {&p.x, &p.y, &p.z};
    for (size_t k = 0; k < t.count; ++k) *out[k] = FloatOf(TupleNumber(t, k, path, "a number"), path.Index(k));
    return p;
}

// True when the member name at `raw` (after its opening quote) is `name`
// written without escapes. The text's padding lets the comparison run past a
// shorter name.
bool RawNameIs(const char* raw, std::string_view name) {
    return std::memcmp(raw, name.data(), name.size()) == 0 && raw[name.size()] == '"';
}

// The quick way through the arrays that make up most of a scene file: a list
// of number tuples (vertices, faces), read straight from its text. It takes
// only the plain case (tuples of the right length, numbers in JSON's grammar
// that need no rule's refusal) and reads nothing of `v` then: the walk skips
// the array as a value it left alone. Anything else it declines, having read
// nothing, and the careful way reads the array and names what is wrong. The
// text ends in padding of zero bytes, where every scan below stops.
const char* SkipSpace(const char* p) {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') ++p;
    return p;
}

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A float field's number at `p`, as FloatOf would give it; null to decline.
// Most literals have few digits: their digits as an integer up to 2^53 and a
// power of ten up to 22 are exact doubles, so one multiplication or division
// rounds to the nearest double of the literal, as from_chars does; other
// literals go to from_chars.
const char* QuickFloat(const char* p, float& out) {
    const char* const start = p;
    const bool negative = *p == '-';
    if (negative) ++p;
    uint64_t digits = 0;
    int count = 0;     // digits taken into `digits`; beyond 19 it may have wrapped
    int exponent = 0;  // the power of ten `digits` is scaled by
    bool integer = true;
    if (*p == '0') {
        ++p;
    } else if (IsDigitChar(*p)) {
        for (; IsDigitChar(*p); ++p, ++count) digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    } else {
        return nullptr;
    }
    if (*p == '.') {
        integer = false;
        if (!IsDigitChar(*++p)) return nullptr;
        for (; IsDigitChar(*p); ++p, ++count, --exponent) digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (*p == 'e' || *p == 'E') {
        integer = false;
        ++p;
        const bool down = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        if (!IsDigitChar(*p)) return nullptr;
        int written = 0;
        for (; IsDigitChar(*p); ++p) written = written < 100000 ? written * 10 + (*p - '0') : written;
        exponent += down ? -written : written;
    }
    if (count <= 19 && digits <= (uint64_t(1) << 53) && exponent >= -22 && exponent <= 22) {
        double d = static_cast<double>(digits);
        d = exponent < 0 ? d / kExactPowersOfTen[-exponent] : d * kExactPowersOfTen[exponent];
        // At most 2^53 * 10^22, far below the largest float: no range check.
        // -0 written as an integer is plain 0; -0.0 keeps its sign.
        out = static_cast<float>(negative && (digits != 0 || !integer) ? -d : d);
        return p;
    }
    double d = 0.0;
    const std::from_chars_result r = std::from_chars(start, p, d);
    if (r.ec != std::errc() || r.ptr != p || !NearestFloat(d, out)) return nullptr;
    if (integer && out == 0.0f) out = 0.0f;
    return p;
}

// An index at `p`: digits only, without a leading zero, at most 2^32 - 1;
// null to decline.
const char* QuickIndex(const char* p, uint32_t& out) {
    if (!IsDigitChar(*p) || (*p == '0' && IsDigitChar(p[1]))) return nullptr;
    uint64_t value = 0;
    const char* const first = p;
    // A long run of digits may wrap `value`; it is declined by its length.
    for (; IsDigitChar(*p); ++p) value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (p - first > 10 || *p == '.' || *p == 'e' || *p == 'E' || value > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    out = static_cast<uint32_t>(value);
    return p;
}

// Reads `[[a, b, c], ...]` at `p` into `out` by `readItem` (QuickFloat or
// QuickIndex), each tuple holding minCount to 3 items. False to decline.
template <class Item, class Tuple, class ReadItem>
bool QuickTuples(const char* p, size_t minCount, std::vector<Tuple>& out, ReadItem readItem) {
    if (*p != '[') return false;
    p = SkipSpace(p + 1);
    if (*p == ']') return true;
    for (;;) {
        if (*p != '[') return false;
        p = SkipSpace(p + 1);
        Item items[3] = {};
        size_t n = 0;
        if (*p != ']') {
            for (;;) {
                if (n == 3 || !(p = readItem(p, items[n++]))) return false;
                p = SkipSpace(p);
                if (*p == ']') break;
                if (*p != ',') return false;
                p = SkipSpace(p + 1);
            }
        }
        if (n < minCount) return false;
        out.push_back(Tuple{items[0], items[1], items[2]});
        p = SkipSpace(p + 1);
        if (*p == ']') return true;
        if (*p != ',') return false;
        p = SkipSpace(p + 1);
    }
}

// The text of `v` from its first byte on, when it is an array.
const char* ArrayText(od::value& v) {
    od::json_type type;
    if (v.type().get(type) != simdjson::SUCCESS || type != od::json_type::array) return nullptr;
    return v.raw_json_token().data();
}

// `[n1, ..., n12]` at `p` into `m` the quick way (see QuickTuples): past it
// and the white space after it, or null to decline.
const char* QuickMatrix(const char* p, Matrix3& m) {
    if (*p != '[') return nullptr;
    p = SkipSpace(p + 1);
    for (size_t k = 0; k < 12; ++k) {
        Point3& row = m.row[k / 3];
        if (!(p = QuickFloat(p, k % 3 == 0 ? row.x : k % 3 == 1 ? row.y : row.z))) return nullptr;
        p = SkipSpace(p);
        if (*p != (k == 11 ? ']' : ',')) return nullptr;
        p = SkipSpace(p + 1);
    }
    return p;
}

// A key time at `p`: an integer without fraction or exponent in the range of
// 32 bits; null to decline.
const char* QuickTime(const char* p, TimeValue& out) {
    const bool negative = *p == '-';
    if (negative) ++p;
    if (!IsDigitChar(*p) || (*p == '0' && IsDigitChar(p[1]))) return nullptr;
    int64_t value = 0;
    const char* const first = p;
    for (; IsDigitChar(*p) && p - first <= 10; ++p) value = value * 10 + (*p - '0');
    if (IsDigitChar(*p) || *p == '.' || *p == 'e' || *p == 'E') return nullptr;
    if (negative) value = -value;
    if (value < std::numeric_limits<TimeValue>::min() || value > std::numeric_limits<TimeValue>::max()) return nullptr;
    out = static_cast<TimeValue>(value);
    return p;
}

// `"name"` and its colon at `p`, written without escapes; null to decline.
const char* QuickMemberName(const char* p, std::string_view name) {
    if (*p != '"' || !RawNameIs(p + 1, name)) return nullptr;
    p = SkipSpace(p + name.size() + 2);
    return *p == ':' ? SkipSpace(p + 1) : nullptr;
}

// The keys of a keyed matrix, `[{"time": t, "value": [...]}, ...]` at `p`,
// the quick way (see QuickTuples): members in that order, at least one key,
// times rising. False to decline.
bool QuickMatrixKeys(const char* p, Keyed<Matrix3>& out) {
    if (*p != '[') return false;
    p = SkipSpace(p + 1);
    for (;;) {
        if (*p != '{') return false;
        Keyed<Matrix3>::Key key;
        if (!(p = QuickMemberName(SkipSpace(p + 1), "time")) || !(p = QuickTime(p, key.time))) return false;
        if (!out.keys.empty() && key.time <= out.keys.back().time) return false;
        p = SkipSpace(p);
        if (*p != ',' || !(p = QuickMemberName(SkipSpace(p + 1), "value")) || !(p = QuickMatrix(p, key.value))) {
            return false;
        }
        // QuickMatrix stops past the closing bracket and its white space.
        if (*p != '}') return false;
        out.keys.push_back(key);
        p = SkipSpace(p + 1);
        if (*p == ']') return true;
        if (*p != ',') return false;
        p = SkipSpace(p + 1);
    }
}

// Twelve numbers, four rows of three: the x, y and z axes, then the translation.
Matrix3 ReadMatrix(od::value& v, const Path& path) {
    if (const char* text = ArrayText(v); text) {
        if (Matrix3 quick; QuickMatrix(text, quick)) return quick;
    }
    NumberTuple<12> t;
    ReadNumberTuple(v, path, t, false);
    CheckTupleCount(t, path, 12, 12, "a matrix", "numbers");
    Matrix3 m;
    for (size_t k = 0; k < 12; ++k) {
        const float f = FloatOf(TupleNumber(t, k, path, "a number"), path.Index(k));
        Point3& row = m.row[k / 3];
        (k % 3 == 0 ? row.x : k % 3 == 1 ? row.y : row.z) = f;
    }
    return m;
}

// Reads an object written with exactly the members `names`, in that order, in
// one pass: `read(k, value)` takes the k-th. False when it is written
// otherwise or a rule refuses something in it; `object` is then back at its
// start for the careful way, which names what speaks first. Members read that
// way walk the object twice: this spares the common case that.
template <class Read>
bool ReadPlainMembers(od::object& object, std::initializer_list<std::string_view> names, Read read) {
    try {
        size_t k = 0;
        bool plain = true;
        for (auto item : object) {
            od::field field = Take(std::move(item));
            plain = k < names.size() && RawNameIs(field.key().raw(), names.begin()[k]);
            if (!plain) break;
            od::value value = field.value();
            read(k++, value);
        }
        if (plain && k == names.size()) return true;
    } catch (const Refusal&) {}
    Take(object.reset());
    return false;
}

// The keys of a keyed value: [{"time": t, "value": ...}, ...], in strictly
// increasing time, at least one; `readPlain` reads each value.
template <class T, class ReadPlain>
Keyed<T> ReadKeys(od::value& v, const Path& keysPath, ReadPlain readPlain) {
    od::array keys = ReadArray(v, keysPath);
    Keyed<T> keyed;
    size_t k = 0;
    for (auto item : keys) {
        od::value keyValue = Take(std::move(item));
        const Path at = keysPath.Index(k++);
        ExpectType(keyValue, at, od::json_type::object, "an object");
        od::object object = Take(keyValue.get_object());
        TimeValue time = 0;
        std::optional<T> value;
        const bool plain = ReadPlainMembers(object, {"time", "value"}, [&](size_t member, od::value& memberValue) {
            if (member == 0) {
                time = ReadTime(memberValue, at.Key("time"));
                // Out of order: the careful way says so.
                if (!keyed.keys.empty() && time <= keyed.keys.back().time) throw Refusal{};
            } else {
                value.emplace(readPlain(memberValue, at.Key("value")));
            }
        });
        if (plain) {
            keyed.keys.push_back({time, std::move(*value)});
            continue;
        }
        Members key = OpenMembers(object, at);
        if (key.Has("keys")) Fail(at, kKeyedRule);
        CheckFields(key, at, {"time", "value"});
        const size_t timeAt = Require(key, at, "time");
        const size_t valueAt = Require(key, at, "value");
        od::value timeValue = key.Value(timeAt);
        time = ReadTime(timeValue, at.Key("time"));
        if (!keyed.keys.empty() && time <= keyed.keys.back().time) {
            Fail(at.Key("time"), "key time " + std::to_string(time) + " is not after the previous key's time " +
                                     std::to_string(keyed.keys.back().time));
        }
        od::value plainValue = key.Value(valueAt);
        keyed.keys.push_back({time, readPlain(plainValue, at.Key("value"))});
    }
    if (keyed.keys.empty()) Fail(keysPath, "a keyed value needs at least one key");
    return keyed;
}

std::vector<std::array<uint32_t, 3>> ReadIndexTriples(od::value& v, const Path& path) {
    std::vector<std::array<uint32_t, 3>> out;
    if (const char* text = ArrayText(v); text && QuickTuples<uint32_t>(text, 3, out, QuickIndex)) return out;
    out.clear();
    od::array array = ReadArray(v, path);
    size_t f = 0;
    for (auto item : array) {
        od::value faceValue = Take(std::move(item));
        const Path facePath = path.Index(f++);
        NumberTuple<3> t;
        ReadNumberTuple(faceValue, facePath, t, true);
        if (t.count != 3) Fail(facePath, "a face needs 3 indices, got " + std::to_string(t.count));
        std::array<uint32_t, 3> face{};
        for (size_t c = 0; c < 3; ++c) {
            face[c] = static_cast<uint32_t>(IntegerOf(TupleNumber(t, c, facePath, "an integer"), facePath.Index(c), 0,
                                                      std::numeric_limits<uint32_t>::max()));
        }
        out.push_back(face);
    }
    return out;
}

// Every index of `faces` (the member `name` of the mesh at `path`) must be
// below `limit`.
void CheckIndices(const std::vector<std::array<uint32_t, 3>>& faces, const Path& path, const char* name, size_t limit,
                  const char* limitName) {
    for (size_t f = 0; f < faces.size(); ++f) {
        for (size_t c = 0; c < 3; ++c) {
            if (faces[f][c] < limit) continue;
            Fail(path.Key(name).Index(f).Index(c), "index " + std::to_string(faces[f][c]) + " is not below the " +
                                                       limitName + " " + std::to_string(limit));
        }
    }
}

std::vector<Point3> ReadPoints(od::value& v, const Path& path, size_t minCount, const char* what) {
    std::vector<Point3> out;
    if (const char* text = ArrayText(v); text && QuickTuples<float>(text, minCount, out, QuickFloat)) return out;
    out.clear();
    od::array array = ReadArray(v, path);
    size_t k = 0;
    for (auto item : array) {
        od::value point = Take(std::move(item));
        out.push_back(ReadPoint(point, path.Index(k++), minCount, what));
    }
    return out;
}

// A mesh object, read in one pass in document order: meshes are most of a
// scene file. With `keyed`, the object may instead be the keyed form
// {"keys": [...]} (then `keyed` is filled and the plain mesh returned is
// empty); without it, the keyed form is refused.
MeshData ReadMeshObject(od::value& v, const Path& path, Keyed<MeshData>* keyed);

MeshData ReadMesh(od::value& v, const Path& path) { return ReadMeshObject(v, path, nullptr); }

MeshData ReadMeshObject(od::value& v, const Path& path, Keyed<MeshData>* keyed) {
    ExpectType(v, path, od::json_type::object, "an object");
    od::object object = Take(v.get_object());
    MeshData mesh;
    std::vector<std::array<uint32_t, 3>> faces, tvfaces;
    std::vector<Point3> tverts;
    NameList names;
    std::list<std::string> unescaped;
    bool isKeyed = false;
    for (auto item : object) {
        od::field field = Take(std::move(item));
        const std::string_view name = StringText(field.key().raw(), unescaped);
        if (names.Has(name)) Fail(path.Key(name), "the key " + QuoteJson(name) + " appears twice");
        names.push_back(name);
        od::value value = field.value();
        if (name == "keys") {
            if (!keyed) Fail(path, kKeyedRule);
            // The keyed form holds nothing else: what came before is unknown.
            if (names.size() > 1) Fail(path.Key(names[0]), "unknown field " + QuoteJson(names[0]));
            *keyed = ReadKeys<MeshData>(value, path.Key("keys"), ReadMesh);
            isKeyed = true;
        } else if (isKeyed) {
            Fail(path.Key(name), "unknown field " + QuoteJson(name));
        } else if (name == "verts") {
            mesh.verts = ReadPoints(value, path.Key("verts"), 3, "a vertex");
        } else if (name == "faces") {
            faces = ReadIndexTriples(value, path.Key("faces"));
        } else if (name == "tverts") {
            tverts = ReadPoints(value, path.Key("tverts"), 2, "a texture vertex");
        } else if (name == "tvfaces") {
            tvfaces = ReadIndexTriples(value, path.Key("tvfaces"));
        } else {
            Fail(path.Key(name), "unknown field " + QuoteJson(name));
        }
    }
    if (isKeyed) return mesh;
    CheckIndices(faces, path, "faces", mesh.verts.size(), "vertex count");
    CheckIndices(tvfaces, path, "tvfaces", tverts.size(), "texture-vertex count");
    // Texture faces pair with faces one to one, or are absent altogether.
    if (tverts.empty()) {
        if (!tvfaces.empty()) Fail(path.Key("tvfaces"), "tvfaces must be empty when tverts is empty");
    } else if (tvfaces.size() != faces.size()) {
        Fail(path.Key("tvfaces"), "tvfaces has " + std::to_string(tvfaces.size()) + " entries but faces has " +
                                      std::to_string(faces.size()));
    }
    mesh.faces = std::move(faces);
    mesh.tverts = std::move(tverts);
    mesh.tvfaces = std::move(tvfaces);
    return mesh;
}

bool ObjectKindNamed(std::string_view name, ObjectKind& out) {
    static const std::pair<std::string_view, ObjectKind> kinds[] = {
        {"mesh", ObjectKind::Mesh},     {"unconvertible", ObjectKind::Unconvertible},
        {"target", ObjectKind::Target}, {"helper", ObjectKind::Helper},
        {"camera", ObjectKind::Camera}, {"light", ObjectKind::Light}};
    for (const auto& [n, kind] : kinds) {
        if (n == name) return out = kind, true;
    }
    return false;
}

bool ConvertModeNamed(std::string_view name, ConvertMode& out) {
    static const std::pair<std::string_view, ConvertMode> modes[] = {
        {"copy", ConvertMode::Copy}, {"same", ConvertMode::Same}, {"none", ConvertMode::None}};
    for (const auto& [n, mode] : modes) {
        if (n == name) return out = mode, true;
    }
    return false;
}

// The "kind" member every object, material and map has, read first: it
// decides which other members are allowed.
std::string ReadKind(Members& m, const Path& path) {
    od::value kind = m.Value(Require(m, path, "kind"));
    return ReadString(kind, path.Key("kind"));
}

ObjectData ReadObject(od::value& v, const Path& path) {
    ExpectType(v, path, od::json_type::object, "an object");
    ObjectData object;
    std::optional<std::string> kind, convert;
    std::optional<Keyed<MeshData>> mesh;
    std::list<std::string> unescaped;
    const NameList names =
        ReadInOnePass(Take(v.get_object()), path, unescaped, [&](std::string_view name, od::value& value, size_t) {
            if (name == "keys") Fail(path, kKeyedRule);
            if (name == "kind") {
                kind = ReadString(value, path.Key("kind"));
            } else if (name == "convert") {
                convert = ReadString(value, path.Key("convert"));
            } else if (name == "mesh") {
                // Read where it stands, before the kind may be known: a mesh of
                // another kind of object is refused below all the same.
                Keyed<MeshData> keyed;
                MeshData plain = ReadMeshObject(value, path.Key("mesh"), &keyed);
                mesh = keyed.keys.empty() ? Keyed<MeshData>(std::move(plain)) : std::move(keyed);
            }
        });
    RequireName(names, path, "kind");
    if (!ObjectKindNamed(*kind, object.kind)) {
        Fail(path.Key("kind"), "unknown object kind " + QuoteJson(*kind) +
                                   "; expected mesh, unconvertible, target, helper, camera or light");
    }
    if (object.kind != ObjectKind::Mesh) {
        CheckNames(names, path, {"kind"},
                   {{"mesh", "only mesh objects take a mesh"}, {"convert", "only mesh objects take convert"}});
        object.mesh = MeshData{};
        return object;
    }
    CheckNames(names, path, {"kind", "mesh", "convert"});
    if (convert && !ConvertModeNamed(*convert, object.convert)) {
        Fail(path.Key("convert"), "unknown convert mode " + QuoteJson(*convert) + "; expected copy, same or none");
    }
    RequireName(names, path, "mesh");
    object.mesh = std::move(*mesh);
    ShareRepeatedTopology(object.mesh);
    return object;
}

MapData ReadMap(od::value& v, const Path& path) {
    Members m = ExpectObject(v, path);
    const std::string kind = ReadKind(m, path);
    MapData map;
    if (kind == "bitmap") {
        CheckFields(m, path, {"kind", "file"});
        map.kind = MapKind::Bitmap;
        od::value file = m.Value(Require(m, path, "file"));
        map.file = CutAtNul(ReadString(file, path.Key("file")));
    } else if (kind == "other") {
        CheckFields(m, path, {"kind"}, {{"file", "only bitmap maps take a file"}});
        map.kind = MapKind::Other;
    } else {
        Fail(path.Key("kind"), "unknown map kind " + QuoteJson(kind) + "; expected bitmap or other");
    }
    return map;
}

MaterialData ReadMaterial(od::value& v, const Path& path) {
    Members m = ExpectObject(v, path);
    const std::string kind = ReadKind(m, path);
    MaterialData material;
    if (kind == "standard") {
        CheckFields(m, path, {"kind", "diffuse"});
        material.kind = MaterialKind::Standard;
        if (const size_t k = m.Find("diffuse"); k < m.names.size()) {
            od::value diffuse = m.Value(k);
            if (!IsNull(diffuse)) material.diffuse = ReadMap(diffuse, path.Key("diffuse"));
        }
    } else if (kind == "other") {
        CheckFields(m, path, {"kind"}, {{"diffuse", "only standard materials take a diffuse map"}});
        material.kind = MaterialKind::Other;
    } else {
        Fail(path.Key("kind"), "unknown material kind " + QuoteJson(kind) + "; expected standard or other");
    }
    return material;
}

std::vector<NoteKeyData> ReadNoteTrack(od::value& v, const Path& path) {
    od::array array = ReadArray(v, path);
    std::vector<NoteKeyData> track;
    size_t k = 0;
    for (auto item : array) {
        od::value keyValue = Take(std::move(item));
        const Path at = path.Index(k++);
        Members m = ExpectObject(keyValue, at);
        CheckFields(m, at, {"time", "text"});
        NoteKeyData key;
        od::value time = m.Value(Require(m, at, "time"));
        key.time = ReadTime(time, at.Key("time"));
        od::value text = m.Value(Require(m, at, "text"));
        key.text = CutAtNul(ReadString(text, at.Key("text")));
        track.push_back(std::move(key));
    }
    return track;
}

// A node's transform: a matrix, or the keyed form with one matrix a key.
Keyed<Matrix3> ReadTransform(od::value& v, const Path& path) {
    if (TypeOf(v) != od::json_type::object) return Keyed<Matrix3>(ReadMatrix(v, path));
    od::object object = Take(v.get_object());
    Keyed<Matrix3> keyed;
    if (ReadPlainMembers(object, {"keys"}, [&](size_t, od::value& keys) {
            if (const char* text = ArrayText(keys); text && QuickMatrixKeys(text, keyed)) return;
            keyed.keys.clear();
            keyed = ReadKeys<Matrix3>(keys, path.Key("keys"), ReadMatrix);
        })) {
        return keyed;
    }
    Members m = OpenMembers(object, path);
    if (!m.Has("keys")) Fail(path, "expected an array, got an object");
    CheckFields(m, path, {"keys"});
    od::value keys = m.Value(m.Find("keys"));
    return ReadKeys<Matrix3>(keys, path.Key("keys"), ReadMatrix);
}

NodeData ReadNode(od::value& v, const Path& path) {
    // The only recursion of the walk: bounded like the nesting of any value.
    if (path.depth >= kMaxJsonDepth) {
        Fail(path, "values are nested deeper than " + std::to_string(kMaxJsonDepth) + " levels",
             LoadErrorKind::OverLimit);
    }
    ExpectType(v, path, od::json_type::object, "an object");
    NodeData node;
    std::list<std::string> unescaped;
    ReadInOnePass(Take(v.get_object()), path, unescaped, [&](std::string_view name, od::value& value, size_t) {
        const Path at = path.Key(name);
        if (name == "name") {
            node.name = CutAtNul(ReadString(value, at));
        } else if (name == "hidden") {
            node.hidden = ReadBool(value, at);
        } else if (name == "object") {
            if (!IsNull(value)) node.object = ReadObject(value, at);
        } else if (name == "transform") {
            node.transform = ReadTransform(value, at);
        } else if (name == "material") {
            if (!IsNull(value)) node.material = ReadMaterial(value, at);
        } else if (name == "noteTracks") {
            od::array array = ReadArray(value, at);
            size_t t = 0;
            for (auto item : array) {
                od::value track = Take(std::move(item));
                node.noteTracks.push_back(ReadNoteTrack(track, at.Index(t++)));
            }
        } else if (name == "children") {
            od::array array = ReadArray(value, at);
            size_t c = 0;
            for (auto item : array) {
                od::value child = Take(std::move(item));
                node.children.push_back(ReadNode(child, at.Index(c++)));
            }
        } else {
            Fail(name == "keys" ? path : at, name == "keys" ? kKeyedRule : "unknown field " + QuoteJson(name));
        }
    });
    return node;
}

Color64 ReadColor(od::value& v, const Path& path) {
    NumberTuple<4> t;
    ReadNumberTuple(v, path, t, true);
    if (t.count != 4) Fail(path, "a colour needs 4 channels (r, g, b, a), got " + std::to_string(t.count));
    uint16_t channel[4];
    for (size_t k = 0; k < 4; ++k) {
        channel[k] = static_cast<uint16_t>(IntegerOf(TupleNumber(t, k, path, "an integer"), path.Index(k), 0, 65535));
    }
    return Color64{channel[0], channel[1], channel[2], channel[3]};
}

Picture ReadImage(od::value& v, const Path& path) {
    Members m = ExpectObject(v, path);
    CheckFields(m, path, {"width", "height", "pixels", "fill"});
    Picture picture;
    od::value width = m.Value(Require(m, path, "width"));
    picture.width = static_cast<uint16_t>(ReadInteger(width, path.Key("width"), 0, kMaxPictureSide, true));
    od::value height = m.Value(Require(m, path, "height"));
    picture.height = static_cast<uint16_t>(ReadInteger(height, path.Key("height"), 0, kMaxPictureSide, true));
    const size_t pixelsAt = m.Find("pixels"), fillAt = m.Find("fill");
    if ((pixelsAt < m.names.size()) == (fillAt < m.names.size())) {
        Fail(path, "an image needs exactly one of pixels and fill");
    }
    if (fillAt < m.names.size()) {
        // One colour, however large the picture: nothing per pixel is stored.
        picture.plain = true;
        od::value fill = m.Value(fillAt);
        picture.fill = ReadColor(fill, path.Key("fill"));
        return picture;
    }
    const Path at = path.Key("pixels");
    od::value pixels = m.Value(pixelsAt);
    od::array array = ReadArray(pixels, at);
    const size_t count = Take(array.count_elements());
    const size_t expected = size_t{picture.width} * picture.height;
    if (count != expected) {
        Fail(at, "pixels has " + std::to_string(count) + " entries; a " + std::to_string(picture.width) + " x " +
                     std::to_string(picture.height) + " image needs " + std::to_string(expected));
    }
    picture.pixels.reserve(expected);
    size_t k = 0;
    for (auto item : array) {
        od::value pixel = Take(std::move(item));
        picture.pixels.push_back(ReadColor(pixel, at.Index(k++)));
    }
    return picture;
}

// The scene's version, or why it has none that this reader takes. The version
// speaks before any other rule: a newer file may well have fields this reader
// does not know, and the version is the reason it is refused.
void CheckVersion(od::value& v) {
    const Path top;
    const int64_t version =
        ReadInteger(v, top.Key("version"), std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    if (version != 1) Fail(top.Key("version"), "version " + std::to_string(version) + " is not supported; expected 1");
}

// On the way out with a refusal: the version's own refusal, if it has one,
// wherever "version" stands in the file. "" when the version is fine.
std::string VersionFault(std::string_view text, size_t capacity) {
    try {
        od::parser parser;
        od::document document;
        od::object root;
        if (parser.iterate(text.data(), text.size(), capacity).get(document) || document.get_object().get(root)) {
            return {};
        }
        od::value version;
        if (root.find_field_unordered("version").get(version)) return "missing required field \"version\"";
        CheckVersion(version);
    } catch (const Refusal& refusal) {
        return refusal.message;
    } catch (...) {}
    return {};
}

void ReadScene(od::document& document, SceneDocument& doc) {
    const Path top;
    const od::json_type type = Take(document.type());
    if (type != od::json_type::object) {
        Fail(top, std::string("the scene must be a JSON object, not ") + TypeName(type));
    }
    std::list<std::string> unescaped;
    const NameList names = ReadInOnePass(
        Take(document.get_object()), top, unescaped, [&](std::string_view name, od::value& value, size_t) {
            const Path at = top.Key(name);
            if (name == "version") {
                CheckVersion(value);
            } else if (name == "ticksPerFrame") {
                doc.ticksPerFrame =
                    static_cast<int32_t>(ReadInteger(value, at, 1, std::numeric_limits<int32_t>::max()));
            } else if (name == "animRange") {
                Members range = ExpectObject(value, at);
                CheckFields(range, at, {"start", "end"});
                od::value start = range.Value(Require(range, at, "start"));
                doc.animRange.start = ReadTime(start, at.Key("start"));
                od::value end = range.Value(Require(range, at, "end"));
                doc.animRange.end = ReadTime(end, at.Key("end"));
                if (doc.animRange.end < doc.animRange.start) {
                    Fail(at.Key("end"), "end " + std::to_string(doc.animRange.end) + " is below start " +
                                            std::to_string(doc.animRange.start));
                }
            } else if (name == "images") {
                // A map of names, not a record: an image may well be named "keys".
                ExpectType(value, at, od::json_type::object, "an object");
                Members images = OpenMembers(Take(value.get_object()), at);
                for (size_t i = 0; i < images.names.size(); ++i) {
                    const Path imagePath = at.Key(images.names[i]);
                    // Maps report names up to their first NUL, so that is the
                    // name a picture is looked up by.
                    std::string imageName = CutAtNul(images.names[i]);
                    if (doc.images.count(imageName)) {
                        Fail(imagePath,
                             "image name " + QuoteJson(imageName) + " appears twice once cut at its NUL character");
                    }
                    od::value image = images.Value(i);
                    doc.images.emplace(std::move(imageName), ReadImage(image, imagePath));
                }
            } else if (name == "nodes") {
                od::array nodes = ReadArray(value, at);
                size_t n = 0;
                for (auto item : nodes) {
                    od::value node = Take(std::move(item));
                    doc.nodes.push_back(ReadNode(node, at.Index(n++)));
                }
            } else {
                Fail(at, "unknown field " + QuoteJson(name));
            }
        });
    RequireName(names, top, "version");
    // Past the root object's end, nothing but white space.
    const char* after = nullptr;
    if (document.current_location().get(after) == simdjson::SUCCESS) throw NotJson{};
}

// Text up to this size leaves the parser's buffers (about six bytes for each
// byte of text) to the next file of the thread; a larger one gives them back.
constexpr size_t kKeptParserCapacity = size_t(1) << 20;

// The thread's parser, reused: its buffers cost nothing for the next file.
// Those of a large text are given back on the way out.
struct ThreadParser {
    od::parser& parser;
    ThreadParser() : parser(Parser()) {}
    ~ThreadParser() {
        if (parser.capacity() > kKeptParserCapacity) parser = od::parser{};
    }
    static od::parser& Parser() {
        thread_local od::parser parser;
        return parser;
    }
};

LoadErrorKind FaultKind(bool tooDeep) { return tooDeep ? LoadErrorKind::OverLimit : LoadErrorKind::Malformed; }

// Reads `text`, which has simdjson's padding after its `size` bytes.
bool ParseText(std::string_view text, size_t capacity, const std::string& fileName, SceneDocument& out,
               LoadError& error) {
    try {
        ThreadParser reused;
        od::parser& parser = reused.parser;
        od::document document;
        Check(parser.iterate(text.data(), text.size(), capacity).get(document));
        SceneDocument doc;
        ReadScene(document, doc);
        out = std::move(doc);
        return true;
    } catch (const Refusal& refusal) {
        // Text that is not JSON speaks before the rules of the format, as if
        // the whole text had been parsed first; then the version.
        bool tooDeep = false;
        std::string fault = JsonSyntaxFault(text, &tooDeep);
        if (fault.empty()) fault = VersionFault(text, capacity);
        const LoadErrorKind kind = fault.empty() ? refusal.kind : FaultKind(tooDeep);
        error = {kind, fileName + ": " + (fault.empty() ? refusal.message : fault)};
    } catch (const NotJson& notJson) {
        bool tooDeep = false;
        const std::string fault = JsonSyntaxFault(text, &tooDeep);
        error = {FaultKind(tooDeep), fileName + ": " +
                                         (fault.empty() ? std::string("the text is not valid JSON (") +
                                                              simdjson::error_message(notJson.code) + ")"
                                                        : fault)};
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, fileName + ": Not enough memory to read the scene"};
    }
    return false;
}

}  // namespace

bool ParseSceneText(const std::string& text, const std::string& fileName, SceneDocument& out, LoadError& error) {
    try {
        std::string padded;
        padded.reserve(text.size() + simdjson::SIMDJSON_PADDING);
        padded = text;
        padded.resize(text.size() + simdjson::SIMDJSON_PADDING, '\0');
        return ParseText(std::string_view(padded.data(), text.size()), padded.size(), fileName, out, error);
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, fileName + ": Not enough memory to read the scene"};
        return false;
    }
}

bool LoadSceneFile(const std::string& path, SceneDocument& out, LoadError& error) {
    try {
        std::string text;
        if (!ReadInputFile(path, text, error, kMaxInputFileBytes, simdjson::SIMDJSON_PADDING)) {
            error.message = path + ": " + error.message;
            return false;
        }
        const size_t size = text.size() - simdjson::SIMDJSON_PADDING;
        SceneDocument doc;
        if (!ParseText(std::string_view(text.data(), size), text.size(), path, doc, error)) return false;
        doc.baseDir = std::filesystem::path(path).parent_path().string();
        out = std::move(doc);
        return true;
    } catch (const std::bad_alloc&) {
        error = {LoadErrorKind::NotEnoughMemory, path + ": Not enough memory to read the scene"};
        return false;
    }
}

}  // namespace quorvex::scene
