// SEED codes and start times of the SAC and miniSEED series.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "trislip/exports.hpp"

namespace trislip {
namespace {

bool code_of(const std::string& s, std::size_t lo, std::size_t hi) {
  if (s.size() < lo || s.size() > hi) return false;
  for (char c : s) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Reads `width` digits at s[at]; -1 if they are not digits.
std::int64_t digits(const std::string& s, std::size_t at, std::size_t width) {
  if (at + width > s.size()) return -1;
  std::int64_t v = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

std::int64_t start_of(const std::string& t) {
  const auto bad = [&](const std::string& why) {
    throw std::invalid_argument(why + " (the form is YYYY-MM-DDTHH:MM:SS[.ffffff][Z])");
  };
  if (t.size() < 19 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' ||
      t[16] != ':') {
    bad("not a date and time");
  }
  const std::int64_t y = digits(t, 0, 4), mo = digits(t, 5, 2), d = digits(t, 8, 2), h = digits(t, 11, 2),
                     mi = digits(t, 14, 2), s = digits(t, 17, 2);
  if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || s < 0) bad("not a date and time");
  if (y < 1900 || y > 2999) bad("the year must be from 1900 to 2999");
  static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12) bad("no month " + std::to_string(mo));
  const int last_day = month_days[mo - 1] + (mo == 2 && leap(y) ? 1 : 0);
  if (d < 1 || d > last_day) bad("no day " + std::to_string(d) + " in that month");
  if (h > 23 || mi > 59 || s > 59) bad("no such time of day");
  std::size_t at = 19;
  std::int64_t us = 0;
  if (at < t.size() && t[at] == '.') {
    std::size_t n = 0;
    while (at + 1 + n < t.size() && t[at + 1 + n] >= '0' && t[at + 1 + n] <= '9') ++n;
    if (n == 0 || n > 6) bad("1 to 6 digits of a second after the point");
    us = digits(t, at + 1, n);
    for (std::size_t k = n; k < 6; ++k) us *= 10;
    at += 1 + n;
  }
  if (at < t.size() && t[at] == 'Z') ++at;
  if (at != t.size()) bad("unexpected text after the time");
  const std::int64_t days = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  return ((days * 24 + h) * 60 + mi) * 60 * 1000000 + s * 1000000 + us;
}

}  // namespace

record_codes parse_record_codes(const std::string& seed_id, const std::string& start_time) {
  record_codes c;
  const std::size_t a = seed_id.find('.');
  const std::size_t b = a == std::string::npos ? a : seed_id.find('.', a + 1);
  if (b == std::string::npos || seed_id.find('.', b + 1) != std::string::npos) {
    throw std::invalid_argument("seed id " + seed_id + ": must be NET.STA.LOC");
  }
  c.network = seed_id.substr(0, a);
  c.station = seed_id.substr(a + 1, b - a - 1);
  c.location = seed_id.substr(b + 1);
  if (!code_of(c.network, 1, 2) || !code_of(c.station, 1, 5) || !code_of(c.location, 0, 2)) {
    throw std::invalid_argument("seed id " + seed_id +
                                ": network 1 or 2, station 1 to 5 and location 0 to 2 capital "
                                "letters or digits");
  }
  try {
    c.start_us = start_of(start_time);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument("start time " + start_time + ": " + e.what());
  }
  return c;
}

std::string channel_code(quantity q, double dt) {
  // SEED's band codes for broadband sample rates.
  const double rate = 1.0 / dt;
  const char band = rate >= 1000  ? 'F'
                    : rate >= 250 ? 'C'
                    : rate >= 80  ? 'H'
                    : rate >= 10  ? 'B'
                    : rate > 1    ? 'M'
                    : rate >= 0.1 ? 'L'
                    : rate >= 0.01 ? 'V'
                    : rate >= 0.001 ? 'U'
                                    : 'R';
  const char what = q == quantity::velocity ? 'V' : q == quantity::acceleration ? 'A' : 'D';
  return std::string{band, 'X', what};
}

}  // namespace trislip
