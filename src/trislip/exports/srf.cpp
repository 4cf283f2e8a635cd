// The Standard Rupture Format: the version line, an optional PLANE block,
// then POINTS np and every point's two header lines and slip-rate samples,
// six a line. No comment lines and no trailing blanks (SW4 counts a blank
// before a line end as a sample); each component starts on its own line.
#include "trislip/srf.hpp"

#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include <utility>

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#endif

#include "trislip/correctly_rounded.hpp"
#include "trislip/exports/e13_5.hpp"
#include "trislip/exports/kept_rate.hpp"
#include "trislip/fft.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

// The texts of the header fields of the previous point: most repeat from
// point to point (strike, dip, rake, area, DT, ...), and the shortest text
// of a double is dear.
struct field_memo {
  static constexpr int size = 16;
  double value[size];
  char text[size][32];
  std::size_t length[size] = {};

  field_memo() {
    for (double& v : value) v = std::nan("");
  }
  void append(std::string& out, int field, double x) {
    if (!(std::memcmp(&value[field], &x, sizeof x) == 0 && length[field] > 0)) {
      value[field] = x;
      length[field] = static_cast<std::size_t>(std::to_chars(text[field], text[field] + 32, x).ptr - text[field]);
    }
    out.append(text[field], length[field]);
  }
};

// A header line of doubles, one blank apart, their texts remembered from
// field `first` on.
template <std::size_t N>
void append_memo_line(std::string& out, field_memo& memo, int first, const double (&values)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) out += ' ';
    memo.append(out, first + static_cast<int>(i), values[i]);
  }
  out += '\n';
}

// The fields of a header line, one blank apart.
template <class... T>
void append_line(std::string& out, T... values) {
  bool first = true;
  const auto one = [&](auto x) {
    if (!first) out += ' ';
    first = false;
    if constexpr (std::is_integral_v<decltype(x)>) {
      out += std::to_string(x);
    } else {
      append_shortest(out, x);
    }
  };
  (one(values), ...);
  out += '\n';
}

void require(bool ok, const char* field, double value, const char* rule) {
  if (!ok) {
    std::string v;
    append_shortest(v, value);
    throw parameter_error(field, v, rule);
  }
}

// The weighted pulse sums of a function shape, shared by the points that
// differ from it in slip alone: each point's velocity is then
// (sum * dmax) / arsum, the synthesis's own operations on the same operands.
struct shape {
  parameters p;  // the key: everything but dmax
  std::int32_t n = 0;  // samples up to the end of the function
  std::vector<double> sums;
  double arsum = 0;
  std::string text;  // scratch for a point's samples
  field_memo memo;   // the previous point's header texts

  bool serves(const parameters& q) const {
    return n > 0 && p.dt == q.dt && p.nt == q.nt && p.fmax == q.fmax && p.tr == q.tr && p.ar == q.ar &&
           p.nv == q.nv;
  }
  void make(const parameters& q) {
    p = q;
    const pulse_train train(slip_params_of(q));
    arsum = train.arsum;
    // Up to the first sample at or after the end of the longest pulse, or
    // the record's last.
    const double taumax = train.pulses.back().tauj;
    n = 1;
    while (n < q.nt && static_cast<double>(n - 1) * q.dt < taumax) ++n;
    n = std::max<std::int32_t>(n, min_samples);
    sums.assign(static_cast<std::size_t>(n), 0.0);
    std::size_t first = 0;
    for (std::int32_t i = 1; i < n; ++i) sums[static_cast<std::size_t>(i)] = train.sum_at(static_cast<double>(i) * q.dt, first);
  }
};

// Where sample i's field starts in a point's text: 13 characters a
// sample, six a line.
inline std::size_t field_at(std::size_t i) { return 13 * i + i / 6; }

// What a point's velocity samples are made of.
struct samples_in {
  const double* sums;  // the shape's weighted pulse sums, sums[0] = 0
  double dmax, arsum, dt;
};

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#define TRISLIP_AVX2 1

// What the four-wide path tries a decade e with: its bounds, the scale
// to six digits (a factor for e <= 5, a divisor above) and the exponent's
// text in the high half of each lane.
struct decade_lanes {
  int e;
  __m256d low, high, scale;
  __m256i exponent;
};

