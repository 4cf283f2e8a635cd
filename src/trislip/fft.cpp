#include "trislip/fft.hpp"

#include "trislip/correctly_rounded.hpp"
#include "trislip/huge_pages.hpp"
#include "trislip/threads.hpp"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trislip {
namespace {

// One butterfly: hi = lo - hi*wk, lo = lo + hi*wk. On SSE2 both parts of a
// value share a register: temp = (hr*wr + hi*(-wi), hr*wi + hi*wr), and
// adding the exact negation of a product is the same rounding as
// subtracting it, so these are the bits of the complex product written out.
inline void butterfly1(dcomplex& lo_value, dcomplex& hi_value, const dcomplex& wk) {
#if defined(__SSE2__)
  const __m128d w_ri = _mm_set_pd(wk.im, wk.re);
  const __m128d w_nr = _mm_set_pd(wk.re, -wk.im);
  const __m128d l = _mm_loadu_pd(&lo_value.re);
  const __m128d h = _mm_loadu_pd(&hi_value.re);
  const __m128d temp = _mm_add_pd(_mm_mul_pd(_mm_unpacklo_pd(h, h), w_ri),
                                  _mm_mul_pd(_mm_unpackhi_pd(h, h), w_nr));
  _mm_storeu_pd(&hi_value.re, _mm_sub_pd(l, temp));
  _mm_storeu_pd(&lo_value.re, _mm_add_pd(l, temp));
#else
  const dcomplex temp = {hi_value.re * wk.re - hi_value.im * wk.im, hi_value.re * wk.im + hi_value.im * wk.re};
  hi_value = {lo_value.re - temp.re, lo_value.im - temp.im};
  lo_value = {lo_value.re + temp.re, lo_value.im + temp.im};
#endif
}

// ---- Long transforms: the same butterflies in another order -------------
//
// Every butterfly of span kmax reads the two values that the butterflies of
// span kmax/2 left in its pair of places and nothing else, so any order that
// keeps those dependencies gives the same doubles: here the two halves of a
// transform are transformed first, each in turn the same way down to blocks
// that stay in the caches, and then the stage of span n/2 joins them. Each
// butterfly is the rounded operations of the stage-by-stage form, on two
// values at once in AVX2 registers where the processor has them (never
// fused multiply-add), and the two halves of a long transform go to the two
// cores.

// From this length on; below it, the stage-by-stage order (dwvfast_in_stages).
constexpr std::int32_t depth_first_from = 1 << 13;
// Transforms of this size or less are done stage by stage: 32 KiB.
constexpr std::int32_t block_length = 1 << 11;
// From this length on the halves go to two threads, where there are threads.
constexpr std::int32_t threads_from = can_start_threads ? 1 << 17 : INT32_MAX;

// The twiddles of a transform of n: `whole` holds the n/2 of the last
// span n/2, and the twiddle k of span q is whole[k * (n/2/q)]. The spans
// up to n/8 also have their own copies in runs, span q's q twiddles from
// runs[q] on: read one after another rather than at a stride, so that the
// twiddles a block of butterflies needs share cache lines.
struct twiddle_tables {
  std::vector<dcomplex> whole, runs;
};

// Where the twiddles of each span are, and their stride.
struct twiddle_view {
  const dcomplex* whole;
  const dcomplex* runs;
  std::int32_t half;
  bool in_runs(std::int32_t q) const { return 4 * q <= half; }
  const dcomplex* of(std::int32_t q) const { return in_runs(q) ? runs + q : whole; }
  std::size_t stride(std::int32_t q) const { return in_runs(q) ? 1 : static_cast<std::size_t>(half / q); }
};

// The stages of spans q and 2q of a[0 .. 4q-1] in one pass, for k from k0
// to k1 - 1: first the two butterflies of span q (in each half), then the
// two of span 2q that use their results.
void join4_sse2(dcomplex* a, std::int32_t q, const twiddle_view& t, std::int32_t k0, std::int32_t k1) {
  const dcomplex *w1 = t.of(q), *w2 = t.of(2 * q);
  const std::size_t s1 = t.stride(q), s2 = t.stride(2 * q);
  for (std::int32_t k = k0; k < k1; ++k) {
    const auto j = static_cast<std::size_t>(k - 1), uq = static_cast<std::size_t>(q);
    butterfly1(a[j], a[j + uq], w1[j * s1]);
    butterfly1(a[j + 2 * uq], a[j + 3 * uq], w1[j * s1]);
    butterfly1(a[j], a[j + 2 * uq], w2[j * s2]);
    butterfly1(a[j + uq], a[j + 3 * uq], w2[(j + uq) * s2]);
  }
}

// The butterflies of span kmax with k from k0 to k1 - 1 in a[0 .. 2*kmax-1]:
// a[k-1] and a[k-1+kmax], twiddle w[(k-1)*stride].
void join_sse2(dcomplex* a, std::int32_t kmax, const dcomplex* w, std::int32_t stride, std::int32_t k0,
               std::int32_t k1) {
  for (std::int32_t k = k0; k < k1; ++k) {
    butterfly1(a[k - 1], a[k - 1 + kmax], w[static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(stride)]);
  }
}

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define TRISLIP_AVX2 1
#include <immintrin.h>

// One AVX2 step of two butterflies: lo and hi hold the two low and the two
// high values, w_ri the two twiddles (re, im). Each lane does what the SSE2
// form of one butterfly does: temp = hr*(wr, wi) + hi*(-wi, wr), the sign
// of -wi flipped as the negation flips it, then lo - temp and lo + temp.
__attribute__((target("avx2"))) inline void butterfly2(__m256d& lo, __m256d& hi, __m256d w_ri) {
  const __m256d negate_re = _mm256_set_pd(0.0, -0.0, 0.0, -0.0);
  const __m256d w_nr = _mm256_xor_pd(_mm256_permute_pd(w_ri, 0x5), negate_re);
  const __m256d temp = _mm256_add_pd(_mm256_mul_pd(_mm256_movedup_pd(hi), w_ri),
                                     _mm256_mul_pd(_mm256_unpackhi_pd(hi, hi), w_nr));
  hi = _mm256_sub_pd(lo, temp);
  lo = _mm256_add_pd(lo, temp);
}

// The twiddles w[i] and w[i + step] in one register.
__attribute__((target("avx2"))) inline __m256d twiddle_pair(const dcomplex* w, std::size_t i, std::size_t step) {
  if (step == 1) return _mm256_loadu_pd(&w[i].re);
  return _mm256_set_m128d(_mm_loadu_pd(&w[i + step].re), _mm_loadu_pd(&w[i].re));
}

// join_sse2 two butterflies (k and k+1) at a time.
__attribute__((target("avx2"))) void join_avx2(dcomplex* a, std::int32_t kmax, const dcomplex* w,
                                               std::int32_t stride, std::int32_t k0, std::int32_t k1) {
  const auto step = static_cast<std::size_t>(stride);
  std::int32_t k = k0;
  for (; k + 1 < k1; k += 2) {
    double* lo_at = &a[k - 1].re;
    double* hi_at = &a[k - 1 + kmax].re;
    __m256d lo = _mm256_loadu_pd(lo_at), hi = _mm256_loadu_pd(hi_at);
    butterfly2(lo, hi, twiddle_pair(w, static_cast<std::size_t>(k - 1) * step, step));
    _mm256_storeu_pd(hi_at, hi);
    _mm256_storeu_pd(lo_at, lo);
  }
  join_sse2(a, kmax, w, stride, k, k1);
}

// The stages of spans q and 2q of a[0 .. 4q-1] for k from k0 to k1 - 1, two
// k at a time, as join4_sse2 does them one at a time.
__attribute__((target("avx2"))) inline void join4_pairs(double* p, std::size_t q, const dcomplex* w1,
                                                        std::size_t s1, const dcomplex* w2, std::size_t s2,
                                                        std::size_t k0, std::size_t k1) {
  for (std::size_t j = k0; j + 1 < k1; j += 2) {
    double* p0 = p + 2 * j;
    double* p1 = p + 2 * (j + q);
    double* p2 = p + 2 * (j + 2 * q);
    double* p3 = p + 2 * (j + 3 * q);
    __m256d v0 = _mm256_loadu_pd(p0), v1 = _mm256_loadu_pd(p1), v2 = _mm256_loadu_pd(p2),
            v3 = _mm256_loadu_pd(p3);
    const __m256d w_q = twiddle_pair(w1, j * s1, s1);
    butterfly2(v0, v1, w_q);
    butterfly2(v2, v3, w_q);
    butterfly2(v0, v2, twiddle_pair(w2, j * s2, s2));
    butterfly2(v1, v3, twiddle_pair(w2, (j + q) * s2, s2));
    _mm256_storeu_pd(p0, v0);
    _mm256_storeu_pd(p1, v1);
    _mm256_storeu_pd(p2, v2);
    _mm256_storeu_pd(p3, v3);
  }
}

// Every stage of a[0 .. m-1] (m >= 8), as depth_first does for a block,
// two stages to a pass: spans 1 and 2 on four neighbours in two registers
// (span 1 pairs neighbours, so they are regrouped into one register of low
// and one of high values, and back), then spans 4 and 8, 16 and 32, ...,
// and a last single stage where the count of stages is odd.
__attribute__((target("avx2"))) void block_avx2(dcomplex* a, std::int32_t m, const twiddle_view& t) {
  double* p = &a[0].re;
  const dcomplex* w = t.of(1);
  const __m256d w1 = _mm256_set_m128d(_mm_loadu_pd(&w[0].re), _mm_loadu_pd(&w[0].re));
  w = t.of(2);
  const __m256d w2 = _mm256_set_m128d(_mm_loadu_pd(&w[t.stride(2)].re), _mm_loadu_pd(&w[0].re));
  for (std::int32_t i = 0; i < m; i += 4) {
    const __m256d x = _mm256_loadu_pd(p + 2 * i), y = _mm256_loadu_pd(p + 2 * i + 4);
    __m256d lo = _mm256_permute2f128_pd(x, y, 0x20), hi = _mm256_permute2f128_pd(x, y, 0x31);
    butterfly2(lo, hi, w1);
    __m256d lo2 = _mm256_permute2f128_pd(lo, hi, 0x20), hi2 = _mm256_permute2f128_pd(lo, hi, 0x31);
    butterfly2(lo2, hi2, w2);
    _mm256_storeu_pd(p + 2 * i, lo2);
    _mm256_storeu_pd(p + 2 * i + 4, hi2);
  }
  std::int32_t q = 4;
  for (; 4 * q <= m; q *= 4) {
    for (std::int32_t at = 0; at < m; at += 4 * q) {
      join4_pairs(p + 2 * at, static_cast<std::size_t>(q), t.of(q), t.stride(q), t.of(2 * q), t.stride(2 * q), 0,
                  static_cast<std::size_t>(q));
    }
  }
  if (q < m) {  // one stage left, of span q = m/2
    const std::size_t stride = t.stride(q);
    w = t.of(q);
    for (std::int32_t k = 0; k < q; k += 2) {
      const std::size_t s0 = static_cast<std::size_t>(k) * stride;
      __m256d lo = _mm256_loadu_pd(p + 2 * k), hi = _mm256_loadu_pd(p + 2 * (k + q));
      butterfly2(lo, hi, twiddle_pair(w, s0, stride));
      _mm256_storeu_pd(p + 2 * k, lo);
      _mm256_storeu_pd(p + 2 * (k + q), hi);
    }
  }
}


// join4_sse2 for k and k+1 at a time.
__attribute__((target("avx2"))) void join4_avx2(dcomplex* a, std::int32_t q, const twiddle_view& t,
                                                std::int32_t k0, std::int32_t k1) {
  const auto j0 = static_cast<std::size_t>(k0 - 1), j1 = static_cast<std::size_t>(k1 - 1);
  join4_pairs(&a[0].re, static_cast<std::size_t>(q), t.of(q), t.stride(q), t.of(2 * q), t.stride(2 * q), j0, j1);
  const std::size_t done = j0 + (j1 - j0) / 2 * 2;
  join4_sse2(a, q, t, static_cast<std::int32_t>(done) + 1, k1);
}

std::atomic<bool> avx2_allowed{true};

bool has_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes && avx2_allowed.load(std::memory_order_relaxed);
}
#endif

