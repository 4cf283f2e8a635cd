#pragma once

#include <cmath>

namespace trislip {

// A double complex value, real part first. The arithmetic on it is written
// out where it is used so that every product and sum is one rounding in a
// known order; std::complex leaves that to the compiler's runtime.
struct dcomplex {
  double re;
  double im;
};

// |x + iy|: the larger magnitude alone when adding the smaller leaves it
// unchanged, otherwise larger * sqrt(1 + (smaller/larger)^2), which avoids
// squaring the larger part.
inline double c_abs(dcomplex z) {
  double big = std::fabs(z.re);
  double small = std::fabs(z.im);
  if (small > big) {
    const double t = big;
    big = small;
    small = t;
  }
  if (big + small == big) return big;
  const double q = small / big;
  return big * std::sqrt(1.0 + q * q);
}

}  // namespace trislip
