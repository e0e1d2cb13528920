#include "mdl/NormalTable.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace quorvex {

// Every value is the double nearest to the six-decimal number written here;
// the entries are close to, not exactly, of unit length.
const double NormalTable[kNormalTableSize][3] = {
    {-0.525725, 0.000000, 0.850650},  // 0
    {-0.442863, 0.238856, 0.864188},  // 1
    {-0.295242, 0.000000, 0.955423},  // 2
    {-0.309017, 0.500000, 0.809017},  // 3
    {-0.162460, 0.262866, 0.951056},  // 4
    {0.000000, 0.000000, 1.000000},  // 5
    {0.000000, 0.850651, 0.525731},  // 6
    {-0.147621, 0.716567, 0.681718},  // 7
    {0.147621, 0.716567, 0.681718},  // 8
    {0.000000, 0.525731, 0.850651},  // 9
    {0.309017, 0.500000, 0.809017},  // 10
    {0.525731, 0.000000, 0.850651},  // 11
    {0.295242, 0.000000, 0.955423},  // 12
    {0.442863, 0.238856, 0.864188},  // 13
    {0.162460, 0.262866, 0.951056},  // 14
    {-0.681718, 0.147621, 0.716567},  // 15
    {-0.809017, 0.309017, 0.500000},  // 16
    {-0.587785, 0.425325, 0.688191},  // 17
    {-0.850651, 0.525731, 0.000000},  // 18
    {-0.864188, 0.442863, 0.238856},  // 19
    {-0.716567, 0.681718, 0.147621},  // 20
    {-0.688191, 0.587785, 0.425325},  // 21
    {-0.500000, 0.809017, 0.309017},  // 22
    {-0.238856, 0.864188, 0.442863},  // 23
    {-0.425325, 0.688191, 0.587785},  // 24
    {-0.716567, 0.681718, -0.147621},  // 25
    {-0.500000, 0.809017, -0.309017},  // 26
    {-0.525731, 0.850651, 0.000000},  // 27
    {0.000000, 0.850651, -0.525731},  // 28
    {-0.238856, 0.864188, -0.442863},  // 29
    {0.000000, 0.955423, -0.295242},  // 30
    {-0.262866, 0.951056, -0.162460},  // 31
    {0.000000, 1.000000, 0.000000},  // 32
    {0.000000, 0.955423, 0.295242},  // 33
    {-0.262866, 0.951056, 0.162460},  // 34
    {0.238856, 0.864188, 0.442863},  // 35
    {0.262866, 0.951056, 0.162460},  // 36
    {0.500000, 0.809017, 0.309017},  // 37
    {0.238856, 0.864188, -0.442863},  // 38
    {0.262866, 0.951056, -0.162460},  // 39
    {0.500000, 0.809017, -0.309017},  // 40
    {0.850651, 0.525731, 0.000000},  // 41
    {0.716567, 0.681718, 0.147621},  // 42
    {0.716567, 0.681718, -0.147621},  // 43
    {0.525731, 0.850651, 0.000000},  // 44
    {0.425325, 0.688191, 0.587785},  // 45
    {0.864188, 0.442863, 0.238856},  // 46
    {0.688191, 0.587785, 0.425325},  // 47
    {0.809017, 0.309017, 0.500000},  // 48
    {0.681718, 0.147621, 0.716567},  // 49
    {0.587785, 0.425325, 0.688191},  // 50
    {0.955423, 0.295242, 0.000000},  // 51
    {1.000000, 0.000000, 0.000000},  // 52
    {0.951056, 0.162460, 0.262866},  // 53
    {0.850651, -0.525731, 0.000000},  // 54
    {0.955423, -0.295242, 0.000000},  // 55
    {0.864188, -0.442863, 0.238856},  // 56
    {0.951056, -0.162460, 0.262866},  // 57
    {0.809017, -0.309017, 0.500000},  // 58
    {0.681718, -0.147621, 0.716567},  // 59
    {0.850651, 0.000000, 0.525731},  // 60
    {0.864188, 0.442863, -0.238856},  // 61
    {0.809017, 0.309017, -0.500000},  // 62
    {0.951056, 0.162460, -0.262866},  // 63
    {0.525731, 0.000000, -0.850651},  // 64
    {0.681718, 0.147621, -0.716567},  // 65
    {0.681718, -0.147621, -0.716567},  // 66
    {0.850651, 0.000000, -0.525731},  // 67
    {0.809017, -0.309017, -0.500000},  // 68
    {0.864188, -0.442863, -0.238856},  // 69
    {0.951056, -0.162460, -0.262866},  // 70
    {0.147621, 0.716567, -0.681718},  // 71
    {0.309017, 0.500000, -0.809017},  // 72
    {0.425325, 0.688191, -0.587785},  // 73
    {0.442863, 0.238856, -0.864188},  // 74
    {0.587785, 0.425325, -0.688191},  // 75
    {0.688197, 0.587780, -0.425327},  // 76
    {-0.147621, 0.716567, -0.681718},  // 77
    {-0.309017, 0.500000, -0.809017},  // 78
    {0.000000, 0.525731, -0.850651},  // 79
    {-0.525731, 0.000000, -0.850651},  // 80
    {-0.442863, 0.238856, -0.864188},  // 81
    {-0.295242, 0.000000, -0.955423},  // 82
    {-0.162460, 0.262866, -0.951056},  // 83
    {0.000000, 0.000000, -1.000000},  // 84
    {0.295242, 0.000000, -0.955423},  // 85
    {0.162460, 0.262866, -0.951056},  // 86
    {-0.442863, -0.238856, -0.864188},  // 87
    {-0.309017, -0.500000, -0.809017},  // 88
    {-0.162460, -0.262866, -0.951056},  // 89
    {0.000000, -0.850651, -0.525731},  // 90
    {-0.147621, -0.716567, -0.681718},  // 91
    {0.147621, -0.716567, -0.681718},  // 92
    {0.000000, -0.525731, -0.850651},  // 93
    {0.309017, -0.500000, -0.809017},  // 94
    {0.442863, -0.238856, -0.864188},  // 95
    {0.162460, -0.262866, -0.951056},  // 96
    {0.238856, -0.864188, -0.442863},  // 97
    {0.500000, -0.809017, -0.309017},  // 98
    {0.425325, -0.688191, -0.587785},  // 99
    {0.716567, -0.681718, -0.147621},  // 100
    {0.688191, -0.587785, -0.425325},  // 101
    {0.587785, -0.425325, -0.688191},  // 102
    {0.000000, -0.955423, -0.295242},  // 103
    {0.000000, -1.000000, 0.000000},  // 104
    {0.262866, -0.951056, -0.162460},  // 105
    {0.000000, -0.850651, 0.525731},  // 106
    {0.000000, -0.955423, 0.295242},  // 107
    {0.238856, -0.864188, 0.442863},  // 108
    {0.262866, -0.951056, 0.162460},  // 109
    {0.500000, -0.809017, 0.309017},  // 110
    {0.716567, -0.681718, 0.147621},  // 111
    {0.525731, -0.850651, 0.000000},  // 112
    {-0.238856, -0.864188, -0.442863},  // 113
    {-0.500000, -0.809017, -0.309017},  // 114
    {-0.262866, -0.951056, -0.162460},  // 115
    {-0.850651, -0.525731, 0.000000},  // 116
    {-0.716567, -0.681718, -0.147621},  // 117
    {-0.716567, -0.681718, 0.147621},  // 118
    {-0.525731, -0.850651, 0.000000},  // 119
    {-0.500000, -0.809017, 0.309017},  // 120
    {-0.238856, -0.864188, 0.442863},  // 121
    {-0.262866, -0.951056, 0.162460},  // 122
    {-0.864188, -0.442863, 0.238856},  // 123
    {-0.809017, -0.309017, 0.500000},  // 124
    {-0.688191, -0.587785, 0.425325},  // 125
    {-0.681718, -0.147621, 0.716567},  // 126
    {-0.442863, -0.238856, 0.864188},  // 127
    {-0.587785, -0.425325, 0.688191},  // 128
    {-0.309017, -0.500000, 0.809017},  // 129
    {-0.147621, -0.716567, 0.681718},  // 130
    {-0.425325, -0.688191, 0.587785},  // 131
    {-0.162460, -0.262866, 0.951056},  // 132
    {0.442863, -0.238856, 0.864188},  // 133
    {0.162460, -0.262866, 0.951056},  // 134
    {0.309017, -0.500000, 0.809017},  // 135
    {0.147621, -0.716567, 0.681718},  // 136
    {0.000000, -0.525731, 0.850651},  // 137
    {0.425325, -0.688191, 0.587785},  // 138
    {0.587785, -0.425325, 0.688191},  // 139
    {0.688191, -0.587785, 0.425325},  // 140
    {-0.955423, 0.295242, 0.000000},  // 141
    {-0.951056, 0.162460, 0.262866},  // 142
    {-1.000000, 0.000000, 0.000000},  // 143
    {-0.850651, 0.000000, 0.525731},  // 144
    {-0.955423, -0.295242, 0.000000},  // 145
    {-0.951056, -0.162460, 0.262866},  // 146
    {-0.864188, 0.442863, -0.238856},  // 147
    {-0.951056, 0.162460, -0.262866},  // 148
    {-0.809017, 0.309017, -0.500000},  // 149
    {-0.864188, -0.442863, -0.238856},  // 150
    {-0.951056, -0.162460, -0.262866},  // 151
    {-0.809017, -0.309017, -0.500000},  // 152
    {-0.681718, 0.147621, -0.716567},  // 153
    {-0.681718, -0.147621, -0.716567},  // 154
    {-0.850651, 0.000000, -0.525731},  // 155
    {-0.688191, 0.587785, -0.425325},  // 156
    {-0.587785, 0.425325, -0.688191},  // 157
    {-0.425325, 0.688191, -0.587785},  // 158
    {-0.425325, -0.688191, -0.587785},  // 159
    {-0.587785, -0.425325, -0.688191},  // 160
    {-0.688197, -0.587780, -0.425327},  // 161
};

