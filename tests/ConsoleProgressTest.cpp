// The terminal progress bar: phases that open over each other each end their line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <string>

#include "cli/ConsoleProgress.h"

using quorvex::cli::ConsoleProgress;

namespace {

std::string Drawn(const std::vector<quorvex::standin::ProgressCall>& calls, bool breakAtEnd) {
    std::FILE* f = std::tmpfile();
    {
        quorvex::cli::ConsoleProgress progress(f);
        for (const auto& call : calls) progress.Handle(call);
        if (breakAtEnd) progress.BreakLine();
    }
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
}

}  // namespace

TEST(ConsoleProgress, RedrawsInPlaceAndBreaksTheLineBetweenPhases) {
    using quorvex::standin::ProgressCall;
    const std::string text = Drawn({{ProgressCall::Start, "Writing Frames", 0},
                                    {ProgressCall::Update, "", 50},
                                    {ProgressCall::Start, "Calculating..", 0},
                                    {ProgressCall::End, "", 0}},
                                   true);
    // Two lines, one per phase; the second phase keeps its own caption.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    const size_t firstLine = text.find('\n');
    EXPECT_NE(text.substr(0, firstLine).find("Writing Frames    [###############               ]  50%"),
              std::string::npos);
    EXPECT_NE(text.substr(firstLine).find("Calculating..     ["), std::string::npos);
    // Breaking an ended display prints nothing more.
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.substr(text.size() - 2, 1), "s");  // the elapsed time ends each drawing
}

TEST(ConsoleProgress, FinishedPhasesReachAHundredAndCountFrames) {
    using quorvex::standin::ProgressCall;
    std::FILE* f = std::tmpfile();
    quorvex::cli::ConsoleProgress progress(f);
    progress.Handle({ProgressCall::Start, "Writing Frames", 0});
    progress.CountFrames(3);
    progress.Handle({ProgressCall::Update, "", 0});
    progress.Handle({ProgressCall::Update, "", 33});
    progress.Handle({ProgressCall::Start, "Calculating..", 0});  // the frames phase finished
    progress.Handle({ProgressCall::Update, "", 66});
    progress.BreakLine();  // a refusal's message breaks the line where it stands
    progress.Handle({ProgressCall::End, "", 0});
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    const std::string first = text.substr(0, text.find('\n')), second = text.substr(text.find('\n') + 1);
    EXPECT_NE(first.find(" 33%  frame 2/3"), std::string::npos) << first;
    EXPECT_NE(first.find("100%  frame 3/3"), std::string::npos) << first;
    EXPECT_EQ(second.find("100%"), std::string::npos) << second;
    ASSERT_EQ(progress.Phases().size(), 1u);  // the cut-short phase is not timed
    EXPECT_EQ(progress.Phases()[0].caption, "Writing Frames");
}
