// Four-lane single-precision vectors for the engine's convolution loops (GCC vector
// extensions, one SSE register on x86-64). Every lane performs ordinary IEEE single-precision
// operations, one rounding per operation, so a vector loop over pixels gives exactly the values
// of the scalar loop it replaces.
#pragma once

#include <cstdint>
#include <cstring>

namespace varnix {

using TFloat4 = float __attribute__((vector_size(16)));

inline TFloat4 Load4(const float* P) {
  TFloat4 V;
  std::memcpy(&V, P, sizeof(V));
  return V;
}

inline void Store4(float* P, TFloat4 V) { std::memcpy(P, &V, sizeof(V)); }

inline TFloat4 Broadcast4(float F) { return TFloat4{F, F, F, F}; }

// Four bytes as floats.
inline TFloat4 LoadBytes4(const uint8_t* P) {
  return TFloat4{static_cast<float>(P[0]), static_cast<float>(P[1]), static_cast<float>(P[2]), static_cast<float>(P[3])};
}

}  // namespace varnix
