#include "trislip/synthesis.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/power.hpp"
#include "trislip/records/edit.hpp"
#include "trislip/records/formatted.hpp"

namespace {

constexpr trislip::slip_params fixed{1.0, 0.005, 4096, 1.633, 0.95, 8, 1.0 / 10.0};
constexpr std::int32_t capacity = 16400;

struct sample {
  double t, v, d, a;
};

struct collect final : trislip::slip_record_sink {
  std::vector<sample> samples;
  void record(double t, double v, double d, double a) override { samples.push_back({t, v, d, a}); }
};

// One run with the program's parameters, shared by the tests below.
const std::vector<sample>& fixed_run() {
  static const std::vector<sample> samples = [] {
    static double trisv[capacity];
    collect out;
    trislip::synthesize(fixed, trisv, capacity, out);
    return out.samples;
  }();
  return samples;
}

std::string record(std::size_t i) {  // i counts from 1
  const sample& s = fixed_run().at(i - 1);
  const double items[] = {s.t, s.v, s.d, s.a};
  std::string text(trislip::format_1000.max_length(), '?');
  text.resize(trislip::edit_record(trislip::format_1000, items, 4, text.data()));
  return text;
}

std::string f7(double x) {
  std::string s(15, '?');
  trislip::edit_f(s.data(), x, 15, 7);
  return s.substr(s.find_first_not_of(' '));
}

TEST(ipow, square_and_multiply_from_the_lowest_bit) {
  const double tr = 1.633;
  const double tr2 = tr * tr;
  EXPECT_EQ(trislip::ipow(tr, 0), 1.0);
  EXPECT_EQ(trislip::ipow(tr, 7), ((1.0 * tr) * tr2) * (tr2 * tr2));
  EXPECT_EQ(trislip::ipow(2.0, -3), 0.125);
  // taumax, the reported duration of the last pulse, is 0x4008c5e2...
  EXPECT_EQ(trislip::ipow(tr, 7) / 10.0, 3.096729655881234);
}

TEST(pulses, worked_values_of_the_eight_pulses) {
  struct row {
    const char *tauj, *tau1j, *tau2j, *vj, *a1j, *a2j;
    double arj;
  };
  const row rows[] = {
      {"0.1000000", "0.0612370", "0.0387630", "20.0000000", "326.6000000", "515.9557662", 1},
      {"0.1633000", "0.1000000", "0.0633000", "12.2473974", "122.4739743", "193.4817919", 0.95},
      {"0.2666689", "0.1633000", "0.1033689", "7.4999372", "45.9273557", "72.5550643", 0.9025},
      {"0.4354703", "0.2666689", "0.1688014", "4.5927356", "17.2226142", "27.2079213", 0.857375},
      {"0.7111230", "0.4354703", "0.2756527", "2.8124529", "6.4584262", "10.2028850", 0.81450625},
      {"1.1612639", "0.7111230", "0.4501409", "1.7222614", "2.4218895", "3.8260498", 0.7737809375},
      {"1.8963439", "1.1612639", "0.7350800", "1.0546610", "0.9082010", "1.4347567", 0.735091890625},
      {"3.0967297", "1.8963439", "1.2003857", "0.6458426", "0.3405725", "0.5380292", 0.69833729609375},
  };
  double arsum = 0.0;
  for (int j = 1; j <= 8; ++j) {
    const auto q = trislip::detail::make_pulse(fixed, j);
    const row& r = rows[j - 1];
    SCOPED_TRACE("pulse " + std::to_string(j));
    EXPECT_EQ(f7(q.tauj), r.tauj);
    EXPECT_EQ(f7(q.tau1j), r.tau1j);
    EXPECT_EQ(f7(q.tau2j), r.tau2j);
    EXPECT_EQ(f7(q.vj), r.vj);
    EXPECT_EQ(f7(q.a1j), r.a1j);
    EXPECT_EQ(f7(q.a2j), r.a2j);
    EXPECT_NEAR(q.arj, r.arj, 4e-16);  // within two units of rounding
    arsum += q.arj;
  }
  EXPECT_EQ(f7(arsum), "6.7315914");
  // The last pulse ends exactly at the reported taumax.
  EXPECT_EQ(trislip::detail::make_pulse(fixed, 8).tauj, 3.096729655881234);
  // Pulse 1 ends where pulse 2 peaks, in double arithmetic too.
  EXPECT_EQ(trislip::detail::make_pulse(fixed, 1).tauj,
            trislip::detail::make_pulse(fixed, 2).tau1j);
}

TEST(synthesis, selected_records) {
  ASSERT_EQ(fixed_run().size(), 4096u);
  EXPECT_EQ(record(1), "  0.0000,      0.0000000,      0.0000000,      0.0000000");
  EXPECT_EQ(record(2), "  0.0050,      0.3767355,      0.0009418,     75.3470927");
  EXPECT_EQ(record(3), "  0.0100,      0.7534709,      0.0037674,     75.3470927");
  EXPECT_EQ(record(13), "  0.0600,      4.5208256,      0.1356248,     75.3470927");
  EXPECT_EQ(record(14), "  0.0650,      4.4265657,      0.1579932,    -18.8519758");
  EXPECT_EQ(record(21), "  0.1000,      2.6829590,      0.2824099,    -49.8173327");
  EXPECT_EQ(record(101), "  0.5000,      0.4670853,      0.6959643,     -0.8216268");
  EXPECT_EQ(record(201), "  1.0000,      0.2054301,      0.8483489,     -0.3052887");
  EXPECT_EQ(record(401), "  2.0000,      0.0612143,      0.9661875,     -0.0558153");
  EXPECT_EQ(record(620), "  3.0950,      0.0000965,      0.9997552,     -0.0558153");
  EXPECT_EQ(record(621), "  3.1000,      0.0000000,      0.9997555,     -0.0193083");
  EXPECT_EQ(record(622), "  3.1050,      0.0000000,      0.9997555,      0.0000000");
  EXPECT_EQ(record(4096), " 20.4750,      0.0000000,      0.9997555,      0.0000000");
}

TEST(synthesis, acceleration_is_constant_on_runs_between_kinks) {
  struct run {
    std::size_t first, last;
    const char* value;
  };
  const run runs[] = {{2, 13, "75.3470927"},     {15, 21, "-49.8173327"},
                      {22, 33, "-17.7598627"},   {35, 54, "-6.3394847"},
                      {56, 88, "-2.2710091"},    {90, 143, "-0.8216268"},
                      {145, 233, "-0.3052887"},  {235, 380, "-0.1213448"},
                      {382, 620, "-0.0558153"},  {622, 4096, "0.0000000"}};
  const auto& s = fixed_run();
  for (std::size_t r = 0; r < std::size(runs); ++r) {
    for (std::size_t i = runs[r].first; i <= runs[r].last; ++i) {
      ASSERT_EQ(f7(s[i - 1].a), runs[r].value) << "sample " << i;
    }
    // A lone sample between two runs lies strictly between their values.
    if (r + 1 < std::size(runs) && runs[r + 1].first == runs[r].last + 2) {
      const double before = s[runs[r].last - 1].a;
      const double lone = s[runs[r].last].a;
      const double after = s[runs[r + 1].first - 1].a;
      EXPECT_LT(std::fmin(before, after), lone) << "sample " << runs[r].last + 1;
      EXPECT_GT(std::fmax(before, after), lone) << "sample " << runs[r].last + 1;
    }
  }
}

TEST(synthesis, velocity_shape) {
  const auto& s = fixed_run();
  std::size_t peak = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    ASSERT_GE(s[i].v, 0.0) << "sample " << i + 1;
    for (double x : {s[i].t, s[i].v, s[i].d, s[i].a}) {
      ASSERT_FALSE(x == 0.0 && std::signbit(x)) << "negative zero at sample " << i + 1;
    }
    if (s[i].v > s[peak].v) peak = i;
    if (i >= 620) {
      ASSERT_EQ(s[i].v, 0.0) << "sample " << i + 1;
    }
  }
  EXPECT_EQ(peak + 1, 13u);
  EXPECT_EQ(s[1].a, s[1].v / 0.005);
}

