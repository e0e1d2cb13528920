#include "budget/MeshReduction.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>

namespace quorvex::budget {
using quorvex::scene::Keyed;
using quorvex::scene::MeshData;
using quorvex::scene::SceneDocument;
using quorvex::scene::SharedList;


namespace {

using Face = std::array<uint32_t, 3>;
constexpr size_t kNone = std::numeric_limits<size_t>::max();
constexpr uint32_t kNoIndex = std::numeric_limits<uint32_t>::max();

// One exported mesh as the simplifier sees it: a corner is a (vertex, texture
// vertex) pair, and corners of one vertex share its position exactly, which
// is what makes the simplifier keep the seam between them closed.
struct MeshWork {
    const ExportedMesh* mesh = nullptr;
    bool reducible = false;
    size_t triangles = 0, vertices = 0, texCoords = 0;
    bool textured = false;
    bool fromRest = false;  // reduced from the source's bind pose, else from the first frame
    std::vector<float> positions;   // x, y, z per corner, world space at the first frame
    std::vector<uint32_t> indices;  // three corners per triangle
    std::vector<uint32_t> vertexOf, tvertOf;
    // The last simplification: its target, the corners it kept and its counts.
    size_t target = kNone;
    std::vector<uint32_t> result;
    size_t resultTriangles = 0, resultVertices = 0;
    bool Reduced() const { return target != kNone && target < triangles; }
};

template <class T>
bool SameList(const SharedList<T>& a, const SharedList<T>& b) {
    return a.Identity() == b.Identity() || a.Items() == b.Items();
}

bool IndicesBelow(const SharedList<Face>& faces, size_t count) {
    for (const Face& f : faces)
        if (f[0] >= count || f[1] >= count || f[2] >= count) return false;
    return true;
}

// A mesh can be reduced once for all its keys when they share one topology.
bool Reducible(const Keyed<MeshData>& keyed) {
    const MeshData& first = keyed.keys.front().value;
    if (first.faces.empty()) return false;
    if (!IndicesBelow(first.faces, first.verts.size())) return false;
    if (!first.tverts.empty() &&
        (first.tvfaces.size() != first.faces.size() || !IndicesBelow(first.tvfaces, first.tverts.size())))
        return false;
    for (const auto& key : keyed.keys) {
        const MeshData& m = key.value;
        if (m.verts.size() != first.verts.size() || m.tverts.size() != first.tverts.size() ||
            !SameList(m.faces, first.faces) || !SameList(m.tvfaces, first.tvfaces))
            return false;
    }
    return true;
}

MeshWork Prepare(const ExportedMesh& mesh, TimeValue reference) {
    MeshWork w;
    w.mesh = &mesh;
    const Keyed<MeshData>& keyed = mesh.Node().object->mesh;
    const MeshData& data = keyed.At(reference);
    w.triangles = data.faces.size();
    w.vertices = data.verts.size();
    w.texCoords = data.tverts.size();
    w.reducible = Reducible(keyed);
    if (!w.reducible) return w;
    w.textured = !data.tverts.empty();
    const Matrix3 world = WorldTransform(mesh, reference);
    const std::vector<Point3>& rest = mesh.Node().object->restPose;
    w.fromRest = rest.size() == data.verts.size();
    std::unordered_map<uint64_t, uint32_t> corners;
    corners.reserve(w.vertices * 2);
    w.indices.reserve(w.triangles * 3);
    for (size_t f = 0; f < w.triangles; ++f) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t v = data.faces[f][k];
            const uint32_t t = w.textured ? data.tvfaces[f][k] : 0;
            auto [it, added] = corners.emplace(uint64_t(v) << 32 | t, static_cast<uint32_t>(w.vertexOf.size()));
            if (added) {
                w.vertexOf.push_back(v);
                w.tvertOf.push_back(t);
                const Point3 p = w.fromRest ? rest[v] : data.verts[v] * world;
                w.positions.insert(w.positions.end(), {p.x, p.y, p.z});
            }
            w.indices.push_back(it->second);
        }
    }
    return w;
}

size_t CountVertices(const MeshWork& w, std::vector<uint32_t>& stamp, uint32_t& round) {
    ++round;
    size_t count = 0;
    for (uint32_t corner : w.result) {
        uint32_t& s = stamp[w.vertexOf[corner]];
        if (s != round) {
            s = round;
            ++count;
        }
    }
    return count;
}

