#include "trislip/fft.hpp"

#include <stdexcept>
#include <string>

namespace trislip {

void dwvfast(std::int32_t n, dcomplex* a, std::int32_t mom, std::int32_t ind) {
  if (ind != 1 && ind != -1) {
    throw std::invalid_argument("dwvfast: direction " + std::to_string(ind) +
                                " is neither +1 nor -1");
  }
  if (n <= 1) return;
  if ((n & (n - 1)) != 0) {
    throw std::invalid_argument("dwvfast: length " + std::to_string(n) +
                                " is not a power of two");
  }
  if (n > mom) {
    throw std::invalid_argument("dwvfast: length " + std::to_string(n) +
                                " exceeds the capacity " + std::to_string(mom));
  }

  // Bit-reversal reordering. Indices i and j count from 1, as in the
  // textbook form of this loop; a[i - 1] is element i.
  std::int32_t j = 1;
  for (std::int32_t i = 1; i <= n; ++i) {
    if (i < j) {
      const dcomplex temp = a[j - 1];
      a[j - 1] = a[i - 1];
      a[i - 1] = temp;
    }
    std::int32_t m = n / 2;
    while (j > m) {
      j = j - m;
      m = m / 2;
      if (m <= 1) break;
    }
    j = j + m;
  }

  // Butterfly stages. The twiddle of one k is the same for all of its
  // butterflies, so it is evaluated once per k: the same bits as evaluating
  // it for every butterfly.
  for (std::int32_t kmax = 1; kmax < n; kmax *= 2) {
    const std::int32_t istep = 2 * kmax;
    for (std::int32_t k = 1; k <= kmax; ++k) {
      const double phi = static_cast<double>((k - 1) * ind) * pai /
                         static_cast<double>(kmax);
      const dcomplex w = c_exp({0.0, phi});
      for (std::int32_t i = k; i <= n; i += istep) {
        dcomplex& lo = a[i - 1];
        dcomplex& hi = a[i + kmax - 1];
        const dcomplex temp = {hi.re * w.re - hi.im * w.im,
                               hi.re * w.im + hi.im * w.re};
        hi = {lo.re - temp.re, lo.im - temp.im};
        lo = {lo.re + temp.re, lo.im + temp.im};
      }
    }
  }
}

}  // namespace trislip
