#include "scene/JsonText.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quorvex::scene {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The length of the UTF-8 sequence at `at`, or 0 when it is not one (overlong
// forms, surrogates and code points past U+10FFFF are not).
size_t Utf8Length(std::string_view s, size_t at) {
    const auto byte = [&](size_t k) { return at + k < s.size() ? static_cast<unsigned char>(s[at + k]) : 0u; };
    const unsigned b0 = byte(0);
    if (b0 < 0x80) return 1;
    const auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) { return byte(k) >= lo && byte(k) <= hi; };
    if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const bool second = b0 == 0xE0 ? cont(1, 0xA0) : b0 == 0xED ? cont(1, 0x80, 0x9F) : cont(1);
        return second && cont(2) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const bool second = b0 == 0xF0 ? cont(1, 0x90) : b0 == 0xF4 ? cont(1, 0x80, 0x8F) : cont(1);
        return second && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

unsigned HexValue(std::string_view s, size_t at) {
    unsigned v = 0;
    for (size_t k = 0; k < 4; ++k) {
        const char c = s[at + k];
        v = v * 16 + (IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return v;
}

class Checker {
public:
    explicit Checker(std::string_view text) : t_(text) {}

    bool tooDeep = false;  // the fault Run found is the nesting limit

    std::string Run() {
        enum class Want { Value, ValueOrEnd, Key, KeyOrEnd, Colon, Next };
        std::vector<char> open;  // '[' or '{' per open container
        Want want = Want::Value;
        while (true) {
            SkipSpace();
            if (want == Want::Next && open.empty()) {
                return i_ == t_.size() ? std::string()
                                       : Fault(i_, "unexpected " + What(i_) + " after the scene's value");
            }
            if (i_ == t_.size()) {
                static const char* const expected[] = {
                    "a value", "a value or ']'",          "a member name (a string)", "a member name (a string) or '}'",
                    "':'",     "',' or a closing bracket"};
                return Fault(i_, "unexpected end of text; expected " + std::string(expected[static_cast<int>(want)]));
            }
            const char c = t_[i_];
            switch (want) {
                case Want::ValueOrEnd:
                    if (c == ']') {
                        ++i_, open.pop_back(), want = Want::Next;
                        break;
                    }
                    [[fallthrough]];
                case Want::Value:
                    if (c == '{' || c == '[') {
                        if (open.size() >= kMaxJsonDepth) {
                            tooDeep = true;
                            return Fault(i_,
                                         "values are nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
                        }
                        open.push_back(c), ++i_;
                        want = c == '{' ? Want::KeyOrEnd : Want::ValueOrEnd;
                    } else if (c == '"') {
                        if (std::string f = String(); !f.empty()) return f;
                        want = Want::Next;
                    } else if (c == '-' || IsDigit(c)) {
                        if (std::string f = Number(); !f.empty()) return f;
                        want = Want::Next;
                    } else if (c == 't' || c == 'f' || c == 'n') {
                        if (std::string f = Literal(); !f.empty()) return f;
                        want = Want::Next;
                    } else {
                        return Fault(i_, "unexpected " + What(i_) + "; expected a value");
                    }
                    break;
                case Want::KeyOrEnd:
                    if (c == '}') {
                        ++i_, open.pop_back(), want = Want::Next;
                        break;
                    }
                    [[fallthrough]];
                case Want::Key:
                    if (c != '"') return Fault(i_, "unexpected " + What(i_) + "; expected a member name (a string)");
                    if (std::string f = String(); !f.empty()) return f;
                    want = Want::Colon;
                    break;
                case Want::Colon:
                    if (c != ':') return Fault(i_, "unexpected " + What(i_) + "; expected ':'");
                    ++i_, want = Want::Value;
                    break;
                case Want::Next: {
                    const char close = open.back() == '[' ? ']' : '}';
                    if (c == ',') {
                        ++i_, want = open.back() == '[' ? Want::Value : Want::Key;
                    } else if (c == close) {
                        ++i_, open.pop_back();
                    } else {
                        return Fault(i_, "unexpected " + What(i_) + "; expected ',' or '" + close + "'");
                    }
                    break;
                }
            }
        }
    }

private:
    void SkipSpace() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
    }

    std::string What(size_t at) const {
        if (at >= t_.size()) return "end of text";
        const unsigned char c = static_cast<unsigned char>(t_[at]);
        char text[16];
        if (c > 0x20 && c < 0x7F) {
            std::snprintf(text, sizeof text, "'%c'", c);
        } else {
            std::snprintf(text, sizeof text, "byte 0x%02X", c);
        }
        return text;
    }

    std::string Fault(size_t at, const std::string& reason) const {
        size_t line = 1, lineStart = 0;
        for (size_t k = 0; k < at && k < t_.size(); ++k) {
            if (t_[k] == '\n') ++line, lineStart = k + 1;
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(at - lineStart + 1) + ": " + reason;
    }

    std::string String() {
        const size_t start = i_++;
        while (i_ < t_.size()) {
            const unsigned char c = static_cast<unsigned char>(t_[i_]);
            if (c == '"') return ++i_, std::string();
            if (c < 0x20) return Fault(i_, "a control character (" + What(i_) + ") must be escaped in a string");
            if (c >= 0x80) {
                const size_t n = Utf8Length(t_, i_);
                if (n == 0) return Fault(i_, "invalid UTF-8 (" + What(i_) + ") in a string");
                i_ += n;
                continue;
            }
            if (c != '\\') {
                ++i_;
                continue;
            }
            const char e = i_ + 1 < t_.size() ? t_[i_ + 1] : '\0';
            if (e == 'u') {
                if (std::string f = Escape(); !f.empty()) return f;
                continue;
            }
            if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos || e == '\0') {
                return Fault(i_, "invalid escape in a string");
            }
            i_ += 2;
        }
        return Fault(start, "a string is not closed");
    }

    bool HexAt(size_t at) const {
        if (at + 4 > t_.size()) return false;
        for (size_t k = 0; k < 4; ++k) {
            if (!IsHex(t_[at + k])) return false;
        }
        return true;
    }

    // A \uXXXX escape at i_, with its low half when it is a high surrogate.
    std::string Escape() {
        if (!HexAt(i_ + 2)) return Fault(i_, "\\u must be followed by four hexadecimal digits");
        const unsigned v = HexValue(t_, i_ + 2);
        if (v >= 0xDC00 && v <= 0xDFFF) return Fault(i_, "a low surrogate escape without a high one before it");
        if (v >= 0xD800 && v <= 0xDBFF) {
            const size_t low = i_ + 6;
            if (low + 1 >= t_.size() || t_[low] != '\\' || t_[low + 1] != 'u' || !HexAt(low + 2) ||
                HexValue(t_, low + 2) < 0xDC00 || HexValue(t_, low + 2) > 0xDFFF) {
                return Fault(i_, "a high surrogate escape must be followed by a low one");
            }
            i_ += 12;
        } else {
            i_ += 6;
        }
        return {};
    }

    std::string Number() {
        const size_t start = i_;
        if (t_[i_] == '-') ++i_;
        const auto digits = [&] {
            const size_t from = i_;
            while (i_ < t_.size() && IsDigit(t_[i_])) ++i_;
            return i_ > from;
        };
        if (i_ < t_.size() && t_[i_] == '0') {
            ++i_;
        } else if (!digits()) {
            return Fault(start, "invalid number: a digit must follow '-'");
        }
        if (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            if (!digits()) return Fault(start, "invalid number: a digit must follow '.'");
        }
        if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
            ++i_;
            if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) ++i_;
            if (!digits()) return Fault(start, "invalid number: a digit must follow the exponent");
        }
        return {};
    }

    std::string Literal() {
        for (std::string_view word : {"true", "false", "null"}) {
            if (t_.substr(i_, word.size()) == word) return i_ += word.size(), std::string();
        }
        return Fault(i_, "unexpected " + What(i_) + "; expected a value (true, false and null are written in full)");
    }

    std::string_view t_;
    size_t i_ = 0;
};

}  // namespace