void Simplify(MeshWork& w, size_t target, std::vector<uint32_t>& stamp, uint32_t& round) {
    if (w.target == target) return;
    w.target = target;
    if (target >= w.triangles) {
        w.result.clear();
        w.resultTriangles = w.triangles;
        w.resultVertices = w.vertices;
        return;
    }
    w.result.resize(w.indices.size());
    // The budget decides, not an error bound: 1 is the whole extent of the mesh.
    float relativeError = 0.0f;
    const size_t count = meshopt_simplify(w.result.data(), w.indices.data(), w.indices.size(), w.positions.data(),
                                          w.vertexOf.size(), sizeof(float) * 3, target * 3, 1.0f, 0, &relativeError);
    w.result.resize(count);
    w.resultTriangles = count / 3;
    if (stamp.size() < w.vertices) stamp.resize(w.vertices, 0);
    w.resultVertices = CountVertices(w, stamp, round);
}

struct Totals {
    int64_t triangles = 0, vertices = 0;
};

// Shares `budget` triangles among the reducible meshes in proportion to their
// triangles; meshes that cannot reach their share keep what they reached and
// leave the rest to the others.
Totals Allocate(std::vector<MeshWork>& work, int64_t budget, std::vector<uint32_t>& stamp, uint32_t& round) {
    std::vector<MeshWork*> active;
    int64_t remaining = budget;
    for (MeshWork& w : work) {
        if (w.reducible) {
            active.push_back(&w);
        } else {
            remaining -= static_cast<int64_t>(w.triangles);
        }
    }
    while (!active.empty()) {
        int64_t activeTriangles = 0;
        for (MeshWork* w : active) activeTriangles += static_cast<int64_t>(w->triangles);
        std::vector<MeshWork*> stuck, free;
        for (MeshWork* w : active) {
            const double share = double(std::max<int64_t>(remaining, 0)) * double(w->triangles) / double(activeTriangles);
            const size_t target = std::max<size_t>(1, static_cast<size_t>(share));
            Simplify(*w, target, stamp, round);
            (w->resultTriangles > target ? stuck : free).push_back(w);
        }
        if (stuck.empty()) break;
        for (MeshWork* w : stuck) remaining -= static_cast<int64_t>(w->resultTriangles);
        active = free;
    }
    Totals totals;
    for (const MeshWork& w : work) {
        totals.triangles += static_cast<int64_t>(w.reducible && w.target != kNone ? w.resultTriangles : w.triangles);
        totals.vertices += static_cast<int64_t>(w.reducible && w.target != kNone ? w.resultVertices : w.vertices);
    }
    return totals;
}

double Distance(const Point3& a, const Point3& b) {
    const double x = double(a.x) - b.x, y = double(a.y) - b.y, z = double(a.z) - b.z;
    return std::sqrt(x * x + y * y + z * z);
}

