// The export options dialog (resource IDD_EXPORT_OPTIONS).
#pragma once

#include "plugin/Win32Api.h"

// The dialog procedure. WM_INITDIALOG's second parameter is the ModelExporter.
// Fills ExportOptions; ends the dialog with 1 to export, 0 to cancel. Returns 1
// for a message it handles, 0 otherwise.
INT_PTR CALLBACK ExportOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
