#include "trislip/runs/shortest.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <dragonbox/dragonbox.h>

#include "trislip/digits.hpp"

namespace trislip {
namespace {

// The eight decimal digits of v < 10^8, zeros first, as one 8-byte store:
// whole-word stores let later byte loads of the same text be forwarded
// from the store.
void put_eight(char* p, std::uint32_t v) {
  std::uint64_t x = ascii8(v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  x = __builtin_bswap64(x);
#endif
  std::memcpy(p, &x, 8);
}

// The 17 digits of 10^16 <= v < 10^17 at p.
void put_seventeen(char* p, std::uint64_t v) {
  const std::uint64_t first = v / 10000000000000000;
  const std::uint64_t rest = v - first * 10000000000000000;
  const std::uint64_t high = rest / 100000000;
  p[0] = static_cast<char>('0' + first);
  put_eight(p + 1, static_cast<std::uint32_t>(high));
  put_eight(p + 9, static_cast<std::uint32_t>(rest - high * 100000000));
}

// The number of decimal digits of 0 < v < 10^17.
int digit_count(std::uint64_t v) {
  // 1233 / 4096 is just above log10(2): an estimate one too low at most.
  const int estimate = ((64 - __builtin_clzll(v)) * 1233) >> 12;
  return estimate + (v >= pow10[estimate] ? 1 : 0);
}

}  // namespace

char* shortest_chars(char* p, double x) {
  // 2^53: below it a double's fixed text is its shortest digits padded
  // with zeros; from it on std::to_chars may print the exact integer.
  if (!(std::fabs(x) < 9007199254740992.0) || x == 0) return std::to_chars(p, p + 32, x).ptr;
  const auto decimal = jkj::dragonbox::to_decimal(x);
  if (decimal.is_negative) *p++ = '-';

  // The n significant digits (at most 17), written as 17 with zeros after
  // them: those zeros are the integer's own, or are written over.
  const int n = digit_count(decimal.significand);
  const std::uint64_t digits = decimal.significand * pow10[17 - n];
  const int e = decimal.exponent;  // x = significand * 10^e
  const int x10 = e + n - 1;       // x = d.ddd * 10^x10
  const unsigned magnitude = static_cast<unsigned>(x10 < 0 ? -x10 : x10);
  const int scientific = n + (n > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
  const int fixed = e >= 0 ? n + e : x10 >= 0 ? n + 1 : 1 + n - x10;

  if (fixed <= scientific) {
    if (e >= 0) {
      // An integer below 2^53: at most 16 digits, its zeros included.
      put_seventeen(p, digits);
      return p + n + e;
    }
    if (x10 >= 0) {
      // The integer part moved one place left, then the point.
      put_seventeen(p + 1, digits);
      for (int i = 0; i <= x10; ++i) p[i] = p[i + 1];
      p[x10 + 1] = '.';
      return p + n + 1;
    }
    // 0.000ddd: at most three zeros after the point when this is shorter.
    std::memcpy(p, "0.000", 5);
    put_seventeen(p + 1 - x10, digits);
    return p + 1 + n - x10;
  }
  put_seventeen(p + 1, digits);
  p[0] = p[1];
  p[1] = '.';
  p += n > 1 ? n + 1 : 1;
  *p++ = 'e';
  *p++ = x10 < 0 ? '-' : '+';
  unsigned rest = magnitude;
  if (rest >= 100) {
    *p++ = static_cast<char>('0' + rest / 100);
    rest %= 100;
  }
  std::memcpy(p, digit_pairs + 2 * rest, 2);
  return p + 2;
}

}  // namespace trislip
