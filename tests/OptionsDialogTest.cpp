// The export options dialog, played through the scripted Win32 stand-in
// against a host that only knows its animation range and tick rate.
#include <gtest/gtest.h>

#include <vector>

#include "export/ExportState.h"
#include "standin/Win32Standin.h"
#include "ui/Resource.h"

using namespace quorvex;

namespace {

using quorvex::standin::DialogStep;

class RangeHost : public Interface {
public:
    HWND GetMAXHWnd() override { return nullptr; }
    INode* GetRootNode() override { return nullptr; }
    Interval GetAnimRange() override {
        ++rangeCalls;
        return range;
    }
    int ProgressStart(const char*, bool, ProgressRoutine, void*) override { return 1; }
    void ProgressUpdate(int, bool, const char*) override {}
    void ProgressEnd() override {}

    Interval range{0, 16000};
    int rangeCalls = 0;
};

// Answers the tick rate from a list, one entry per call (the last one repeats),
// and records where the dialog was centred.
class TickHost : public HostGlobals {
public:
    int GetTicksPerFrame() override {
        int answer = answers[calls < answers.size() ? calls : answers.size() - 1];
        ++calls;
        return answer;
    }
    void InitCustomControls(HINSTANCE) override {}
    void CenterWindow(HWND window, HWND parent) override { centred.push_back({window, parent}); }
    BitmapManager* Manager() override { return nullptr; }
    DefNoteTrack* NewDefaultNoteTrack() override { return nullptr; }

    std::vector<int> answers{160};
    size_t calls = 0;
    std::vector<std::pair<HWND, HWND>> centred;
};

// Forwards to the dialog procedure and remembers each message and its answer.
struct Delivery {
    HWND dialog;
    UINT message;
    WPARAM wParam;
    INT_PTR answer;
};
std::vector<Delivery> deliveries;

INT_PTR RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR answer = ExportOptionsDlgProc(dialog, message, wParam, lParam);
    deliveries.push_back({dialog, message, wParam, answer});
    return answer;
}

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        savedOptions_ = exportState.options;
        previousHost_ = SetHostGlobals(&ticks);
        deliveries.clear();
    }
    void TearDown() override {
        SetHostGlobals(previousHost_);
        exportState.options = savedOptions_;
    }

    INT_PTR Open(std::vector<DialogStep> script) {
        win32.script = std::move(script);
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), kParent, RecordingProc,
                               reinterpret_cast<LPARAM>(dialogHost));
    }

    static inline const HWND kParent = reinterpret_cast<HWND>(uintptr_t{0x4242});

    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope win32Scope{&win32};
    RangeHost host;
    TickHost ticks;
    Interface* dialogHost = &host;  // what the driver hands the dialog

private:
    ExportOptionsRecord savedOptions_{};
    HostGlobals* previousHost_ = nullptr;
};

TEST_F(OptionsDialog, FrameRangeIsTheAnimationRangeTruncatedTowardZero) {
    const struct {
        TimeValue start, end;
        int32_t startFrame, endFrame;
    } cases[] = {
        {0, 16000, 0, 100},  // 101 frames
        {0, 250, 0, 1},      // a part frame is cut
        {-250, 250, -1, 1},  // toward zero, not down
        {-480, -160, -3, -1}, {-159, 159, 0, 0},
    };
    for (const auto& c : cases) {
        host.range = {c.start, c.end};
        EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
        EXPECT_EQ(exportState.options.startFrame, c.startFrame) << c.start;
        EXPECT_EQ(exportState.options.endFrame, c.endFrame) << c.end;
    }
}

TEST_F(OptionsDialog, AsksTheTickRateForEachDivision) {
    host.range = {1600, 1600};
    ticks.answers = {160, 80};
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
    EXPECT_EQ(ticks.calls, 2u);
    EXPECT_EQ(host.rangeCalls, 1);
    EXPECT_EQ(exportState.options.startFrame, 10);
    EXPECT_EQ(exportState.options.endFrame, 20);
}

TEST_F(OptionsDialog, TickRateOfZeroOrBelowGivesFrameZeroInsteadOfDividing) {
    host.range = {-4800, 16000};
    for (int rate : {0, -160}) {
        ticks.answers = {rate};
        exportState.options.startFrame = 7;
        exportState.options.endFrame = 9;
        EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1) << rate;
        EXPECT_EQ(exportState.options.startFrame, 0) << rate;
        EXPECT_EQ(exportState.options.endFrame, 0) << rate;
    }
}

TEST_F(OptionsDialog, SingleFrameKeepsOnlyTheFirstFrame) {
    host.range = {320, 16000};
    EXPECT_EQ(Open({{DialogStep::Toggle, IDC_HI_PRECISION}, {DialogStep::Press, IDC_SINGLE_FRAME}}), 1);
    EXPECT_EQ(exportState.options.startFrame, 2);
    EXPECT_EQ(exportState.options.endFrame, 2);
    EXPECT_EQ(exportState.options.hiPrecision, 1);
    EXPECT_EQ(exportState.options.alphaChannel, 0);
}

TEST_F(OptionsDialog, CancelLeavesWhatTheDialogAlreadySet) {
    host.range = {-480, 16000};
    EXPECT_EQ(Open({{DialogStep::Toggle, IDC_ALPHA_CHANNEL}, {DialogStep::Press, IDCANCEL}}), 0);
    EXPECT_EQ(exportState.options.alphaChannel, 1);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
    EXPECT_EQ(exportState.options.startFrame, -3);
    EXPECT_EQ(exportState.options.endFrame, 100);
    ASSERT_EQ(win32.dialogs.size(), 1u);
    EXPECT_EQ(win32.dialogs[0].resourceId, IDD_EXPORT_OPTIONS);
    EXPECT_EQ(win32.dialogs[0].result, 0);
}