std::string JsonSyntaxFault(std::string_view text, bool* tooDeep) {
    Checker checker(text);
    std::string fault = checker.Run();
    if (tooDeep) *tooDeep = checker.tooDeep;
    return fault;
}

std::string UnescapeJsonString(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    const auto put = [&](uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6)), out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12)), out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18)), out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (size_t k = 0; k < content.size(); ++k) {
        if (content[k] != '\\' || k + 1 >= content.size()) {
            out += content[k];
            continue;
        }
        const char e = content[++k];
        switch (e) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                // Sound content always has the four digits, and a low half after a high one.
                if (k + 4 >= content.size()) return out;
                uint32_t cp = HexValue(content, k + 1);
                k += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF && k + 6 < content.size()) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (HexValue(content, k + 3) - 0xDC00);
                    k += 6;
                }
                put(cp);
                break;
            }
            default: out += e;  // " \\ /
        }
    }
    return out;
}

std::string QuoteJson(std::string_view s) {
    std::string out = "\"";
    for (size_t k = 0; k < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[k]);
        if (c >= 0x80) {
            const size_t n = Utf8Length(s, k);
            out += n ? s.substr(k, n) : "\xEF\xBF\xBD";
            k += n ? n : 1;
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char text[8];
                    std::snprintf(text, sizeof text, "\\u%04x", c);
                    out += text;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++k;
    }
    return out + "\"";
}

bool IsPlainMemberName(std::string_view name) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    if (name.empty() || !letter(name[0])) return false;
    for (char c : name) {
        if (!letter(c) && !IsDigit(c)) return false;
    }
    return true;
}

}  // namespace quorvex::scene
