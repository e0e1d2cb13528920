#include "ui/OptionsDialog.h"

#include "export/ExportState.h"
#include "export/ModelExporter.h"
#include "ui/Resource.h"

namespace {

// A host time as a frame number, truncated toward zero. The host is asked for
// its tick rate on every conversion. A rate of 0 or below is no frame rate at
// all; such a time counts as frame 0 instead of dividing by it.
int32_t FrameOfTime(TimeValue ticks) {
    const int ticksPerFrame = GetTicksPerFrame();
    if (ticksPerFrame <= 0) return 0;
    return static_cast<int32_t>(ticks / ticksPerFrame);
}

void InitialiseOptions(HWND dialog, ModelExporter* exporter) {
    // Every opening starts with both options off, whatever the last export used.
    CheckDlgButton(dialog, IDC_HI_PRECISION, BST_UNCHECKED);
    ExportOptions.hiPrecision = 0;
    CheckDlgButton(dialog, IDC_ALPHA_CHANNEL, BST_UNCHECKED);
    ExportOptions.alphaChannel = 0;

    CenterWindow(dialog, GetParent(dialog));

    // Without an exporter there is no host to ask; the range stays as it was.
    if (!exporter || !exporter->hostInterface) return;
    const Interval range = exporter->hostInterface->GetAnimRange();
    ExportOptions.startFrame = FrameOfTime(range.start);
    ExportOptions.endFrame = FrameOfTime(range.end);
}

}  // namespace

INT_PTR CALLBACK ExportOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitialiseOptions(dialog, reinterpret_cast<ModelExporter*>(lParam));
            // 1 lets the dialog manager focus the first tab stop.
            return 1;
        case WM_COMMAND:
            // The notification code in the high word does not matter: a check
            // box's state is read back whatever the click came from.
            switch (LOWORD(wParam)) {
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    break;
                case IDOK:
                    EndDialog(dialog, 1);
                    break;
                case IDC_SINGLE_FRAME:
                    ExportOptions.endFrame = ExportOptions.startFrame;
                    EndDialog(dialog, 1);
                    break;
                case IDC_HI_PRECISION:
                    ExportOptions.hiPrecision = IsDlgButtonChecked(dialog, IDC_HI_PRECISION) != 0 ? 1 : 0;
                    break;
                case IDC_ALPHA_CHANNEL:
                    ExportOptions.alphaChannel = IsDlgButtonChecked(dialog, IDC_ALPHA_CHANNEL) != 0 ? 1 : 0;
                    break;
                default:
                    break;
            }
            return 1;
        default:
            return 0;
    }
}