TEST_F(OptionsDialog, EveryOpeningStartsWithBothOptionsOff) {
    exportState.options.hiPrecision = 1;
    exportState.options.alphaChannel = 1;
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
    EXPECT_EQ(exportState.options.alphaChannel, 0);

    EXPECT_EQ(Open({{DialogStep::Toggle, IDC_HI_PRECISION},
                    {DialogStep::Toggle, IDC_ALPHA_CHANNEL},
                    {DialogStep::Press, IDOK}}),
              1);
    EXPECT_EQ(exportState.options.hiPrecision, 1);
    EXPECT_EQ(exportState.options.alphaChannel, 1);

    // The boxes are shown cleared too, so confirming untouched exports 8-bit.
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
    EXPECT_EQ(exportState.options.alphaChannel, 0);
    EXPECT_EQ(win32.CheckState(IDC_HI_PRECISION), BST_UNCHECKED);
    EXPECT_EQ(win32.CheckState(IDC_ALPHA_CHANNEL), BST_UNCHECKED);
}

TEST_F(OptionsDialog, CheckingAndUncheckingLeavesTheOptionOff) {
    EXPECT_EQ(Open({{DialogStep::Toggle, IDC_HI_PRECISION},
                    {DialogStep::Toggle, IDC_ALPHA_CHANNEL},
                    {DialogStep::Toggle, IDC_HI_PRECISION},
                    {DialogStep::Press, IDOK}}),
              1);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
    EXPECT_EQ(exportState.options.alphaChannel, 1);
}

TEST_F(OptionsDialog, HandledMessagesAnswerOneAndOthersZero) {
    host.range = {0, 1600};
    // 1234 is no control of the dialog: answered, but nothing changes and the
    // dialog stays open, so the script runs out without an ending.
    EXPECT_EQ(Open({{DialogStep::Toggle, IDC_HI_PRECISION}, {DialogStep::Press, 1234}}), 0);
    EXPECT_EQ(exportState.options.hiPrecision, 1);
    EXPECT_EQ(exportState.options.alphaChannel, 0);
    EXPECT_EQ(exportState.options.startFrame, 0);
    EXPECT_EQ(exportState.options.endFrame, 10);
    ASSERT_EQ(deliveries.size(), 3u);
    for (const Delivery& d : deliveries) EXPECT_EQ(d.answer, 1) << d.message << " " << d.wParam;

    const HWND dialog = deliveries[0].dialog;
    const ExportOptionsRecord before = exportState.options;
    for (UINT message : {0x0000u /* null */, 0x0010u /* close */, 0x0200u /* mouse move */, 0x0112u}) {
        EXPECT_EQ(ExportOptionsDlgProc(dialog, message, IDOK, 0), 0) << message;
    }
    EXPECT_EQ(exportState.options.hiPrecision, before.hiPrecision);
    EXPECT_EQ(exportState.options.endFrame, before.endFrame);
}

TEST_F(OptionsDialog, CommandsLookOnlyAtTheControlId) {
    // A notification code in the high word changes nothing.
    DLGPROC proc = [](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        if (m == WM_COMMAND) w |= WPARAM{5} << 16;
        return ExportOptionsDlgProc(d, m, w, l);
    };
    win32.script = {{DialogStep::Toggle, IDC_ALPHA_CHANNEL}, {DialogStep::Press, IDC_SINGLE_FRAME}};
    host.range = {1600, 3200};
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(IDD_EXPORT_OPTIONS), kParent, proc,
                              reinterpret_cast<LPARAM>(dialogHost)),
              1);
    EXPECT_EQ(exportState.options.alphaChannel, 1);
    EXPECT_EQ(exportState.options.endFrame, 10);
}

TEST_F(OptionsDialog, CentresOnItsParent) {
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
    ASSERT_EQ(ticks.centred.size(), 1u);
    ASSERT_FALSE(deliveries.empty());
    EXPECT_EQ(ticks.centred[0].first, deliveries[0].dialog);
    EXPECT_EQ(ticks.centred[0].second, kParent);
    EXPECT_NE(kParent, deliveries[0].dialog);
}

TEST_F(OptionsDialog, ScriptStopsAtTheEndOfTheDialog) {
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}, {DialogStep::Toggle, IDC_HI_PRECISION}, {DialogStep::Press, IDCANCEL}}),
              1);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
    EXPECT_EQ(win32.CheckState(IDC_HI_PRECISION), BST_UNCHECKED);
    ASSERT_EQ(deliveries.size(), 2u);  // initialisation and the one press
}

TEST_F(OptionsDialog, WithoutHostLeavesTheRangeAlone) {
    dialogHost = nullptr;
    exportState.options.startFrame = 4;
    exportState.options.endFrame = 8;
    exportState.options.hiPrecision = 1;
    EXPECT_EQ(Open({{DialogStep::Press, IDOK}}), 1);
    EXPECT_EQ(exportState.options.startFrame, 4);
    EXPECT_EQ(exportState.options.endFrame, 8);
    EXPECT_EQ(exportState.options.hiPrecision, 0);
}

}  // namespace
