// The number rules of the system, in one place: how a float becomes an integer and how integer
// coordinates are scaled.
#pragma once

#include <cmath>
#include <cstdint>

namespace varnix {

// Nearest integer, halves to even (the default rounding mode of the floating-point unit).
inline int32_t Round(double Value) { return static_cast<int32_t>(std::nearbyint(Value)); }
inline int64_t Round64(double Value) { return static_cast<int64_t>(std::nearbyint(Value)); }

// Truncation toward zero.
inline int32_t Trunc(double Value) { return static_cast<int32_t>(Value); }

// Number * Numerator / Denominator with a 64-bit product, truncated toward zero; -1 when the
// denominator is 0.
inline int32_t MulDiv(int32_t Number, int32_t Numerator, int32_t Denominator) {
  if (Denominator == 0) return -1;
  return static_cast<int32_t>(static_cast<int64_t>(Number) * Numerator / Denominator);
}

}  // namespace varnix