__attribute__((target("avx2"))) inline decade_lanes decade_lanes_of(int e) {
  using namespace detail::e13_5;
  const auto text = static_cast<std::int64_t>(
      std::uint64_t{exponent_text[static_cast<std::size_t>(e + detail::decade_bias)]} << 32);
  return {e, _mm256_set1_pd(decade_value(e)), _mm256_set1_pd(decade_value(e + 1)),
          _mm256_set1_pd(exact_power_of_ten[e <= 5 ? 5 - e : e - 5]), _mm256_set1_epi64x(text)};
}

// The samples four at a time, from the first up to the last whole four;
// returns how many were edited. Each lane does the scalar loop's
// operations: the velocity, the slip's increment (added in order), then
// %13.5e by one scaling in the decade of the previous four. A lane outside
// that decade, near a tie or out of range is edited by edit_e13_5.
__attribute__((target("avx2"))) std::size_t edit_samples_avx2(const samples_in& in, std::size_t n, char* text,
                                                              detail::decimal_sum& sum, double& slip,
                                                              double& previous) {
  using namespace detail::e13_5;
  const __m256d dmax = _mm256_set1_pd(in.dmax), arsum = _mm256_set1_pd(in.arsum), dt = _mm256_set1_pd(in.dt);
  const __m256d two = _mm256_set1_pd(2.0), hundred = _mm256_set1_pd(100.0), half = _mm256_set1_pd(0.5);
  const __m256d near_low = _mm256_set1_pd(1e-9), near_high = _mm256_set1_pd(1 - 1e-9);
  const __m128i least = _mm_set1_epi32(99999), beyond = _mm_set1_epi32(1000000);
  const __m256i by_10000 = _mm256_set1_epi64x(3518437209), ten_thousand = _mm256_set1_epi64x(10000);
  const __m256i by_100 = _mm256_set1_epi64x(5243), one_hundred = _mm256_set1_epi64x(100);
  const __m256i by_10 = _mm256_set1_epi16(103), ten = _mm256_set1_epi16(10), low_byte = _mm256_set1_epi64x(0xff);
  const __m256i zeros = _mm256_set1_epi64x(0x303030303030), front_fixed = _mm256_set1_epi64x(0x2e002020);
  decade_lanes d = decade_lanes_of(0);  // the decade tried
  std::int64_t digits_sum = 0;  // of decade e
  __m256d last = _mm256_set1_pd(previous);
  alignas(32) double inc[4], x[4];
  alignas(32) std::uint64_t front[4], back[4];
  alignas(16) std::int32_t six[4];
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d vel = _mm256_div_pd(_mm256_mul_pd(_mm256_loadu_pd(in.sums + i), dmax), arsum);
    // The previous velocities: the last lane of the previous four, then
    // lanes 0 to 2.
    const __m256d before = _mm256_blend_pd(_mm256_permute4x64_pd(vel, 0x93), last, 0x1);
    last = _mm256_permute4x64_pd(vel, 0xff);
    _mm256_store_pd(inc, _mm256_div_pd(_mm256_mul_pd(_mm256_add_pd(vel, before), dt), two));
    slip = slip + inc[0];
    slip = slip + inc[1];
    slip = slip + inc[2];
    slip = slip + inc[3];
    const __m256d xs = _mm256_mul_pd(vel, hundred);
    _mm256_store_pd(x, xs);
    const __m256d half_up =
        _mm256_add_pd(d.e <= 5 ? _mm256_mul_pd(xs, d.scale) : _mm256_div_pd(xs, d.scale), half);
    const __m128i n32 = _mm256_cvttpd_epi32(half_up);
    const __m256d fraction = _mm256_sub_pd(half_up, _mm256_cvtepi32_pd(n32));
    const __m256d fits = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(xs, d.low, _CMP_GE_OQ), _mm256_cmp_pd(xs, d.high, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(fraction, near_low, _CMP_GE_OQ), _mm256_cmp_pd(fraction, near_high, _CMP_LE_OQ)));
    const __m128i six_digits = _mm_and_si128(_mm_cmpgt_epi32(n32, least), _mm_cmpgt_epi32(beyond, n32));
    const int good = _mm256_movemask_pd(fits) & _mm_movemask_ps(_mm_castsi128_ps(six_digits));
    // Six digits in each 64-bit lane: three pairs in 16-bit lanes, each
    // split into tens and ones (v * 103 >> 10 is v / 10 up to 99).
    const __m256i v = _mm256_cvtepu32_epi64(n32);
    const __m256i hi = _mm256_srli_epi64(_mm256_mul_epu32(v, by_10000), 45);
    const __m256i lo = _mm256_sub_epi64(v, _mm256_mul_epu32(hi, ten_thousand));
    const __m256i mid = _mm256_srli_epi64(_mm256_mul_epu32(lo, by_100), 19);
    const __m256i end = _mm256_sub_epi64(lo, _mm256_mul_epu32(mid, one_hundred));
    const __m256i pairs = _mm256_or_si256(_mm256_or_si256(hi, _mm256_slli_epi64(mid, 16)), _mm256_slli_epi64(end, 32));
    const __m256i tens = _mm256_srli_epi16(_mm256_mullo_epi16(pairs, by_10), 10);
    const __m256i ones = _mm256_sub_epi16(pairs, _mm256_mullo_epi16(tens, ten));
    const __m256i digits = _mm256_or_si256(_mm256_or_si256(tens, _mm256_slli_epi16(ones, 8)), zeros);
    _mm256_store_si256(reinterpret_cast<__m256i*>(front),
                       _mm256_or_si256(_mm256_or_si256(front_fixed, _mm256_slli_epi64(_mm256_and_si256(digits, low_byte), 16)),
                                       _mm256_slli_epi64(_mm256_srli_epi64(digits, 8), 32)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(back), _mm256_or_si256(_mm256_srli_epi64(digits, 16), d.exponent));
    _mm_store_si128(reinterpret_cast<__m128i*>(six), n32);
    for (std::size_t k = 0; k < 4; ++k) {
      char* const out = text + field_at(i + k);
      if (good >> k & 1) {
        std::memcpy(out, &front[k], 8);
        std::memcpy(out + 5, &back[k], 8);
        digits_sum += six[k];
      } else {
        detail::edit_e13_5(x[k], out, sum);
      }
    }
    if (good != 0xf) {
      // Try the last lane's decade next.
      const double a = x[3];
      if (a >= 1e-16 && a < 1e22) {
        sum.digits[d.e + detail::decade_bias] += digits_sum;
        digits_sum = 0;
        d = decade_lanes_of(decade_of(a));
      }
    }
  }
  sum.digits[d.e + detail::decade_bias] += digits_sum;
  _mm256_store_pd(x, last);
  previous = x[0];
  return i;
}
#endif