TEST(synthesis, fills_only_the_samples_it_is_asked_for) {
  std::vector<double> trisv(8, -7.0);
  collect out;
  trislip::slip_params p = fixed;
  p.nt = 5;
  trislip::synthesize(p, trisv.data(), 8, out);
  EXPECT_EQ(out.samples.size(), 5u);
  EXPECT_EQ(trisv[4], out.samples[4].v);
  EXPECT_EQ(trisv[5], -7.0);

  p.nt = 1;
  out.samples.clear();
  trislip::synthesize(p, trisv.data(), 8, out);
  ASSERT_EQ(out.samples.size(), 1u);
  EXPECT_EQ(out.samples[0].v, 0.0);
}

TEST(synthesis, rejects_parameters_it_cannot_handle) {
  struct bad {
    trislip::slip_params p;
    const char* says;
  };
  auto with = [](auto change) {
    trislip::slip_params p = fixed;
    change(p);
    return p;
  };
  const bad cases[] = {
      {with([](auto& p) { p.dt = 0.0; }), "dt = 0, must be > 0"},
      {with([](auto& p) { p.taumin = -0.1; }), "taumin = -0.1, must be > 0"},
      {with([](auto& p) { p.tr = 1.0; }), "tr = 1, must be > 1"},
      {with([](auto& p) { p.tr = std::nan(""); }), "tr = nan, must be > 1"},
      {with([](auto& p) { p.ar = -0.5; }), "ar = -0.5, must be >= 0"},
      {with([](auto& p) { p.nv = 0; }), "nv = 0, must be >= 1"},
      {with([](auto& p) { p.nt = 0; }), "nt = 0, must be between 1 and 16400"},
      {with([](auto& p) { p.nt = 16401; }), "nt = 16401, must be between 1 and 16400"},
  };
  static double trisv[capacity];
  for (const bad& c : cases) {
    collect out;
    try {
      trislip::synthesize(c.p, trisv, capacity, out);
      ADD_FAILURE() << "accepted: " << c.says;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(out.samples.empty());
  }
}

}  // namespace

