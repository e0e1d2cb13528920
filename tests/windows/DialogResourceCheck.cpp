// Checks a dialog resource as the resource compiler stored it in the library
// (the raw template, e.g. from `wrestool -x --raw --type=5 --name=101`)
// against the C++ dialog table: style, position, size, font, title and every
// control's id, class, text, position, size and style, in template order.
//
//   dialog-resource-check TEMPLATE.bin RESOURCE_ID LANGUAGE_ID
//
// LANGUAGE_ID is the resource's language as the library lists it. Prints one
// line per difference; exit 0 when there is none, 1 otherwise, 2 on bad use.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ui/DialogResource.h"

using namespace quorvex;

namespace {

int differences = 0;

template <class T>
void Expect(const std::string& what, T actual, T expected) {
    if (actual == expected) return;
    std::printf("%s: the library has %s, the table %s\n", what.c_str(), std::to_string(actual).c_str(),
                std::to_string(expected).c_str());
    ++differences;
}

void ExpectText(const std::string& what, const std::string& actual, const std::string& expected) {
    if (actual == expected) return;
    std::printf("%s: the library has \"%s\", the table \"%s\"\n", what.c_str(), actual.c_str(), expected.c_str());
    ++differences;
}

// Little-endian reader over the template; reading past the end sets `bad`.
struct Reader {
    const std::vector<uint8_t>& data;
    size_t at = 0;
    bool bad = false;

    uint16_t Word() {
        if (at + 2 > data.size()) {
            bad = true;
            return 0;
        }
        const uint16_t v = static_cast<uint16_t>(data[at] | data[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t Dword() {
        const uint32_t lo = Word();
        return lo | static_cast<uint32_t>(Word()) << 16;
    }
    int Short() { return static_cast<int16_t>(Word()); }
    // A NUL-terminated UTF-16 string; the table's texts are ASCII.
    std::string String() {
        std::string s;
        for (uint16_t c = Word(); c != 0 && !bad; c = Word()) s += c < 0x80 ? static_cast<char>(c) : '?';
        return s;
    }
    // A name or, after 0xFFFF, an ordinal (returned as "#n"); 0 is none ("").
    std::string NameOrOrdinal() {
        const size_t start = at;
        const uint16_t first = Word();
        if (first == 0) return "";
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        at = start;
        return String();
    }
    void AlignDword() { at = (at + 3) & ~size_t{3}; }
};

// A control's window class as the system sees it: a predefined class given by
// ordinal (rc.exe's way) or by name (windres's way, upper case) is the same
// class, and class names do not depend on case.
std::string ClassKey(std::string name) {
    if (name == "#128") return "BUTTON";
    if (name == "#129") return "EDIT";
    if (name == "#130") return "STATIC";
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: dialog-resource-check TEMPLATE.bin RESOURCE_ID LANGUAGE_ID\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const DialogTemplate* table = FindDialogTemplate(std::atoi(argv[2]));
    if (!table) {
        std::printf("the C++ table has no dialog %s\n", argv[2]);
        return 1;
    }
    Expect("language", std::atoi(argv[3]), table->subLanguage << 10 | table->language);

    Reader r{data};
    // An extended template starts with version 1, signature 0xFFFF.
    if (data.size() >= 4 && data[2] == 0xFF && data[3] == 0xFF) {
        std::printf("the library holds an extended dialog template, the table a plain one\n");
        return 1;
    }
    Expect("dialog style", r.Dword(), table->style | dialogstyle::kSetFont);
    Expect("dialog extended style", r.Dword(), 0u);
    const size_t count = r.Word();
    Expect("control count", count, table->controlCount);
    Expect("dialog x", r.Short(), table->x);
    Expect("dialog y", r.Short(), table->y);
    Expect("dialog width", r.Short(), table->width);
    Expect("dialog height", r.Short(), table->height);
    ExpectText("dialog menu", r.NameOrOrdinal(), "");
    ExpectText("dialog class", r.NameOrOrdinal(), "");
    ExpectText("dialog title", r.String(), table->title);
    Expect("font size", r.Short(), table->fontPointSize);
    ExpectText("font", r.String(), table->fontName);

    for (size_t i = 0; i < count && i < table->controlCount && !r.bad; ++i) {
        const DialogControl& c = table->controls[i];
        const std::string at = "control " + std::to_string(i) + " (\"" + c.text + "\") ";
        r.AlignDword();
        Expect(at + "style", r.Dword(), c.style);
        Expect(at + "extended style", r.Dword(), 0u);
        Expect(at + "x", r.Short(), c.x);
        Expect(at + "y", r.Short(), c.y);
        Expect(at + "width", r.Short(), c.width);
        Expect(at + "height", r.Short(), c.height);
        Expect(at + "id", static_cast<int>(r.Word()), c.id & 0xFFFF);
        ExpectText(at + "class", ClassKey(r.NameOrOrdinal()), ClassKey(c.className));
        ExpectText(at + "text", r.NameOrOrdinal(), c.text);
        const uint16_t extra = r.Word();
        r.at += extra;
    }
    if (r.bad) {
        std::printf("the template ends early (%zu bytes)\n", data.size());
        return 1;
    }
    return differences ? 1 : 0;
}