void join(dcomplex* a, std::int32_t kmax, const dcomplex* w, std::int32_t stride, std::int32_t k0,
          std::int32_t k1) {
#if defined(TRISLIP_AVX2)
  if (has_avx2()) return join_avx2(a, kmax, w, stride, k0, k1);
#endif
  join_sse2(a, kmax, w, stride, k0, k1);
}

void join4(dcomplex* a, std::int32_t q, const twiddle_view& t, std::int32_t k0, std::int32_t k1) {
#if defined(TRISLIP_AVX2)
  if (has_avx2()) return join4_avx2(a, q, t, k0, k1);
#endif
  join4_sse2(a, q, t, k0, k1);
}

// All stages of a[0 .. m-1], m a power of two, within a transform whose
// twiddles t gives.
void depth_first(dcomplex* a, std::int32_t m, const twiddle_view& t, bool two_threads) {
  if (m <= block_length) {
#if defined(TRISLIP_AVX2)
    if (has_avx2()) return block_avx2(a, m, t);
#endif
    for (std::int32_t kmax = 1; kmax < m; kmax *= 2) {
      for (std::int32_t at = 0; at < m; at += 2 * kmax) join(a + at, kmax, t.of(kmax), static_cast<std::int32_t>(t.stride(kmax)), 1, kmax + 1);
    }
    return;
  }
  if (m < 4 * block_length) {
    // Two halves, then the stage of span m/2.
    const std::int32_t kmax = m / 2;
    depth_first(a, kmax, t, false);
    depth_first(a + kmax, kmax, t, false);
    join(a, kmax, t.of(kmax), static_cast<std::int32_t>(t.stride(kmax)), 1, kmax + 1);
    return;
  }
  // Four quarters, then the stages of spans m/4 and m/2 in one pass; with
  // two threads each takes two quarters, then half of the k.
  const std::int32_t q = m / 4;
  const auto quarters = [&t, q](dcomplex* at) {
    depth_first(at, q, t, false);
    depth_first(at + q, q, t, false);
  };
  if (two_threads) {
    std::thread other([&] { quarters(a); });
    quarters(a + 2 * q);
    other.join();
    std::thread second([&] { join4(a, q, t, q / 2 + 1, q + 1); });
    join4(a, q, t, 1, q / 2 + 1);
    second.join();
  } else {
    quarters(a);
    quarters(a + 2 * q);
    join4(a, q, t, 1, q + 1);
  }
}

