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

#include "trislip/synthesis.hpp"

namespace trislip {
namespace {

void append_number(std::string& out, double x) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

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
      append_number(out, x);
    }
  };
  (one(values), ...);
  out += '\n';
}

void require(bool ok, const char* field, double value, const char* rule) {
  if (!ok) {
    std::string v;
    append_number(v, value);
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

// Exact powers of ten, 10^0 to 10^22.
constexpr double exact_power_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// 10^e for e from -17 to 28, for finding a value's decade.
constexpr int decade_bias = 17, decade_count = 46;
constexpr double decade[] = {1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
                             1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,  1e4,  1e5,  1e6,
                             1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16, 1e17, 1e18,
                             1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28};

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The exact sum of edited values: the six-digit integers of each decade
// added as integers, and what to_chars edited as doubles.
struct decimal_sum {
  std::int64_t digits[decade_count] = {};
  double other = 0;

  // Each decade's integer scaled once, added from the smallest decade up.
  double value() const {
    double total = other;
    for (int i = 0; i < decade_count; ++i) {
      if (digits[i] == 0) continue;
      const int k = i - decade_bias - 5;  // the power of ten of the last digit
      total += k >= 0 ? static_cast<double>(digits[i]) * exact_power_of_ten[k]
                      : static_cast<double>(digits[i]) / exact_power_of_ten[-k];
    }
    return total;
  }
};

// The exact editing of %13.5e, for what the fast path leaves: ties,
// zeros with a sign, values beyond its powers of ten.
[[gnu::cold, gnu::noinline]] void edit_e13_5_exactly(double x, char* out, decimal_sum& sum) {
  char buf[32];
  const char* end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 5).ptr;
  const auto len = static_cast<std::size_t>(end - buf);
  std::memset(out, ' ', 13);
  std::memcpy(out + (len < 13 ? 13 - len : 0), buf, std::min<std::size_t>(len, 13));
  double back = 0;
  std::from_chars(buf, end, back);
  sum.other += back;
}

// x (finite) as C's %13.5e into out[0..12], its value added to sum. Six
// digits are found by one scaling with an exact power of ten; near a tie,
// or outside that range, the exact path decides.
inline void edit_e13_5(double x, char* out, decimal_sum& sum) {
  if (x == 0 && !std::signbit(x)) {
    std::memcpy(out, "  0.00000e+00", 13);
    return;
  }
  // Slip rates are positive: a negative value takes the exact path too.
  const double a = x;
  if (__builtin_expect(!(a >= 1e-16 && a < 1e22), 0)) return edit_e13_5_exactly(x, out, sum);
  // The decimal exponent from the binary one (log10(2) ~ 1233/4096), one
  // too low at most; the table of decades settles it.
  std::uint64_t bits = 0;
  std::memcpy(&bits, &a, sizeof bits);
  const int e2 = static_cast<int>(bits >> 52) - 1023;
  int e = (e2 * 1233) >> 12;
  e += a >= decade[e + 1 + decade_bias];
  // e is from -16 to 21 here, so 10^|5 - e| is exact.
  const int k = 5 - e;
  const double half_up = (k >= 0 ? a * exact_power_of_ten[k] : a / exact_power_of_ten[-k]) + 0.5;
  const auto n = static_cast<std::int64_t>(half_up);
  // The scaling rounds once: a fraction this close to a half may hide a
  // tie, which the exact path rounds to even. Rounding up to the next
  // decade, or a decade misjudged at its edge, goes there too.
  const double fraction = half_up - static_cast<double>(n);
  if (__builtin_expect(n < 100000 || n >= 1000000 || fraction < 1e-9 || fraction > 1 - 1e-9, 0)) {
    return edit_e13_5_exactly(x, out, sum);
  }
  // "  d.ddddde+ee" in two stores: bytes 0-7, then 5-12.
  const auto hi = static_cast<std::size_t>(n / 10000), lo = static_cast<std::size_t>(n % 10000);
  const auto ae = static_cast<std::size_t>(e < 0 ? -e : e);
  char field[13];
  field[0] = ' ';
  field[1] = ' ';
  field[2] = digit_pairs[2 * hi];
  field[3] = '.';
  field[4] = digit_pairs[2 * hi + 1];
  std::memcpy(field + 5, digit_pairs + 2 * (lo / 100), 2);
  std::memcpy(field + 7, digit_pairs + 2 * (lo % 100), 2);
  field[9] = 'e';
  field[10] = e < 0 ? '-' : '+';
  std::memcpy(field + 11, digit_pairs + 2 * ae, 2);
  std::memcpy(out, field, 13);
  sum.digits[e + decade_bias] += n;
}

// One point's text; returns its final sampled slip (m).
double format_point(const srf_point& pt, srf_version v, shape& sh, std::string& out) {
  if (!sh.serves(pt.p)) sh.make(pt.p);
  const parameters& p = pt.p;
  const auto n = static_cast<std::size_t>(sh.n);
  if (v == srf_version::v1_0) {
    append_memo_line(out, sh.memo, 0, {pt.lon, pt.lat, pt.depth_km, pt.strike, pt.dip, pt.area_m2 * 1e4, pt.tinit_s, p.dt});
  } else {
    append_memo_line(out, sh.memo, 0,
                     {pt.lon, pt.lat, pt.depth_km, pt.strike, pt.dip, pt.area_m2 * 1e4, pt.tinit_s, p.dt,
                      pt.vs_m_s * 100, pt.density_kg_m3 / 1000});
  }
  // The second header line needs SLIP1, the sum of the samples as
  // written: the samples are edited first, into the shape's scratch.
  sh.text.resize(n * 13 + n / 6 + 1);
  char* at = sh.text.data();
  decimal_sum sum;
  // In locals: every byte stored may alias anything that is read through
  // a pointer or reference.
  const double* sums = sh.sums.data();
  const double dmax = p.dmax, arsum = sh.arsum, dt = p.dt;
  double previous = 0, slip = 0;
  for (std::size_t line = 0; line < n; line += 6) {
    const std::size_t end = std::min(n, line + 6);
    for (std::size_t i = line; i < end; ++i) {
      // The synthesis's velocity, bit for bit: sample 0 is 0.
      const double vel = i == 0 ? 0.0 : (sums[i] * dmax) / arsum;
      slip = slip + ((vel + previous) * dt) / 2.0;
      previous = vel;
      edit_e13_5(vel * 100, at, sum);
      at += 13;
    }
    *at++ = '\n';
  }
  sh.memo.append(out, 10, pt.rake);
  out += ' ';
  sh.memo.append(out, 11, p.dt * sum.value());
  out += ' ' + std::to_string(n) + " 0 0 0 0\n";
  out.append(sh.text.data(), static_cast<std::size_t>(at - sh.text.data()));
  return slip;
}

// A block of points formatted together, with what it found.
struct block {
  std::string text;
  std::vector<srf_warning> warnings;
  double potency = 0;
};

void format_block(const std::vector<srf_point>& points, std::size_t first, std::size_t last, srf_version v,
                  shape& sh, block& b) {
  b.text.clear();
  b.warnings.clear();
  b.potency = 0;
  for (std::size_t i = first; i < last; ++i) {
    const double final_slip = format_point(points[i], v, sh, b.text);
    b.potency += points[i].area_m2 * points[i].p.dmax;
    for (sampling_warning& w : check_sampling(points[i].p, final_slip)) b.warnings.push_back({i, std::move(w)});
  }
}

constexpr std::size_t block_points = 256;

}  // namespace

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
  pl.dtop_km = pt.depth_km - half * std::sin(pt.dip * degree);
  if (pl.dtop_km < 0) {
    std::string d, a;
    append_number(d, pt.depth_km);
    append_number(a, pt.area_m2);
    throw std::invalid_argument("depth " + d + " km: a square subfault of " + a +
                                " m^2 centred there reaches above the surface");
  }
  // The top centre lies up dip, half a width away: horizontally
  // half*cos(dip) towards strike - 90 degrees.
  const double h = half * std::cos(pt.dip * degree), az = (pt.strike - 90) * degree;
  pl.elat = pt.lat + h * std::cos(az) / earth_km / degree;
  pl.elon = pt.lon + h * std::sin(az) / (earth_km * std::cos(pt.lat * degree)) / degree;
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
  return p;
}

