// What the plug-in's other parts know of the exporter: its identity, the
// options the user picks, the options dialog's procedure and the factory the
// class descriptor calls. It includes nothing but the host interface, so the
// dialog and the class descriptor depend on this header and not on the driver.
#pragma once

#include <cstdint>

#include "plugin/HostServices.h"

namespace quorvex {

// The exporter class as the host registers it.
constexpr const char* kExporterClassName = "Quorvex";
constexpr const char* kExporterCategory = "Quorvex";
constexpr Class_ID kExporterClassID{0x4018116b, 0x452e5edd};

// The progress display's caption in each phase of an export: the scan and
// gather walks, sampling the frames, and the frames' normals (the file is
// written at the end of that phase).
constexpr const char* kScanningCaption = "Scanning...";
constexpr const char* kSamplingCaption = "Writing Frames";
constexpr const char* kNormalsCaption = "Calculating..";
// Every refusal's message box: its caption, and the text of a refusal for
// want of memory.
constexpr const char* kAbortCaption = "Aborting !";
constexpr const char* kNoMemoryText = "Not enough memory for the model";

// The library's instance handle: the module that holds the dialog's resources.
// Null until the module entry routine ran (defined with the entry points).
extern HINSTANCE hInstance;

struct ExportOptionsRecord {
    int32_t startFrame;    // first exported frame (host ticks / ticks per frame)
    int32_t endFrame;      // last exported frame, inclusive
    int32_t hiPrecision;   // 1: 16-bit vertices ("MDL4"); 0: 8-bit ("MDL3")
    int32_t alphaChannel;  // 1: ARGB4444 skin; 0: RGB565
};

// The options of the process-wide export state: filled by the dialog (or a
// caller that suppresses prompts), read by the next export, kept between
// exports. Never null.
ExportOptionsRecord& RememberedExportOptions();

// Threads working on the frames of the next exports, the calling one
// included; 0 (as the library loads): one per core. Kept between exports.
int32_t& RememberedThreadCount();

// After an export whose file could not be written (its message box says
// "Cannot write <path>"): the system's reason, an errno value; 0 after any
// other export. Already set when that box is shown.
int LastExportWriteError();

// The options dialog's procedure (resource IDD_EXPORT_OPTIONS, defined with
// the dialog). WM_INITDIALOG's second parameter is the host's Interface, or 0;
// the dialog reads the animation range from it. Fills
// RememberedExportOptions(); ends the dialog with 1 to export, 0 to cancel.
// Returns 1 for a message it handles, 0 otherwise.
INT_PTR CALLBACK ExportOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A new exporter, as its SceneExport base; the caller owns it and destroys it
// through the virtual destructor. Null when memory is exhausted.
SceneExport* NewModelExporter();

}  // namespace quorvex
