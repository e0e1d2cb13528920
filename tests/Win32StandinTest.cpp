// The scripted Win32 stand-in beyond what the options dialog exercises.
#include <gtest/gtest.h>

#include "standin/Win32Standin.h"
#include "ui/Resource.h"

using quorvex::standin::ScriptedWin32;

namespace {

using quorvex::standin::DialogStep;

int procCalls = 0;
INT_PTR CountingProc(HWND, UINT, WPARAM, LPARAM) {
    ++procCalls;
    return 0;
}

TEST(ScriptedWin32, RefusesDialogsTheLibraryDoesNotHold) {
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope scope(&win32);
    procCalls = 0;
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS + 1), nullptr, CountingProc, 0), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, "NAMED", nullptr, CountingProc, 0), -1);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), nullptr, nullptr, 0), -1);
    EXPECT_EQ(procCalls, 0);
    ASSERT_EQ(win32.dialogs.size(), 3u);
    EXPECT_EQ(win32.dialogs[0].resourceId, IDD_EXPORT_OPTIONS + 1);
    EXPECT_EQ(win32.dialogs[2].result, -1);
}

TEST(ScriptedWin32, DialogCallsOutsideTheOpenDialogDoNothing) {
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope scope(&win32);
    const HWND stranger = reinterpret_cast<HWND>(uintptr_t{0x77});
    EXPECT_EQ(CheckDlgButton(stranger, IDC_HI_PRECISION, BST_CHECKED), FALSE);
    EXPECT_EQ(IsDlgButtonChecked(stranger, IDC_HI_PRECISION), BST_UNCHECKED);
    EXPECT_EQ(EndDialog(stranger, 1), FALSE);
    EXPECT_EQ(GetParent(stranger), nullptr);
    EXPECT_EQ(win32.CheckState(IDC_HI_PRECISION), BST_UNCHECKED);

    // A procedure that never ends the dialog: the script runs out, the call gives 0.
    procCalls = 0;
    win32.script = {{DialogStep::Press, IDOK}, {DialogStep::Toggle, IDC_ALPHA_CHANNEL}};
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), stranger, CountingProc, 0), 0);
    EXPECT_EQ(procCalls, 3);
    EXPECT_EQ(win32.CheckState(IDC_ALPHA_CHANNEL), BST_CHECKED);
}

TEST(ScriptedWin32, MessageBoxesAreRecordedAndAnswered) {
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope scope(&win32);
    std::vector<std::string> seen;
    win32.onMessageBox = [&](const quorvex::standin::MessageBoxCall& call) {
        seen.push_back(call.caption + ": " + call.text);
    };
    const HWND owner = reinterpret_cast<HWND>(uintptr_t{0x99});
    EXPECT_EQ(MessageBoxA(owner, "Hull: No Material", "Aborting !", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK);
    ASSERT_EQ(win32.messageBoxes.size(), 2u);
    EXPECT_EQ(win32.messageBoxes[0].owner, owner);
    EXPECT_EQ(win32.messageBoxes[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(win32.messageBoxes[1].text, "");
    EXPECT_EQ(seen, (std::vector<std::string>{"Aborting !: Hull: No Material", ": "}));

    InitCommonControls();
    InitCommonControls();
    EXPECT_EQ(win32.initCommonControlsCalls, 2);
}

}  // namespace