// For every original vertex, the reduced triangle nearest to it in the
// reference pose, found through a grid of cells over the reduced triangles;
// kNoIndex for vertices no face uses.
std::vector<uint32_t> AssignTriangles(const MeshWork& w, const std::vector<Face>& reduced, const MeshData& data,
                                      const std::vector<Point3>& reference) {
    std::vector<uint32_t> assigned(w.vertices, kNoIndex);
    if (reduced.empty()) return assigned;
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    auto coord = [](const Point3& p, int a) { return double(a == 0 ? p.x : a == 1 ? p.y : p.z); };
    for (const Face& f : reduced)
        for (uint32_t v : f)
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], coord(reference[v], a));
                hi[a] = std::max(hi[a], coord(reference[v], a));
            }
    // A surface crosses about n^2 of n^3 cells: about one triangle per cell
    // it crosses, at most 64 cells a side.
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-30});
    const double side = extent / std::clamp(std::sqrt(double(reduced.size())), 1.0, 63.0);
    int cells[3];
    for (int a = 0; a < 3; ++a) cells[a] = std::clamp(static_cast<int>((hi[a] - lo[a]) / side) + 1, 1, 64);
    auto cellOf = [&](double c, int a) {
        const double t = (c - lo[a]) / side;
        return std::clamp(static_cast<int>(std::isfinite(t) ? std::floor(t) : 0), 0, cells[a] - 1);
    };
    auto key = [&](int x, int y, int z) { return (size_t(z) * cells[1] + size_t(y)) * cells[0] + size_t(x); };
    std::vector<std::vector<uint32_t>> grid(size_t(cells[0]) * cells[1] * cells[2]);
    std::vector<std::array<double, 6>> boxes(reduced.size());  // low x, y, z, high x, y, z
    for (uint32_t r = 0; r < reduced.size(); ++r) {
        int from[3], to[3];
        for (int a = 0; a < 3; ++a) {
            const Face& f = reduced[r];
            const double c0 = coord(reference[f[0]], a), c1 = coord(reference[f[1]], a), c2 = coord(reference[f[2]], a);
            boxes[r][a] = std::min({c0, c1, c2});
            boxes[r][a + 3] = std::max({c0, c1, c2});
            from[a] = cellOf(boxes[r][a], a);
            to[a] = cellOf(boxes[r][a + 3], a);
        }
        for (int z = from[2]; z <= to[2]; ++z)
            for (int y = from[1]; y <= to[1]; ++y)
                for (int x = from[0]; x <= to[0]; ++x) grid[key(x, y, z)].push_back(r);
    }
    std::vector<uint8_t> used(w.vertices, 0);
    for (const Face& f : data.faces)
        for (uint32_t v : f) used[v] = 1;
    const int widest = std::max({cells[0], cells[1], cells[2]});
    for (uint32_t v = 0; v < w.vertices; ++v) {
        if (!used[v]) continue;
        const Point3& p = reference[v];
        const int c[3] = {cellOf(p.x, 0), cellOf(p.y, 1), cellOf(p.z, 2)};
        double best = HUGE_VAL;
        // Rings of cells around the vertex's cell; a cell r rings out lies at
        // least (r - 1) cell sides beyond the nearest wall of the vertex's own.
        double wall = HUGE_VAL;
        for (int a = 0; a < 3; ++a) {
            const double low = lo[a] + c[a] * side, t = coord(p, a);
            wall = std::min(wall, std::max(0.0, std::min(t - low, low + side - t)));
        }
        for (int ring = 0; ring <= widest && !(ring > 0 && best <= wall + (ring - 1) * side); ++ring) {
            for (int z = std::max(0, c[2] - ring); z <= std::min(cells[2] - 1, c[2] + ring); ++z)
                for (int y = std::max(0, c[1] - ring); y <= std::min(cells[1] - 1, c[1] + ring); ++y)
                    for (int x = std::max(0, c[0] - ring); x <= std::min(cells[0] - 1, c[0] + ring); ++x) {
                        if (std::max({std::abs(x - c[0]), std::abs(y - c[1]), std::abs(z - c[2])}) != ring) continue;
                        for (uint32_t r : grid[key(x, y, z)]) {
                            // The triangle's box is nearer than the triangle: skip what it rules out.
                            double gap = 0.0;
                            for (int a = 0; a < 3; ++a) {
                                const double d = std::max({boxes[r][a] - coord(p, a), coord(p, a) - boxes[r][a + 3], 0.0});
                                gap += d * d;
                            }
                            if (gap >= best * best) continue;
                            const Face& f = reduced[r];
                            const double d = PointTriangleDistance(p, reference[f[0]], reference[f[1]], reference[f[2]]);
                            if (d < best) {
                                best = d;
                                assigned[v] = r;
                            }
                        }
                    }
        }
    }
    return assigned;
}

struct Box {
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
    double hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    void Add(const Point3& p) {
        const double c[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], c[a]);
            hi[a] = std::max(hi[a], c[a]);
        }
    }
    double Diagonal() const {
        if (lo[0] > hi[0]) return 0.0;
        const double x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
        return std::sqrt(x * x + y * y + z * z);
    }
};

// The scale of a transform that only turns, moves and scales evenly; 0 for
// any other. Distances under such a transform scale by it.
double EvenScale(const Matrix3& m) {
    double len[3], dots[3];
    for (int a = 0; a < 3; ++a) {
        const Point3& r = m.row[a];
        len[a] = std::sqrt(double(r.x) * r.x + double(r.y) * r.y + double(r.z) * r.z);
        const Point3& q = m.row[(a + 1) % 3];
        dots[a] = double(r.x) * q.x + double(r.y) * q.y + double(r.z) * q.z;
    }
    const double s = len[0];
    for (int a = 0; a < 3; ++a)
        if (!(std::abs(len[a] - s) <= 1e-6 * s && std::abs(dots[a]) <= 1e-6 * s * s)) return 0.0;
    return s;
}

