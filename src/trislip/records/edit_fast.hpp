// The fast exact editing path, inline so that the record editors can take
// it without a call per field. A finite double is m * 2^e with m < 2^53;
// times 10^k (k <= 19) it is an integer below 2^117 shifted by e, so it is
// rounded exactly in 128-bit integers, and the rounded digits, which fit in
// 64 bits, are produced two at a time without a division loop. The result
// is the same rounding as to_chars: to nearest, ties to even. Where
// 128-bit integers are missing, every fast path declines and the general
// editors in edit.cpp do the work.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "trislip/digits.hpp"

namespace trislip::edit_fast {

inline constexpr char blanks[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

// A field of 8 to 16 characters all blank, in two overlapping stores.
inline void blank_field(char* field, int w) {
  std::memcpy(field, blanks, 8);
  std::memcpy(field + w - 8, blanks, 8);
}

// Rounds mag * 10^k (mag finite and >= 0, k <= 19) to the nearest
// integer, exact ties to even, into q; false when q would not fit in 64
// bits. mag is m * 2^e with m < 2^53, so m * 10^k < 2^117 is exact in 128
// bits, and adding just under one half (one half for an odd quotient)
// before the shift rounds in one step.
#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 u128;

inline bool round_scaled_exactly(double mag, int k, std::uint64_t& q) {
  std::uint64_t bits;
  std::memcpy(&bits, &mag, sizeof bits);
  const int biased = static_cast<int>(bits >> 52) & 0x7ff;
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int e = -1074;
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    e = biased - 1075;
  }
  const u128 n = static_cast<u128>(m) * pow10[k];
  if (e >= 0) {
    if (e >= 64 || (n >> (64 - e)) != 0) return false;
    q = static_cast<std::uint64_t>(n << e);
    return true;
  }
  const int s = -e;
  if (s >= 120) {  // n < 2^117 is below one half of 2^s
    q = 0;
    return true;
  }
  const u128 odd = (n >> s) & 1u;
  const u128 r = (n + ((static_cast<u128>(1) << (s - 1)) - 1 + odd)) >> s;
  if ((r >> 64) != 0) return false;
  q = static_cast<std::uint64_t>(r);
  return true;
}
#else
inline bool round_scaled_exactly(double, int, std::uint64_t&) { return false; }
#endif

// The same rounding, mostly without 128-bit arithmetic: y = mag * 10^k in
// double differs from the exact product by at most half a unit in its last
// place, u/2 with u = y * 2^-52, so when the fraction of y is more than u
// away from one half, y rounds the way the exact product does. Only values
// within u of a tie (exact ties among them) take the exact path.
inline bool round_scaled(double mag, int k, std::uint64_t& q) {
  const double y = mag * exact_power_of_ten[k];
  if (y < 0x1p52) {
    const auto r = static_cast<std::int64_t>(y);
    const double f = y - static_cast<double>(r);  // exact: r <= y < r + 1
    const double u = y * 0x1p-52;
    if (f < 0.5 - u) {
      q = static_cast<std::uint64_t>(r);
      return true;
    }
    if (f > 0.5 + u) {
      q = static_cast<std::uint64_t>(r) + 1;
      return true;
    }
  }
  return round_scaled_exactly(mag, k, q);
}

inline void put2(char* p, std::uint32_t v) { std::memcpy(p, digit_pairs + 2 * v, 2); }

// Writes the last n decimal digits of v (with leading zeros) so that they
// end just before end.
inline void put_digits(std::uint64_t v, int n, char* end) {
  for (; n >= 2; n -= 2) {
    end -= 2;
    put2(end, static_cast<std::uint32_t>(v % 100));
    v /= 100;
  }
  if (n == 1) *--end = static_cast<char>('0' + v % 10);
}

// Exactly D digits of v < 10^D, leading zeros included, at p.
template <int D>
inline void put_fixed(char* p, std::uint32_t v) {
  static_assert(D == 4 || D == 7, "four or seven digits");
  if constexpr (D == 7) {
    const std::uint64_t digits = ascii8(v);  // "0" and the seven digits
#if defined(_WIN32) || (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    const std::uint64_t shifted = digits >> 8;
    std::memcpy(p, &shifted, 7);
#else
    for (int i = 0; i < 7; ++i) p[i] = static_cast<char>(digits >> (8 * (i + 1)));
#endif
  } else {
    put2(p, v / 100);
    put2(p + 2, v % 100);
  }
}

// Fw.D for the fields of the records, D = 4 or 7 and 2 <= W-D-1 <= 8.
// Writes the W characters and returns true; returns false (nothing
// written) for what the general editor handles: values that overflow the
// field or need the leading zero to give way, non-finite values and huge
// magnitudes.
template <int W, int D>
inline bool fixed_field(char* field, double x) {
  constexpr int Z = W - D - 1;  // columns for the sign and integer digits
  static_assert(Z >= 2 && Z <= 8, "a record field");
  std::uint64_t q;
  if (!round_scaled(std::fabs(x), D, q)) return false;
  const std::uint64_t integer = q / pow10[D];
  const auto fraction = static_cast<std::uint32_t>(q - integer * pow10[D]);
  const bool minus = x < 0 && q != 0;
  if (integer >= pow10[Z - (minus ? 1 : 0)]) return false;
  std::memcpy(field, blanks, 8);  // the Z <= 8 columns before the point
  put_fixed<D>(field + Z + 1, fraction);
  field[Z] = '.';
  char* start = field + Z;
  if (integer < 10) {
    *--start = static_cast<char>('0' + integer);
  } else if (integer < 100) {
    start -= 2;
    put2(start, static_cast<std::uint32_t>(integer));
  } else {
    auto rest = static_cast<std::uint32_t>(integer);
    while (rest >= 100) {
      start -= 2;
      put2(start, rest % 100);
      rest /= 100;
    }
    if (rest >= 10) {
      start -= 2;
      put2(start, rest);
    } else {
      *--start = static_cast<char>('0' + rest);
    }
  }
  if (minus) start[-1] = '-';
  return true;
}

inline bool fast_fixed(char* field, double x, int w, int d) {
  if (d == 7 && w == 15) return fixed_field<15, 7>(field, x);
  if (d == 4 && w == 8) return fixed_field<8, 4>(field, x);
  return false;
}

// 10^-21 to 10^21 as the nearest doubles: powers_of_ten[n + 21] is 10^n.
inline constexpr double powers_of_ten[43] = {
    1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11,
    1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,
    1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,
    1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21};

// The d significant digits of mag > 0 as an integer q (10^(d-1) <= q <
// 10^d) and the exponent e of 0.d1d2...; false outside the fast range
// (subnormal or non-finite values, magnitudes beyond 10^19 or below 10^-16).
inline bool significant(double mag, int d, std::uint64_t& q, int& e) {
  std::uint64_t bits;
  std::memcpy(&bits, &mag, sizeof bits);
  const int biased = static_cast<int>(bits >> 52) & 0x7ff;
  if (d < 1 || d > 18 || biased == 0 || biased == 0x7ff) return false;
  // floor(log10(mag)) is e10 or e10 + 1: 78913 / 2^18 is log10(2) to
  // within the precision this needs for every binary exponent of a double.
  // A comparison with 10^(e10+1) settles which, but for values within a
  // rounding of that power, which the checks below correct.
  int e10 = ((biased - 1023) * 78913) >> 18;
  if (e10 >= -21 && e10 < 21 && mag >= powers_of_ten[e10 + 22]) ++e10;
  int k = d - 1 - e10;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (k < 0 || k > 19 || !round_scaled(mag, k, q)) return false;
    if (q > pow10[d]) {
      --k;
    } else if (q < pow10[d - 1]) {
      ++k;
    } else {
      if (q == pow10[d]) {  // 9.99996 -> 0.1000E+02
        q = pow10[d - 1];
        --k;
      }
      e = d - k;
      return true;
    }
  }
  return false;
}

// Ew.4 (11 <= W <= 16) straight into the field; false (nothing written)
// for what the general editor handles.
template <int W>
inline bool fast_e4(char* field, double x) {
  static_assert(W >= 11 && W <= 16, "room for a sign and the leading zero");
  const double mag = std::fabs(x);
  std::uint64_t q = 0;
  int e = 0;
  if (mag != 0.0 && !significant(mag, 4, q, e)) return false;
  blank_field(field, W);
  char* p = field + W - 10;  // "0.dddd" and "E+ee"
  if (x < 0) p[-1] = '-';    // negative zero is edited as zero
  p[0] = '0';
  p[1] = '.';
  put_fixed<4>(p + 2, static_cast<std::uint32_t>(q));
  p[6] = 'E';
  p[7] = e < 0 ? '-' : '+';
  put2(p + 8, static_cast<std::uint32_t>(e < 0 ? -e : e));  // |e| <= 15 here
  return true;
}

}  // namespace trislip::edit_fast
