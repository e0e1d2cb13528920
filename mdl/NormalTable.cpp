#include "mdl/NormalTable.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace quorvex {

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

// The squared smallest and largest distance from 0 along one axis of [lo, hi].
void AxisReach(double lo, double hi, double* inner, double* outer) {
    const double low = std::fabs(lo) < std::fabs(hi) ? std::fabs(lo) : std::fabs(hi);
    *inner = lo <= 0.0 && hi >= 0.0 ? 0.0 : low * low;
    *outer = std::fmax(lo * lo, hi * hi);
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
                if (!BoxReachesShell(lo, hi, ShellInner, ShellOuter)) {
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

// The fine grid: every cell with more than one candidate cut into
// FineCells^3 sub-cells, each naming the one entry that is the nearest
// everywhere in it, or NoSingleEntry. Built on request only (it takes some
// milliseconds), for exports with many normals to look up.
//
// Why the answer stays exact: a sub-cell names entry w only when, at every
// point of its (widened) box, w is nearer than each other candidate of the
// cell by more than DistanceSlack (LargestExcess bounds the difference
// exactly, far above its rounding); the candidates left out of the cell are
// farther than some candidate, hence than w. So w wins the full scan, alone.
constexpr int FineCells = 8;
constexpr int FineTotal = GridCells * FineCells;
constexpr double FineWidth = 2.0 * GridReach / FineTotal;
constexpr int SubCells = FineCells * FineCells * FineCells;
constexpr uint8_t NoSingleEntry = 0xFF;
// Normalized vectors lie within a few roundings of length 1: sub-cells that
// reach no such length are not worked out.
constexpr double FineShellInner = 0.999;
constexpr double FineShellOuter = 1.001;

struct FineGrid {
    uint16_t block[GridCells * GridCells * GridCells];  // 1 + block number; 0 for none
    uint8_t* entries;                                    // SubCells per block
};

std::atomic<const FineGrid*> fineGrid{nullptr};

// The sub-cell entries of coarse cell (cx, cy, cz), whose candidates are `cell`.
// The largest value over the box [lo, hi] of |p - w| - |p - k| (L1): per
// axis |x - w| - |x - k| is monotonic in x, so its largest value is at an end
// of the box's side, and the axes add up independently.
double LargestExcess(const double* w, const double* k, const double* lo, const double* hi) {
    double excess = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double atLo = std::fabs(lo[a] - w[a]) - std::fabs(lo[a] - k[a]);
        const double atHi = std::fabs(hi[a] - w[a]) - std::fabs(hi[a] - k[a]);
        excess += std::fmax(atLo, atHi);
    }
    return excess;
}

void BuildBlock(const GridCell& cell, const int* c, uint8_t* entries) {
    std::memset(entries, NoSingleEntry, SubCells);
    double lo[3][FineCells], hi[3][FineCells], inner[3][FineCells], outer[3][FineCells];
    for (int a = 0; a < 3; ++a) {
        for (int s = 0; s < FineCells; ++s) {
            const int f = c[a] * FineCells + s;
            lo[a][s] = -GridReach + f * FineWidth - CellSlack;
            hi[a][s] = -GridReach + (f + 1) * FineWidth + CellSlack;
            AxisReach(lo[a][s], hi[a][s], &inner[a][s], &outer[a][s]);
        }
    }
    for (int sx = 0; sx < FineCells; ++sx) {
        for (int sy = 0; sy < FineCells; ++sy) {
            for (int sz = 0; sz < FineCells; ++sz) {
                // As BoxReachesShell, from the axes' parts.
                if ((inner[0][sx] + inner[1][sy]) + inner[2][sz] > FineShellOuter * FineShellOuter ||
                    (outer[0][sx] + outer[1][sy]) + outer[2][sz] < FineShellInner * FineShellInner)
                    continue;
                const double boxLo[3] = {lo[0][sx], lo[1][sy], lo[2][sz]};
                const double boxHi[3] = {hi[0][sx], hi[1][sy], hi[2][sz]};
                uint8_t& entry = entries[(sx * FineCells + sy) * FineCells + sz];
                // The candidate nearest the box's centre is the only one
                // that can win everywhere in it.
                int best = 0;
                double bestDistance = INFINITY;
                for (int k = 0; k < cell.count; ++k) {
                    const double* t = NormalTable[cell.index[k]];
                    double d = 0.0;
                    for (int a = 0; a < 3; ++a) d += std::fabs((boxLo[a] + boxHi[a]) * 0.5 - t[a]);
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = k;
                    }
                }
                bool alone = true;
                for (int k = 0; k < cell.count && alone; ++k) {
                    if (k != best) alone = LargestExcess(NormalTable[cell.index[best]], NormalTable[cell.index[k]], boxLo, boxHi) < -DistanceSlack;
                }
                if (alone) entry = cell.index[best];
            }
        }
    }
}

