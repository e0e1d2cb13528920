// Draws the host's progress display on a terminal: the caption, a bar, the
// frame counter of the phases that go frame by frame and the time the phase
// has taken, redrawn in place on one line. A phase that finishes is drawn at
// 100 % before its line ends; one cut short (a refusal) keeps where it stood.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "standin/StandinHost.h"

namespace quorvex::cli {
using quorvex::standin::ProgressCall;

struct PhaseTime {
    std::string caption;
    double seconds = 0;
};

class ConsoleProgress {
public:
    // `out` is borrowed and must outlive this object; null draws nothing but
    // still times the phases.
    explicit ConsoleProgress(std::FILE* out) : out_(out) {}

    // Feed it every progress call (StandinHost::onProgress).
    void Handle(const ProgressCall& call);
    // The current phase counts frames up to `total` (0: it does not); every
    // update is one more frame done. Call it after the phase's Start.
    void CountFrames(int64_t total) { frameTotal_ = total; }
    // A phase of the command's own, such as loading the scene; Finish ends it.
    void Begin(const std::string& caption);
    void Finish();
    // Ends the bar's line as it stands, so that other output starts on a fresh one.
    void BreakLine();
    // True while a bar's line is open.
    bool LineOpen() const { return lineOpen_; }
    // Every phase that finished, in order, with the time it took.
    const std::vector<PhaseTime>& Phases() const { return phases_; }

private:
    void Draw(int percent);
    void Open(const std::string& caption);
    void Close(bool finished);

    std::FILE* out_;
    std::string caption_;
    bool phaseOpen_ = false;
    bool lineOpen_ = false;
    int percent_ = 0;
    int64_t frameTotal_ = 0;
    int64_t framesDone_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::vector<PhaseTime> phases_;
};

}  // namespace quorvex::cli
