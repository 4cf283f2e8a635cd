#include "trislip/correctly_rounded.hpp"
#include "trislip/fft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ios>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using trislip::dcomplex;
using trislip::dwvfast;

std::vector<dcomplex> real_values(std::initializer_list<double> xs) {
  std::vector<dcomplex> a;
  for (double x : xs) a.push_back({x, 0.0});
  return a;
}

void transform(std::vector<dcomplex>& a, int ind) {
  dwvfast(static_cast<int>(a.size()), a.data(), static_cast<int>(a.size()), ind);
}

TEST(dwvfast, two_points_are_exact) {
  auto a = real_values({1, 2});
  transform(a, -1);
  EXPECT_EQ(a[0].re, 3.0);
  EXPECT_EQ(a[0].im, 0.0);
  EXPECT_EQ(a[1].re, -1.0);
  EXPECT_EQ(a[1].im, 0.0);
}

TEST(dwvfast, four_point_reordering_swaps_the_middle_pair) {
  // With input (0, 1, 0, 0) the first stage sees the reordered (0, 0, 1, 0);
  // a missing swap would put the impulse in the other half.
  auto a = real_values({0, 1, 0, 0});
  transform(a, -1);
  const double c = std::cos(trislip::pai / 2);  // not 0: pai exceeds pi
  EXPECT_NEAR(c, -2.0510e-10, 1e-14);
  EXPECT_EQ(a[0].re, 1.0);
  EXPECT_EQ(a[0].im, 0.0);
  EXPECT_EQ(a[1].re, c);
  EXPECT_EQ(a[1].im, -1.0);
  EXPECT_EQ(a[2].re, -1.0);
  EXPECT_EQ(a[3].re, -c);
  EXPECT_EQ(a[3].im, 1.0);
}

TEST(dwvfast, constant_input_goes_to_the_zero_frequency) {
  for (int n : {4, 8, 16}) {
    std::vector<dcomplex> a(static_cast<std::size_t>(n), dcomplex{2.5, 0.0});
    transform(a, -1);
    EXPECT_EQ(a[0].re, 2.5 * n);
    for (int i = 1; i < n; ++i) {
      EXPECT_NEAR(a[static_cast<std::size_t>(i)].re, 0.0, 1e-8) << n << " " << i;
      EXPECT_NEAR(a[static_cast<std::size_t>(i)].im, 0.0, 1e-8) << n << " " << i;
    }
  }
}

TEST(dwvfast, eight_point_ramp) {
  auto a = real_values({1, 2, 3, 4, 5, 6, 7, 8});
  transform(a, -1);
  const double expect_im[] = {0, 9.656854, 4, 1.656854, 0, -1.656854, -4, -9.656854};
  EXPECT_EQ(a[0].re, 36.0);
  EXPECT_EQ(a[4].re, -4.0);
  EXPECT_EQ(a[4].im, 0.0);
  for (std::size_t i = 1; i < 8; ++i) {
    EXPECT_NEAR(a[i].re, -4.0, 1e-8) << i;
    EXPECT_NEAR(a[i].im, expect_im[i], 1e-6) << i;
  }
}

TEST(dwvfast, leaves_elements_beyond_n_alone) {
  std::vector<dcomplex> a(16, dcomplex{9.0, -9.0});
  for (std::size_t i = 0; i < 8; ++i) a[i] = {static_cast<double>(i), 0.0};
  dwvfast(8, a.data(), 16, -1);
  for (std::size_t i = 8; i < 16; ++i) {
    EXPECT_EQ(a[i].re, 9.0);
    EXPECT_EQ(a[i].im, -9.0);
  }
}

TEST(dwvfast, forward_then_inverse_returns_n_times_the_input) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n = 1; n <= 16384; n *= 2) {
    std::vector<dcomplex> in(static_cast<std::size_t>(n));
    for (auto& z : in) z = {u(rng), u(rng)};
    auto a = in;
    transform(a, -1);
    transform(a, +1);
    double worst = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
      worst = std::fmax(worst, std::hypot(a[i].re / n - in[i].re, a[i].im / n - in[i].im));
    }
    // Rounding grows with log2(n); a few units of 1e-16 per stage.
    EXPECT_LT(worst, 1e-15 * (1 + std::log2(n))) << "n = " << n;
  }
}