// One point's text; returns its final sampled slip (m) and sets its SLIP1
// as written (m).
double format_point(const srf_point& pt, srf_version v, shape& sh, std::string& out, double& slip1_m) {
  const bool own = !pt.rate_m_s.empty();
  if (!own && !sh.serves(pt.p)) sh.make(pt.p);
  const parameters& p = pt.p;
  const auto n = own ? pt.rate_m_s.size() : static_cast<std::size_t>(sh.n);
  if (v == srf_version::v1_0) {
    append_memo_line(out, sh.memo, 0, {pt.lon, pt.lat, pt.depth_km, pt.strike, pt.dip, pt.area_m2 * 1e4, pt.tinit_s, p.dt});
  } else {
    append_memo_line(out, sh.memo, 0,
                     {pt.lon, pt.lat, pt.depth_km, pt.strike, pt.dip, pt.area_m2 * 1e4, pt.tinit_s, p.dt,
                      pt.vs_m_s * 100, pt.density_kg_m3 / 1000});
  }
  // The second header line needs SLIP1, the sum of the samples as
  // written: the samples are edited first, into the shape's scratch.
  sh.text.resize(13 * n + (n + 5) / 6);
  char* const text = sh.text.data();
  detail::decimal_sum sum;
  const samples_in in{sh.sums.data(), p.dmax, sh.arsum, p.dt};
  double slip = 0, previous = 0;
  std::size_t i = 0;
  if (own) {
    // Its own rate as it is: the slip its samples carry.
    for (; i < n; ++i) {
      slip = slip + pt.rate_m_s[i] * p.dt;
      detail::edit_e13_5(pt.rate_m_s[i] * 100, text + field_at(i), sum);
    }
  }
#if defined(TRISLIP_AVX2)
  if (!own && avx2_in_use()) i = edit_samples_avx2(in, n, text, sum, slip, previous);
#endif
  for (; i < n; ++i) {
    // The synthesis's velocity, bit for bit: sample 0 is 0 (its sum is).
    const double vel = (in.sums[i] * in.dmax) / in.arsum;
    slip = slip + ((vel + previous) * in.dt) / 2.0;
    previous = vel;
    detail::edit_e13_5(vel * 100, text + field_at(i), sum);
  }
  // Line l ends after its last field, at 13 * end + l.
  for (std::size_t line = 0; line * 6 < n; ++line) text[13 * std::min(n, line * 6 + 6) + line] = '\n';
  sh.memo.append(out, 10, pt.rake);
  out += ' ';
  const double slip1 = p.dt * sum.value();
  slip1_m = slip1 / 100;  // cm
  sh.memo.append(out, 11, slip1);
  out += ' ' + std::to_string(n);
  if (pt.rate2_m_s.empty()) {
    out += " 0 0 0 0\n";
    out.append(text, sh.text.size());
    return slip;
  }
  // Component 2, the rate across the rake, on lines of its own.
  const std::size_t n2 = pt.rate2_m_s.size();
  std::string text2(13 * n2 + (n2 + 5) / 6, ' ');
  detail::decimal_sum sum2;
  for (std::size_t k = 0; k < n2; ++k) detail::edit_e13_5(pt.rate2_m_s[k] * 100, text2.data() + field_at(k), sum2);
  for (std::size_t line = 0; line * 6 < n2; ++line) text2[13 * std::min(n2, line * 6 + 6) + line] = '\n';
  out += ' ';
  append_shortest(out, p.dt * sum2.value());
  out += ' ' + std::to_string(n2) + " 0 0\n";
  out.append(text, sh.text.size());
  out += text2;
  return slip;
}