int NearestNormalIndexByScan(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    double best = 999999.0;
    int index = 0;
    for (int i = 0; i < kNormalTableSize; ++i) {
        const double* t = NormalTable[i];
        const double d = (std::fabs(dx - t[0]) + std::fabs(dz - t[2])) + std::fabs(dy - t[1]);
        // Strictly smaller: of equal distances the lower index wins, and a
        // not-a-number distance never wins, leaving index 0.
        if (d < best) {
            best = d;
            index = i;
        }
    }
    return index;
}

namespace {

// The search grid: the cube [-kGridReach, kGridReach]^3 cut into kGridCells^3
// cells. Each cell lists, in index order, every entry that can be the nearest
// for some point of the cell; entries that are farther than another entry
// from every point of the cell are left out. Unit vectors, and normalized
// vectors a rounding beyond, fall in the cube.
//
// Why the answer stays exact: an entry left out is, at every point of the
// (widened) cell, farther than one listed entry by more than kDistanceSlack,
// so its computed distance exceeds that entry's even after rounding, and it
// can neither win nor tie. Every entry that can is listed, in index order,
// and compared by the same expression: the same entry wins.
constexpr int kGridCells = 16;
constexpr double kGridReach = 1.0 + 1.0 / 64.0;
constexpr double kCellWidth = 2.0 * kGridReach / kGridCells;
// Cells with more candidates (near the centre, where no normalized vector
// lies) scan the whole table instead.
constexpr int kMaxCandidates = 15;
// How far a cell's box is widened on every side, so that a point whose cell
// number was rounded across a boundary still lies in the box of its cell.
constexpr double kCellSlack = 1e-9;
// How much nearer than every point's worst-case best an entry must fail to
// come before it is left out: far above the rounding of the distance
// expression (a few units in the 16th digit), far below any real difference.
constexpr double kDistanceSlack = 1e-9;

// Cells that no vector of a length in [kShellInner, kShellOuter] reaches scan
// the whole table.
constexpr double kShellInner = 0.95;
constexpr double kShellOuter = 1.05;

// The grid's arithmetic sees finite values only; these compile to one
// instruction where std::fmax and std::fmin call the library.
inline double Larger(double a, double b) { return a > b ? a : b; }
inline double Smaller(double a, double b) { return a < b ? a : b; }

struct GridCell {
    uint8_t count;  // candidates listed; kScanAll for the whole table
    uint8_t index[kMaxCandidates];
};
constexpr uint8_t kScanAll = 0xFF;

struct NormalGrid {
    GridCell cells[kGridCells * kGridCells * kGridCells];
};

// Smallest and largest L1 distance from entry t to the box [lo, hi].
void DistanceRange(const double* t, const double* lo, const double* hi, double* nearest, double* farthest) {
    double near = 0.0, far = 0.0;
    for (int a = 0; a < 3; ++a) {
        if (t[a] < lo[a]) near += lo[a] - t[a];
        if (t[a] > hi[a]) near += t[a] - hi[a];
        far += Larger(std::fabs(t[a] - lo[a]), std::fabs(hi[a] - t[a]));
    }
    *nearest = near;
    *farthest = far;
}

// The squared smallest and largest distance from 0 along one axis of [lo, hi].
void AxisReach(double lo, double hi, double* inner, double* outer) {
    const double low = std::fabs(lo) < std::fabs(hi) ? std::fabs(lo) : std::fabs(hi);
    *inner = lo <= 0.0 && hi >= 0.0 ? 0.0 : low * low;
    *outer = Larger(lo * lo, hi * hi);
}

// True when some point of the box [lo, hi] lies at a length within [inner, outer].
bool BoxReachesShell(const double* lo, const double* hi, double innerLength, double outerLength) {
    double inner = 0.0, outer = 0.0;
    for (int a = 0; a < 3; ++a) {
        double in, out;
        AxisReach(lo[a], hi[a], &in, &out);
        inner += in;
        outer += out;
    }
    return inner <= outerLength * outerLength && outer >= innerLength * innerLength;
}

void BuildGrid(NormalGrid* grid) {
    for (int cx = 0; cx < kGridCells; ++cx) {
        for (int cy = 0; cy < kGridCells; ++cy) {
            for (int cz = 0; cz < kGridCells; ++cz) {
                const int c[3] = {cx, cy, cz};
                double lo[3], hi[3];
                for (int a = 0; a < 3; ++a) {
                    lo[a] = -kGridReach + c[a] * kCellWidth - kCellSlack;
                    hi[a] = -kGridReach + (c[a] + 1) * kCellWidth + kCellSlack;
                }
                GridCell& cell = grid->cells[(cx * kGridCells + cy) * kGridCells + cz];
                // Only cells near the unit sphere get lists: a vector elsewhere
                // has not been normalized, is rare, and takes the full scan.
                if (!BoxReachesShell(lo, hi, kShellInner, kShellOuter)) {
                    cell.count = kScanAll;
                    continue;
                }
                double nearest[kNormalTableSize];
                double bound = INFINITY;  // every point of the cell has an entry this close
                for (int i = 0; i < kNormalTableSize; ++i) {
                    double farthest;
                    DistanceRange(NormalTable[i], lo, hi, &nearest[i], &farthest);
                    bound = Smaller(bound, farthest);
                }
                cell.count = 0;
                for (int i = 0; i < kNormalTableSize; ++i) {
                    if (nearest[i] > bound + kDistanceSlack) continue;
                    if (cell.count == kMaxCandidates) {
                        cell.count = kScanAll;
                        break;
                    }
                    cell.index[cell.count++] = static_cast<uint8_t>(i);
                }
            }
        }
    }
}

const NormalGrid& Grid() {
    // Built once, on first use; a function-local static is initialized once
    // even when threads race for it.
    static const NormalGrid* grid = [] {
        static NormalGrid storage;
        BuildGrid(&storage);
        return &storage;
    }();
    return *grid;
}

// The direction map, for normalized vectors: each of the cube's six faces
// (+x, -x, +y, -y, +z, -z) cut into kMapCells x kMapCells cells. A vector of
// length near 1 falls on the face of its largest coordinate, at (u, v), its
// other two coordinates (in axis order) divided by that one's magnitude.
// Every cell names the one entry that is the nearest everywhere in it or,
// where a few can be, a short list of them. Built on request only (it takes
// some milliseconds), for exports with many normals to look up; 6 x 128 x 128
// cells of two bytes stay in a core's cache, where a grid of the cube around
// the sphere would not.
//
// Why the answer stays exact: a cell stands for the points of length within
// [kMapInner, kMapOuter] whose (u, v) lie in the cell widened by kMapSlack,
// which covers every rounding of the look-up; MapBox bounds them by a box. An
// entry is left out of a cell only when some other entry is nearer than it by
// more than kDistanceSlack at every point of that box: either its nearest
// distance to the box exceeds another's farthest (DistanceRange), or
// LargestExcess, which bounds the difference exactly, says so. Following
// such "nearer everywhere" steps ends at an entry that is kept, so what is
// left out can neither win nor tie, and what is kept is compared, in index
// order, by the full scan's expression.
constexpr int kMapShift = 7;
constexpr int kMapCells = 1 << kMapShift;
constexpr double kMapSlack = 1e-5;
constexpr double kMapInner = 0.998;
constexpr double kMapOuter = 1.002;
// The squared lengths the look-up takes to the map, within the radii above
// by far more than the rounding of the float sum.
constexpr float kMapInnerSquare = 0.999f * 0.999f;
constexpr float kMapOuterSquare = 1.001f * 1.001f;
// A cell's word: an entry (below kFirstList), kFirstList + the number of its
// list, or kNoSingleEntry (more than kListLength candidates: the coarse
// grid decides).
constexpr uint16_t kFirstList = 256;
constexpr uint16_t kNoSingleEntry = 0xFFFF;
constexpr int kListLength = 4;
constexpr size_t kMostLists = kNoSingleEntry - kFirstList;

struct NormalMap {
    uint16_t words[6][kMapCells][kMapCells];  // face, u cell, v cell
    // Candidates in index order, the last repeated to fill kListLength (a
    // repeat neither wins nor changes the winner).
    uint8_t (*lists)[kListLength];
};

std::atomic<const NormalMap*> normalMap{nullptr};

// The largest value over the box [lo, hi] of |p - w| - |p - k| (L1): per
// axis |x - w| - |x - k| is monotonic in x, so its largest value is at an end
// of the box's side, and the axes add up independently.
double LargestExcess(const double* w, const double* k, const double* lo, const double* hi) {
    double excess = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double atLo = std::fabs(lo[a] - w[a]) - std::fabs(lo[a] - k[a]);
        const double atHi = std::fabs(hi[a] - w[a]) - std::fabs(hi[a] - k[a]);
        excess += Larger(atLo, atHi);
    }
    return excess;
}

