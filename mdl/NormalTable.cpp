#include "mdl/NormalTable.h"

#include <cmath>
#include <cstdint>

// Every value is the double nearest to the six-decimal number written here;
// the entries are close to, not exactly, of unit length.
const double NormalTable[NormalTableSize][3] = {
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
    for (int i = 0; i < NormalTableSize; ++i) {
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

// The search grid: the cube [-GridReach, GridReach]^3 cut into GridCells^3
// cells. Each cell lists, in index order, every entry that can be the nearest
// for some point of the cell; entries that are farther than another entry
// from every point of the cell are left out. Unit vectors, and normalized
// vectors a rounding beyond, fall in the cube.
//
// Why the answer stays exact: an entry left out is, at every point of the
// (widened) cell, farther than one listed entry by more than DistanceSlack,
// so its computed distance exceeds that entry's even after rounding, and it
// can neither win nor tie. Every entry that can is listed, in index order,
// and compared by the same expression: the same entry wins.
constexpr int GridCells = 16;
constexpr double GridReach = 1.0 + 1.0 / 64.0;
constexpr double CellWidth = 2.0 * GridReach / GridCells;
// Cells with more candidates (near the centre, where no normalized vector
// lies) scan the whole table instead.
constexpr int MaxCandidates = 15;
// How far a cell's box is widened on every side, so that a point whose cell
// number was rounded across a boundary still lies in the box of its cell.
constexpr double CellSlack = 1e-9;
// How much nearer than every point's worst-case best an entry must fail to
// come before it is left out: far above the rounding of the distance
// expression (a few units in the 16th digit), far below any real difference.
constexpr double DistanceSlack = 1e-9;

// Cells that no vector of a length in [ShellInner, ShellOuter] reaches scan
// the whole table.
constexpr double ShellInner = 0.95;
constexpr double ShellOuter = 1.05;

struct GridCell {
    uint8_t count;  // candidates listed; ScanAll for the whole table
    uint8_t index[MaxCandidates];
};
constexpr uint8_t ScanAll = 0xFF;

struct NormalGrid {
    GridCell cells[GridCells * GridCells * GridCells];
};

// Smallest and largest L1 distance from entry t to the box [lo, hi].
void DistanceRange(const double* t, const double* lo, const double* hi, double* nearest, double* farthest) {
    double near = 0.0, far = 0.0;
    for (int a = 0; a < 3; ++a) {
        if (t[a] < lo[a]) near += lo[a] - t[a];
        if (t[a] > hi[a]) near += t[a] - hi[a];
        far += std::fmax(std::fabs(t[a] - lo[a]), std::fabs(hi[a] - t[a]));
    }
    *nearest = near;
    *farthest = far;
}

void BuildGrid(NormalGrid* grid) {
    for (int cx = 0; cx < GridCells; ++cx) {
        for (int cy = 0; cy < GridCells; ++cy) {
            for (int cz = 0; cz < GridCells; ++cz) {
                const int c[3] = {cx, cy, cz};
                double lo[3], hi[3];
                for (int a = 0; a < 3; ++a) {
                    lo[a] = -GridReach + c[a] * CellWidth - CellSlack;
                    hi[a] = -GridReach + (c[a] + 1) * CellWidth + CellSlack;
                }
                GridCell& cell = grid->cells[(cx * GridCells + cy) * GridCells + cz];
                // Only cells near the unit sphere get lists: a vector elsewhere
                // has not been normalized, is rare, and takes the full scan.
                double inner = 0.0, outer = 0.0;
                for (int a = 0; a < 3; ++a) {
                    const double low = std::fabs(lo[a]) < std::fabs(hi[a]) ? std::fabs(lo[a]) : std::fabs(hi[a]);
                    inner += lo[a] <= 0.0 && hi[a] >= 0.0 ? 0.0 : low * low;
                    outer += std::fmax(lo[a] * lo[a], hi[a] * hi[a]);
                }
                if (inner > ShellOuter * ShellOuter || outer < ShellInner * ShellInner) {
                    cell.count = ScanAll;
                    continue;
                }
                double nearest[NormalTableSize];
                double bound = INFINITY;  // every point of the cell has an entry this close
                for (int i = 0; i < NormalTableSize; ++i) {
                    double farthest;
                    DistanceRange(NormalTable[i], lo, hi, &nearest[i], &farthest);
                    bound = std::fmin(bound, farthest);
                }
                cell.count = 0;
                for (int i = 0; i < NormalTableSize; ++i) {
                    if (nearest[i] > bound + DistanceSlack) continue;
                    if (cell.count == MaxCandidates) {
                        cell.count = ScanAll;
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

// Cell number along one axis of a coordinate known to lie in the cube.
int CellOf(double c) {
    const int i = static_cast<int>((c + GridReach) * (1.0 / CellWidth));
    return i < GridCells ? i : GridCells - 1;
}

}  // namespace

int NearestNormalIndex(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    // Written so that not-a-number also fails and takes the full scan.
    if (!(std::fabs(dx) <= GridReach && std::fabs(dy) <= GridReach && std::fabs(dz) <= GridReach)) {
        return NearestNormalIndexByScan(x, y, z);
    }
    const GridCell& cell = Grid().cells[(CellOf(dx) * GridCells + CellOf(dy)) * GridCells + CellOf(dz)];
    if (cell.count == ScanAll) return NearestNormalIndexByScan(x, y, z);
    // The same expression and the same strict comparison as the full scan,
    // over the same entries that can win, in the same order.
    double best = 999999.0;
    int index = 0;
    for (int k = 0; k < cell.count; ++k) {
        const int i = cell.index[k];
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
