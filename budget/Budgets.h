// Budgets a model must meet before the exporter sees it: triangles, vertices
// and skin size, applied to the scene document, and the record of what they
// changed, for the command's summary and reports.
#pragma once

#include <cstdint>
#include <string>

#include "budget/MeshReduction.h"
#include "budget/ModelPlan.h"
#include "budget/SkinBudget.h"
#include "scene/SceneDocument.h"

namespace quorvex::budget {
using quorvex::scene::SceneDocument;


// 0: no budget of that kind.
struct Budgets {
    int64_t maxTriangles = 0;
    int64_t maxVertices = 0;
    int64_t maxSkinWidth = 0;  // with maxSkinHeight: both set or both 0
    int64_t maxSkinHeight = 0;
    bool Any() const { return maxTriangles > 0 || maxVertices > 0 || maxSkinWidth > 0; }
};

// What the budgets changed; each part says whether it reduced anything.
struct Reductions {
    GeometryReport geometry;
    SkinReport skin;
    bool Any() const { return geometry.reduced || skin.reduced; }
};

// Applies `budgets` to `document` for an export of `span`: the skin first,
// then triangles and vertices. Budgets met already change nothing. False,
// with `error` (without the file name), when a budget cannot be met.
bool ApplyBudgets(SceneDocument& document, FrameSpan span, const Budgets& budgets, Reductions& reductions,
                  std::string& error);

// One line naming every reduction with its counts before and after, e.g.
// "Reduced 121496 -> 4998 triangles (largest error 0.8 % of the model's size
// over all frames); skin 2048x1024 -> 256x128"; empty when nothing changed.
std::string ReductionSummary(const Reductions& reductions);

}  // namespace quorvex::budget
