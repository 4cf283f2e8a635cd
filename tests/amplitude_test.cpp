#include "trislip/amplitude.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/fft.hpp"
#include "trislip/power.hpp"
#include "trislip/records/formatted.hpp"
#include "trislip/synthesis.hpp"

namespace {

constexpr std::int32_t capacity = 16400;
constexpr trislip::slip_params fixed{1.0, 0.005, 4096, 1.633, 0.95, 8, 0.1};

struct amp {
  double freq, vel, acc;
};

struct collect_amp final : trislip::amp_record_sink {
  std::vector<amp> records;
  void record(double freq, double vel, double acc) override { records.push_back({freq, vel, acc}); }
};

struct ignore_slip final : trislip::slip_record_sink {
  void record(double, double, double, double) override {}
};

std::vector<amp> spectrum_of(const trislip::slip_params& p) {
  static double trisv[capacity];
  static trislip::dcomplex triamp[capacity];
  ignore_slip none;
  trislip::synthesize(p, trisv, capacity, none);
  trislip::transform_samples(p.nt, trisv, triamp, capacity);
  collect_amp out;
  trislip::amplitude_spectrum(p.nt, p.dt, triamp, out);
  return out.records;
}

const std::vector<amp>& fixed_spectrum() {
  static const std::vector<amp> records = spectrum_of(fixed);
  return records;
}

std::string record(std::size_t k) {  // k counts from 1
  const amp& a = fixed_spectrum().at(k - 1);
  const double items[] = {a.freq, a.vel, a.acc};
  std::string text(trislip::format_1100.max_length(), '?');
  text.resize(trislip::edit_record(trislip::format_1100, items, 3, text.data()));
  return text;
}

TEST(spectral_constants, of_the_program_record) {
  const auto c = trislip::spectral_constants_for(4096, 0.005);
  EXPECT_EQ(c.dur, 4096 * 0.005);
  EXPECT_EQ(c.dom, 0x1.3a28c59e04626p-2);  // 0.30679615761718748...
  EXPECT_EQ(c.nom, 2048);
  EXPECT_EQ(c.eom, 628.3185308);
  EXPECT_EQ(c.eom / 6.283185307, 100.00000001591549);
}

TEST(amplitude_spectrum, records_of_the_program_run) {
  ASSERT_EQ(fixed_spectrum().size(), 2048u);
  EXPECT_EQ(record(1), "  0.0000,  0.1000E+01,  0.0000E+00,");
  EXPECT_EQ(record(2), "  0.0488,  0.9848E+00,  0.3021E+00,");
  EXPECT_EQ(record(3), "  0.0977,  0.9429E+00,  0.5785E+00,");
  EXPECT_EQ(record(4), "  0.1465,  0.8816E+00,  0.8114E+00,");
  EXPECT_EQ(record(5), "  0.1953,  0.8122E+00,  0.9968E+00,");
  EXPECT_EQ(record(6), "  0.2441,  0.7469E+00,  0.1146E+01,");
  EXPECT_EQ(record(11), "  0.4883,  0.5966E+00,  0.1830E+01,");
  EXPECT_EQ(record(21), "  0.9766,  0.4505E+00,  0.2764E+01,");
  EXPECT_EQ(record(86), "  4.1504,  0.1891E+00,  0.4930E+01,");
  EXPECT_EQ(record(101), "  4.8828,  0.1581E+00,  0.4850E+01,");
  EXPECT_EQ(record(206), " 10.0098,  0.5201E-01,  0.3271E+01,");
  EXPECT_EQ(record(1000), " 48.7793,  0.1742E-03,  0.5339E-01,");
  EXPECT_EQ(record(2048), " 99.9512,  0.2396E-03,  0.1505E+00,");
}

TEST(amplitude_spectrum, frequencies_on_and_near_ties) {
  const auto& r = fixed_spectrum();
  EXPECT_EQ(r[80].freq, 3.90625);  // exact tie, broken to even
  EXPECT_EQ(record(81).substr(0, 8), "  3.9062");
  EXPECT_EQ(r[16].freq, std::nextafter(0.78125, 0.0));
  EXPECT_EQ(record(17).substr(0, 8), "  0.7812");
  EXPECT_EQ(record(49).substr(0, 8), "  2.3438");
}

TEST(amplitude_spectrum, peaks) {
  const auto& r = fixed_spectrum();
  std::size_t vel_peak = 1, acc_peak = 0;
  for (std::size_t k = 1; k < r.size(); ++k) {
    if (r[k].vel > r[vel_peak].vel) vel_peak = k;
    if (r[k].acc > r[acc_peak].acc) acc_peak = k;
  }
  EXPECT_EQ(vel_peak + 1, 2u);
  EXPECT_EQ(acc_peak + 1, 86u);
}

// The continuous Fourier transform of the pulse sum, from the pulses'
// geometry alone: a triangle rising with slope s1 to its peak at t1 and
// falling with slope -s2 to 0 at T has v'' = s1 d(t) - (s1+s2) d(t-t1) +
// s2 d(t-T), so V(w) = -(s1 - (s1+s2) e^{-iwt1} + s2 e^{-iwT}) / w^2.
std::complex<double> analytic(double om) {
  std::complex<double> sum = 0.0;
  double weights = 0.0;
  for (int j = 0; j < 8; ++j) {
    const double tau = 0.1 * std::pow(1.633, j);
    const double weight = std::pow(0.95, j);
    const double t1 = tau / 1.633;
    const double peak = 2.0 / tau;
    const double s1 = peak / t1;
    const double s2 = peak / (tau - t1);
    const std::complex<double> i(0.0, 1.0);
    sum += weight * -(s1 - (s1 + s2) * std::exp(-i * om * t1) + s2 * std::exp(-i * om * tau)) /
           (om * om);
    weights += weight;
  }
  return sum / weights;
}

// Sampling at 200 Hz holds the transform of a continuous pulse sum to
// about 2.5e-4 below 5 Hz (the trapezoidal sum of a kinked function). A
// spectrum one frequency step off, missing the dt scaling or with the
// wrong step would be off by more than 1e-2 there.
TEST(amplitude_spectrum, agrees_with_the_analytic_transform_at_low_frequency) {
  const auto& r = fixed_spectrum();
  const double dom = 2.0 * M_PI / 20.48;
  for (std::size_t k = 1; k <= 102; ++k) {  // up to 4.98 Hz
    const double om = static_cast<double>(k) * dom;
    const double vel = std::abs(analytic(om));
    EXPECT_NEAR(r[k].vel, vel, 1e-3) << "record " << k + 1;
    EXPECT_NEAR(r[k].acc, vel * om, 1e-3 * om) << "record " << k + 1;
    EXPECT_NEAR(r[k].freq, om / (2.0 * M_PI), 1e-9) << "record " << k + 1;
  }
}

TEST(amplitude_spectrum, short_records_hold_record_one_only) {
  for (std::int32_t nt : {1, 2}) {
    trislip::slip_params p = fixed;
    p.nt = nt;
    const auto r = spectrum_of(p);
    ASSERT_EQ(r.size(), 1u) << nt;
    EXPECT_EQ(r[0].vel, 1.0);
  }
  trislip::slip_params p = fixed;
  p.nt = 4;
  EXPECT_EQ(spectrum_of(p).size(), 2u);
}

TEST(transform_samples, rejects_lengths_it_cannot_transform) {
  std::vector<double> trisv(32, 1.0);
  std::vector<trislip::dcomplex> triamp(16, {5.0, 5.0});
  EXPECT_THROW(trislip::transform_samples(12, trisv.data(), triamp.data(), 16),
               std::invalid_argument);
  EXPECT_THROW(trislip::transform_samples(32, trisv.data(), triamp.data(), 16),
               std::invalid_argument);
  EXPECT_THROW(trislip::transform_samples(0, trisv.data(), triamp.data(), 16),
               std::invalid_argument);
  EXPECT_EQ(triamp[0].re, 5.0);  // nothing written before the rejection
}

}  // namespace

