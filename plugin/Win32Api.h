// The few Win32 types, constants and calls the plug-in uses. On Windows this
// header gives way to <windows.h> and <commctrl.h>; elsewhere the calls
// dispatch to the process-wide Win32 stand-in installed with SetWin32Services
// (standin/Win32Standin.h provides the scripted one).
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#else

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using WORD = uint16_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using INT_PTR = intptr_t;
using LPCSTR = const char*;
using HWND = struct HWND__*;
using HINSTANCE = struct HINSTANCE__*;
using LPVOID = void*;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Calling conventions: Win32's __stdcall on 32-bit Windows, nothing here.
#define WINAPI
#define CALLBACK

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT MB_OK = 0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

inline WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
inline LPCSTR MAKEINTRESOURCEA(int id) {
    return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(id)));
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
HWND GetParent(HWND window);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
void InitCommonControls();

// The stand-in behind the calls above.
class Win32Services {
public:
    virtual INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                                    LPARAM initParam) = 0;
    virtual BOOL EndDialog(HWND dialog, INT_PTR result) = 0;
    virtual BOOL CheckDlgButton(HWND dialog, int id, UINT check) = 0;
    virtual UINT IsDlgButtonChecked(HWND dialog, int id) = 0;
    virtual HWND GetParent(HWND window) = 0;
    virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
    virtual void InitCommonControls() = 0;

protected:
    virtual ~Win32Services() = default;
};

// Installs the process-wide stand-in (not owned; null uninstalls); returns the
// previous one. With none installed the calls return 0 and do nothing.
Win32Services* SetWin32Services(Win32Services* services);
Win32Services* GetWin32Services();

#endif