// The exact result of the procedure with pai: each butterfly stage turns by
// a multiple of pai/2^s, while the sign changes stay exact half turns.
TEST(dwvfast, matches_a_direct_sum_with_the_same_pai) {
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n : {2, 16, 128, 1024}) {
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    std::vector<dcomplex> in(static_cast<std::size_t>(n));
    for (auto& z : in) z = {u(rng), u(rng)};
    for (int ind : {-1, 1}) {
      auto a = in;
      transform(a, ind);
      double worst = 0.0, largest = 0.0;
      for (int p = 0; p < n; ++p) {
        long double re = 0, im = 0;
        for (int q = 0; q < n; ++q) {
          int sigma = 0;
          long double phi = 0;
          for (int t = 0; t < bits; ++t) {
            if (((q >> t) & 1) == 0) continue;
            const int s = bits - 1 - t;
            sigma += (p >> s) & 1;
            phi += static_cast<long double>(p % (1 << s)) / (1 << s);
          }
          const long double ang = ind * static_cast<long double>(trislip::pai) * phi;
          const long double sign = (sigma % 2) ? -1.0L : 1.0L;
          const long double c = std::cos(ang), sn = std::sin(ang);
          const dcomplex x = in[static_cast<std::size_t>(q)];
          re += sign * (x.re * c - x.im * sn);
          im += sign * (x.re * sn + x.im * c);
        }
        const dcomplex got = a[static_cast<std::size_t>(p)];
        worst = std::fmax(worst, std::hypot(static_cast<double>(got.re - re),
                                            static_cast<double>(got.im - im)));
        largest = std::fmax(largest, std::hypot(static_cast<double>(re), static_cast<double>(im)));
      }
      EXPECT_LT(worst / largest, 1e-12) << "n = " << n << ", ind = " << ind;
    }
  }
}

TEST(dwvfast, room_beyond_n_changes_no_bit) {
  for (const std::int32_t n : {1 << 15, 1 << 17}) {
    const std::int32_t room = n + n / 256 + 4;
    std::vector<dcomplex> tight(static_cast<std::size_t>(n)), roomy(static_cast<std::size_t>(room));
    for (std::int32_t i = 0; i < n; ++i) {
      tight[static_cast<std::size_t>(i)] = roomy[static_cast<std::size_t>(i)] = {std::sin(i * 0.01) / (1 + i % 7), i % 5 * 0.25};
    }
    dwvfast(n, tight.data(), n, -1);
    dwvfast(n, roomy.data(), room, -1);
    EXPECT_EQ(std::memcmp(tight.data(), roomy.data(), tight.size() * sizeof(dcomplex)), 0) << n;
  }
}

TEST(dwvfast, rejects_calls_it_cannot_serve) {
  std::vector<dcomplex> a(16, dcomplex{1.0, 0.0});
  EXPECT_THROW(dwvfast(12, a.data(), 16, -1), std::invalid_argument);
  EXPECT_THROW(dwvfast(32, a.data(), 16, -1), std::invalid_argument);
  EXPECT_THROW(dwvfast(8, a.data(), 16, 0), std::invalid_argument);
  EXPECT_THROW(dwvfast(8, a.data(), 16, 2), std::invalid_argument);
  for (int n : {-4, 0, 1}) {
    dwvfast(n, a.data(), 16, -1);
    EXPECT_EQ(a[0].re, 1.0);
    EXPECT_EQ(a[1].re, 1.0);
  }
}

