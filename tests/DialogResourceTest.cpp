// Holds the resource script that a Windows build compiles and the C++ table of
// the same dialog together, and checks the layout's own consistency.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/Win32Api.h"
#include "ui/DialogResource.h"
#include "ui/Resource.h"

using namespace quorvex;

namespace {

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(QUORVEX_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Token {
    enum Kind { Name, Number, String, Punct } kind;
    std::string text;
    long value = 0;
};

// Splits one line of a resource script. Strings double a quote to escape it.
std::vector<Token> Tokenize(const std::string& line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
            break;
        } else if (c == '"') {
            std::string s;
            ++i;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        s += '"';
                        i += 2;
                        continue;
                    }
                    break;
                }
                s += line[i++];
            }
            ++i;
            tokens.push_back({Token::String, s});
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            size_t end = i;
            while (end < line.size() && std::isalnum(static_cast<unsigned char>(line[end]))) ++end;
            std::string digits = line.substr(i, end - i);
            tokens.push_back({Token::Number, digits, std::stol(digits, nullptr, 0)});
            i = end;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t end = i;
            while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_'))
                ++end;
            tokens.push_back({Token::Name, line.substr(i, end - i)});
            i = end;
        } else {
            tokens.push_back({Token::Punct, std::string(1, c)});
            ++i;
        }
    }
    return tokens;
}

// The Win32 names a resource script of ours may use, with Win32's values.
const std::map<std::string, long>& Win32Names() {
    static const std::map<std::string, long> names = {
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"WS_POPUP", 0x80000000L},
        {"WS_CHILD", 0x40000000L},
        {"WS_VISIBLE", 0x10000000L},
        {"WS_CAPTION", 0x00C00000L},
        {"WS_SYSMENU", 0x00080000L},
        {"WS_GROUP", 0x00020000L},
        {"WS_TABSTOP", 0x00010000L},
        {"DS_MODALFRAME", 0x80},
        {"BS_PUSHBUTTON", 0},
        {"BS_DEFPUSHBUTTON", 1},
        {"BS_AUTOCHECKBOX", 3},
        {"BS_GROUPBOX", 7},
        {"LANG_ENGLISH", 0x09},
        {"SUBLANG_ENGLISH_UK", 0x02},
    };
    return names;
}

constexpr long kChild = 0x40000000L | 0x10000000L;
constexpr long kTabStop = 0x00010000L;

struct ParsedControl {
    int id = 0;
    DialogControlKind kind{};
    std::string className;
    std::string text;
    int x = 0, y = 0, width = 0, height = 0;
    uint32_t style = 0;
};

struct ParsedDialog {
    int resourceId = 0;
    long language = -1, subLanguage = -1;
    uint32_t style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string fontName;
    int fontPointSize = 0;
    std::string title;
    std::vector<ParsedControl> controls;
};

// Reads the statements this project's script uses; anything else is a
// failure, so the script cannot drift away from what is checked here.
class ScriptReader {
public:
    explicit ScriptReader(std::map<std::string, long> defines) : defines_(std::move(defines)) {}

