// Conversions every part of the exporter shares, defined for every input so
// that no conversion is undefined behaviour and every build gives the same bits.
#pragma once

#include <cmath>
#include <cstdint>

// The x87 unit rounds through 80-bit registers and would change normals and
// scales in the last bit; 32-bit x86 builds must do their float arithmetic in
// SSE2 registers, as 64-bit builds always do.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 builds need SSE2 float arithmetic: compile with -msse2 -mfpmath=sse"
#endif

// Truncates toward zero. Not-a-number gives 0; values beyond the 64-bit range
// saturate at its ends.
inline int64_t TruncateToInt64(double d) {
    if (std::isnan(d)) return 0;
    // 2^63 is exact in double; anything at or beyond it does not fit.
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(d);
}

// Two's-complement wrap of a 64-bit value to 32 bits (host tick counts).
inline int32_t WrapToInt32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// Low 16 bits, as a signed or unsigned 16-bit value.
inline int16_t Low16Signed(int64_t v) { return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v))); }
inline uint16_t Low16(int64_t v) { return static_cast<uint16_t>(static_cast<uint64_t>(v)); }
