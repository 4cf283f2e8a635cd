#pragma once

#include <cstdint>

namespace trislip {

// x to the integer power n by square-and-multiply from the lowest bit up,
// every product rounded to double. The order of the products is part of
// the result: tr^7 is ((1*tr)*tr^2)*tr^4, and the pulse durations, the
// weights and the reported taumax all depend on those exact bits.
inline double ipow(double x, std::int32_t n) {
  if (n == 0) return 1.0;
  double base = x;
  std::uint32_t bits = static_cast<std::uint32_t>(n);
  if (n < 0) {
    base = 1.0 / x;
    bits = 0u - bits;
  }
  double result = 1.0;
  for (;;) {
    if (bits & 1u) result = result * base;
    bits >>= 1;
    if (bits == 0) break;
    base = base * base;
  }
  return result;
}

}  // namespace trislip