    std::optional<ParsedDialog> Read(const std::string& script) {
        std::istringstream lines(script);
        std::string line;
        ParsedDialog dialog;
        bool sawDialog = false, inBody = false, closed = false;
        long language = -1, subLanguage = -1;
        while (std::getline(lines, line)) {
            ++lineNumber_;
            const size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos || line[first] == '#') continue;
            tokens_ = Tokenize(line);
            pos_ = 0;
            if (tokens_.empty()) continue;
            const std::string head = tokens_[0].text;
            if (head == "LANGUAGE") {
                ++pos_;
                language = Expr();
                Expect(",");
                subLanguage = Expr();
            } else if (!sawDialog && tokens_.size() > 1 &&
                       (tokens_[1].text == "DIALOG" || tokens_[1].text == "DIALOGEX")) {
                sawDialog = true;
                dialog.resourceId = static_cast<int>(Expr());
                ++pos_;
                dialog.language = language;
                dialog.subLanguage = subLanguage;
                dialog.x = Int();
                Expect(",");
                dialog.y = Int();
                Expect(",");
                dialog.width = Int();
                Expect(",");
                dialog.height = Int();
            } else if (head == "STYLE") {
                ++pos_;
                dialog.style = static_cast<uint32_t>(Expr());
            } else if (head == "CAPTION") {
                ++pos_;
                dialog.title = String();
            } else if (head == "FONT") {
                ++pos_;
                dialog.fontPointSize = Int();
                Expect(",");
                dialog.fontName = String();
            } else if (head == "BEGIN") {
                ++pos_;
                inBody = sawDialog;
            } else if (head == "END") {
                ++pos_;
                closed = inBody;
                inBody = false;
            } else if (inBody && (head == "DEFPUSHBUTTON" || head == "PUSHBUTTON" || head == "GROUPBOX")) {
                ++pos_;
                ParsedControl c;
                c.kind = head == "DEFPUSHBUTTON" ? DialogControlKind::kDefPushButton
                         : head == "PUSHBUTTON"  ? DialogControlKind::kPushButton
                                                 : DialogControlKind::kGroupBox;
                // The compiler's own styles for these statements.
                long style = head == "DEFPUSHBUTTON" ? kChild | 1 | kTabStop
                             : head == "PUSHBUTTON"  ? kChild | 0 | kTabStop
                                                     : kChild | 7;
                c.className = "Button";
                c.text = String();
                Expect(",");
                c.id = static_cast<int>(Expr());
                ReadGeometry(c);
                if (pos_ < tokens_.size()) {
                    Expect(",");
                    style |= Expr();
                }
                c.style = static_cast<uint32_t>(style);
                dialog.controls.push_back(c);
            } else if (inBody && head == "CONTROL") {
                ++pos_;
                ParsedControl c;
                c.text = String();
                Expect(",");
                c.id = static_cast<int>(Expr());
                Expect(",");
                c.className = String();
                Expect(",");
                c.style = static_cast<uint32_t>(kChild | Expr());
                c.kind = (c.style & 0xF) == 3 ? DialogControlKind::kAutoCheckBox : DialogControlKind::kPushButton;
                ReadGeometry(c);
                dialog.controls.push_back(c);
            } else {
                Fail("statement not understood");
            }
            if (pos_ != tokens_.size()) Fail("trailing tokens");
        }
        if (!sawDialog || !closed) Fail("no complete dialog");
        if (failed_) return std::nullopt;
        return dialog;
    }

private:
    void Fail(const std::string& why) {
        ADD_FAILURE() << "quorvex.rc line " << lineNumber_ << ": " << why;
        failed_ = true;
        pos_ = tokens_.size();
    }
    const Token* Next() {
        if (pos_ >= tokens_.size()) {
            Fail("line ends early");
            return nullptr;
        }
        return &tokens_[pos_++];
    }
    void Expect(const char* punct) {
        const Token* t = Next();
        if (t && (t->kind != Token::Punct || t->text != punct)) Fail(std::string("expected ") + punct);
    }
    std::string String() {
        const Token* t = Next();
        if (t && t->kind != Token::String) Fail("expected a string");
        return t ? t->text : "";
    }
    int Int() { return static_cast<int>(Expr()); }
    // term ('|' term)*, where a term is a number, a known name, -term or (expr).
    long Expr() {
        long v = Term();
        while (pos_ < tokens_.size() && tokens_[pos_].text == "|") {
            ++pos_;
            v |= Term();
        }
        return v;
    }
    long Term() {
        const Token* t = Next();
        if (!t) return 0;
        if (t->kind == Token::Number) return t->value;
        if (t->text == "-") return -Term();
        if (t->text == "(") {
            long v = Expr();
            Expect(")");
            return v;
        }
        if (t->kind == Token::Name) {
            if (auto d = defines_.find(t->text); d != defines_.end()) return d->second;
            if (auto w = Win32Names().find(t->text); w != Win32Names().end()) return w->second;
        }
        Fail("unknown value " + t->text);
        return 0;
    }
    void ReadGeometry(ParsedControl& c) {
        Expect(",");
        c.x = Int();
        Expect(",");
        c.y = Int();
        Expect(",");
        c.width = Int();
        Expect(",");
        c.height = Int();
    }

    std::map<std::string, long> defines_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    int lineNumber_ = 0;
    bool failed_ = false;
};

// "#define NAME value" lines, values that are plain or parenthesised integers.
std::map<std::string, long> Defines(const std::string& source) {
    std::map<std::string, long> defines;
    std::istringstream lines(source);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string directive, name, value;
        if (!(words >> directive >> name >> value) || directive != "#define") continue;
        std::string digits;
        for (char c : value)
            if (c != '(' && c != ')') digits += c;
        defines[name] = std::stol(digits, nullptr, 0);
    }
    return defines;
}

