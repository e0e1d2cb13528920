// One export as a tool runs it: the stand-in host serves a scene document,
// the scripted Win32 answers the options dialog (or the options are set and
// prompts suppressed), and the exporter is loaded and called the way the
// modelling host does it (DllMain, LibClassDesc(0), Create, DoExport).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plugin/Exporter.h"
#include "scene/SceneDocument.h"
#include "standin/StandinHost.h"
#include "standin/Win32Standin.h"

namespace quorvex::standin {
using quorvex::scene::SceneDocument;

// How an export ended.
enum class ExportOutcome {
    Written,          // the file is in place
    Cancelled,        // the options dialog was cancelled; nothing written, nothing said
    Refused,          // the exporter refused the scene; a message box said why
    NotEnoughMemory,  // refused for want of memory (the exporter's box, or no exporter could be made)
    CannotWrite,      // the file could not be written; a message box said so
};

// A message box the export showed, with what it means.
struct ExportMessage {
    std::string text;     // exactly as the exporter wrote it (at most 255 bytes)
    std::string caption;  // "Aborting !" for every refusal
    ExportOutcome kind;   // Refused, NotEnoughMemory or CannotWrite
    int systemError;      // CannotWrite: the system's reason, an errno value (EIO when it gave none); else 0
};

struct ExportRequest {
    std::string output;  // the path DoExport is given
    // Set: the export uses these options with prompts suppressed. Unset: the
    // options dialog opens as in the host and `dialog` answers it.
    std::optional<quorvex::ExportOptionsRecord> options;
    std::vector<DialogStep> dialog;
    int32_t threads = 0;  // threads working on the frames; 0: one per core
    // Picture files outside the document's folder are not read (StandinHost::confinePictures).
    bool confinePictures = false;
    // Each may be empty. Called on the calling thread, while the export runs.
    std::function<void(const ProgressCall&)> onProgress;
    std::function<void(const ExportMessage&)> onMessage;
    std::function<void(const std::string& why)> onPictureError;  // a picture that cannot be loaded
    // Right before DoExport, and right after it returns with how the export
    // ended, before anything else happens (nothing is allocated in between):
    // for callers that watch the export call alone.
    std::function<void()> beforeExport;
    std::function<void(ExportOutcome)> afterExport;
};

struct ExportResult {
    ExportOutcome outcome = ExportOutcome::NotEnoughMemory;
    // Refused, NotEnoughMemory, CannotWrite: the first message box's text, or
    // "the exporter could not be created"; empty otherwise.
    std::string message;
    int systemError = 0;  // CannotWrite: as ExportMessage::systemError
    // Every message box, in order (a refusal shows exactly one).
    std::vector<ExportMessage> messages;
    // The host's objects were each released exactly once (StandinHost::AllReleasedOnce).
    bool allReleased = false;
};

// Runs one export of `document` on a stand-in host made for it.
ExportResult RunExportSession(SceneDocument document, const ExportRequest& request);

// The same on a host the caller keeps, e.g. for repeated exports of one
// scene; the request's callbacks and confinePictures are given to the host,
// and ExportEnded is called before returning.
ExportResult RunExportSession(StandinHost& host, const ExportRequest& request);

}  // namespace quorvex::standin