// A box around the points of `face` at lengths [kMapInner, kMapOuter] whose
// (u, v) lie in [u0, u1] x [v0, v1]. Such a point is t * (±1 on the face's
// axis, u and v on the others) with t = length / sqrt(1 + u^2 + v^2); t, u
// and v are bounded separately, which only makes the box larger.
void MapBox(int face, double u0, double u1, double v0, double v1, double* lo, double* hi) {
    auto leastSquare = [](double a, double b) { return a <= 0.0 && b >= 0.0 ? 0.0 : Smaller(a * a, b * b); };
    const double qLeast = std::sqrt(1.0 + leastSquare(u0, u1) + leastSquare(v0, v1));
    const double qMost = std::sqrt(1.0 + Larger(u0 * u0, u1 * u1) + Larger(v0 * v0, v1 * v1));
    const double tLeast = kMapInner / qMost, tMost = kMapOuter / qLeast;
    const int axis = face / 2;
    const int a = axis == 0 ? 1 : 0, b = axis == 2 ? 1 : 2;
    if (face % 2 == 0) {
        lo[axis] = tLeast;
        hi[axis] = tMost;
    } else {
        lo[axis] = -tMost;
        hi[axis] = -tLeast;
    }
    lo[a] = Smaller(tLeast * u0, tMost * u0);
    hi[a] = Larger(tLeast * u1, tMost * u1);
    lo[b] = Smaller(tLeast * v0, tMost * v0);
    hi[b] = Larger(tLeast * v1, tMost * v1);
    for (int i = 0; i < 3; ++i) {
        lo[i] -= kCellSlack;
        hi[i] += kCellSlack;
    }
}