// f(from, to) over [0, count): on two threads when asked, the part from
// split on on the second.
template <class T, class F>
void in_two(bool two_threads, T count, T split, const F& f) {
  if (!two_threads) return f(T{0}, count);
  std::thread other([&] { f(split, count); });
  f(T{0}, split);
  other.join();
}

// Bit i of the index to bit bits-1-i.
std::uint32_t reversed(std::uint32_t x, int width) {
  std::uint32_t r = 0;
  for (int b = 0; b < width; ++b, x >>= 1) r = (r << 1) | (x & 1);
  return r;
}

// The bit-reversal permutation by tiles: index bits [h][m][l], with h and l
// of `edge` bits, go to [rev l][rev m][rev h], so the 2^edge rows of one
// tile and those of its partner stay in the cache while their elements
// trade places. The same swaps as the textbook loop, in another order.
void reverse_bits(std::int32_t n, dcomplex* a, bool two_threads) {
  int bits = 0;
  while ((std::int32_t{1} << bits) < n) ++bits;
  constexpr int edge = 3;
  const int mid = bits - 2 * edge;
  std::uint32_t rev_edge[1 << edge];
  for (std::uint32_t x = 0; x < (1u << edge); ++x) rev_edge[x] = reversed(x, edge);
  // Each pair of tiles is one task, owned by its lower tile: the tasks
  // touch disjoint elements and may run on two threads.
  const auto tiles = [&](std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t m = from; m < to; ++m) {
      const std::uint32_t m2 = reversed(m, mid);
      if (m2 < m) continue;
      for (std::uint32_t h = 0; h < (1u << edge); ++h) {
        for (std::uint32_t l = 0; l < (1u << edge); ++l) {
          const std::uint32_t i = (h << (mid + edge)) | (m << edge) | l;
          const std::uint32_t j = (rev_edge[l] << (mid + edge)) | (m2 << edge) | rev_edge[h];
          // A tile and its partner trade every element; a tile that is its
          // own partner trades each pair once.
          if (m2 != m || i < j) std::swap(a[i], a[j]);
        }
      }
    }
  };
  // Low tiles own more pairs than high ones: a split at a third of the
  // count gives each thread about half of them.
  const std::uint32_t count = 1u << mid;
  in_two(two_threads, count, count / 3, tiles);
}

