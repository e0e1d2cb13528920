// The 162 fixed unit normals whose indices the model file stores. Their order
// is part of the file format.
#pragma once

constexpr int NormalTableSize = 162;
extern const double NormalTable[NormalTableSize][3];
