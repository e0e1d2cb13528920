// The Win32 stand-in: a modal dialog that plays a script against the real
// dialog procedure, and message boxes that are recorded instead of shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plugin/Win32Api.h"

namespace quorvex::standin {

struct DialogStep {
    enum Kind {
        Toggle,  // flips a check box, then sends WM_COMMAND with its id
        Press,   // sends WM_COMMAND with the control's id
    } kind;
    int controlId;
};

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct DialogCall {
    int resourceId;
    HWND parent;
    INT_PTR result;
};

class ScriptedWin32 : public Win32Services {
public:
    INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                            LPARAM initParam) override;
    BOOL EndDialog(HWND dialog, INT_PTR result) override;
    BOOL CheckDlgButton(HWND dialog, int id, UINT check) override;
    UINT IsDlgButtonChecked(HWND dialog, int id) override;
    HWND GetParent(HWND window) override;
    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override;
    void InitCommonControls() override;

    // Played by every DialogBoxParamA: WM_INITDIALOG, then the steps in order,
    // stopping once the procedure calls EndDialog. The call returns what
    // EndDialog was given, or 0 when the script ends without it.
    std::vector<DialogStep> script;
    std::vector<DialogCall> dialogs;
    std::vector<MessageBoxCall> messageBoxes;
    std::function<void(const MessageBoxCall&)> onMessageBox;
    int initCommonControlsCalls = 0;
    // Check states of the open dialog, by control id (for tests).
    UINT CheckState(int id) const;

private:
    HWND openDialog_ = nullptr;
    HWND openParent_ = nullptr;
    bool ended_ = false;
    INT_PTR endResult_ = 0;
    std::vector<std::pair<int, UINT>> checks_;
};

// Installs a stand-in for the lifetime of this object, restoring the previous one.
class Win32Scope {
public:
    explicit Win32Scope(Win32Services* services) : previous_(SetWin32Services(services)) {}
    ~Win32Scope() { SetWin32Services(previous_); }
    Win32Scope(const Win32Scope&) = delete;
    Win32Scope& operator=(const Win32Scope&) = delete;

private:
    Win32Services* previous_;
};

}  // namespace quorvex::standin
