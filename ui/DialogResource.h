// The options dialog's template as data: the one place the C++ side states the
// dialog's layout. ui/quorvex.rc is the same dialog for the Windows resource
// compiler; a test holds the two together.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Win32 style words, under names of our own so that they can sit beside
// <windows.h> on Windows builds (where they are checked against it).
namespace dialogstyle {
constexpr uint32_t kPopup = 0x80000000u;       // WS_POPUP
constexpr uint32_t kChild = 0x40000000u;       // WS_CHILD
constexpr uint32_t kVisible = 0x10000000u;     // WS_VISIBLE
constexpr uint32_t kCaption = 0x00C00000u;     // WS_CAPTION
constexpr uint32_t kSysMenu = 0x00080000u;     // WS_SYSMENU
constexpr uint32_t kTabStop = 0x00010000u;     // WS_TABSTOP
constexpr uint32_t kModalFrame = 0x00000080u;  // DS_MODALFRAME
constexpr uint32_t kSetFont = 0x00000040u;     // DS_SETFONT
constexpr uint32_t kPushButton = 0x0u;         // BS_PUSHBUTTON
constexpr uint32_t kDefPushButton = 0x1u;      // BS_DEFPUSHBUTTON
constexpr uint32_t kAutoCheckBox = 0x3u;       // BS_AUTOCHECKBOX
constexpr uint32_t kGroupBox = 0x7u;           // BS_GROUPBOX
}  // namespace dialogstyle

// Win32 language identifiers.
constexpr uint16_t kLangEnglish = 0x09;       // LANG_ENGLISH
constexpr uint16_t kSublangEnglishUk = 0x02;  // SUBLANG_ENGLISH_UK

enum class DialogControlKind {
    kDefPushButton,  // DEFPUSHBUTTON
    kPushButton,     // PUSHBUTTON
    kAutoCheckBox,   // CONTROL ..., "Button", BS_AUTOCHECKBOX
    kGroupBox,       // GROUPBOX
};

// One control; coordinates in dialog units.
struct DialogControl {
    int id;  // -1 for a static control nothing refers to
    DialogControlKind kind;
    const char* className;  // the window class, never null
    const char* text;       // never null; may be empty
    int x, y, width, height;
    uint32_t style;  // the control's full style word
};

struct DialogTemplate {
    int resourceId;
    uint16_t language, subLanguage;
    // The STYLE statement's flags. The resource compiler adds DS_SETFONT
    // itself because the template names a font.
    uint32_t style;
    int x, y, width, height;
    const char* fontName;
    int fontPointSize;
    const char* title;              // never null
    const DialogControl* controls;  // `controlCount` entries, template order = tab order
    size_t controlCount;
};

// The export options dialog (IDD_EXPORT_OPTIONS). Static; lives as long as
// the library.
const DialogTemplate& ExportOptionsDialogTemplate();

// The template with resource id `resourceId`, or null when the library holds
// no such dialog.
const DialogTemplate* FindDialogTemplate(int resourceId);

}  // namespace quorvex