// The records four at a time give the bits of one at a time, whatever the
// values: ordinary ones, one part negligible beside the other, equal
// parts, zeros of both signs, subnormals, the largest, infinities, NaN.
TEST(spectrum_records, four_at_a_time_give_the_bits_of_one_at_a_time) {
  const std::vector<double> special{0.0, -0.0, 1e-310, -4.9e-324, 1.0, -1.0, 1e-20, 3e200,
                                    1.7976931348623157e308, INFINITY, -INFINITY, NAN};
  std::vector<trislip::dcomplex> z;
  for (double re : special) {
    for (double im : special) z.push_back({re, im});
  }
  std::uint64_t state = 88172645463325252u;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5;
  };
  for (int i = 0; i < 4000; ++i) z.push_back({next() * std::pow(10.0, (i % 40) - 20), next() * std::pow(10.0, (i % 23) - 11)});
  const auto count = static_cast<std::int32_t>(z.size());
  const trislip::spectral_constants c = trislip::spectral_constants_for(2 * count, 0.005);

  std::vector<double> out[2][3];
  std::vector<trislip::dcomplex> scaled[2];
  for (int way = 0; way < 2; ++way) {
    const bool was = trislip::allow_avx2(way == 1);
    scaled[way] = z;
    for (auto& column : out[way]) column.assign(z.size(), 0.0);
    // From record 2, so that the four-wide steps start off their usual
    // alignment, and to one short of the end, so that one is left over.
    trislip::spectrum_records(2, count, c, 0.005, scaled[way].data(), out[way][0].data(), out[way][1].data(),
                              out[way][2].data());
    trislip::allow_avx2(was);
  }
  // A NaN's sign and payload depend on the order the compiler gives the
  // operands of a sum: any NaN matches any NaN.
  const auto same = [](double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
  };
  for (std::size_t i = 0; i < z.size(); ++i) {
    EXPECT_TRUE(same(scaled[0][i].re, scaled[1][i].re) && same(scaled[0][i].im, scaled[1][i].im))
        << "z = (" << z[i].re << ", " << z[i].im << ") scaled to (" << scaled[0][i].re << ", " << scaled[0][i].im
        << ") and (" << scaled[1][i].re << ", " << scaled[1][i].im << ")";
  }
  for (int k = 0; k < 3; ++k) {
    for (std::size_t i = 0; i < z.size(); ++i) EXPECT_TRUE(same(out[0][k][i], out[1][k][i])) << "column " << k << ", record " << i + 2;
  }
}
