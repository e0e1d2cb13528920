#include "budget/Budgets.h"

#include <cstdio>

namespace quorvex::budget {
using quorvex::scene::SceneDocument;


bool ApplyBudgets(SceneDocument& document, FrameSpan span, const Budgets& budgets, Reductions& reductions,
                  std::string& error) {
    reductions = Reductions{};
    if (budgets.maxSkinWidth > 0 &&
        !FitSkin(document, budgets.maxSkinWidth, budgets.maxSkinHeight, reductions.skin, error))
        return false;
    if (budgets.maxTriangles > 0 || budgets.maxVertices > 0)
        return ReduceGeometry(document, span, {budgets.maxTriangles, budgets.maxVertices}, reductions.geometry,
                              error);
    return true;
}

std::string ReductionSummary(const Reductions& reductions) {
    std::string parts;
    auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : ", ") + part; };
    const GeometryReport& g = reductions.geometry;
    if (g.reduced) {
        add(std::to_string(g.trianglesBefore) + " -> " + std::to_string(g.trianglesAfter) + " triangles");
        add(std::to_string(g.verticesBefore) + " -> " + std::to_string(g.verticesAfter) + " vertices");
        char error[96];
        std::snprintf(error, sizeof error, " (largest error %.2g %% of the model's size over all frames)",
                      g.largestError * 100.0);
        parts += error;
    }
    const SkinReport& s = reductions.skin;
    if (s.reduced) {
        std::string skin = "skin " + std::to_string(s.widthBefore) + "x" + std::to_string(s.heightBefore) + " -> " +
                           std::to_string(s.widthAfter) + "x" + std::to_string(s.heightAfter);
        if (s.atlas) skin += " (" + std::to_string(s.pictures) + " pictures packed into one)";
        parts += (parts.empty() ? "" : "; ") + skin;
    }
    return parts.empty() ? "" : "Reduced " + parts;
}

}  // namespace quorvex::budget
