#include "cli/ConsoleProgress.h"

namespace standin {

namespace {
constexpr int BarWidth = 30;
}

void ConsoleProgress::Draw(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    const int filled = percent * BarWidth / 100;
    std::fprintf(out_, "\r%-16s [%s%s] %3d%%", caption_.c_str(), std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(BarWidth - filled), ' ').c_str(), percent);
    std::fflush(out_);
    lineOpen_ = true;
}

void ConsoleProgress::BreakLine() {
    if (!lineOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
}

void ConsoleProgress::Handle(const ProgressCall& call) {
    switch (call.kind) {
        case ProgressCall::Start:
            // A phase may open over the previous one without an end of its own.
            BreakLine();
            caption_ = call.caption;
            Draw(0);
            break;
        case ProgressCall::Update:
            if (!call.caption.empty()) caption_ = call.caption;
            Draw(call.percent);
            break;
        case ProgressCall::End: BreakLine(); break;
    }
}

}  // namespace standin
