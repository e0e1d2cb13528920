// One export through the session: each way an export can end, as the
// session's result tells it.
#include "standin/ExportSession.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <optional>
#include <filesystem>
#include <string>

#include "mdl/MdlReader.h"
#include "tests/support/SceneBuilder.h"
#include "ui/Resource.h"

using namespace quorvex;
using quorvex::standin::ExportOutcome;

namespace fs = std::filesystem;

TEST(ExportSession, EachEndIsTold) {
    const fs::path dir = fs::temp_directory_path() / ("quorvex-session-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string out = (dir / "out.mdl").string();
    const std::string unwritable = (dir / "missing" / "out.mdl").string();
    struct Case {
        const char* what;
        bool untextured;                             // a mesh without a material: refused by the scan
        std::optional<ExportOptionsRecord> options;  // unset: the dialog presses `press`
        int press;
        std::string output;
        ExportOutcome outcome;
        std::string message;
        int systemError;
    } cases[] = {
        {"options", false, ExportOptionsRecord{0, 1, 0, 0}, 0, out, ExportOutcome::Written, "", 0},
        {"dialog", false, std::nullopt, IDOK, out, ExportOutcome::Written, "", 0},
        {"cancelled", false, std::nullopt, IDCANCEL, out, ExportOutcome::Cancelled, "", 0},
        {"refused", true, ExportOptionsRecord{0, 1, 0, 0}, 0, out, ExportOutcome::Refused, "Hull: No Material", 0},
        {"memory", false, ExportOptionsRecord{INT32_MIN, INT32_MAX, 0, 0}, 0, out, ExportOutcome::NotEnoughMemory,
         kNoMemoryText, 0},
        {"unwritable", false, ExportOptionsRecord{0, 1, 0, 0}, 0, unwritable, ExportOutcome::CannotWrite,
         "Cannot write " + unwritable, ENOENT},
    };
    for (const Case& c : cases) {
        fs::remove(out);
        std::vector<quorvex::scene::NodeData> nodes;
        if (c.untextured)
            nodes.push_back(quorvex::testkit::MeshNode("Hull", quorvex::testkit::TriangleMesh(), std::nullopt));
        quorvex::standin::ExportRequest request;
        request.output = c.output;
        request.options = c.options;
        request.dialog = {{quorvex::standin::DialogStep::Press, c.press}};
        request.threads = 2;
        int shown = 0;
        request.onMessage = [&shown](const quorvex::standin::ExportMessage&) { ++shown; };
        const quorvex::standin::ExportResult result =
            quorvex::standin::RunExportSession(quorvex::testkit::Scene(nodes, 160, {0, 160}), request);
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.message, c.message) << c.what;
        EXPECT_EQ(result.systemError, c.systemError) << c.what;
        EXPECT_EQ(shown, c.message.empty() ? 0 : 1) << c.what;
        EXPECT_TRUE(result.allReleased) << c.what;
        EXPECT_EQ(RememberedThreadCount(), 2) << c.what;
        EXPECT_EQ(ReadMdlFile(c.output.c_str()).ok(), c.outcome == ExportOutcome::Written) << c.what;
    }
    RememberedThreadCount() = 0;
    fs::remove_all(dir);
}
