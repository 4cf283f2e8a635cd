#include "check.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>

namespace fuzz {

void expect_names_file_and_line(const std::string& message, const std::string& name, const std::string& text) {
  const std::string start = name.empty() ? "line " : name + ":";
  expect(message.rfind(start, 0) == 0, "refusal does not start with \"" + start + "\": " + message);
  const std::size_t at = message.find("line ");
  if (at == std::string::npos) return;
  std::size_t line = 0;
  const char* first = message.data() + at + 5;
  const auto [end, ec] = std::from_chars(first, message.data() + message.size(), line);
  expect(ec == std::errc{} && end != first, "refusal names no line number: " + message);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  expect(line >= 1 && line <= lines, "refusal names a line the text does not have: " + message);
}

namespace {

std::vector<double> numbers_of(const std::string& line, std::size_t count, const std::string& what) {
  std::istringstream in(line);
  std::vector<double> v;
  std::string word;
  while (in >> word) {
    double x = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), x);
    expect(ec == std::errc{} && end == word.data() + word.size(), what + ": not a number: " + word);
    v.push_back(x);
  }
  expect(v.size() == count, what + ": " + std::to_string(v.size()) + " values, not " + std::to_string(count));
  return v;
}

}  // namespace

void expect_srf_round_trip(const std::vector<trislip::srf_point>& points,
                           const std::vector<trislip::srf_plane>& planes) {
  string_sink out;
  const trislip::srf_summary summary = trislip::write_srf(points, planes, trislip::srf_version::v1_0, out, 2);
  std::vector<bool> slip_lost(points.size(), false);
  for (const trislip::srf_warning& w : summary.warnings) {
    if (w.w.check == "slip_lost") slip_lost.at(w.point) = true;
  }
  std::istringstream in(out.text);
  std::string line;
  const auto next = [&](const std::string& what) {
    expect(static_cast<bool>(std::getline(in, line)), "SRF ends before " + what);
  };
  next("the version");
  expect(line == "1.0", "SRF version line: " + line);
  next("POINTS");
  if (!planes.empty()) {
    expect(line == "PLANE " + std::to_string(planes.size()), "SRF PLANE line: " + line);
    for (const trislip::srf_plane& p : planes) {
      next("a PLANE's first line");
      const std::vector<double> a = numbers_of(line, 6, "PLANE line 1");
      expect(a[0] == p.elon && a[1] == p.elat && a[2] == p.nstk && a[3] == p.ndip && a[4] == p.len_km &&
                 a[5] == p.wid_km,
             "PLANE read back differs: " + line);
      next("a PLANE's second line");
      const std::vector<double> b = numbers_of(line, 5, "PLANE line 2");
      expect(b[0] == p.strike && b[1] == p.dip && b[2] == p.dtop_km && b[3] == p.shyp_km && b[4] == p.dhyp_km,
             "PLANE read back differs: " + line);
    }
    next("POINTS");
  }
  expect(line == "POINTS " + std::to_string(points.size()), "SRF POINTS line: " + line);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const trislip::srf_point& pt = points[k];
    next("a point");
    const std::vector<double> a = numbers_of(line, 8, "point line 1");
    expect(a[0] == pt.lon && a[1] == pt.lat && a[2] == pt.depth_km && a[3] == pt.strike && a[4] == pt.dip &&
               a[5] == pt.area_m2 * 1e4 && a[6] == pt.tinit_s && a[7] == pt.p.dt,
           "point read back differs: " + line);
    next("a point's second line");
    const std::vector<double> b = numbers_of(line, 7, "point line 2");
    expect(b[0] == pt.rake && b[1] >= 0 && b[2] >= 1 && b[3] == 0 && b[4] == 0 && b[5] == 0 && b[6] == 0,
           "point line 2: " + line);
    // SLIP1 (cm) is the sampled slip: one that misses dmax is never silent.
    const double asked_cm = 100 * pt.p.dmax;
    expect(slip_lost[k] || std::fabs(b[1] - asked_cm) <= 0.0011 * asked_cm,
           "SLIP1 " + std::to_string(b[1]) + " cm of " + std::to_string(asked_cm) + " without a slip_lost warning");
    std::size_t values = 0;
    while (values < static_cast<std::size_t>(b[2])) {
      next("a point's slip rates");
      std::istringstream row(line);
      double v = 0;
      while (row >> v) {
        expect(std::isfinite(v), "slip rate not finite: " + line);
        ++values;
      }
    }
    expect(values == static_cast<std::size_t>(b[2]), "NT1 " + std::to_string(b[2]) + ", values " + std::to_string(values));
  }
  expect(!std::getline(in, line), "SRF has text after the last point: " + line);
}

}  // namespace fuzz
