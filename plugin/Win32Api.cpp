#include "plugin/Win32Api.h"

#ifndef _WIN32

namespace {
Win32Services* g_win32 = nullptr;
}

Win32Services* SetWin32Services(Win32Services* services) {
    Win32Services* previous = g_win32;
    g_win32 = services;
    return previous;
}

Win32Services* GetWin32Services() { return g_win32; }

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam) {
    return g_win32 ? g_win32->DialogBoxParamA(instance, templateName, parent, proc, initParam) : 0;
}

BOOL EndDialog(HWND dialog, INT_PTR result) { return g_win32 ? g_win32->EndDialog(dialog, result) : FALSE; }

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    return g_win32 ? g_win32->CheckDlgButton(dialog, id, check) : FALSE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) { return g_win32 ? g_win32->IsDlgButtonChecked(dialog, id) : 0; }

HWND GetParent(HWND window) { return g_win32 ? g_win32->GetParent(window) : nullptr; }

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    return g_win32 ? g_win32->MessageBoxA(owner, text, caption, type) : 0;
}

void InitCommonControls() {
    if (g_win32) g_win32->InitCommonControls();
}

#endif
