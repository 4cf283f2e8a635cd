// C's %13.5e for the SRF writer's samples, with the exact sum of what it
// wrote. Most values take a path of one scaling by an exact power of ten
// and a few integer operations; values near a tie, negative values, -0
// and values outside [1e-16, 1e22) take std::to_chars, which rounds as
// printf does.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "trislip/digits.hpp"

namespace trislip::detail {

// Decades e from -17 to 28 are kept, at e + decade_bias.
inline constexpr int decade_bias = 17, decade_count = 46;

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
      // The power of ten of the last digit: from -21 to 16 for the
      // decades that are edited here.
      total += times_power_of_ten(static_cast<double>(digits[i]), i - decade_bias - 5);
    }
    return total;
  }
};

namespace e13_5 {

// The fast path's values are [1e-16, 1e22): binary exponents (biased)
// first_binade to first_binade + binades - 1.
inline constexpr int first_binade = 969, binades = 128;

// 10^e as a double, for e from -17 to 22: exact from 1 up, one rounding
// (as the literal's) down.
constexpr double decade_value(int e) { return times_power_of_ten(1.0, e); }

struct binade_table {
  // The decade of the binade's least value, and the least value of the
  // next decade (above the binade when no power of ten falls in it).
  std::array<std::int8_t, binades> decade{};
  std::array<double, binades> next{};
};

constexpr binade_table make_binade_table() {
  binade_table t;
  double low = 1;  // 2^(first_binade - 1023), by halving exactly
  for (int b = 1023; b > first_binade; --b) low /= 2;
  int e = -17;
  for (int i = 0; i < binades; ++i, low *= 2) {
    while (decade_value(e + 1) <= low) ++e;
    t.decade[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(e);
    t.next[static_cast<std::size_t>(i)] = decade_value(e + 1);
  }
  return t;
}

inline constexpr binade_table binade = make_binade_table();

// "e+dd" or "e-dd" of each decade as four bytes, the 'e' lowest.
constexpr std::array<std::uint32_t, decade_count> make_exponent_texts() {
  std::array<std::uint32_t, decade_count> t{};
  for (int i = 0; i < decade_count; ++i) {
    const int e = i - decade_bias, a = e < 0 ? -e : e;
    t[static_cast<std::size_t>(i)] = std::uint32_t{'e'} | static_cast<std::uint32_t>(e < 0 ? '-' : '+') << 8 |
                                     std::uint32_t(char('0' + a / 10)) << 16 | std::uint32_t(char('0' + a % 10)) << 24;
  }
  return t;
}

inline constexpr std::array<std::uint32_t, decade_count> exponent_text = make_exponent_texts();

// The decade of x in [1e-16, 1e22): that of its binade's least value, or
// the next when x reaches the next power of ten.
inline int decade_of(double x) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  const auto b = static_cast<std::size_t>((bits >> 52) - first_binade);
  return binade.decade[b] + (x >= binade.next[b]);
}

// w's eight bytes at out, lowest first.
inline void store_le(char* out, std::uint64_t w) {
  if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) w = __builtin_bswap64(w);
  std::memcpy(out, &w, sizeof w);
}

// What the fast path leaves, edited by to_chars and read back for the sum.
[[gnu::cold, gnu::noinline]] inline void edit_exactly(double x, char* out, decimal_sum& sum) {
  char buf[32];
  const char* end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 5).ptr;
  const auto len = static_cast<std::size_t>(end - buf);
  std::memset(out, ' ', 13);
  std::memcpy(out + (len < 13 ? 13 - len : 0), buf, len < 13 ? len : 13);
  double back = 0;
  std::from_chars(buf, end, back);
  sum.other += back;
}

}  // namespace e13_5

// x as C's %13.5e into out[0..12] (no terminating zero), its value as
// written added to sum. The six digits come from one scaling by an exact
// power of ten, rounded once: a fraction within 1e-9 of a half may hide a
// tie, which the exact path rounds to even, and a value that rounds up
// into the next decade, or whose decade was misjudged, goes there too.
inline void edit_e13_5(double x, char* out, decimal_sum& sum) {
  using namespace e13_5;
  if (__builtin_expect(!(x >= 1e-16 && x < 1e22), 0)) {
    if (x == 0 && !std::signbit(x)) {
      std::memcpy(out, "  0.00000e+00", 13);
      return;
    }
    return edit_exactly(x, out, sum);
  }
  const int e = decade_of(x);
  const double half_up = times_power_of_ten(x, 5 - e) + 0.5;
  const auto n = static_cast<std::int32_t>(half_up);
  const double fraction = half_up - static_cast<double>(n);
  if (__builtin_expect(static_cast<std::uint32_t>(n - 100000) >= 900000u || fraction < 1e-9 || fraction > 1 - 1e-9,
                       0)) {
    return edit_exactly(x, out, sum);
  }
  // "  d.ddddde+ee" as two words made in registers and stored whole, bytes
  // 0-7 and 5-12: built byte by byte in memory and read back as words, a
  // field would stall each load on its stores.
  const std::size_t d = static_cast<std::size_t>(e + decade_bias);
  const std::uint64_t digits = ascii8(static_cast<std::uint32_t>(n)) >> 16;  // six, the first lowest
  store_le(out, 0x2e002020u | (digits & 0xffu) << 16 | (digits >> 8) << 32);
  store_le(out + 5, digits >> 16 | std::uint64_t{exponent_text[d]} << 32);
  sum.digits[d] += n;
}

}  // namespace trislip::detail
