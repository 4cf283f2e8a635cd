#include "trislip/fft.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trislip {
namespace {

// The stages of a long transform visit pairs 2*kmax apart, a power of two
// that sends every visit of one k into the same few cache sets, so that
// each butterfly waits for memory. Where the caller's array has room, the
// values are spread out with a gap of spread_gap elements after every
// 2^spread_shift, which scatters those visits over the cache; the same
// butterflies run in the same order on the same values, and the values are
// gathered back at the end.
constexpr int spread_shift = 10;
constexpr std::size_t spread_gap = 4;

inline std::size_t spread_index(std::int32_t i) {
  const auto u = static_cast<std::size_t>(i);
  return u + (u >> spread_shift) * spread_gap;
}

// Element i moves to spread_index(i) >= i: backwards, so that none is
// overwritten before it has moved; and back forwards.
void spread(std::int32_t n, dcomplex* a) {
  for (std::int32_t i = n - 1; i >= (1 << spread_shift); --i) a[spread_index(i)] = a[i];
}

void gather(std::int32_t n, dcomplex* a) {
  for (std::int32_t i = 1 << spread_shift; i < n; ++i) a[i] = a[spread_index(i)];
}

// The butterflies of every stage on the values at a[at(0)] .. a[at(n-1)].
template <class Index>
void butterflies(std::int32_t n, dcomplex* a, const dcomplex* w, Index at) {
  const std::int32_t half = n / 2;
  for (std::int32_t kmax = 1; kmax < n; kmax *= 2) {
    const std::int32_t istep = 2 * kmax;
    const std::int32_t stride = half / kmax;
    for (std::int32_t k = 1; k <= kmax; ++k) {
      const dcomplex wk = w[static_cast<std::size_t>((k - 1) * stride)];
#if defined(__SSE2__)
      // Both parts of a value in one register. temp = (hr*wr + hi*(-wi),
      // hr*wi + hi*wr): adding the exact negation of a product is the same
      // rounding as subtracting it, so these are the bits of the written
      // out complex product below.
      const __m128d w_ri = _mm_set_pd(wk.im, wk.re);
      const __m128d w_nr = _mm_set_pd(wk.re, -wk.im);
      for (std::int32_t i = k; i <= n; i += istep) {
        double* lo = &a[at(i - 1)].re;
        double* hi = &a[at(i + kmax - 1)].re;
        const __m128d l = _mm_loadu_pd(lo);
        const __m128d h = _mm_loadu_pd(hi);
        const __m128d temp = _mm_add_pd(_mm_mul_pd(_mm_unpacklo_pd(h, h), w_ri),
                                        _mm_mul_pd(_mm_unpackhi_pd(h, h), w_nr));
        _mm_storeu_pd(hi, _mm_sub_pd(l, temp));
        _mm_storeu_pd(lo, _mm_add_pd(l, temp));
      }
#else
      for (std::int32_t i = k; i <= n; i += istep) {
        dcomplex& lo = a[at(i - 1)];
        dcomplex& hi = a[at(i + kmax - 1)];
        const dcomplex temp = {hi.re * wk.re - hi.im * wk.im,
                               hi.re * wk.im + hi.im * wk.re};
        hi = {lo.re - temp.re, lo.im - temp.im};
        lo = {lo.re + temp.re, lo.im + temp.im};
      }
#endif
    }
  }
}

}  // namespace

std::int32_t spread_capacity(std::int32_t n) {
  return n <= 0 ? 0 : static_cast<std::int32_t>(spread_index(n - 1)) + 1;
}

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
  // butterflies, and the angle (k-1)*ind*pai/kmax of a span kmax is, bit for
  // bit, the angle of (k-1)*(n/2/kmax) in the last span n/2: the factors
  // differ by exact powers of two. So the n/2 twiddles of the last span are
  // evaluated once and every stage reads its own at a stride.
  const std::int32_t half = n / 2;
  std::vector<dcomplex> w(static_cast<std::size_t>(half));
  for (std::int32_t k = 0; k < half; ++k) {
    const double phi = static_cast<double>(k * ind) * pai / static_cast<double>(half);
    w[static_cast<std::size_t>(k)] = c_exp({0.0, phi});
  }
  if (n >= spread_from && spread_capacity(n) <= mom) {
    spread(n, a);
    butterflies(n, a, w.data(), [](std::int32_t i) { return spread_index(i); });
    gather(n, a);
  } else {
    butterflies(n, a, w.data(), [](std::int32_t i) { return static_cast<std::size_t>(i); });
  }
}

}  // namespace trislip
