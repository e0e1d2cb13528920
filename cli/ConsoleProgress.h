// Draws the host's progress display on a terminal: the caption and a bar,
// redrawn in place on one line.
#pragma once

#include <cstdio>
#include <string>

#include "standin/StandinHost.h"

namespace standin {

class ConsoleProgress {
public:
    // `out` is borrowed and must outlive this object.
    explicit ConsoleProgress(std::FILE* out) : out_(out) {}

    // Feed it every progress call (StandinHost::onProgress).
    void Handle(const ProgressCall& call);
    // Ends the bar's line so that other output starts on a fresh one.
    void BreakLine();

private:
    void Draw(int percent);

    std::FILE* out_;
    std::string caption_;
    bool lineOpen_ = false;
};

}  // namespace standin
