#include "import/ClipNames.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace quorvex::importer {

namespace {

size_t Digits(int64_t v) {
    size_t d = 1;
    for (; v >= 10; v /= 10) ++d;
    return d;
}

// U+00C0..U+00FF without their accents ('\0': dropped).
const char* const kLatin1[64] = {"A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I",  "I",
                                 "D", "N", "O", "O", "O", "O", "O",  "",  "O", "U", "U", "U", "U", "Y", "TH", "ss",
                                 "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
                                 "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y"};

// Printable ASCII of a UTF-8 text; malformed bytes are dropped one by one.
std::string Ascii(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c == ' ') {
                out += '_';
            } else if (std::isprint(c)) {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        bool whole = len > 1 && i + len <= s.size();
        for (size_t k = 1; whole && k < len; ++k) whole = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            ++i;
            continue;
        }
        if (len == 2) {
            const unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            if (cp >= 0xC0 && cp <= 0xFF) out += kLatin1[cp - 0xC0];
        }
        i += len;
    }
    return out;
}

bool EndsInDigit(const std::string& s) { return !s.empty() && std::isdigit(static_cast<unsigned char>(s.back())); }

// `text` cut to `room`, with a '_' after a trailing digit within that room.
std::string Fit(std::string text, size_t room) {
    if (text.size() > room) text.resize(room);
    if (EndsInDigit(text)) {
        if (text.size() >= room) text.resize(room - 1);
        text += '_';
    }
    return text;
}

}  // namespace

std::vector<std::string> ClipNoteTexts(const std::vector<ClipText>& clips) {
    std::vector<std::string> out;
    std::set<std::string> used;
    for (const ClipText& clip : clips) {
        // At least two characters remain: a letter and a guard.
        const size_t room = std::max<size_t>(kFrameNameRoom - Digits(std::max<int64_t>(clip.frames, 1) - 1), 2);
        std::string text = Ascii(clip.name);
        if (text.size() + (EndsInDigit(text) ? 1 : 0) > room) {
            const size_t cut = clip.name.find_last_of("|/");
            if (cut != std::string::npos) text = Ascii(clip.name.substr(cut + 1));
        }
        if (text.empty()) text = "clip";
        const std::string base = Fit(text, room);
        text = base;
        for (int k = 2; used.count(text); ++k) {
            const std::string suffix = std::to_string(k) + "_";
            std::string stem = base;
            while (!stem.empty() && stem.back() == '_') stem.pop_back();
            text = stem.substr(0, room > suffix.size() ? room - suffix.size() : 0) + suffix;
        }
        used.insert(text);
        out.push_back(std::move(text));
    }
    return out;
}

}  // namespace quorvex::importer