// A block of points formatted together, with what it found.
struct block {
  std::string text;
  std::vector<srf_warning> warnings;
  std::vector<double> slip1_m;
  double potency = 0;
};

void format_block(const std::vector<srf_point>& points, std::size_t first, std::size_t last, srf_version v,
                  shape& sh, block& b) {
  b.text.clear();
  b.warnings.clear();
  b.slip1_m.clear();
  b.potency = 0;
  for (std::size_t i = first; i < last; ++i) {
    double slip1 = 0;
    const double final_slip = format_point(points[i], v, sh, b.text, slip1);
    b.slip1_m.push_back(slip1);
    b.potency += points[i].area_m2 * points[i].p.dmax;
    // A point's own rate is sampled as it was given: nothing to check.
    if (!points[i].rate_m_s.empty()) continue;
    for (sampling_warning& w : check_sampling(points[i].p, final_slip)) b.warnings.push_back({i, std::move(w)});
  }
}

constexpr std::size_t block_points = 256;

// A point's final sampled slip (m), summed as format_point sums it.
double sampled_slip(const srf_point& pt, shape& sh) {
  if (!sh.serves(pt.p)) sh.make(pt.p);
  const samples_in in{sh.sums.data(), pt.p.dmax, sh.arsum, pt.p.dt};
  double slip = 0, previous = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(sh.n); ++i) {
    const double vel = (in.sums[i] * in.dmax) / in.arsum;
    slip = slip + ((vel + previous) * in.dt) / 2.0;
    previous = vel;
  }
  return slip;
}

void check_points(const std::vector<srf_point>& points, srf_version v) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    try {
      check_srf_point(points[i], v);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("point " + std::to_string(i) + ": " + e.what());
    }
  }
}

}  // namespace

