#include "trislip/amplitude.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "trislip/fft.hpp"

namespace trislip {

spectral_constants spectral_constants_for(std::int32_t nt, double dt) {
  spectral_constants c{};
  c.dur = static_cast<double>(nt) * dt;
  c.dom = (pai + pai) / c.dur;
  c.nom = nt / 2;
  c.eom = static_cast<double>(c.nom) * c.dom;
  return c;
}

void transform_samples(std::int32_t nt, const double* trisv, dcomplex* triamp,
                       std::int32_t mom) {
  transform_padded(nt, nt, trisv, triamp, mom);
}

void transform_padded(std::int32_t nt, std::int32_t nfast, const double* trisv,
                      dcomplex* triamp, std::int32_t mom) {
  if (nfast < 1 || nfast > mom || (nfast & (nfast - 1)) != 0 || nt < 0 || nt > nfast) {
    throw std::invalid_argument("spectrum: cannot transform " +
                                std::to_string(nt) + " samples in a length of " +
                                std::to_string(nfast) +
                                ": the length must be a power of two "
                                "from 1 to " + std::to_string(mom));
  }
  load_samples(nt, nfast, trisv, triamp);
  dwvfast(nfast, triamp, mom, -1);
}

void load_samples(std::int32_t nt, std::int32_t nfast, const double* trisv, dcomplex* triamp) {
  for (std::int32_t i = 0; i < nt; ++i) triamp[i] = {trisv[i], 0.0};
  for (std::int32_t i = nt; i < nfast; ++i) triamp[i] = {0.0, 0.0};
}

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define TRISLIP_AVX2 1
#include <immintrin.h>

namespace {

// Four records from io on, as spectrum_record makes each: the same
// products, sums, quotient and square root, the swap and the early
// return of c_abs as blends.
__attribute__((target("avx2"))) void four_records(std::int32_t io, const spectral_constants& c, double dt,
                                                   dcomplex* z, double* freq, double* amp, double* acc) {
  const __m256d dts = _mm256_set1_pd(dt), zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
  const __m256d sign = _mm256_set1_pd(-0.0);
  double* const p = &z[io - 1].re;
  const __m256d z01 = _mm256_loadu_pd(p), z23 = _mm256_loadu_pd(p + 4);
  // re and im of the four, in record order.
  const __m256d re = _mm256_permute4x64_pd(_mm256_unpacklo_pd(z01, z23), 0xD8);
  const __m256d im = _mm256_permute4x64_pd(_mm256_unpackhi_pd(z01, z23), 0xD8);
  const __m256d ar = re, ai = _mm256_xor_pd(im, sign);
  const __m256d zr = _mm256_sub_pd(_mm256_mul_pd(ar, dts), _mm256_mul_pd(ai, zero));
  const __m256d zi = _mm256_add_pd(_mm256_mul_pd(ar, zero), _mm256_mul_pd(ai, dts));
  __m256d big = _mm256_andnot_pd(sign, zr), small = _mm256_andnot_pd(sign, zi);
  const __m256d swap = _mm256_cmp_pd(small, big, _CMP_GT_OQ);
  const __m256d was_big = big;
  big = _mm256_blendv_pd(big, small, swap);
  small = _mm256_blendv_pd(small, was_big, swap);
  const __m256d q = _mm256_div_pd(small, big);
  const __m256d root = _mm256_mul_pd(big, _mm256_sqrt_pd(_mm256_add_pd(one, _mm256_mul_pd(q, q))));
  const __m256d negligible = _mm256_cmp_pd(_mm256_add_pd(big, small), big, _CMP_EQ_OQ);
  const __m256d a = _mm256_blendv_pd(root, big, negligible);
  const __m256d k = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(io - 1), _mm_setr_epi32(0, 1, 2, 3)));
  const __m256d om = _mm256_mul_pd(k, _mm256_set1_pd(c.dom));
  _mm256_storeu_pd(freq, _mm256_div_pd(om, _mm256_set1_pd(pai + pai)));
  _mm256_storeu_pd(amp, a);
  _mm256_storeu_pd(acc, _mm256_mul_pd(a, om));
  _mm256_storeu_pd(p, _mm256_unpacklo_pd(_mm256_permute4x64_pd(zr, 0xD8), _mm256_permute4x64_pd(zi, 0xD8)));
  _mm256_storeu_pd(p + 4, _mm256_unpackhi_pd(_mm256_permute4x64_pd(zr, 0xD8), _mm256_permute4x64_pd(zi, 0xD8)));
}

}  // namespace
#endif

void spectrum_records(std::int32_t from, std::int32_t to, const spectral_constants& c, double dt, dcomplex* z,
                      double* freq, double* amp, double* acc) {
  std::int32_t io = from;
#if defined(TRISLIP_AVX2)
  if (avx2_in_use()) {
    for (; io + 4 <= to; io += 4) {
      const auto k = static_cast<std::size_t>(io - from);
      four_records(io, c, dt, z, freq + k, amp + k, acc + k);
    }
  }
#endif
  for (; io < to; ++io) {
    const auto k = static_cast<std::size_t>(io - from);
    const amp_record r = spectrum_record(io, c, dt, z[io - 1]);
    freq[k] = r.freq;
    amp[k] = r.amp;
    acc[k] = r.acc;
  }
}

void amplitude_spectrum(std::int32_t nt, double dt, dcomplex* triamp,
                        amp_record_sink& out, zero_frequency first) {
  // The normalised record 1 is written even where the record is too
  // short for any other.
  amplitude_spectrum(nt, dt, triamp, 1, std::max(nt / 2, 1) + 1, out, first);
}

void amplitude_spectrum(std::int32_t nt, double dt, dcomplex* triamp, std::int32_t from, std::int32_t to,
                        amp_record_sink& out, zero_frequency first) {
  const spectral_constants c = spectral_constants_for(nt, dt);
  std::int32_t io = from;
  if (io == 1 && io < to && first == zero_frequency::normalised) {
    out.record(0.0, 1.0, 0.0);
    io = 2;
  }
  // In blocks, so that the records are worked out together.
  constexpr std::int32_t block = 256;
  double freq[block], amp[block], acc[block];
  to = std::min(to, c.nom + 1);
  while (io < to) {
    const std::int32_t end = std::min(io + block, to);
    spectrum_records(io, end, c, dt, triamp, freq, amp, acc);
    for (std::int32_t i = 0; i < end - io; ++i) out.record(freq[i], amp[i], acc[i]);
    io = end;
  }
}

}  // namespace trislip
