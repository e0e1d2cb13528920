// Ctrl-C at chosen moments of an export, delivered by strace when a given
// system call is entered: until the new model file replaces the old one the
// command says "interrupted", exits 130 and leaves the old file; from the
// rename on it leaves the new file and exits 0, saying so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "mdl/MdlReader.h"
#include "tests/CliRunner.h"
#include "tests/ScratchDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene = QUORVEX_SOURCE_DIR "/tests/fixtures/triangle.scene.json";
// The calls an export makes around its output, in the order it makes them.
constexpr const char* kCalls = "openat,read,write,close,rename,renameat,renameat2";

bool HaveStrace() { return std::system("strace -o /dev/null true >/dev/null 2>&1") == 0; }

struct InterruptTest : ::testing::Test {
    ScratchDir scratch{"interrupt"};
    const std::filesystem::path& dir = scratch.path;
    void SetUp() override {
        if (!HaveStrace()) GTEST_SKIP() << "strace is not installed (scripts/setup.sh installs it)";
    }

    // Exports over an old file with SIGINT delivered on entering the
    // `when`-th of `calls`.
    CliResult ExportInterrupted(const std::string& calls, int when) {
        std::ofstream(dir / "out.mdl") << "old";
        // LeakSanitizer cannot run under a tracer; the sanitizer build checks leaks elsewhere.
        const std::string strace = "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e inject=" + calls +
                                   ":signal=SIGINT:when=" + std::to_string(when);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const std::string command = strace + " " + ShellQuote(QUORVEX_CLI) + " export " + ShellQuote(kScene) +
                                    " --frames 0:2 -o " + ShellQuote((dir / "out.mdl").string()) + " >" +
                                    ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
        CliResult result;
        const int raw = std::system(command.c_str());
        // Killed before its handler was installed counts as 130, without a word.
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
        result.out = ReadWholeFile(out);
        result.err = ReadWholeFile(err);
        return result;
    }
};

TEST_F(InterruptTest, EveryMomentLeavesTheOldFileOrTheNewOneNeverAMix) {
    // How often one export makes each call, counted by strace itself; strace
    // counts each call on its own, so each is tried at its last few uses,
    // those around the output (creating, writing, reading back, renaming).
    const fs::path log = dir / "calls.txt";
    const std::string count = "ASAN_OPTIONS=detect_leaks=0 strace -o " + ShellQuote(log.string()) +
                              " -e trace=" + kCalls + " " + ShellQuote(QUORVEX_CLI) + " export " + ShellQuote(kScene) +
                              " --frames 0:2 -o " + ShellQuote((dir / "counted.mdl").string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(count.c_str()), 0);
    std::map<std::string, int> uses;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t paren = line.find('(');
        if (paren != std::string::npos && line.find("+++") == std::string::npos) ++uses[line.substr(0, paren)];
    }
    in.close();
    fs::remove(log);
    fs::remove(dir / "counted.mdl");
    ASSERT_EQ(uses.size(), 5u);

    const std::string written = "quorvex export: " + (dir / "out.mdl").string() + " was written";
    int interrupted = 0, afterRename = 0;
    for (const auto& [call, n] : uses) {
        for (int when = std::max(1, n - 5); when <= n; ++when) {
            const CliResult r = ExportInterrupted(call, when);
            const std::string file = ReadWholeFile(dir / "out.mdl");
            // Only the target and the two capture files: no temporary file is left.
            EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3) << call << when;
            // Never "interrupted" over a replaced target.
            if (r.status == 130) {
                ++interrupted;
                EXPECT_EQ(file, "old") << call << when;
                // (Silent when the signal came before the handler was installed.)
                EXPECT_TRUE(r.err.empty() || r.err == "quorvex export: interrupted\n") << call << when << r.err;
                continue;
            }
            ASSERT_EQ(r.status, 0) << call << when << ": " << r.err;
            EXPECT_TRUE(quorvex::ReadMdlFile((dir / "out.mdl").string().c_str()).ok()) << call << when;
            // At the rename the signal waits until the new file is known to be in place.
            if (call.rfind("rename", 0) == 0) {
                EXPECT_EQ(r.out, "");
            }
            EXPECT_EQ(r.err, written + "; stopped before the summary\n") << call << when;
            ++afterRename;
        }
    }
    EXPECT_GE(interrupted, 5);
    EXPECT_GE(afterRename, 2);  // the rename and the summary
}

}  // namespace
