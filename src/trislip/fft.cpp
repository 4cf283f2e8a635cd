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

// Four lanes of correctly_rounded's arithmetic (no fused operations: the
// target has no FMA).
#define TRISLIP_TARGET_AVX2 __attribute__((target("avx2"))) inline
TRISLIP_TARGET_AVX2 __m256d add4(__m256d u, __m256d v) { return _mm256_add_pd(u, v); }
TRISLIP_TARGET_AVX2 __m256d sub4(__m256d u, __m256d v) { return _mm256_sub_pd(u, v); }
TRISLIP_TARGET_AVX2 __m256d mul4(__m256d u, __m256d v) { return _mm256_mul_pd(u, v); }
TRISLIP_TARGET_AVX2 __m256d all4(double v) { return _mm256_set1_pd(v); }

// two_prod's low part from the product p and the splits of its factors:
// ((ah bh - p) + ah bl + al bh) + al bl.
TRISLIP_TARGET_AVX2 __m256d two_prod_lo4(__m256d p, __m256d ah, __m256d al, __m256d bh, __m256d bl) {
  return add4(add4(add4(sub4(mul4(ah, bh), p), mul4(ah, bl)), mul4(al, bh)), mul4(al, bl));
}

// two_sum: u + v and its rounding error.
TRISLIP_TARGET_AVX2 __m256d two_sum4(__m256d u, __m256d v, __m256d& lo) {
  const __m256d t = add4(u, v), bb = sub4(t, u);
  lo = add4(sub4(u, sub4(t, bb)), sub4(v, bb));
  return t;
}

// correctly_rounded::rounded for four lanes: the sums in out, and bit k of
// the result set where lane k's rounding is told.
TRISLIP_TARGET_AVX2 int rounded4(__m256d hi, __m256d lo, __m256d& out) {
  const __m256d sign = all4(-0.0), zero = _mm256_setzero_pd();
  const __m256d n_hi = add4(hi, lo), n_lo = sub4(lo, sub4(n_hi, hi));
  const __m256i bits = _mm256_castpd_si256(n_hi);
  const __m256i exponent = _mm256_and_si256(bits, _mm256_set1_epi64x(0x7ff0000000000000));
  const __m256i fraction = _mm256_and_si256(bits, _mm256_set1_epi64x(0x000fffffffffffff));
  const __m256i too_small = _mm256_cmpgt_epi64(_mm256_set1_epi64x(std::int64_t{64} << 52), exponent);
  const __m256d lo_negative = _mm256_cmp_pd(n_lo, zero, _CMP_LT_OQ), hi_positive = _mm256_cmp_pd(n_hi, zero, _CMP_GT_OQ);
  const __m256i towards_zero =
      _mm256_xor_si256(_mm256_castpd_si256(_mm256_xor_pd(lo_negative, hi_positive)), _mm256_set1_epi64x(-1));
  const __m256i at_power = _mm256_and_si256(towards_zero, _mm256_cmpeq_epi64(fraction, _mm256_setzero_si256()));
  const __m256i half_bits = _mm256_sub_epi64(_mm256_sub_epi64(exponent, _mm256_set1_epi64x(std::int64_t{53} << 52)),
                                             _mm256_and_si256(at_power, _mm256_set1_epi64x(std::int64_t{1} << 52)));
  const __m256d told =
      _mm256_cmp_pd(add4(_mm256_andnot_pd(sign, n_lo), all4(0x1p-66)), _mm256_castsi256_pd(half_bits), _CMP_LT_OQ);
  out = n_hi;
  return _mm256_movemask_pd(_mm256_andnot_pd(_mm256_castsi256_pd(too_small), told));
}