ParsedDialog ReadScript() {
    const std::string script = ReadSource("ui/quorvex.rc");
    EXPECT_FALSE(script.empty()) << "ui/quorvex.rc not found under " << QUORVEX_SOURCE_DIR;
    std::map<std::string, long> defines = Defines(ReadSource("ui/Resource.h"));
    for (const auto& [name, value] : Defines(script)) defines.emplace(name, value);
    std::optional<ParsedDialog> dialog = ScriptReader(defines).Read(script);
    return dialog.value_or(ParsedDialog{});
}

TEST(DialogResource, ScriptAndTableDescribeTheSameDialog) {
    // A Windows build compiles the script on its own: it must bring the ids
    // and the Win32 names itself.
    const std::string text = ReadSource("ui/quorvex.rc");
    EXPECT_NE(text.find("#include \"Resource.h\""), std::string::npos);
    EXPECT_NE(text.find("#include <windows.h>"), std::string::npos);

    const ParsedDialog script = ReadScript();
    const DialogTemplate& table = ExportOptionsDialogTemplate();

    EXPECT_EQ(script.resourceId, table.resourceId);
    EXPECT_EQ(script.language, table.language);
    EXPECT_EQ(script.subLanguage, table.subLanguage);
    EXPECT_EQ(script.style, table.style);
    EXPECT_EQ(script.x, table.x);
    EXPECT_EQ(script.y, table.y);
    EXPECT_EQ(script.width, table.width);
    EXPECT_EQ(script.height, table.height);
    EXPECT_EQ(script.fontName, table.fontName);
    EXPECT_EQ(script.fontPointSize, table.fontPointSize);
    EXPECT_EQ(script.title, table.title);

    ASSERT_EQ(script.controls.size(), table.controlCount);
    for (size_t i = 0; i < table.controlCount; ++i) {
        const ParsedControl& s = script.controls[i];
        const DialogControl& t = table.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " \"" + t.text + "\"");
        EXPECT_EQ(s.id, t.id);
        EXPECT_EQ(s.kind, t.kind);
        EXPECT_EQ(s.className, t.className);
        EXPECT_EQ(s.text, t.text);
        EXPECT_EQ(s.x, t.x);
        EXPECT_EQ(s.y, t.y);
        EXPECT_EQ(s.width, t.width);
        EXPECT_EQ(s.height, t.height);
        EXPECT_EQ(s.style, t.style) << std::hex << s.style << " vs " << t.style;
    }
}

TEST(DialogResource, LayoutHoldsTogether) {
    const DialogTemplate& d = ExportOptionsDialogTemplate();
    EXPECT_EQ(FindDialogTemplate(IDD_EXPORT_OPTIONS), &d);
    EXPECT_EQ(FindDialogTemplate(IDD_EXPORT_OPTIONS + 1), nullptr);
    ASSERT_GT(d.controlCount, 0u);
    // Title text ends with its space; a cut or trimmed copy would lose it.
    EXPECT_EQ(std::string(d.title).back(), ' ');

    // Exactly the controls the procedure acts on take the focus, each id once,
    // and the first tab stop (which the opening focuses) exports the range.
    std::vector<int> tabStops;
    std::set<int> ids;
    const DialogControl* smallFrame = nullptr;
    for (size_t i = 0; i < d.controlCount; ++i) {
        const DialogControl& c = d.controls[i];
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.style & kChild, static_cast<uint32_t>(kChild)) << "visible child window";
        EXPECT_GE(c.x, 0);
        EXPECT_GE(c.y, 0);
        EXPECT_LE(c.x + c.width, d.width);
        EXPECT_LE(c.y + c.height, d.height);
        if (c.style & kTabStop) tabStops.push_back(c.id);
        if (c.id != -1) {
            EXPECT_TRUE(ids.insert(c.id).second) << "duplicate id " << c.id;
        }
        if (c.kind == DialogControlKind::kGroupBox && c.x > 7) smallFrame = &c;
    }
    EXPECT_EQ(tabStops, (std::vector<int>{IDOK, IDCANCEL, IDC_SINGLE_FRAME, IDC_HI_PRECISION, IDC_ALPHA_CHANNEL}));

    // The small frame holds both option boxes.
    ASSERT_NE(smallFrame, nullptr);
    for (size_t i = 0; i < d.controlCount; ++i) {
        const DialogControl& c = d.controls[i];
        if (c.kind != DialogControlKind::kAutoCheckBox) continue;
        SCOPED_TRACE(c.text);
        EXPECT_GE(c.x, smallFrame->x);
        EXPECT_GE(c.y, smallFrame->y);
        EXPECT_LE(c.x + c.width, smallFrame->x + smallFrame->width);
        EXPECT_LE(c.y + c.height, smallFrame->y + smallFrame->height);
    }
}

}  // namespace
