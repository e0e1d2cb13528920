#include "cli/ConsoleProgress.h"

namespace quorvex::cli {
using quorvex::standin::ProgressCall;

namespace {
constexpr int kBarWidth = 30;
}

void ConsoleProgress::Draw(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    percent_ = percent;
    if (!out_) return;
    const int filled = percent * kBarWidth / 100;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::string frames;
    if (frameTotal_ > 0)
        frames =
            "  frame " + std::to_string(percent == 100 ? frameTotal_ : framesDone_) + "/" + std::to_string(frameTotal_);
    // Within a phase every drawing is at least as long as the one before, so
    // each covers the last.
    std::fprintf(out_, "\r%-17s [%s%s] %3d%%%s  %.1fs", caption_.c_str(),
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kBarWidth - filled), ' ').c_str(), percent, frames.c_str(), seconds);
    std::fflush(out_);
    lineOpen_ = true;
}

void ConsoleProgress::Open(const std::string& caption) {
    caption_ = caption;
    phaseOpen_ = true;
    frameTotal_ = 0;
    framesDone_ = 0;
    started_ = std::chrono::steady_clock::now();
    Draw(0);
}

void ConsoleProgress::Close(bool finished) {
    if (!phaseOpen_) return;
    phaseOpen_ = false;
    if (finished) {
        if (lineOpen_) Draw(100);
        phases_.push_back(
            {caption_, std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count()});
    }
    BreakLine();
}

void ConsoleProgress::BreakLine() {
    if (!lineOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
}

void ConsoleProgress::Begin(const std::string& caption) {
    Close(true);
    Open(caption);
}

void ConsoleProgress::Finish() { Close(true); }

void ConsoleProgress::Handle(const ProgressCall& call) {
    switch (call.kind) {
        case ProgressCall::Start:
            // A phase may open over the previous one without an end of its own:
            // the earlier one is then finished.
            Close(true);
            Open(call.caption);
            break;
        case ProgressCall::Update:
            if (!call.caption.empty()) caption_ = call.caption;
            ++framesDone_;
            Draw(call.percent);
            break;
        case ProgressCall::End:
            // After a refusal the line was broken first; the phase did not finish.
            Close(lineOpen_ || !out_);
            break;
    }
}

}  // namespace quorvex::cli
