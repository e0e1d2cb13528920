#include "ui/DialogResource.h"

#include "plugin/Win32Api.h"
#include "ui/Resource.h"

namespace quorvex {

#ifdef _WIN32
// Our names for the style words must be Win32's own values.
static_assert(dialogstyle::kPopup == WS_POPUP && dialogstyle::kChild == WS_CHILD &&
              dialogstyle::kVisible == WS_VISIBLE);
static_assert(dialogstyle::kCaption == WS_CAPTION && dialogstyle::kSysMenu == WS_SYSMENU);
static_assert(dialogstyle::kTabStop == WS_TABSTOP);
static_assert(dialogstyle::kModalFrame == DS_MODALFRAME && dialogstyle::kSetFont == DS_SETFONT);
static_assert(dialogstyle::kPushButton == BS_PUSHBUTTON && dialogstyle::kDefPushButton == BS_DEFPUSHBUTTON);
static_assert(dialogstyle::kAutoCheckBox == BS_AUTOCHECKBOX && dialogstyle::kGroupBox == BS_GROUPBOX);
static_assert(kLangEnglish == LANG_ENGLISH && kSublangEnglishUk == SUBLANG_ENGLISH_UK);
#endif

namespace {

using namespace dialogstyle;

constexpr uint32_t kChildControl = kChild | kVisible;

// Template order is tab order: "Export Frame Range" takes the focus first.
constexpr DialogControl kExportOptionsControls[] = {
    {IDOK, DialogControlKind::kDefPushButton, "Button", "Export Frame Range", 14, 16, 71, 14,
     kChildControl | kDefPushButton | kTabStop},
    {IDCANCEL, DialogControlKind::kPushButton, "Button", "Cancel", 13, 58, 72, 14,
     kChildControl | kPushButton | kTabStop},
    {IDC_SINGLE_FRAME, DialogControlKind::kPushButton, "Button", "Export Single Frame", 13, 36, 71, 14,
     kChildControl | kPushButton | kTabStop},
    {IDC_HI_PRECISION, DialogControlKind::kAutoCheckBox, "Button", "Hi Precision", 109, 20, 53, 11,
     kChildControl | kAutoCheckBox | kTabStop},
    {IDC_ALPHA_CHANNEL, DialogControlKind::kAutoCheckBox, "Button", "Alpha Channel", 109, 33, 59, 10,
     kChildControl | kAutoCheckBox | kTabStop},
    // The frame around the whole dialog, then the one around the two options.
    {-1, DialogControlKind::kGroupBox, "Button", "", 7, 7, 172, 81, kChildControl | kGroupBox},
    {-1, DialogControlKind::kGroupBox, "Button", "", 99, 14, 73, 62, kChildControl | kGroupBox},
};

constexpr DialogTemplate kExportOptionsDialog = {
    IDD_EXPORT_OPTIONS,
    kLangEnglish,
    kSublangEnglishUk,
    kModalFrame | kPopup | kCaption | kSysMenu,
    0,
    0,
    186,
    95,
    "MS Sans Serif",
    8,
    // The trailing space is part of the title.
    "Export Zentrova Mdl 29 July 2001 ",
    kExportOptionsControls,
    sizeof(kExportOptionsControls) / sizeof(kExportOptionsControls[0]),
};

}  // namespace

const DialogTemplate& ExportOptionsDialogTemplate() { return kExportOptionsDialog; }

const DialogTemplate* FindDialogTemplate(int resourceId) {
    return resourceId == IDD_EXPORT_OPTIONS ? &kExportOptionsDialog : nullptr;
}

}  // namespace quorvex
