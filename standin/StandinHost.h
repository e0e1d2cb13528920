// The stand-in host: serves a SceneDocument through the host interface, as the
// modelling host would, and keeps count of everything it hands out so tests can
// prove that every object the exporter was given to own is released exactly
// once and no host-owned object ever is.
//
// Memory stays bounded over any number of exports on one host: what the
// caller released is freed by ExportEnded, and the logs are kept only in a
// probe a test attaches (standin/HostProbe.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scene/Pictures.h"
#include "scene/SceneDocument.h"
#include "plugin/HostServices.h"

namespace quorvex::standin {
using quorvex::scene::SceneDocument;

struct HostCounters {
    int conversions = 0;          // converted copies handed out (caller-owned)
    int conversionsReleased = 0;  // converted copies released (first release each)
    int hostOwnedReleases = 0;    // DeleteThis on a host-owned object: always a fault
    int doubleReleases = 0;       // a second DeleteThis on any handed-out object
    int bitmapsLoaded = 0;
    int bitmapsReleased = 0;
    int clipsMade = 0;
    int clipsReleased = 0;
    int noteTracksMade = 0;
    int noteTracksDeleted = 0;
    int initCustomControlsCalls = 0;
    int centerWindowCalls = 0;
};

struct ProgressCall {
    enum Kind { Start, Update, End } kind;
    std::string caption;  // Start: the caption; Update: the caption passed, or empty
    int percent = 0;      // Update only
};

struct HostProbe;

class StandinHost : public Interface, public HostGlobals {
public:
    explicit StandinHost(SceneDocument document);
    ~StandinHost() override;
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    // Interface
    HWND GetMAXHWnd() override;
    INode* GetRootNode() override;
    Interval GetAnimRange() override;
    int ProgressStart(const char* caption, bool canCancel, ProgressRoutine fn, void* arg) override;
    void ProgressUpdate(int percent, bool showPercent, const char* caption) override;
    void ProgressEnd() override;

    // HostGlobals
    int GetTicksPerFrame() override;
    void InitCustomControls(HINSTANCE instance) override;
    void CenterWindow(HWND window, HWND parent) override;
    BitmapManager* Manager() override;
    DefNoteTrack* NewDefaultNoteTrack() override;

    const SceneDocument& Document() const;
    const HostCounters& Counters() const;
    // True when every caller-owned object handed out (converted copies, bitmaps,
    // clips, note tracks) was released exactly once and no host-owned object was.
    bool AllReleasedOnce() const;

    // Called on every progress call (the command line draws its bar with it).
    std::function<void(const ProgressCall&)> onProgress;
    // Logs and settings for tests; not owned, may be null (then nothing is logged).
    HostProbe* probe = nullptr;

    // Call when an export has ended: frees every handed-out object the caller
    // has released (converted copies, bitmaps, clips, note tracks). Objects
    // not yet released stay, so AllReleasedOnce still reports them; the
    // counters are kept. Until this call a second release of an object is
    // counted rather than touching freed memory.
    void ExportEnded();
    // Handed-out objects the host still holds, released or not.
    size_t HeldObjects() const;
    // Called when a picture file cannot be loaded, with the reason (naming the
    // path); the bitmap manager then reports the load as failed.
    std::function<void(const std::string&)> onPictureError;
    // True: a picture file outside the document's folder (scene/FolderCheck.h)
    // is not read; its load fails through onPictureError, as one that cannot
    // be read does.
    bool confinePictures = false;

    // The node with this name (first in walk order); null if none.
    INode* FindNode(const std::string& name);

private:
    void Progress(ProgressCall::Kind kind, const char* caption, int percent) noexcept;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Installs a host as the process-wide host globals for the lifetime of this
// object and restores the previous one afterwards.
class HostGlobalsScope {
public:
    explicit HostGlobalsScope(HostGlobals* host) : previous_(SetHostGlobals(host)) {}
    ~HostGlobalsScope() { SetHostGlobals(previous_); }
    HostGlobalsScope(const HostGlobalsScope&) = delete;
    HostGlobalsScope& operator=(const HostGlobalsScope&) = delete;

private:
    HostGlobals* previous_;
};

}  // namespace quorvex::standin
