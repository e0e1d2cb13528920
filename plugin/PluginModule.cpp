#include "plugin/PluginModule.h"

#include "plugin/ExporterClassDesc.h"

namespace quorvex {
HINSTANCE hInstance = nullptr;
int controlsInitialised = 0;
}  // namespace quorvex

using quorvex::controlsInitialised;
using quorvex::hInstance;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reason;
    (void)reserved;
    // The loader may hand a thread attach a handle before anything else runs, so
    // the handle is refreshed on every call, whatever the reason.
    hInstance = instance;
    // The flag, not the reason, decides: the controls are set up exactly once
    // per process, by whichever call comes first.
    if (!controlsInitialised) {
        controlsInitialised = 1;
        InitCustomControls(instance);
        InitCommonControls();
    }
    return TRUE;
}

const char* LibDescription() { return "Quorvex"; }

int LibNumberClasses() { return 1; }

ClassDesc* LibClassDesc(int i) { return i == 0 ? &quorvex::exporterClassDesc : nullptr; }

// Host release 3100, interface number 7, revision 0.
unsigned long LibVersion() { return (3100ul << 16) + (7ul << 8) + 0ul; }