// The order of the butterflies is free; their operands are not. Every
// length from 2 to 2^22, both directions at the short ones.
TEST(dwvfast, every_schedule_gives_the_stage_by_stage_bits) {
  std::mt19937_64 rng(2026);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (std::int32_t n = 2; n <= (1 << 22); n *= 2) {
    std::vector<dcomplex> a(static_cast<std::size_t>(n));
    for (auto& z : a) z = {u(rng), u(rng)};
    for (std::int32_t ind : {-1, 1}) {
      if (ind == 1 && n > (1 << 16)) continue;
      auto b = a, c = a;
      trislip::dwvfast(n, a.data(), n, ind);
      trislip::dwvfast_in_stages(n, b.data(), ind);
      ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(dcomplex)), 0) << "n = " << n << ", ind = " << ind;
      if (ind == -1) {  // real samples, loaded in bit-reversed order
        std::vector<double> samples(static_cast<std::size_t>(n));
        for (auto& x : samples) x = u(rng);
        const std::int32_t nt = n / 2 + 1;
        std::vector<dcomplex> loaded(samples.size()), staged(samples.size(), dcomplex{0.0, 0.0});
        for (std::int32_t i = 0; i < nt; ++i) staged[static_cast<std::size_t>(i)] = {samples[static_cast<std::size_t>(i)], 0.0};
        trislip::load_bit_reversed(n, samples.data(), nt, loaded.data());
        trislip::dwvfast_loaded(n, loaded.data(), -1);
        trislip::dwvfast_in_stages(n, staged.data(), -1);
        ASSERT_EQ(std::memcmp(loaded.data(), staged.data(), loaded.size() * sizeof(dcomplex)), 0) << "samples, n = " << n;
      }
      if (n <= (1 << 18)) {  // and without AVX2, where the machine has it
        const bool was = trislip::allow_avx2(false);
        trislip::dwvfast(n, c.data(), n, ind);
        trislip::allow_avx2(was);
        ASSERT_EQ(std::memcmp(c.data(), b.data(), c.size() * sizeof(dcomplex)), 0) << "SSE2, n = " << n;
      }
    }
  }
}

}  // namespace

// Every build's twiddles: the nearest doubles (checked against 70-digit
// values), where glibc's cos or sin rounds the other way (the first
// three), at and near multiples of pi/2 in every quadrant, and a tiny
// angle, and so are the wider angles'; and the table's way gives the series' doubles at every angle of
// a transform of 2^17 (bench/twiddles_exhaustive.cpp checks them all).
TEST(correctly_rounded, cos_sin_are_the_nearest_doubles) {
  const struct {
    double x, cos, sin;
  } cases[] = {
      {-0x1.5d808f0c9813ep-1, 0x1.8d459be2d03aap-1, -0x1.42fc0c7dd2f0fp-1},
      {-0x1.31851739081a9p+0, 0x1.794f5e5ec0d9dp-2, -0x1.dbf9e439d59d5p-1},
      {-0x1.9e782679cfbe9p-5, 0x1.ff5846f3d6513p-1, -0x1.9e4ae37dc5bb8p-5},
      {0x1.921fb54442d18p+1, -0x1.0000000000000p+0, 0x1.1a62633145c07p-53},
      {-0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54, -0x1.0000000000000p+0},
      {0x1.8p+1, -0x1.fae04be85e5d2p-1, 0x1.210386db6d55bp-3},
      {-0x1.2p+1, -0x1.419ff91b9ba6dp-1, -0x1.8e5f9c2d0e3a9p-1},
      {0x1p-30, 0x1.0000000000000p+0, 0x1.0000000000000p-30},
      {0.0, 1.0, 0.0},
  };
  for (const auto& c : cases) {
    double cos_x, sin_x;
    trislip::correctly_rounded::cos_sin(c.x, cos_x, sin_x);
    EXPECT_EQ(cos_x, c.cos) << std::hexfloat << c.x;
    EXPECT_EQ(sin_x, c.sin) << std::hexfloat << c.x;
  }
  // Beyond 4, as the moment tensors and the fault geometry take them: where
  // glibc rounds the other way (the first), at multiples of pi/2 up to
  // 4 pi, and near the end of the range.
  const struct {
    double x, cos, sin;
  } wide[] = {
      {-0x1.9650d56b1a229p+2, 0x1.fee6f2d1a8bfdp-1, -0x1.0c16f1193a7a0p-4},
      {0x1.2d97c7f3321d2p+2, -0x1.a79394c9e8a0ap-53, -0x1.0000000000000p+0},
      {0x1.921fb54442d18p+2, 0x1.0000000000000p+0, -0x1.1a62633145c07p-52},
      {0x1.f6a7a2955385ep+2, 0x1.60fafbfd97309p-52, 0x1.0000000000000p+0},
      {0x1.921fb54442d18p+3, 0x1.0000000000000p+0, -0x1.1a62633145c07p-51},
      {-0x1.2d97c7f3321d2p+3, -0x1.0000000000000p+0, -0x1.a79394c9e8a0ap-52},
      {0x1.92031cd33f1a2p+3, 0x1.ffff33932dccep-1, -0x1.c986d3571a63fp-9},
      {0x1.fcccccccccccdp+3, -0x1.f696931df044dp-1, -0x1.86e0dd294e066p-3},
  };
  for (const auto& c : wide) {
    EXPECT_EQ(trislip::correctly_rounded::cos_of(c.x), c.cos) << std::hexfloat << c.x;
    EXPECT_EQ(trislip::correctly_rounded::sin_of(c.x), c.sin) << std::hexfloat << c.x;
  }
  EXPECT_EQ(trislip::correctly_rounded::cos_of(0x1.2p+19), -0x1.a7be731a63be5p-1);  // 589824, still the nearest
  EXPECT_TRUE(std::isnan(trislip::correctly_rounded::cos_of(INFINITY)));
  const double pai = trislip::pai, half = 65536;  // the transform's angles
  int differ = 0;
  for (int ind : {-1, 1}) {
    for (int k = 0; k < 65536; ++k) {
      const double phi = static_cast<double>(k * ind) * pai / half;
      double c1, s1, c2, s2;
      trislip::correctly_rounded::cos_sin(phi, c1, s1);
      trislip::correctly_rounded::cos_sin_series(phi, c2, s2);
      if ((c1 != c2 || s1 != s2) && differ++ < 3) ADD_FAILURE() << "k " << k << " ind " << ind;
    }
  }
  EXPECT_EQ(differ, 0);
}