// The n/2 twiddles of a transform, exp(i * ind * pai * k / (n/2)), the
// cosine and sine of each angle correctly rounded (correctly_rounded.hpp:
// the same doubles from every C library and processor), on two threads
// for long ones; the last table made is kept, since a caller
// transforms many series of one length. The angle (k-1)*ind*pai/kmax of a
// span kmax is, bit for bit, the angle of (k-1)*(n/2/kmax) in the last span
// n/2 (the factors differ by exact powers of two), so every stage reads its
// twiddles from this one table at a stride, or from the copies in runs.
std::shared_ptr<const twiddle_tables> twiddles_of(std::int32_t n, std::int32_t ind) {
  static std::mutex m;
  static std::shared_ptr<const twiddle_tables> kept;
  static std::int32_t kept_n = 0, kept_ind = 0;
  {
    std::lock_guard<std::mutex> lock(m);
    if (kept && kept_n == n && kept_ind == ind) return kept;
  }
  const std::int32_t half = n / 2;
  auto tables = std::make_shared<twiddle_tables>();
  std::vector<dcomplex>& w = tables->whole;
  w.resize(static_cast<std::size_t>(half));
  const auto fill = [&](std::int32_t from, std::int32_t to) {
    for (std::int32_t k = from; k < to; ++k) {
      const double phi = static_cast<double>(k * ind) * pai / static_cast<double>(half);
      correctly_rounded::cos_sin(phi, w[static_cast<std::size_t>(k)].re, w[static_cast<std::size_t>(k)].im);
    }
  };
  in_two(n >= threads_from, half, half / 2, fill);
  if (n >= depth_first_from) {  // the stage-by-stage order reads `whole` alone
    tables->runs.resize(static_cast<std::size_t>(half / 2));
    for (std::int32_t q = 1; 4 * q <= half; q *= 2) {
      const auto stride = static_cast<std::size_t>(half / q), uq = static_cast<std::size_t>(q);
      for (std::size_t k = 0; k < uq; ++k) tables->runs[uq + k] = w[k * stride];
    }
  }
  const std::shared_ptr<const twiddle_tables> made = tables;
  std::lock_guard<std::mutex> lock(m);
  kept = made;
  kept_n = n;
  kept_ind = ind;
  return made;
}