// Records replayed from the samples are those of the synthesis, bit for
// bit, for the program's run and for ones whose pulses end early or late.
TEST(synthesis, replayed_records_are_the_synthesised_ones) {
  for (const trislip::slip_params& p :
       {fixed, trislip::slip_params{2.5, 0.0013, 30000, 1.2, 1.3, 5, 0.37},
        trislip::slip_params{0.2, 0.05, 7, 3.0, 0.0, 64, 0.01}}) {
    std::vector<double> trisv(static_cast<std::size_t>(p.nt));
    collect made, replayed;
    trislip::synthesize(p, trisv.data(), p.nt, made);
    trislip::replay(p, trisv.data(), replayed);
    ASSERT_EQ(made.samples.size(), replayed.samples.size());
    EXPECT_EQ(std::memcmp(made.samples.data(), replayed.samples.data(), made.samples.size() * sizeof(sample)), 0)
        << "nt = " << p.nt;
    // And in two pieces, the second resuming from the first's last slip.
    const std::int32_t cut = p.nt / 3 + 1;
    collect pieces;
    trislip::replay(p, trisv.data(), 1, cut, 0.0, pieces);
    trislip::replay(p, trisv.data(), cut + 1, p.nt, made.samples[static_cast<std::size_t>(cut - 1)].d, pieces);
    ASSERT_EQ(made.samples.size(), pieces.samples.size());
    EXPECT_EQ(std::memcmp(made.samples.data(), pieces.samples.data(), made.samples.size() * sizeof(sample)), 0)
        << "nt = " << p.nt << " in two pieces";
  }
}
