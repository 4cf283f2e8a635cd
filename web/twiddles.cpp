// The transform's twiddles as the native build computes them: correctly
// rounded, then moved one step wherever the C library of the machine that
// built the page rounds otherwise (twiddle_differences.inc, made there by
// web/twiddle_table.cpp).
#include <cmath>
#include <cstdint>
#include <cstddef>

#include "trislip/complex.hpp"
#include "trislip/correctly_rounded.hpp"

#include "twiddle_differences.inc"

namespace trislip {

void native_twiddles(dcomplex* w, std::int32_t half, std::int32_t ind) {
  int m = 0;
  while ((std::int32_t{1} << m) < half) ++m;
  const int shift = twiddle_table_bits - m;
  const auto moved = [](double x, int step) {
    return step == 1 ? std::nextafter(x, INFINITY) : step == 2 ? std::nextafter(x, -INFINITY) : x;
  };
  std::int64_t k = 0;
  for (std::size_t i = 0; i < sizeof twiddle_differences;) {
    std::uint64_t d = 0;
    for (int at = 0;; at += 7) {
      const unsigned char b = twiddle_differences[i++];
      d |= static_cast<std::uint64_t>(b & 0x7f) << at;
      if (!(b & 0x80)) break;
    }
    k += static_cast<std::int64_t>(d);
    const unsigned char steps = twiddle_differences[i++];
    if (k & ((std::int64_t{1} << shift) - 1)) continue;
    dcomplex& t = w[k >> shift];
    t.re = moved(t.re, steps & 3);
    // The table is of ind = -1; the sine of the opposite angle is the
    // opposite, and so are its steps.
    const int sin_step = steps >> 2 & 3;
    t.im = moved(t.im, ind == -1 || sin_step == 0 ? sin_step : 3 - sin_step);
  }
}

}  // namespace trislip
