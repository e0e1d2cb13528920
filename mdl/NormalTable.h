// The 162 fixed unit normals whose indices the model file stores. Their order
// is part of the file format.
#pragma once

#include <cstdint>

namespace quorvex {

constexpr int kNormalTableSize = 162;
extern const double NormalTable[kNormalTableSize][3];

// Index 0..161 of the NormalTable entry nearest to (x, y, z) by the sum of
// absolute differences (x term, then z, then y, in double precision). Ties go
// to the lower index; a not-a-number component gives 0. Looks only at the
// entries that can win near (x, y, z); gives exactly what
// NearestNormalIndexByScan gives for every input. Safe from any thread.
int NearestNormalIndex(float x, float y, float z);

// NearestNormalIndex of (x[i], y[i], z[i]) into out[i] for 0 <= i < count:
// the same answers, found several at a time. Safe from any thread.
void NearestNormalIndices(const float* x, const float* y, const float* z, int32_t count, uint8_t* out);

// Makes NearestNormalIndex and NearestNormalIndices faster for the rest of
// the process (a map of directions that answers most unit vectors by one
// look-up; some milliseconds to build, about 200 kilobytes), for callers
// about to look up many normals. Its
// answers do not change. Safe from any thread; only the first call builds;
// without memory nothing changes.
void PrepareNearestNormalIndex();

// The same by measuring every entry: the definition, kept as the reference.
int NearestNormalIndexByScan(float x, float y, float z);

}  // namespace quorvex