// Of `count` candidates (in index order), into `kept` (in index order), those
// that may be the nearest somewhere in [lo, hi]; returns how many.
int KeepCandidates(const uint8_t* candidates, int count, const double* lo, const double* hi, uint8_t* kept) {
    double nearest[kNormalTableSize];
    double bound = INFINITY;  // every point of the box has an entry this close
    for (int k = 0; k < count; ++k) {
        double farthest;
        DistanceRange(NormalTable[candidates[k]], lo, hi, &nearest[k], &farthest);
        bound = Smaller(bound, farthest);
    }
    int n = 0;
    for (int k = 0; k < count; ++k)
        if (nearest[k] <= bound + kDistanceSlack) kept[n++] = candidates[k];
    return n;
}

// The lists met so far, each once, while the map is built.
struct ListBook {
    std::vector<std::array<uint8_t, kListLength>> lists;
    std::unordered_map<uint32_t, uint16_t> numbers;  // list bytes -> word

    // The word for `count` candidates (in index order). None at all would
    // be a fault of the pruning; the cell then takes the full search.
    uint16_t WordFor(const uint8_t* candidates, int count) {
        if (count == 1) return candidates[0];
        if (count < 1 || count > kListLength) return kNoSingleEntry;
        std::array<uint8_t, kListLength> list;
        for (int i = 0; i < kListLength; ++i) list[i] = candidates[i < count ? i : count - 1];
        uint32_t key;
        std::memcpy(&key, list.data(), sizeof key);
        const auto found = numbers.find(key);
        if (found != numbers.end()) return found->second;
        if (lists.size() == kMostLists) return kNoSingleEntry;
        const auto word = static_cast<uint16_t>(kFirstList + lists.size());
        lists.push_back(list);
        numbers.emplace(key, word);
        return word;
    }
};
static_assert(sizeof(uint32_t) == kListLength, "a list is keyed by its bytes");

