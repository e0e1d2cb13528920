// The exporter object the host creates through the class descriptor. It holds
// no state of its own: everything an export keeps is in exportState
// (export/ExportState.h).
#pragma once

#include "plugin/HostServices.h"

namespace quorvex {

class ModelExporter : public SceneExport {
public:
    ModelExporter() = default;
    ~ModelExporter() override = default;

    int ExtCount() override;
    const char* Ext(int n) override;
    const char* LongDesc() override;
    const char* ShortDesc() override;
    const char* AuthorName() override;
    const char* CopyrightMessage() override;
    const char* OtherMessage1() override;
    const char* OtherMessage2() override;
    unsigned int Version() override;
    void ShowAbout(HWND hWnd) override;
    // The export. Returns 1 when the file was written or the user cancelled, 0
    // when the export was refused or failed (after a message box said why),
    // also when `i` is null or no host services are installed (SetHostGlobals).
    int DoExport(const char* name, ExpInterface* ei, Interface* i, BOOL suppressPrompts, DWORD options) override;
};

}  // namespace quorvex
