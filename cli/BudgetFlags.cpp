#include "cli/BudgetFlags.h"

#include <cinttypes>
#include <climits>

#include "cli/Commands.h"
#include "cli/FlagValues.h"

namespace quorvex::cli {

void AddBudgetFlags(CLI::App* cmd, BudgetFlags& flags) {
    cmd->add_option("--max-triangles", flags.maxTriangles,
                    "Reduce the model to at most N triangles (shared among meshes by their size;\n"
                    "texture seams stay closed, every frame keeps the same vertices)")
        ->type_name("N");
    cmd->add_option("--max-vertices", flags.maxVertices, "Reduce the model to at most N vertices, as --max-triangles")
        ->type_name("N");
    cmd->add_option("--max-skin", flags.maxSkin,
                    "Fit the skin in W x H pixels: pictures scaled down (never up), packed into one\n"
                    "atlas where that keeps more of them than stacking")
        ->type_name("WxH");
    cmd->add_flag("--dry-run", flags.dryRun,
                  "Read, evaluate and reduce, write nothing: print the counts, skin size and exact\n"
                  "file size the export would write (-o may be left out)");
}

std::string ParseBudgetFlags(BudgetFlags& flags) {
    quorvex::budget::Budgets& b = flags.budgets;
    b = quorvex::budget::Budgets{};
    if (!flags.maxTriangles.empty()) {
        if (std::string problem = ParseWholeNumber("--max-triangles", flags.maxTriangles, 1, INT32_MAX, b.maxTriangles);
            !problem.empty())
            return problem + " (a model needs at least one triangle)";
    }
    if (!flags.maxVertices.empty()) {
        if (std::string problem = ParseWholeNumber("--max-vertices", flags.maxVertices, 3, INT32_MAX, b.maxVertices);
            !problem.empty())
            return problem + " (a triangle needs three vertices)";
    }
    if (!flags.maxSkin.empty()) {
        const std::string& text = flags.maxSkin;
        const size_t x = text.find_first_of("xX");
        const std::string wanted = "--max-skin " + text + ": wants WxH, e.g. 256x256, ";
        if (x == std::string::npos) return wanted + "with W from 8 and H from 1 to 65535";
        std::string problem =
            ParseWholeNumber("--max-skin", text.substr(0, x), quorvex::budget::kMinSkinWidth, 65535, b.maxSkinWidth);
        if (!problem.empty())
            return wanted + "W from " + std::to_string(quorvex::budget::kMinSkinWidth) +
                   " to 65535 (the skin's width is a multiple of 8)";
        problem = ParseWholeNumber("--max-skin", text.substr(x + 1), 1, 65535, b.maxSkinHeight);
        if (!problem.empty()) return wanted + "H from 1 to 65535";
    }
    return "";
}

quorvex::budget::FrameSpan ExportSpan(const quorvex::scene::SceneDocument& document, bool framesGiven, int32_t start,
                                      int32_t end, bool singleFrame) {
    if (framesGiven) return {start, end};
    quorvex::budget::FrameSpan span = quorvex::budget::AnimationFrames(document);
    if (singleFrame) span.last = span.first;
    return span;
}

namespace {

void PrintPlan(std::FILE* out, const char* verb, const std::string& output, const quorvex::budget::ModelPlan& plan,
               bool hiPrecision) {
    std::fprintf(out,
                 "%s %s: %" PRId64 " vertices, %" PRId64 " triangles, %" PRId64 " texture coordinates, %" PRId64
                 " frames, skin %" PRId64 "x%" PRId64 "; %" PRIu64 " bytes (%s)\n",
                 verb, output.empty() ? "the model" : output.c_str(), plan.vertices, plan.triangles, plan.texCoords,
                 plan.frames, plan.skinWidth, plan.skinHeight, quorvex::budget::ModelFileBytes(plan, hiPrecision),
                 hiPrecision ? "16-bit" : "8-bit");
}

}  // namespace

int ApplyBudgetFlags(const BudgetFlags& flags, quorvex::scene::SceneDocument& document, quorvex::budget::FrameSpan span,
                     const std::string& scene, const std::string& output, bool hiPrecision, bool verbose, bool quiet,
                     std::FILE* out, std::vector<std::string>& warnings, quorvex::budget::Reductions& reductions) {
    if (flags.budgets.Any()) {
        std::string error;
        if (!quorvex::budget::ApplyBudgets(document, span, flags.budgets, reductions, error)) {
            std::fprintf(stderr, "quorvex export: %s: %s\n", scene.c_str(), error.c_str());
            return kExitFailed;
        }
        warnings.insert(warnings.end(), reductions.geometry.warnings.begin(), reductions.geometry.warnings.end());
        const std::string summary = quorvex::budget::ReductionSummary(reductions);
        if (!summary.empty() && (!quiet || flags.dryRun)) std::fprintf(out, "%s\n", summary.c_str());
    }
    if (flags.dryRun || verbose) {
        const quorvex::budget::ModelPlan plan = quorvex::budget::PlanModel(document, span);
        PrintPlan(out, flags.dryRun ? "Would write" : "Will write", output, plan, hiPrecision);
        // The file indexes vertices and texture coordinates in 16 bits: a dry
        // run does not promise a file the export would refuse.
        const char* over = plan.vertices > 65536    ? "vertices"
                           : plan.texCoords > 65536 ? "texture coordinates"
                                                    : nullptr;
        if (flags.dryRun && over) {
            std::fprintf(stderr,
                         "quorvex export: %s: the export would be refused: the model has %" PRId64
                         " %s; at most 65536 fit\n",
                         scene.c_str(), plan.vertices > 65536 ? plan.vertices : plan.texCoords, over);
            return kExitFailed;
        }
    }
    return flags.dryRun ? kExitSuccess : kBudgetContinue;
}

}  // namespace quorvex::cli
