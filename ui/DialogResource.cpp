#include "ui/DialogResource.h"

#include "plugin/Win32Api.h"
#include "ui/Resource.h"

namespace quorvex {

#ifdef _WIN32
// Our names for the style words must be Win32's own values.
static_assert(dialogstyle::Popup == WS_POPUP && dialogstyle::Child == WS_CHILD && dialogstyle::Visible == WS_VISIBLE);
static_assert(dialogstyle::Caption == WS_CAPTION && dialogstyle::SysMenu == WS_SYSMENU);
static_assert(dialogstyle::TabStop == WS_TABSTOP);
static_assert(dialogstyle::ModalFrame == DS_MODALFRAME && dialogstyle::SetFont == DS_SETFONT);
static_assert(dialogstyle::PushButton == BS_PUSHBUTTON && dialogstyle::DefPushButton == BS_DEFPUSHBUTTON);
static_assert(dialogstyle::AutoCheckBox == BS_AUTOCHECKBOX && dialogstyle::GroupBox == BS_GROUPBOX);
static_assert(kLangEnglish == LANG_ENGLISH && kSublangEnglishUk == SUBLANG_ENGLISH_UK);
#endif

namespace {

using namespace dialogstyle;

constexpr uint32_t kChildControl = Child | Visible;

// Template order is tab order: "Export Frame Range" takes the focus first.
constexpr DialogControl kExportOptionsControls[] = {
    {IDOK, DialogControlKind::DefPushButton, "Button", "Export Frame Range", 14, 16, 71, 14,
     kChildControl | DefPushButton | TabStop},
    {IDCANCEL, DialogControlKind::PushButton, "Button", "Cancel", 13, 58, 72, 14, kChildControl | PushButton | TabStop},
    {IDC_SINGLE_FRAME, DialogControlKind::PushButton, "Button", "Export Single Frame", 13, 36, 71, 14,
     kChildControl | PushButton | TabStop},
    {IDC_HI_PRECISION, DialogControlKind::AutoCheckBox, "Button", "Hi Precision", 109, 20, 53, 11,
     kChildControl | AutoCheckBox | TabStop},
    {IDC_ALPHA_CHANNEL, DialogControlKind::AutoCheckBox, "Button", "Alpha Channel", 109, 33, 59, 10,
     kChildControl | AutoCheckBox | TabStop},
    // The frame around the whole dialog, then the one around the two options.
    {-1, DialogControlKind::GroupBox, "Button", "", 7, 7, 172, 81, kChildControl | GroupBox},
    {-1, DialogControlKind::GroupBox, "Button", "", 99, 14, 73, 62, kChildControl | GroupBox},
};

constexpr DialogTemplate kExportOptionsDialog = {
    IDD_EXPORT_OPTIONS,
    kLangEnglish,
    kSublangEnglishUk,
    ModalFrame | Popup | Caption | SysMenu,
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
