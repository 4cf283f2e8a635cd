#include "trislip/custom/subfaults.hpp"

// The parser copies file names with a strncpy that GCC's inliner warns of;
// the names are cut and terminated on purpose there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-truncation"
#endif
#include <libfccp/csv.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <charconv>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include "trislip/custom/custom_run.hpp"
#include "trislip/digits.hpp"

namespace trislip {
namespace {

const char* const column[] = {"lon", "lat", "depth_km", "strike", "dip", "rake", "area_m2", "slip_m",
                              "tinit_s", "fmax_hz", "tr", "ar", "nv", "vs_m_s", "density_kg_m3"};
constexpr int required_columns = 9, all_columns = 15;

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

}  // namespace

bool read_number(const char* first, const char* last, double& x) {
  // Most cells are short decimals ("-117.7280", "1e6"): their digits, at
  // most 19, make an integer m, and when m <= 2^53 and the exponent k is
  // within 22, m * 10^k (or m / 10^-k) is one correctly rounded operation
  // on exact operands, which is what from_chars gives. Anything else, and
  // every text this path does not take whole, goes to from_chars.
  const char* p = first;
  const bool minus = p != last && *p == '-';
  p += minus;
  std::uint64_t m = 0;
  int digits = 0, k = 0;
  const char* const whole = p;
  for (; p != last && is_digit(*p); ++p, ++digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
  bool simple = p != whole;
  if (simple && p != last && *p == '.') {
    const char* const fraction = ++p;
    for (; p != last && is_digit(*p); ++p, ++digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    k = -static_cast<int>(p - fraction);
    simple = p != fraction;
  }
  if (simple && p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p != last && *p == '-';
    p += p != last && (*p == '-' || *p == '+');
    const char* const exponent = p;
    int e = 0;
    for (; p != last && is_digit(*p) && p - exponent < 3; ++p) e = e * 10 + (*p - '0');
    simple = p != exponent;
    k += down ? -e : e;
  }
  if (simple && p == last && digits <= 19 && m <= (std::uint64_t{1} << 53) && k >= -22 && k <= 22) {
    const auto v = static_cast<double>(m);
    const double y = times_power_of_ten(v, k);
    x = minus ? -y : y;
    return true;
  }
  const auto r = std::from_chars(first, last, x);
  return r.ec == std::errc() && r.ptr == last;
}

std::vector<srf_point> read_subfaults(const std::string& path, const srf_point& defaults, srf_version v) {
  const std::string where = "--subfaults " + path;
  std::vector<srf_point> points;
  try {
    io::CSVReader<all_columns, io::trim_chars<' ', '\t'>, io::double_quote_escape<',', '"'>> in(path);
    in.read_header(io::ignore_extra_column | io::ignore_missing_column, column[0], column[1], column[2],
                   column[3], column[4], column[5], column[6], column[7], column[8], column[9], column[10],
                   column[11], column[12], column[13], column[14]);
    for (int c = 0; c < required_columns; ++c) {
      if (!in.has_column(column[c])) throw refusal(where + ": the header has no column " + column[c]);
    }
    char* f[all_columns];
    for (;;) {
      for (char*& x : f) x = nullptr;
      if (!in.read_row(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13],
                       f[14])) {
        break;
      }
      // Written out only for a refusal: most tables have no bad row.
      const auto line = [&] { return where + ": line " + std::to_string(in.get_file_line()); };
      double x[all_columns];
      for (int c = 0; c < all_columns; ++c) {
        if (f[c] == nullptr) continue;  // an optional column the table does not have
        const char* end = f[c] + std::strlen(f[c]);
        if (f[c] == end && c >= required_columns) {
          f[c] = nullptr;  // an empty optional cell takes the command line's value too
          continue;
        }
        if (f[c] == end) throw refusal(line() + ", column " + column[c] + ": no value");
        if (!read_number(f[c], end, x[c])) {
          throw refusal(line() + ", column " + column[c] + ": \"" + f[c] + "\" is not a number");
        }
      }
      srf_point pt = defaults;
      const auto value = [&](int c, double fallback) { return f[c] != nullptr ? x[c] : fallback; };
      pt.lon = x[0];
      pt.lat = x[1];
      pt.depth_km = x[2];
      pt.strike = x[3];
      pt.dip = x[4];
      pt.rake = x[5];
      pt.area_m2 = x[6];
      pt.p.dmax = x[7];
      pt.tinit_s = x[8];
      pt.p.fmax = value(9, defaults.p.fmax);
      pt.p.tr = value(10, defaults.p.tr);
      pt.p.ar = value(11, defaults.p.ar);
      const double nv = value(12, defaults.p.nv);
      if (nv != std::floor(nv) || nv < 1 || nv > max_pulses) {
        throw refusal(line() + ", column nv: " + std::string(f[12]) + " is not a whole number from 1 to 64");
      }
      pt.p.nv = static_cast<std::int32_t>(nv);
      pt.vs_m_s = value(13, defaults.vs_m_s);
      pt.density_kg_m3 = value(14, defaults.density_kg_m3);
      try {
        check_srf_point(pt, v);
      } catch (const parameter_error& e) {
        const std::string name = e.name() == "dmax" ? "slip_m" : e.name() == "fmax" ? "fmax_hz" : e.name();
        throw refusal(line() + ", column " + name + ": " + e.value() + " must be " + e.rule());
      }
      points.push_back(pt);
    }
  } catch (const io::error::base& e) {
    throw refusal(where + ": " + e.what());
  }
  if (points.empty()) throw refusal(where + ": no subfaults in the table");
  return points;
}

}  // namespace trislip