// The words of the size x size cells of `face` from cell (iu, iv) on, given
// candidates (in index order) that include every entry that can be the
// nearest there. The square's own box narrows them first, so that each cell
// looks at a few; a square where one is left takes it whole.
void FillSquare(NormalMap* map, ListBook& book, int face, int iu, int iv, int size, const uint8_t* candidates,
                int count) {
    constexpr double width = 2.0 / kMapCells;
    double lo[3], hi[3];
    MapBox(face, iu * width - 1.0 - kMapSlack, (iu + size) * width - 1.0 + kMapSlack, iv * width - 1.0 - kMapSlack,
           (iv + size) * width - 1.0 + kMapSlack, lo, hi);
    uint8_t kept[kNormalTableSize];
    const int n = KeepCandidates(candidates, count, lo, hi, kept);
    if (n == 1 || size == 1) {
        uint16_t word = n == 1 ? kept[0] : kNoSingleEntry;
        if (n > 1) {
            // One cell: pair by pair among the few left.
            uint8_t left[kNormalTableSize];
            int leftCount = 0;
            for (int k = 0; k < n; ++k) {
                bool beaten = false;
                for (int w = 0; w < n && !beaten; ++w)
                    beaten =
                        w != k && LargestExcess(NormalTable[kept[w]], NormalTable[kept[k]], lo, hi) < -kDistanceSlack;
                if (!beaten) left[leftCount++] = kept[k];
            }
            word = book.WordFor(left, leftCount);
        }
        for (int u = iu; u < iu + size; ++u)
            for (int v = iv; v < iv + size; ++v) map->words[face][u][v] = word;
        return;
    }
    const int half = size / 2;
    for (int du = 0; du < size; du += half)
        for (int dv = 0; dv < size; dv += half) FillSquare(map, book, face, iu + du, iv + dv, half, kept, n);
}

