// Triangle and vertex budgets: the exported meshes reduced with meshoptimizer's
// simplifier before the exporter sees them. Each mesh's topology is reduced
// once, from its bind pose (ObjectData::restPose) where the source has one,
// else from its pose at the first exported frame, and every key of the mesh
// keeps the same vertices, so the animation stays a vertex animation of one
// mesh. Texture seams stay closed: a corner's position and texture vertex are
// simplified together, and corners that share a position are one seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "budget/ModelPlan.h"
#include "scene/SceneDocument.h"

namespace quorvex::budget {
using quorvex::scene::SceneDocument;


// 0: no budget of that kind.
struct GeometryBudget {
    int64_t maxTriangles = 0;
    int64_t maxVertices = 0;
};

// What a reduction did; before and after are counts over all exported meshes.
struct GeometryReport {
    bool reduced = false;  // false: the budget was met already and nothing changed
    int64_t trianglesBefore = 0, trianglesAfter = 0;
    int64_t verticesBefore = 0, verticesAfter = 0;
    int64_t texCoordsBefore = 0, texCoordsAfter = 0;
    int64_t meshesReduced = 0;
    // Largest distance from an original vertex to the reduced surface over
    // all exported frames, as a fraction of the model's size (the diagonal of
    // its box over those frames), and the frame where it occurs.
    double largestError = 0.0;
    // The largest, over the reduced meshes, of the same distance in the pose
    // each was reduced from, as a fraction of the mesh's size in that pose.
    double referenceError = 0.0;
    int32_t worstFrame = 0;
    // One line each, without the file name: a mesh whose error in some frame
    // is over 1 % of its size and over twice that of the pose it was reduced
    // from (a deforming part lost detail); a mesh whose topology changes
    // between keys, kept as it is.
    std::vector<std::string> warnings;
};

// Reduces the exported meshes of `document` (over the frames of `span`) until
// the model holds at most `budget` triangles and vertices. The budget is shared
// among meshes in proportion to their triangles; a mesh that cannot shrink to
// its share keeps what it reached and the others share the rest. A budget the
// model meets already changes nothing. False, with `error` saying how far it
// got, when the budget cannot be met; `document` may then be partly reduced.
bool ReduceGeometry(SceneDocument& document, FrameSpan span, const GeometryBudget& budget, GeometryReport& report,
                    std::string& error);

// Distance from `p` to the triangle (a, b, c), degenerate triangles included.
double PointTriangleDistance(const Point3& p, const Point3& a, const Point3& b, const Point3& c);

}  // namespace quorvex::budget