// The table the twiddles start from is the series' own, entry by entry.
// Both ways of making twiddles (four at a time with AVX2, where the
// processor has it, and one at a time) give the series' doubles at the
// angles of 2^25 where an error bound ten bits looser rounds the other way
// (bench/twiddles_exhaustive.cpp found them with the bound 2^-76), and at
// every angle of transforms of 16 and 4096 samples, the quarter turns
// among them.
TEST(correctly_rounded, the_table_and_both_ways_of_twiddles_are_the_series) {
  namespace cr = trislip::correctly_rounded;
  for (int j = 0; j < cr::table_size; ++j) {
    cr::dd c, s;
    cr::cos_sin_dd(j / 256.0, c, s);
    const cr::table_entry& t = cr::table()[j];
    ASSERT_TRUE(t.s.hi == s.hi && t.s.lo == s.lo && t.c.hi == c.hi && t.c.lo == c.lo) << "j " << j;
  }
  const auto same_as_series = [](std::int32_t half, std::int32_t ind, std::int32_t from, std::int32_t to) {
    std::vector<trislip::dcomplex> w(static_cast<std::size_t>(to - from));
    trislip::detail::twiddle_values(half, ind, from, to, w.data());
    for (std::int32_t k = from; k < to; ++k) {
      double c, s;
      cr::cos_sin_series(static_cast<double>(k * ind) * trislip::pai / static_cast<double>(half), c, s);
      const trislip::dcomplex& t = w[static_cast<std::size_t>(k - from)];
      if (t.re != c || t.im != s) {
        ADD_FAILURE() << "k " << k << " of " << half << ", ind " << ind << (trislip::avx2_in_use() ? " (AVX2)" : "");
      }
    }
  };
  for (bool avx2 : {true, false}) {
    const bool was = trislip::allow_avx2(avx2);
    for (std::int32_t ind : {-1, 1}) {
      for (std::int32_t k : {10086188, 16547246, 18088324, 20971014, 30481183}) same_as_series(1 << 25, ind, k, k + 4);
      same_as_series(8, ind, 0, 8);
      same_as_series(2048, ind, 0, 2048);
    }
    trislip::allow_avx2(was);
  }
}