// Butterfly stages, from span 1 up, on an array in bit-reversed order;
// every butterfly of one k shares its twiddle.
void stages(std::int32_t n, dcomplex* a, std::int32_t ind) {
  const std::int32_t half = n / 2;
  const std::shared_ptr<const twiddle_tables> tables = twiddles_of(n, ind);
  const dcomplex* w = tables->whole.data();
  for (std::int32_t kmax = 1; kmax < n; kmax *= 2) {
    const std::int32_t istep = 2 * kmax;
    const std::int32_t stride = half / kmax;
    for (std::int32_t k = 1; k <= kmax; ++k) {
      const dcomplex wk = w[static_cast<std::size_t>((k - 1) * stride)];
      for (std::int32_t i = k; i <= n; i += istep) butterfly1(a[i - 1], a[i + kmax - 1], wk);
    }
  }
}

}  // namespace

void free_transform::operator()(dcomplex* p) const { std::free(p); }

std::unique_ptr<dcomplex[], free_transform> transform_array(std::int32_t n) {
  void* p = allocate_in_huge_pages(static_cast<std::size_t>(n) * sizeof(dcomplex));
  return std::unique_ptr<dcomplex[], free_transform>(static_cast<dcomplex*>(p));
}

bool avx2_in_use() {
#if defined(TRISLIP_AVX2)
  return has_avx2();
#else
  return false;
#endif
}

