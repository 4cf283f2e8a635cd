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

namespace trislip::detail {

// Exact powers of ten, 10^0 to 10^22.
inline constexpr double exact_power_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

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
      const int k = i - decade_bias - 5;  // the power of ten of the last digit
      total += k >= 0 ? static_cast<double>(digits[i]) * exact_power_of_ten[k]
                      : static_cast<double>(digits[i]) / exact_power_of_ten[-k];
    }
    return total;
  }
};

namespace e13_5 {

// The fast path's values are [1e-16, 1e22): binary exponents (biased)
// first_binade to first_binade + binades - 1.
inline constexpr int first_binade = 969, binades = 128;

// 10^e as a double, for e from -17 to 28, built by exact steps from 1 up
// and by division (one rounding each, as the literal rounds) down.
constexpr double decade_value(int e) {
  return e >= 0 ? exact_power_of_ten[e] : 1.0 / exact_power_of_ten[-e];
}

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

// n (0 to 999999) as six ASCII digits, the first in the lowest byte: three
// pairs in 16-bit lanes, each split into tens and ones at once (v * 103 >>
// 10 is v / 10 for v up to 99).
inline std::uint64_t six_digits(std::uint32_t n) {
  const std::uint32_t high = n / 10000, low = n % 10000;
  const std::uint64_t pairs = std::uint64_t{high} | std::uint64_t{low / 100} << 16 | std::uint64_t{low % 100} << 32;
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000f000f000fu;
  const std::uint64_t ones = pairs - tens * 10;
  return tens | ones << 8 | 0x303030303030u;
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
  std::uint64_t bits = 0;
  std::memcpy(&bits, &x, sizeof bits);
  const auto b = static_cast<std::size_t>((bits >> 52) - first_binade);
  const int e = binade.decade[b] + (x >= binade.next[b]);
  const double half_up = (e <= 5 ? x * exact_power_of_ten[5 - e] : x / exact_power_of_ten[e - 5]) + 0.5;
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
  const std::uint64_t digits = six_digits(static_cast<std::uint32_t>(n));
  store_le(out, 0x2e002020u | (digits & 0xffu) << 16 | (digits >> 8) << 32);
  store_le(out + 5, digits >> 16 | std::uint64_t{exponent_text[d]} << 32);
  sum.digits[d] += n;
}

}  // namespace trislip::detail