struct ErrorSpan {
    double largest = 0.0;  // over the frames
    int32_t worst = 0;     // the frame of the largest
    // Shares of the mesh's size: in the pose it was reduced from, and the
    // largest over the frames.
    double referenceShare = 0.0, largestShare = 0.0;
};

// The largest distance between each frame's original vertices and the
// reduced surface they are assigned to, over the frames of `span`. A frame
// whose key and transform are those of the frame before repeats its error.
ErrorSpan MeasureErrors(const SceneDocument& document, const MeshWork& w, const std::vector<Face>& reduced,
                        FrameSpan span, Box& box) {
    const Keyed<MeshData>& keyed = w.mesh->Node().object->mesh;
    const TimeValue first = FrameTime(document, span.first);
    // Vertices stand for the triangle nearest to them in the pose the mesh
    // was reduced from, and keep it in every frame.
    std::vector<Point3> world(w.vertices);
    Box referenceBox, meshBox;
    const Matrix3 firstWorld = WorldTransform(*w.mesh, first);
    for (size_t v = 0; v < w.vertices; ++v) {
        world[v] = w.fromRest ? w.mesh->Node().object->restPose[v] : keyed.At(first).verts[v] * firstWorld;
        referenceBox.Add(world[v]);
    }
    const std::vector<uint32_t> assigned = AssignTriangles(w, reduced, keyed.At(first), world);
    auto largestDistance = [&] {
        double largest = 0.0;
        for (size_t v = 0; v < w.vertices; ++v) {
            if (assigned[v] == kNoIndex) continue;
            const Face& f = reduced[assigned[v]];
            largest = std::max(largest, PointTriangleDistance(world[v], world[f[0]], world[f[1]], world[f[2]]));
        }
        return largest;
    };
    const double referenceSize = referenceBox.Diagonal();
    const double referenceError = largestDistance();
    auto place = [&](const MeshData& data, const Matrix3& m) {
        for (size_t v = 0; v < w.vertices; ++v) {
            world[v] = data.verts[v] * m;
            box.Add(world[v]);
            meshBox.Add(world[v]);
        }
    };

    ErrorSpan out;
    const MeshData* lastKey = nullptr;
    Matrix3 lastWorld;
    double lastError = 0.0;
    // Where the key is the first frame's and the transform only turns, moves
    // and scales evenly, the error is the first frame's scaled; the boxes
    // still take in every frame's vertices.
    const MeshData* firstKey = &keyed.At(first);
    const double firstScale = EvenScale(firstWorld);
    double firstError = -1.0;
    for (int64_t frame = span.first; frame <= span.last; ++frame) {
        const TimeValue t = FrameTime(document, frame);
        const MeshData& data = keyed.At(t);
        const Matrix3 m = WorldTransform(*w.mesh, t);
        if (&data != lastKey || std::memcmp(&m, &lastWorld, sizeof m) != 0) {
            place(data, m);
            const double scale = EvenScale(m);
            if (firstError >= 0.0 && &data == firstKey && scale > 0.0 && firstScale > 0.0) {
                lastError = firstError * scale / firstScale;
            } else {
                lastError = largestDistance();
                if (frame == span.first) firstError = lastError;
            }
            lastKey = &data;
            lastWorld = m;
        }
        if (lastError > out.largest) {
            out.largest = lastError;
            out.worst = static_cast<int32_t>(frame);
        }
    }
    const double size = meshBox.Diagonal();
    out.largestShare = size > 0 ? out.largest / size : 0.0;
    out.referenceShare = referenceSize > 0 ? referenceError / referenceSize : 0.0;
    return out;
}

std::vector<Face> ReducedFaces(const MeshWork& w, const std::vector<uint32_t>& of) {
    std::vector<Face> faces(w.result.size() / 3);
    for (size_t r = 0; r < faces.size(); ++r)
        for (int k = 0; k < 3; ++k) faces[r][k] = of[w.result[3 * r + k]];
    return faces;
}

// Numbers the entries of `used` (marked non-zero) in order; kNoIndex elsewhere.
std::vector<uint32_t> Renumber(const std::vector<uint8_t>& used, std::vector<uint32_t>& kept) {
    std::vector<uint32_t> number(used.size(), kNoIndex);
    for (uint32_t i = 0; i < used.size(); ++i)
        if (used[i]) {
            number[i] = static_cast<uint32_t>(kept.size());
            kept.push_back(i);
        }
    return number;
}

