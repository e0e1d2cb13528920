#include "standin/ExportSession.h"

#include <memory>
#include <utility>

#include "plugin/PluginModule.h"

namespace quorvex::standin {
using quorvex::scene::SceneDocument;

namespace {

// The exporter as the host sees it: the library is attached once per process.
ClassDesc* LoadExporterClass() {
    static char moduleToken;
    static bool attached = false;
    if (!attached) {
        DllMain(reinterpret_cast<HINSTANCE>(&moduleToken), DLL_PROCESS_ATTACH, nullptr);
        attached = true;
    }
    return LibClassDesc(0);
}

// What a message box of the exporter means. The write's reason is set before
// its box is shown; the memory refusal is known by the exporter's own text.
ExportMessage Classify(const MessageBoxCall& box) {
    const int systemError = quorvex::LastExportWriteError();
    ExportOutcome kind = ExportOutcome::Refused;
    if (systemError != 0)
        kind = ExportOutcome::CannotWrite;
    else if (box.text == quorvex::kNoMemoryText)
        kind = ExportOutcome::NotEnoughMemory;
    return {box.text, box.caption, kind, systemError};
}

}  // namespace

ExportResult RunExportSession(SceneDocument document, const ExportRequest& request) {
    StandinHost host(std::move(document));
    return RunExportSession(host, request);
}

ExportResult RunExportSession(StandinHost& host, const ExportRequest& request) {
    ExportResult result;
    HostGlobalsScope hostScope(&host);
    ScriptedWin32 win32;
    Win32Scope win32Scope(&win32);
    host.onProgress = request.onProgress;
    host.onPictureError = request.onPictureError;
    host.confinePictures = request.confinePictures;
    win32.onMessageBox = [&](const MessageBoxCall& box) {
        result.messages.push_back(Classify(box));
        if (request.onMessage) request.onMessage(result.messages.back());
    };

    ClassDesc* classDesc = LoadExporterClass();
    std::unique_ptr<SceneExport> exporter(classDesc ? static_cast<SceneExport*>(classDesc->Create(FALSE)) : nullptr);
    if (!exporter) {
        result.message = "the exporter could not be created";
        result.allReleased = host.AllReleasedOnce();
        return result;
    }

    BOOL suppressPrompts = FALSE;
    if (request.options) {
        quorvex::RememberedExportOptions() = *request.options;
        suppressPrompts = TRUE;
    } else {
        win32.script = request.dialog;
    }
    quorvex::RememberedThreadCount() = request.threads;

    if (request.beforeExport) request.beforeExport();
    const int done = exporter->DoExport(request.output.c_str(), nullptr, &host, suppressPrompts, 0);
    ExportOutcome outcome = ExportOutcome::Written;
    if (!result.messages.empty())
        outcome = result.messages.front().kind;
    else if (done != 1)
        outcome = ExportOutcome::Refused;  // a refusal that said nothing
    else if (!suppressPrompts && !win32.dialogs.empty() && win32.dialogs.back().result == 0)
        outcome = ExportOutcome::Cancelled;
    if (request.afterExport) request.afterExport(outcome);

    host.ExportEnded();
    exporter.reset();
    result.outcome = outcome;
    if (!result.messages.empty()) {
        result.message = result.messages.front().text;
        result.systemError = result.messages.front().systemError;
    }
    result.allReleased = host.AllReleasedOnce();
    return result;
}

}  // namespace quorvex::standin