bool allow_avx2(bool allowed) {
#if defined(TRISLIP_AVX2)
  return avx2_allowed.exchange(allowed);
#else
  (void)allowed;
  return false;
#endif
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

  if (n >= depth_first_from) {
    reverse_bits(n, a, n >= threads_from);
    dwvfast_loaded(n, a, ind);
    return;
  }
  dwvfast_in_stages(n, a, ind);
}

void dwvfast_in_stages(std::int32_t n, dcomplex* a, std::int32_t ind) {
  if (n <= 1) return;

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

  stages(n, a, ind);
}

void load_bit_reversed(std::int32_t n, const double* samples, std::int32_t nt, dcomplex* a) {
  int bits = 0;
  while ((std::int32_t{1} << bits) < n) ++bits;
  const auto sample = [&](std::uint32_t i) {
    return dcomplex{static_cast<std::int32_t>(i) < nt ? samples[i] : 0.0, 0.0};
  };
  constexpr int edge = 3;
  if (bits < 2 * edge + 1) {
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(n); ++i) a[reversed(i, bits)] = sample(i);
    return;
  }
  // By tiles, as reverse_bits trades them: element [h][m][l] goes to
  // [rev l][rev m][rev h]; the eight l of one h are one run of samples,
  // the eight h of one l one run of the array.
  const int mid = bits - 2 * edge;
  std::uint32_t rev_edge[1 << edge];
  for (std::uint32_t x = 0; x < (1u << edge); ++x) rev_edge[x] = reversed(x, edge);
  const auto tiles = [&](std::uint32_t from, std::uint32_t to) {
    double tile[1 << edge][1 << edge];
    for (std::uint32_t m = from; m < to; ++m) {
      // The tile's samples, transposed in the cache, then written out a
      // run of eight values at a time.
      for (std::uint32_t h = 0; h < (1u << edge); ++h) {
        const std::uint32_t i = (h << (mid + edge)) | (m << edge);
        if (static_cast<std::int32_t>(i + (1u << edge)) <= nt) {
          for (std::uint32_t l = 0; l < (1u << edge); ++l) tile[l][rev_edge[h]] = samples[i + l];
        } else {
          for (std::uint32_t l = 0; l < (1u << edge); ++l) tile[l][rev_edge[h]] = sample(i + l).re;
        }
      }
      const std::uint32_t m2 = reversed(m, mid);
      for (std::uint32_t l = 0; l < (1u << edge); ++l) {
        dcomplex* const run = a + ((rev_edge[l] << (mid + edge)) | (m2 << edge));
        for (std::uint32_t k = 0; k < (1u << edge); ++k) run[k] = {tile[l][k], 0.0};
      }
    }
  };
  const std::uint32_t count = 1u << mid;
  in_two(n >= threads_from, count, count / 2, tiles);
}

void prepare_transform(std::int32_t n, std::int32_t ind) {
  if (n >= 2) twiddles_of(n, ind);
}

void dwvfast_loaded(std::int32_t n, dcomplex* a, std::int32_t ind) {
  if (n <= 1) return;
  if (n >= depth_first_from) {
    const std::shared_ptr<const twiddle_tables> tables = twiddles_of(n, ind);
    depth_first(a, n, twiddle_view{tables->whole.data(), tables->runs.data(), n / 2}, n >= threads_from);
    return;
  }
  stages(n, a, ind);
}

}  // namespace trislip