// Every key of the mesh keeps the same vertices and texture vertices, in
// their original order, and shares the reduced triangle lists.
void Apply(const MeshWork& w) {
    std::vector<uint8_t> usedV(w.vertices, 0), usedT(w.texCoords, 0);
    for (uint32_t corner : w.result) {
        usedV[w.vertexOf[corner]] = 1;
        if (w.textured) usedT[w.tvertOf[corner]] = 1;
    }
    std::vector<uint32_t> keptV, keptT;
    const std::vector<uint32_t> numberV = Renumber(usedV, keptV), numberT = Renumber(usedT, keptT);
    std::vector<Face> faces = ReducedFaces(w, w.vertexOf), tvfaces;
    for (Face& f : faces)
        for (uint32_t& v : f) v = numberV[v];
    if (w.textured) {
        tvfaces = ReducedFaces(w, w.tvertOf);
        for (Face& f : tvfaces)
            for (uint32_t& t : f) t = numberT[t];
    }
    const SharedList<Face> sharedFaces(std::move(faces)), sharedTvfaces(std::move(tvfaces));
    std::map<const void*, SharedList<Point3>> tvertsOf;
    for (auto& key : w.mesh->Node().object->mesh.keys) {
        MeshData& m = key.value;
        std::vector<Point3> verts(keptV.size());
        for (size_t i = 0; i < keptV.size(); ++i) verts[i] = m.verts[keptV[i]];
        m.verts = std::move(verts);
        m.faces = sharedFaces;
        m.tvfaces = sharedTvfaces;
        auto found = tvertsOf.find(m.tverts.Identity());
        if (found == tvertsOf.end()) {
            std::vector<Point3> tverts(keptT.size());
            for (size_t i = 0; i < keptT.size(); ++i) tverts[i] = m.tverts[keptT[i]];
            found = tvertsOf.emplace(m.tverts.Identity(), SharedList<Point3>(std::move(tverts))).first;
        }
        m.tverts = found->second;
    }
}

std::string Percent(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g %%", fraction * 100.0);
    return text;
}

}  // namespace