// correctly_rounded::cos_sin_table for four angles: each lane does that
// function's IEEE operations in its order, so the same doubles; bit k of
// the result is set where lane k's rounding is told (the others are left
// to correctly_rounded::cos_sin).
TRISLIP_TARGET_AVX2 int cos_sin_table4(__m256d vx, __m256d& c, __m256d& s) {
  const correctly_rounded::table_entry* table = correctly_rounded::table();
  const __m256d sign = all4(-0.0);
  const __m256d a = _mm256_andnot_pd(sign, vx);
  const __m128i j = _mm256_cvttpd_epi32(add4(mul4(a, all4(256)), all4(0.5)));
  const __m256d d = sub4(a, mul4(_mm256_cvtepi32_pd(j), all4(1.0 / 256)));
  // The table's entries, eight doubles each (s, c, and their splits):
  // each half of the four loaded, then turned to one field a register.
  alignas(16) std::int32_t jj[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(jj), j);
  __m256d field[8];
  for (int half = 0; half < 2; ++half) {
    const __m256d e0 = _mm256_loadu_pd(&table[jj[0]].s.hi + 4 * half), e1 = _mm256_loadu_pd(&table[jj[1]].s.hi + 4 * half);
    const __m256d e2 = _mm256_loadu_pd(&table[jj[2]].s.hi + 4 * half), e3 = _mm256_loadu_pd(&table[jj[3]].s.hi + 4 * half);
    const __m256d t0 = _mm256_unpacklo_pd(e0, e1), t1 = _mm256_unpackhi_pd(e0, e1);
    const __m256d t2 = _mm256_unpacklo_pd(e2, e3), t3 = _mm256_unpackhi_pd(e2, e3);
    field[4 * half + 0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    field[4 * half + 1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    field[4 * half + 2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    field[4 * half + 3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
  const __m256d ts_hi = field[0], ts_lo = field[1], tc_hi = field[2], tc_lo = field[3];
  const __m256d tss_hi = field[4], tss_lo = field[5], tcs_hi = field[6], tcs_lo = field[7];
  const __m256d dc = mul4(all4(134217729.0), d);
  const __m256d ds_hi = sub4(dc, sub4(dc, d)), ds_lo = sub4(d, ds_hi);
  const __m256d d2 = mul4(d, d), d2_lo = two_prod_lo4(d2, ds_hi, ds_lo, ds_hi, ds_lo);
  const __m256d c3 = mul4(
      d2, add4(all4(-1.0 / 6), mul4(d2, add4(all4(1.0 / 120), mul4(d2, add4(all4(-1.0 / 5040), _mm256_div_pd(d2, all4(362880))))))));
  const __m256d eh = mul4(all4(-0.5), d2);
  const __m256d el = add4(mul4(all4(-0.5), d2_lo),
                          mul4(mul4(d2, d2), add4(all4(1.0 / 24), mul4(d2, add4(all4(-1.0 / 720), _mm256_div_pd(d2, all4(40320)))))));
  const __m256d cd = mul4(tc_hi, d), cd_lo = two_prod_lo4(cd, tcs_hi, tcs_lo, ds_hi, ds_lo);
  const __m256d sd = mul4(ts_hi, d), sd_lo = two_prod_lo4(sd, tss_hi, tss_lo, ds_hi, ds_lo);
  __m256d sin_main_lo, cos_main_lo;
  const __m256d sin_main = two_sum4(ts_hi, cd, sin_main_lo);
  const __m256d cos_main = two_sum4(tc_hi, _mm256_xor_pd(sd, sign), cos_main_lo);
  const __m256d sin_small = add4(
      add4(add4(add4(add4(ts_lo, mul4(ts_hi, eh)), add4(mul4(ts_hi, el), mul4(ts_lo, eh))), cd_lo), mul4(tc_lo, d)),
      mul4(cd, c3));
  const __m256d cos_small = sub4(
      sub4(sub4(add4(add4(tc_lo, mul4(tc_hi, eh)), add4(mul4(tc_hi, el), mul4(tc_lo, eh))), sd_lo), mul4(ts_lo, d)),
      mul4(sd, c3));
  __m256d sa, ca;
  const int told = rounded4(sin_main, add4(sin_main_lo, sin_small), sa) & rounded4(cos_main, add4(cos_main_lo, cos_small), ca);
  c = ca;
  s = _mm256_xor_pd(sa, _mm256_and_pd(vx, sign));
  return told;
}

// detail::twiddle_values four at a time from k = from: the angles as it
// makes them (k * ind, exact in double, times pai, then times 1 / half,
// which is a power of two and so exactly the division), then
// cos_sin_table4, whose lanes are stored as pairs (cos, sin) where every
// lane's rounding is told, and the others by correctly_rounded::cos_sin.
// Returns the first k not done.
__attribute__((target("avx2"))) std::int32_t twiddles4(std::int32_t half, std::int32_t ind, std::int32_t from,
                                                       std::int32_t to, dcomplex* w) {
  const __m256d times_pai = all4(pai), over_half = all4(1.0 / static_cast<double>(half));
  std::int32_t k = from;
  for (; k + 4 <= to; k += 4) {
    const __m128i kk = _mm_mullo_epi32(_mm_setr_epi32(k, k + 1, k + 2, k + 3), _mm_set1_epi32(ind));
    const __m256d x = mul4(mul4(_mm256_cvtepi32_pd(kk), times_pai), over_half);
    __m256d c, s;
    const int told = cos_sin_table4(x, c, s);
    double* out = &w[k - from].re;
    if (told == 0xf) {
      const __m256d lo = _mm256_unpacklo_pd(c, s), hi = _mm256_unpackhi_pd(c, s);  // (c0 s0 c2 s2), (c1 s1 c3 s3)
      _mm256_storeu_pd(out, _mm256_permute2f128_pd(lo, hi, 0x20));
      _mm256_storeu_pd(out + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
      continue;
    }
    alignas(32) double xs[4], cs[4], ss[4];
    _mm256_store_pd(xs, x);
    _mm256_store_pd(cs, c);
    _mm256_store_pd(ss, s);
    for (int i = 0; i < 4; ++i) {
      if ((told >> i) & 1) {
        out[2 * i] = cs[i];
        out[2 * i + 1] = ss[i];
      } else {
        correctly_rounded::cos_sin(xs[i], out[2 * i], out[2 * i + 1]);
      }
    }
  }
  return k;
}
#undef TRISLIP_TARGET_AVX2

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
    detail::twiddle_values(half, ind, from, to, w.data() + from);
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

void detail::twiddle_values(std::int32_t half, std::int32_t ind, std::int32_t from, std::int32_t to, dcomplex* w) {
  const auto angle = [&](std::int32_t k) { return static_cast<double>(k * ind) * pai / static_cast<double>(half); };
  std::int32_t k = from;
#if defined(TRISLIP_AVX2)
  if (has_avx2()) k = twiddles4(half, ind, from, to, w);
#endif
  for (; k < to; ++k) correctly_rounded::cos_sin(angle(k), w[k - from].re, w[k - from].im);
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