srf_summary write_srf(const std::vector<srf_point>& points, const std::vector<srf_plane>& planes, srf_version v,
                      byte_sink& out, unsigned threads) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    try {
      check_srf_point(points[i], v);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("point " + std::to_string(i) + ": " + e.what());
    }
  }
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

  // Worker t formats blocks t, t + T, ... into two slots of its own in
  // turn; this thread writes the blocks in order as they become ready.
  struct slot {
    block b;
    std::size_t index = 0;
    bool ready = false;
  };
  const unsigned T = threads;
  std::vector<slot> slots(2 * static_cast<std::size_t>(T));
  std::mutex m;
  std::condition_variable changed;
  bool stop = false;
  std::exception_ptr failed;
  // Called while an exception is handled: the first one is kept, and every
  // thread stops.
  const auto give_up = [&] {
    std::lock_guard<std::mutex> lock(m);
    if (!failed) failed = std::current_exception();
    stop = true;
    changed.notify_all();
  };
  const auto work = [&](unsigned t) {
    shape sh;
    try {
      for (std::size_t k = t, turn = 0; k < nblocks; k += T, ++turn) {
        slot& s = slots[2 * t + turn % 2];
        {
          std::unique_lock<std::mutex> lock(m);
          changed.wait(lock, [&] { return stop || !s.ready; });
          if (stop) return;
        }
        const auto [first, last] = bounds(k);
        format_block(points, first, last, v, sh, s.b);
        std::lock_guard<std::mutex> lock(m);
        s.index = k;
        s.ready = true;
        changed.notify_all();
      }
    } catch (...) {
      give_up();
    }
  };
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < T; ++t) workers.emplace_back(work, t);
  try {
    for (std::size_t k = 0; k < nblocks; ++k) {
      slot& s = slots[2 * (k % T) + (k / T) % 2];
      {
        std::unique_lock<std::mutex> lock(m);
        changed.wait(lock, [&] { return stop || (s.ready && s.index == k); });
        if (stop) break;
      }
      take(s.b);
      std::lock_guard<std::mutex> lock(m);
      s.ready = false;
      changed.notify_all();
    }
  } catch (...) {
    give_up();
  }
  for (std::thread& w : workers) w.join();
  if (failed) std::rethrow_exception(failed);
  return summary;
}

}  // namespace trislip