srf_summary check_srf(const std::vector<srf_point>& points, srf_version v) {
  check_points(points, v);
  srf_summary summary;
  summary.points = points.size();
  shape sh;
  for (std::size_t i = 0; i < points.size(); ++i) {
    summary.potency_m3 += points[i].area_m2 * points[i].p.dmax;
    if (!points[i].rate_m_s.empty()) continue;
    for (sampling_warning& w : check_sampling(points[i].p, sampled_slip(points[i], sh))) {
      summary.warnings.push_back({i, std::move(w)});
    }
  }
  return summary;
}

void check_points_and_rigidity(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                               const char* writer) {
  if (rigidity_pa.size() != points.size()) {
    throw std::invalid_argument(std::string(writer) + ": " + std::to_string(rigidity_pa.size()) +
                                " rigidities for " + std::to_string(points.size()) + " points");
  }
  for (std::size_t k = 0; k < points.size(); ++k) {
    try {
      check_srf_point(points[k], srf_version::v1_0);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("point " + std::to_string(k) + ": " + e.what());
    }
    if (!(std::isfinite(rigidity_pa[k]) && rigidity_pa[k] > 0)) {
      throw std::invalid_argument("point " + std::to_string(k) + ": rigidity " + shortest_text(rigidity_pa[k]) +
                                  " Pa: must be finite and > 0");
    }
    const srf_point& pt = points[k];
    if (!rigidity_agrees(rigidity_pa[k], pt.vs_m_s, pt.density_kg_m3)) {
      throw std::invalid_argument("point " + std::to_string(k) + ": rigidity " + shortest_text(rigidity_pa[k]) +
                                  " Pa, where its VS and DEN give " +
                                  shortest_text(pt.density_kg_m3 * pt.vs_m_s * pt.vs_m_s) +
                                  " Pa: must agree within 0.1%");
    }
  }
}

bool rigidity_agrees(double mu_pa, double vs_m_s, double density_kg_m3) {
  if (std::isnan(vs_m_s) || std::isnan(density_kg_m3)) return true;
  return std::fabs(density_kg_m3 * vs_m_s * vs_m_s - mu_pa) <= 1e-3 * std::fabs(mu_pa);
}

srf_sr1 srf_sr1_as_written(const std::vector<srf_point>& points, int component) {
  srf_sr1 out;
  out.first.reserve(points.size() + 1);
  out.first.push_back(0);
  shape sh;
  char field[16] = {};
  detail::decimal_sum sum;
  const auto as_written = [&](double m_s) {
    detail::edit_e13_5(m_s * 100, field, sum);
    const char* at = field;
    while (*at == ' ') ++at;
    double cm_s = 0;
    std::from_chars(at, field + 13, cm_s);
    out.m_s.push_back(cm_s * 1.0e-2);
  };
  for (const srf_point& pt : points) {
    if (component == 2) {
      for (double v : pt.rate2_m_s) as_written(v);  // only a point's own, across its rake
    } else if (!pt.rate_m_s.empty()) {
      for (double v : pt.rate_m_s) as_written(v);
    } else {
      if (!sh.serves(pt.p)) sh.make(pt.p);
      for (std::size_t i = 0; i < static_cast<std::size_t>(sh.n); ++i) as_written((sh.sums[i] * pt.p.dmax) / sh.arsum);
    }
    out.first.push_back(out.m_s.size());
  }
  return out;
}