const NormalMap* BuildNormalMap() {
    auto* map = static_cast<NormalMap*>(std::calloc(1, sizeof(NormalMap)));
    if (!map) return nullptr;
    try {
        ListBook book;
        uint8_t everyEntry[kNormalTableSize];
        for (int i = 0; i < kNormalTableSize; ++i) everyEntry[i] = static_cast<uint8_t>(i);
        for (int face = 0; face < 6; ++face) FillSquare(map, book, face, 0, 0, kMapCells, everyEntry, kNormalTableSize);
        map->lists = static_cast<uint8_t(*)[kListLength]>(std::malloc(book.lists.size() * kListLength + 1));
        if (!map->lists) throw std::bad_alloc();
        for (size_t i = 0; i < book.lists.size(); ++i) std::memcpy(map->lists[i], book.lists[i].data(), kListLength);
    } catch (const std::bad_alloc&) {
        // Without memory the search stays as it was.
        std::free(map);
        return nullptr;
    }
    return map;
}

// Cell number along one axis of the grid of a coordinate known to lie in the
// cube. Rounding may put a coordinate on a boundary in either neighbour: both
// boxes are widened to hold it.
unsigned CellOf(double c) {
    const unsigned i = static_cast<unsigned>(static_cast<int>((c + kGridReach) * (1.0 / kCellWidth)));
    return i < unsigned(kGridCells) ? i : unsigned(kGridCells - 1);
}

