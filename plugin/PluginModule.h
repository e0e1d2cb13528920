// The library's entry points as the host sees them: the module entry routine,
// the four exported library functions and the one class descriptor.
#pragma once

#include "plugin/HostServices.h"

// Process-wide module state, zero when the library loads.
extern HINSTANCE hInstance;      // the library's instance handle; the dialog's resource module
extern int controlsInitialised;  // 1 once the entry routine has initialised the controls

// C linkage: the system loader finds the entry routine, and the host the four
// library functions, by their plain names (plugin/quorvex.def exports them).
extern "C" {

// Stores the instance handle on every call; on the first call only, also
// initialises the host's custom controls and the common controls. Returns TRUE.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

const char* LibDescription();
int LibNumberClasses();
// i == 0: the one static class descriptor (owned by the library); else null.
ClassDesc* LibClassDesc(int i);
unsigned long LibVersion();

}  // extern "C"