void check_srf_point(const srf_point& pt, srf_version v) {
  check(pt.p);
  require(std::isfinite(pt.lon) && pt.lon >= -180 && pt.lon <= 360, "lon", pt.lon, "from -180 to 360");
  require(std::isfinite(pt.lat) && pt.lat >= -90 && pt.lat <= 90, "lat", pt.lat, "from -90 to 90");
  require(std::isfinite(pt.depth_km) && pt.depth_km >= 0, "depth_km", pt.depth_km, "finite and >= 0");
  require(std::isfinite(pt.strike) && pt.strike >= 0 && pt.strike <= 360, "strike", pt.strike, "from 0 to 360");
  require(std::isfinite(pt.dip) && pt.dip >= 0 && pt.dip <= 90, "dip", pt.dip, "from 0 to 90");
  require(std::isfinite(pt.rake) && pt.rake >= -180 && pt.rake <= 180, "rake", pt.rake, "from -180 to 180");
  require(std::isfinite(pt.area_m2) && pt.area_m2 > 0, "area_m2", pt.area_m2, "finite and > 0");
  require(std::isfinite(pt.tinit_s) && pt.tinit_s >= 0, "tinit_s", pt.tinit_s, "finite and >= 0");
  // A point's own samples: every one finite.
  for (const auto& [name, rate] : {std::pair<const char*, const std::vector<double>*>{"rate_m_s", &pt.rate_m_s},
                                   {"rate2_m_s", &pt.rate2_m_s}}) {
    for (std::size_t i = 0; i < rate->size(); ++i) {
      if (!std::isfinite((*rate)[i])) {
        throw parameter_error(name, "sample " + std::to_string(i) + " " + shortest_text((*rate)[i]), "finite");
      }
    }
  }
  if (!pt.rate2_m_s.empty()) {
    require(!pt.rate_m_s.empty(), "rate2_m_s", static_cast<double>(pt.rate2_m_s.size()), "beside rate_m_s only");
  }
  if (!pt.rate_m_s.empty()) {
    const double slip = detail::kept_rate_slip(pt.rate_m_s, pt.p.dt);
    require(std::fabs(slip - pt.p.dmax) <= 1e-9 * std::fabs(pt.p.dmax), "rate_m_s", slip,
            "a slip (the samples' sum times dt, m) within 1e-9 of dmax");
  }
  if (v == srf_version::v2_0) {
    require(std::isfinite(pt.vs_m_s) && pt.vs_m_s > 0, "vs_m_s", pt.vs_m_s, "given, finite and > 0 in SRF 2.0");
    require(std::isfinite(pt.density_kg_m3) && pt.density_kg_m3 > 0, "density_kg_m3", pt.density_kg_m3,
            "given, finite and > 0 in SRF 2.0");
  }
}

srf_plane plane_of_point(const srf_point& pt) {
  constexpr double degree = 3.14159265358979323846 / 180, earth_km = 6371.0;
  srf_plane pl;
  pl.len_km = pl.wid_km = std::sqrt(pt.area_m2) / 1000;
  pl.strike = pt.strike;
  pl.dip = pt.dip;
  const double half = pl.wid_km / 2;
  pl.dtop_km = pt.depth_km - half * correctly_rounded::sin_of(pt.dip * degree);
  if (pl.dtop_km < 0) {
    std::string d, a;
    append_shortest(d, pt.depth_km);
    append_shortest(a, pt.area_m2);
    throw std::invalid_argument("depth " + d + " km: a square subfault of " + a +
                                " m^2 centred there reaches above the surface");
  }
  // The top centre lies up dip, half a width away: horizontally
  // half*cos(dip) towards strike - 90 degrees.
  const double h = half * correctly_rounded::cos_of(pt.dip * degree), az = (pt.strike - 90) * degree;
  pl.elat = pt.lat + h * correctly_rounded::cos_of(az) / earth_km / degree;
  pl.elon = pt.lon + h * correctly_rounded::sin_of(az) / (earth_km * correctly_rounded::cos_of(pt.lat * degree)) / degree;
  pl.shyp_km = 0;
  pl.dhyp_km = half;
  return pl;
}