// Cell number of a face coordinate in [-1, 1] (a rounding beyond at most).
unsigned MapCellOf(float c) {
    const int i = static_cast<int>((c + 1.0f) * (kMapCells / 2));
    return i < 0 ? 0u : i >= kMapCells ? unsigned(kMapCells - 1) : unsigned(i);
}

// The nearest of `count` candidates (in index order) by the full scan's
// expression and its strict comparison: the scan's answer whenever every
// entry that can win is among them.
int NearestOf(const uint8_t* candidates, int count, double dx, double dy, double dz) {
    double best = 999999.0;
    int index = 0;
    for (int k = 0; k < count; ++k) {
        const int i = candidates[k];
        const double* t = NormalTable[i];
        const double d = (std::fabs(dx - t[0]) + std::fabs(dz - t[2])) + std::fabs(dy - t[1]);
        // Without a branch (which candidate wins is hard to predict): the
        // mask is all ones exactly when d < best.
        const bool nearer = d < best;
        best = nearer ? d : best;
        index += (i - index) & -static_cast<int>(nearer);
    }
    return index;
}

}  // namespace

void PrepareNearestNormalIndex() {
    // Once per process; the map lives as long as the process.
    static std::once_flag once;
    std::call_once(once, [] { normalMap.store(BuildNormalMap(), std::memory_order_release); });
}

int NearestNormalIndex(float x, float y, float z) {
    if (const NormalMap* map = normalMap.load(std::memory_order_acquire)) {
        // Not-a-number fails the length test too.
        const float length = (x * x + y * y) + z * z;
        if (length >= kMapInnerSquare && length <= kMapOuterSquare) {
            const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
            int face;
            float major, u, v;
            if (ax >= ay && ax >= az) {
                face = 0, major = x, u = y, v = z;
            } else if (ay >= az) {
                face = 2, major = y, u = x, v = z;
            } else {
                face = 4, major = z, u = x, v = y;
            }
            const float inverse = 1.0f / std::fabs(major);
            const uint16_t word = map->words[face + (major < 0.0f)][MapCellOf(u * inverse)][MapCellOf(v * inverse)];
            if (word < kFirstList) return word;
            if (word != kNoSingleEntry) return NearestOf(map->lists[word - kFirstList], kListLength, x, y, z);
        }
    }
    const double dx = x, dy = y, dz = z;
    // Written so that not-a-number also fails and takes the full scan.
    if (!(std::fabs(dx) <= kGridReach && std::fabs(dy) <= kGridReach && std::fabs(dz) <= kGridReach)) {
        return NearestNormalIndexByScan(x, y, z);
    }
    const GridCell& cell = Grid().cells[(CellOf(dx) * kGridCells + CellOf(dy)) * kGridCells + CellOf(dz)];
    if (cell.count == kScanAll) return NearestNormalIndexByScan(x, y, z);
    return NearestOf(cell.index, cell.count, dx, dy, dz);
}

