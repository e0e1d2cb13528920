#include "standin/Win32Standin.h"

#include <cstdint>

#include "ui/DialogResource.h"

using namespace quorvex;

namespace quorvex::standin {

namespace {

// Win32's failure result of DialogBoxParamA: no dialog could be made.
constexpr INT_PTR kDialogFailed = -1;
// The notification code a clicked button sends with WM_COMMAND.
constexpr WORD kButtonClicked = 0;

// A resource named by number carries it in the pointer's low word; a real
// name (a pointer above 0xFFFF) names nothing this library holds.
int ResourceIdOf(LPCSTR templateName) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(templateName);
    return (value >> 16) == 0 ? static_cast<int>(value) : -1;
}

// Each dialog gets a handle of its own, so a procedure that mixes up handles
// talks to nothing.
HWND NextDialogHandle() {
    static uintptr_t next = 0x10000;
    next += 0x10;
    return reinterpret_cast<HWND>(next);
}

}  // namespace

INT_PTR ScriptedWin32::DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                                       LPARAM initParam) {
    (void)instance;
    const int resourceId = ResourceIdOf(templateName);
    const size_t callIndex = dialogs.size();
    dialogs.push_back(DialogCall{resourceId, parent, kDialogFailed});
    // As in Win32, a template the library does not hold, or no procedure,
    // gives no dialog at all.
    if (!proc || !FindDialogTemplate(resourceId)) return kDialogFailed;

    // One dialog at a time, as the exporter opens them; the boxes of a new
    // dialog start unchecked.
    openDialog_ = NextDialogHandle();
    openParent_ = parent;
    ended_ = false;
    endResult_ = 0;
    checks_.clear();

    const HWND dialog = openDialog_;
    proc(dialog, WM_INITDIALOG, 0, initParam);
    for (const DialogStep& step : script) {
        if (ended_) break;
        if (step.kind == DialogStep::Toggle) {
            CheckDlgButton(dialog, step.controlId,
                           IsDlgButtonChecked(dialog, step.controlId) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        }
        const WPARAM command =
            static_cast<WPARAM>(static_cast<WORD>(step.controlId)) | (static_cast<WPARAM>(kButtonClicked) << 16);
        proc(dialog, WM_COMMAND, command, 0);
    }
    const INT_PTR result = ended_ ? endResult_ : 0;
    dialogs[callIndex].result = result;

    // The dialog is gone; its check states stay readable through CheckState.
    openDialog_ = nullptr;
    openParent_ = nullptr;
    return result;
}

BOOL ScriptedWin32::EndDialog(HWND dialog, INT_PTR result) {
    if (!dialog || dialog != openDialog_) return FALSE;
    // The dialog closes once the procedure returns; until then a later call
    // replaces the result.
    ended_ = true;
    endResult_ = result;
    return TRUE;
}

BOOL ScriptedWin32::CheckDlgButton(HWND dialog, int id, UINT check) {
    if (!dialog || dialog != openDialog_) return FALSE;
    for (auto& entry : checks_) {
        if (entry.first == id) {
            entry.second = check;
            return TRUE;
        }
    }
    checks_.emplace_back(id, check);
    return TRUE;
}

UINT ScriptedWin32::IsDlgButtonChecked(HWND dialog, int id) {
    if (!dialog || dialog != openDialog_) return BST_UNCHECKED;
    return CheckState(id);
}

UINT ScriptedWin32::CheckState(int id) const {
    for (const auto& entry : checks_) {
        if (entry.first == id) return entry.second;
    }
    return BST_UNCHECKED;
}

HWND ScriptedWin32::GetParent(HWND window) { return window && window == openDialog_ ? openParent_ : nullptr; }

int ScriptedWin32::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    messageBoxes.push_back(MessageBoxCall{owner, text ? text : "", caption ? caption : "", type});
    if (onMessageBox) onMessageBox(messageBoxes.back());
    // The only button a box of the exporter has.
    return IDOK;
}

void ScriptedWin32::InitCommonControls() { ++initCommonControlsCalls; }

}  // namespace quorvex::standin