srf_plane parse_srf_plane(const std::string& text) {
  std::string spaced = text;
  for (char& c : spaced) {
    if (c == ',') c = ' ';
  }
  std::istringstream in(spaced);
  srf_plane p;
  double nstk = 0, ndip = 0;
  in >> p.elon >> p.elat >> nstk >> ndip >> p.len_km >> p.wid_km >> p.strike >> p.dip >> p.dtop_km >> p.shyp_km >>
      p.dhyp_km;
  if (!in || !(in >> std::ws).eof()) {
    throw std::invalid_argument("\"" + text + "\": must be eleven numbers, ELON ELAT NSTK NDIP LEN WID STK DIP DTOP SHYP DHYP");
  }
  if (nstk < 1 || ndip < 1 || nstk != std::floor(nstk) || ndip != std::floor(ndip) || nstk > 1e9 || ndip > 1e9) {
    throw std::invalid_argument("\"" + text + "\": NSTK and NDIP must be whole numbers >= 1");
  }
  p.nstk = static_cast<std::int32_t>(nstk);
  p.ndip = static_cast<std::int32_t>(ndip);
  // The segment's geometry in the ranges of a point's.
  const std::pair<const char*, bool> rules[] = {
      {"ELON must be from -180 to 360", p.elon >= -180 && p.elon <= 360},
      {"ELAT must be from -90 to 90", p.elat >= -90 && p.elat <= 90},
      {"LEN and WID must be > 0", p.len_km > 0 && p.wid_km > 0},
      {"STK must be from 0 to 360", p.strike >= 0 && p.strike <= 360},
      {"DIP must be from 0 to 90", p.dip >= 0 && p.dip <= 90},
      {"DTOP must be >= 0", p.dtop_km >= 0},
  };
  for (const auto& [rule, kept] : rules) {
    if (!kept) throw std::invalid_argument("\"" + text + "\": " + rule);
  }
  return p;
}

srf_summary write_srf(const std::vector<srf_point>& points, const std::vector<srf_plane>& planes, srf_version v,
                      byte_sink& out, unsigned threads) {
  check_points(points, v);
  std::string head = v == srf_version::v1_0 ? "1.0\n" : "2.0\n";
  if (!planes.empty()) {
    head += "PLANE " + std::to_string(planes.size()) + "\n";
    for (const srf_plane& p : planes) {
      append_line(head, p.elon, p.elat, p.nstk, p.ndip, p.len_km, p.wid_km);
      append_line(head, p.strike, p.dip, p.dtop_km, p.shyp_km, p.dhyp_km);
    }
  }
  head += "POINTS " + std::to_string(points.size()) + "\n";
  out.write(head.data(), head.size());

  srf_summary summary;
  summary.points = points.size();
  const std::size_t nblocks = (points.size() + block_points - 1) / block_points;
  const auto bounds = [&](std::size_t b) {
    return std::pair{b * block_points, std::min(points.size(), (b + 1) * block_points)};
  };
  const auto take = [&](block& b) {
    out.write(b.text.data(), b.text.size());
    summary.potency_m3 += b.potency;
    summary.slip1_m.insert(summary.slip1_m.end(), b.slip1_m.begin(), b.slip1_m.end());
    for (srf_warning& w : b.warnings) summary.warnings.push_back(std::move(w));
  };
  if (threads <= 1 || nblocks <= 1) {
    block b;
    shape sh;
    for (std::size_t k = 0; k < nblocks; ++k) {
      const auto [first, last] = bounds(k);
      format_block(points, first, last, v, sh, b);
      take(b);
    }
    return summary;
  }

  // Thread t of T, this one being thread 0, formats blocks t, t + T, ...
  // and writes each once the block before it is written: a thread goes
  // on formatting while another writes, and none waits to be handed a
  // block or a buffer.
  const unsigned T = threads;
  std::mutex m;
  std::condition_variable written;
  std::size_t next = 0;  // the block to write next
  bool stop = false;
  std::exception_ptr failed;
  // Called while an exception is handled: the first one is kept, and every
  // thread stops.
  const auto give_up = [&] {
    std::lock_guard<std::mutex> lock(m);
    if (!failed) failed = std::current_exception();
    stop = true;
    written.notify_all();
  };
  const auto work = [&](unsigned t) {
    block b;
    shape sh;
    try {
      for (std::size_t k = t; k < nblocks; k += T) {
        const auto [first, last] = bounds(k);
        format_block(points, first, last, v, sh, b);
        {
          std::unique_lock<std::mutex> lock(m);
          written.wait(lock, [&] { return stop || next == k; });
          if (stop) return;
        }
        take(b);  // the one thread whose turn it is
        std::lock_guard<std::mutex> lock(m);
        next = k + 1;
        written.notify_all();
      }
    } catch (...) {
      give_up();
    }
  };
  std::vector<std::thread> others;
  for (unsigned t = 1; t < T; ++t) others.emplace_back(work, t);
  work(0);
  for (std::thread& w : others) w.join();
  if (failed) std::rethrow_exception(failed);
  return summary;
}

}  // namespace trislip