void NearestNormalIndices(const float* x, const float* y, const float* z, int32_t count, uint8_t* out) {
    int32_t i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    // Blocks of normals in three passes: every cell's word (four at a time,
    // as NearestNormalIndex finds each), then the entries the map names
    // alone, then the rest. Each load of a word then waits for nothing, and
    // no branch guesses which normals need more: that waiting and guessing
    // cost more than the search itself.
    if (const NormalMap* map = normalMap.load(std::memory_order_acquire)) {
        constexpr int32_t kBlock = 256;
        const __m128 sign = _mm_set1_ps(-0.0f), one = _mm_set1_ps(1.0f);
        const __m128 half = _mm_set1_ps(float(kMapCells / 2)), last = _mm_set1_ps(float(kMapCells - 1));
        const __m128 inner = _mm_set1_ps(kMapInnerSquare), outer = _mm_set1_ps(kMapOuterSquare);
        const uint16_t* words = &map->words[0][0][0];
        auto pick = [](__m128 mask, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b)); };
        // Cell numbers, kept within 0..MapCells - 1 before they are truncated
        // (not-a-number lanes give 0, and are off the map anyway).
        auto cell = [&](__m128 c) {
            return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_add_ps(c, one), half), _mm_setzero_ps()), last));
        };
        uint16_t word[kBlock];
        int32_t rest[kBlock];
        while (count - i >= 4) {
            const int32_t n = (count - i) / 4 * 4 < kBlock ? (count - i) / 4 * 4 : kBlock;
            for (int32_t j = 0; j < n; j += 4) {
                const __m128 px = _mm_loadu_ps(x + i + j), py = _mm_loadu_ps(y + i + j), pz = _mm_loadu_ps(z + i + j);
                const __m128 length =
                    _mm_add_ps(_mm_add_ps(_mm_mul_ps(px, px), _mm_mul_ps(py, py)), _mm_mul_ps(pz, pz));
                const __m128 onMap = _mm_and_ps(_mm_cmpge_ps(length, inner), _mm_cmple_ps(length, outer));
                const __m128 ax = _mm_andnot_ps(sign, px), ay = _mm_andnot_ps(sign, py), az = _mm_andnot_ps(sign, pz);
                const __m128 onX = _mm_and_ps(_mm_cmpge_ps(ax, ay), _mm_cmpge_ps(ax, az));
                const __m128 onY = _mm_andnot_ps(onX, _mm_cmpge_ps(ay, az));
                const __m128 onZ = _mm_andnot_ps(_mm_or_ps(onX, onY), _mm_castsi128_ps(_mm_set1_epi32(-1)));
                const __m128 major = pick(onX, px, pick(onY, py, pz));
                const __m128 inverse = _mm_div_ps(one, _mm_andnot_ps(sign, major));
                const __m128 u = _mm_mul_ps(pick(onX, py, px), inverse);
                const __m128 v = _mm_mul_ps(pick(onZ, py, pz), inverse);
                // face * kMapCells^2 + u cell * kMapCells + v cell, the face
                // being 2 * axis + (major < 0).
                const __m128i negativeAxis =
                    _mm_add_epi32(_mm_castps_si128(onY), _mm_slli_epi32(_mm_castps_si128(onZ), 1));
                const __m128i face = _mm_sub_epi32(
                    _mm_setzero_si128(),
                    _mm_add_epi32(_mm_slli_epi32(negativeAxis, 1), _mm_castps_si128(_mm_cmplt_ps(major, _mm_setzero_ps()))));
                const __m128i at = _mm_add_epi32(
                    _mm_add_epi32(_mm_slli_epi32(face, 2 * kMapShift), _mm_slli_epi32(cell(u), kMapShift)), cell(v));
                alignas(16) int32_t cells[4];
                _mm_store_si128(reinterpret_cast<__m128i*>(cells), at);
                const int valid = _mm_movemask_ps(onMap);
                for (int k = 0; k < 4; ++k) {
                    const uint16_t w = words[cells[k]];
                    word[j + k] = (valid >> k) & 1 ? w : kNoSingleEntry;
                }
            }
            // The entries named alone; the others are listed for the last pass.
            int32_t left = 0;
            for (int32_t j = 0; j < n; ++j) {
                out[i + j] = static_cast<uint8_t>(word[j]);
                rest[left] = j;
                left += word[j] >= kFirstList;
            }
            for (int32_t r = 0; r < left; ++r) {
                const int32_t j = rest[r], at = i + j;
                out[at] = static_cast<uint8_t>(
                    word[j] != kNoSingleEntry ? NearestOf(map->lists[word[j] - kFirstList], kListLength, x[at], y[at], z[at])
                                              : NearestNormalIndex(x[at], y[at], z[at]));
            }
            i += n;
        }
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<uint8_t>(NearestNormalIndex(x[i], y[i], z[i]));
}

}  // namespace quorvex