double PointTriangleDistance(const Point3& p, const Point3& a, const Point3& b, const Point3& c) {
    // The closest point by the triangle's Voronoi regions, in double precision.
    auto sub = [](const Point3& u, const Point3& v) {
        return std::array<double, 3>{double(u.x) - v.x, double(u.y) - v.y, double(u.z) - v.z};
    };
    auto dot = [](const std::array<double, 3>& u, const std::array<double, 3>& v) {
        return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
    };
    const auto ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return Distance(p, a);
    const auto bp = sub(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return Distance(p, b);
    const auto cp = sub(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return Distance(p, c);
    auto at = [&](double s, double t) {
        const std::array<double, 3> q{a.x + s * ab[0] + t * ac[0], a.y + s * ab[1] + t * ac[1],
                                      a.z + s * ab[2] + t * ac[2]};
        const double x = p.x - q[0], y = p.y - q[1], z = p.z - q[2];
        return std::sqrt(x * x + y * y + z * z);
    };
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return at(d1 / (d1 - d3), 0);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return at(0, d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double s = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return at(1 - s, s);
    }
    const double sum = va + vb + vc;
    if (!(sum != 0.0) || !std::isfinite(sum)) {
        // A degenerate triangle: the nearest of its edges' ends will do.
        return std::min({Distance(p, a), Distance(p, b), Distance(p, c)});
    }
    return at(vb / sum, vc / sum);
}

bool ReduceGeometry(SceneDocument& document, FrameSpan span, const GeometryBudget& budget, GeometryReport& report,
                    std::string& error) {
    report = GeometryReport{};
    const std::vector<ExportedMesh> meshes = ExportedMeshes(document);
    const TimeValue reference = FrameTime(document, span.first);
    std::vector<MeshWork> work;
    work.reserve(meshes.size());
    for (const ExportedMesh& mesh : meshes) {
        work.push_back(Prepare(mesh, reference));
        const MeshWork& w = work.back();
        report.trianglesBefore += static_cast<int64_t>(w.triangles);
        report.verticesBefore += static_cast<int64_t>(w.vertices);
        report.texCoordsBefore += static_cast<int64_t>(w.texCoords);
    }
    report.trianglesAfter = report.trianglesBefore;
    report.verticesAfter = report.verticesBefore;
    report.texCoordsAfter = report.texCoordsBefore;
    const bool trianglesMet = budget.maxTriangles <= 0 || report.trianglesBefore <= budget.maxTriangles;
    const bool verticesMet = budget.maxVertices <= 0 || report.verticesBefore <= budget.maxVertices;
    if (trianglesMet && verticesMet) return true;

    std::vector<uint32_t> stamp;
    uint32_t round = 0;
    int64_t triangleBudget = budget.maxTriangles > 0 ? budget.maxTriangles : report.trianglesBefore;
    Totals totals = Allocate(work, triangleBudget, stamp, round);
    // Fewer triangles until the vertices fit: each try aims a little below
    // the share of triangles the vertices over budget suggest.
    for (int attempt = 0; attempt < 16 && budget.maxVertices > 0 && totals.vertices > budget.maxVertices; ++attempt) {
        int64_t next = static_cast<int64_t>(double(totals.triangles) * double(budget.maxVertices) /
                                            double(totals.vertices) * 0.97);
        next = std::min(next, triangleBudget - std::max<int64_t>(1, triangleBudget / 10));
        if (next < 1) break;
        triangleBudget = next;
        totals = Allocate(work, triangleBudget, stamp, round);
    }
    const bool trianglesOver = budget.maxTriangles > 0 && totals.triangles > budget.maxTriangles;
    const bool verticesOver = budget.maxVertices > 0 && totals.vertices > budget.maxVertices;
    if (trianglesOver || verticesOver) {
        size_t fixed = 0;
        for (const MeshWork& w : work) fixed += w.reducible ? 0 : 1;
        error = "the model cannot be reduced to " +
                (trianglesOver ? std::to_string(budget.maxTriangles) + " triangles"
                               : std::to_string(budget.maxVertices) + " vertices") +
                ": its meshes shrink no further than " + std::to_string(totals.triangles) + " triangles and " +
                std::to_string(totals.vertices) + " vertices" +
                (fixed ? " (" + std::to_string(fixed) + " of them change shape between keys and are kept whole)" : "");
        return false;
    }

    Box box;
    ErrorSpan errors;
    for (const MeshWork& w : work) {
        if (!w.reducible || !w.Reduced()) continue;
        const ErrorSpan e = MeasureErrors(document, w, ReducedFaces(w, w.vertexOf), span, box);
        errors.referenceShare = std::max(errors.referenceShare, e.referenceShare);
        if (e.largest > errors.largest) {
            errors.largest = e.largest;
            errors.worst = e.worst;
        }
        // A part that deforms away from the pose it was reduced from can lose
        // more than the reduction of that pose shows.
        if (e.largestShare >= 0.01 && e.largestShare > 2.0 * e.referenceShare)
            report.warnings.push_back(w.mesh->Node().name + ": frame " + std::to_string(e.worst) +
                                      ": the reduced mesh is off by up to " + Percent(e.largestShare) +
                                      " of its size, against " + Percent(e.referenceShare) + " in " +
                                      (w.fromRest ? std::string("its bind pose")
                                                  : "frame " + std::to_string(span.first)) +
                                      ", the pose it was reduced from: a deforming part lost detail");
    }
    // The model's size takes in the meshes left whole too.
    for (const MeshWork& w : work) {
        if (w.reducible && w.Reduced()) continue;
        const Keyed<MeshData>& keyed = w.mesh->Node().object->mesh;
        const Matrix3 m = WorldTransform(*w.mesh, reference);
        for (const Point3& p : keyed.At(reference).verts) box.Add(p * m);
    }
    for (const MeshWork& w : work) {
        if (!w.reducible || !w.Reduced()) continue;
        Apply(w);
        ++report.meshesReduced;
    }
    const double size = box.Diagonal();
    report.reduced = true;
    report.trianglesAfter = totals.triangles;
    report.verticesAfter = totals.vertices;
    report.texCoordsAfter = 0;
    for (const ExportedMesh& mesh : meshes)
        report.texCoordsAfter += static_cast<int64_t>(mesh.Node().object->mesh.At(reference).tverts.size());
    report.largestError = size > 0 ? errors.largest / size : 0.0;
    report.referenceError = errors.referenceShare;
    report.worstFrame = errors.worst;
    for (const MeshWork& w : work)
        if (!w.reducible && w.triangles > 0)
            report.warnings.push_back(w.mesh->Node().name +
                                      ": its triangles change between keys; kept whole under the budget");
    return true;
}

}  // namespace quorvex::budget