const FineGrid* BuildFineGrid() {
    const NormalGrid& grid = Grid();
    auto* fine = static_cast<FineGrid*>(std::calloc(1, sizeof(FineGrid)));
    if (!fine) return nullptr;
    int blocks = 0;
    for (const GridCell& cell : grid.cells) blocks += cell.count != ScanAll && cell.count > 1;
    fine->entries = static_cast<uint8_t*>(std::malloc(size_t(blocks) * SubCells + 1));
    if (!fine->entries) {
        std::free(fine);
        return nullptr;
    }
    int next = 0;
    for (int cx = 0; cx < GridCells; ++cx) {
        for (int cy = 0; cy < GridCells; ++cy) {
            for (int cz = 0; cz < GridCells; ++cz) {
                const int at = (cx * GridCells + cy) * GridCells + cz;
                const GridCell& cell = grid.cells[at];
                if (cell.count == ScanAll || cell.count < 2) continue;
                const int c[3] = {cx, cy, cz};
                BuildBlock(cell, c, fine->entries + size_t(next) * SubCells);
                fine->block[at] = static_cast<uint16_t>(++next);
            }
        }
    }
    return fine;
}

// Cell number along one axis of the fine grid, of a coordinate known to lie
// in the cube; the coarse cell is that number / FineCells. Rounding may put a
// coordinate on a boundary in either neighbour: both boxes are widened to hold it.
unsigned FineCellOf(double c) {
    const unsigned i = static_cast<unsigned>(static_cast<int>((c + GridReach) * (1.0 / FineWidth)));
    return i < unsigned(FineTotal) ? i : unsigned(FineTotal - 1);
}

}  // namespace

void PrepareNearestNormalIndex() {
    // Once per process; the grid lives as long as the process.
    static std::once_flag once;
    std::call_once(once, [] { fineGrid.store(BuildFineGrid(), std::memory_order_release); });
}

int NearestNormalIndex(float x, float y, float z) {
    const double dx = x, dy = y, dz = z;
    // Written so that not-a-number also fails and takes the full scan.
    if (!(std::fabs(dx) <= GridReach && std::fabs(dy) <= GridReach && std::fabs(dz) <= GridReach)) {
        return NearestNormalIndexByScan(x, y, z);
    }
    const unsigned fx = FineCellOf(dx), fy = FineCellOf(dy), fz = FineCellOf(dz);
    const unsigned at = ((fx / FineCells) * GridCells + fy / FineCells) * GridCells + fz / FineCells;
    if (const FineGrid* fine = fineGrid.load(std::memory_order_acquire); fine && fine->block[at] != 0) {
        const unsigned sub = ((fx % FineCells) * FineCells + fy % FineCells) * FineCells + fz % FineCells;
        const uint8_t entry = fine->entries[size_t(fine->block[at] - 1) * SubCells + sub];
        if (entry != NoSingleEntry) return entry;
    }
    const GridCell& cell = Grid().cells[at];
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

}  // namespace quorvex
