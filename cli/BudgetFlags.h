// The budget flags of `quorvex export` (--max-triangles, --max-vertices,
// --max-skin, --dry-run): read before any loading, applied to the loaded
// scene before the exporter sees it, and the lines that say what they did.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "budget/Budgets.h"

namespace quorvex::cli {

struct BudgetFlags {
    std::string maxTriangles, maxVertices, maxSkin;  // as given; empty: not given
    bool dryRun = false;
    quorvex::budget::Budgets budgets;  // filled by ParseBudgetFlags
};

// Registers the four flags on `cmd`; `flags` must outlive it.
void AddBudgetFlags(CLI::App* cmd, BudgetFlags& flags);

// Reads the given values into flags.budgets. Empty, or the bad-usage message
// naming the flag and why the budget cannot be met (a triangle budget below
// 1, fewer than 3 vertices, a skin narrower than 8 pixels).
std::string ParseBudgetFlags(BudgetFlags& flags);

// What the export goes on to do after ApplyBudgetFlags.
constexpr int kBudgetContinue = -1;

// The frames an export takes: --frames START:END when given, else the scene's
// animation range (only its first frame with --single-frame).
quorvex::budget::FrameSpan ExportSpan(const quorvex::scene::SceneDocument& document, bool framesGiven, int32_t start,
                                      int32_t end, bool singleFrame);

// Applies the budgets to `document` for an export of `span` to `output` (empty
// under a dry run without -o). Prints to `out` the summary of the reductions
// (unless `quiet`), the planned file (with `verbose` or under a dry run), and
// appends warnings to `warnings`. Returns kBudgetContinue, kExitSuccess when a
// dry run is done, or kExitFailed (with the message on standard error) when a
// budget cannot be met or a dry run's model has more than 65536 vertices or
// texture coordinates, which the export refuses. `reductions` gets what was
// done.
int ApplyBudgetFlags(const BudgetFlags& flags, quorvex::scene::SceneDocument& document, quorvex::budget::FrameSpan span,
                     const std::string& scene, const std::string& output, bool hiPrecision, bool verbose, bool quiet,
                     std::FILE* out, std::vector<std::string>& warnings, quorvex::budget::Reductions& reductions);

}  // namespace quorvex::cli
