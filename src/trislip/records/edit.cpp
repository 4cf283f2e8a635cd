#include "trislip/records/edit.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// Digits are the exact binary value rounded to nearest, exact ties to even
// (so 3.90625 under F8.4 is 3.9062). The common magnitudes take an exact
// integer path; the rest go to std::to_chars, which rounds the same way.
// Neither needs a locale or the heap, and both give the same digits on
// every platform, unlike the C library's printf family.
namespace trislip {
namespace {

// Room for the fixed-point text of the largest double with the decimals
// any field here can ask for.
constexpr int digit_room = 400;

void fill(char* field, int w, char c) { std::memset(field, c, static_cast<std::size_t>(w)); }

// Right-justifies text of length n (n <= w) in a field of w characters.
void right_justify(char* field, int w, const char* text, int n) {
  fill(field, w - n, ' ');
  std::memcpy(field + (w - n), text, static_cast<std::size_t>(n));
}

// Infinities and not-a-numbers: the word, right-justified, or asterisks
// when it does not fit.
void edit_non_finite(char* field, double x, int w) {
  const char* text = std::isnan(x) ? "NaN" : (x < 0 ? "-Inf" : "Inf");
  const int n = static_cast<int>(std::strlen(text));
  if (n > w) {
    fill(field, w, '*');
  } else {
    right_justify(field, w, text, n);
  }
}

// Fast exact path. A finite double is m * 2^e with m < 2^53; times 10^k
// (k <= 19) it is an integer below 2^117 shifted by e, so the quotient and
// the remainder against one half come out exact in 128-bit integers. The
// result is the same rounding as to_chars: to nearest, ties to even.
#ifdef __SIZEOF_INT128__
__extension__ typedef unsigned __int128 u128;

constexpr std::uint64_t pow10[20] = {1u,
                                     10u,
                                     100u,
                                     1000u,
                                     10000u,
                                     100000u,
                                     1000000u,
                                     10000000u,
                                     100000000u,
                                     1000000000u,
                                     10000000000u,
                                     100000000000u,
                                     1000000000000u,
                                     10000000000000u,
                                     100000000000000u,
                                     1000000000000000u,
                                     10000000000000000u,
                                     100000000000000000u,
                                     1000000000000000000u,
                                     10000000000000000000u};

// mag * 10^k = whole + fraction, with half_cmp the sign of fraction - 1/2.
// False when whole would not fit in 64 bits.
bool scale(double mag, int k, std::uint64_t& whole, int& half_cmp) {
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
    whole = static_cast<std::uint64_t>(n << e);
    half_cmp = -1;
    return true;
  }
  const int s = -e;
  if (s >= 120) {  // n < 2^117 is below one half of 2^s
    whole = 0;
    half_cmp = -1;
    return true;
  }
  const u128 q = n >> s;
  if ((q >> 64) != 0) return false;
  whole = static_cast<std::uint64_t>(q);
  const u128 rest = n - (q << s);
  const u128 half = static_cast<u128>(1) << (s - 1);
  half_cmp = rest < half ? -1 : (rest == half ? 0 : 1);
  return true;
}

std::uint64_t rounded(std::uint64_t whole, int half_cmp) {
  return whole + ((half_cmp > 0 || (half_cmp == 0 && (whole & 1u))) ? 1u : 0u);
}

// "00" to "99", so that digits are produced two at a time.
constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the last n decimal digits of v (with leading zeros) so that they
// end just before end; returns v without them.
std::uint64_t put_digits(std::uint64_t v, int n, char* end) {
  for (; n >= 2; n -= 2) {
    const auto pair = static_cast<std::size_t>(v % 100) * 2;
    v /= 100;
    *--end = digit_pairs[pair + 1];
    *--end = digit_pairs[pair];
  }
  if (n == 1) {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return v;
}

int digit_count(std::uint64_t v) {
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

// Fw.d straight into the field; false outside the fast range.
bool fast_fixed(char* field, double x, int w, int d) {
  std::uint64_t whole;
  int half_cmp;
  if (d > 18 || !scale(std::fabs(x), d, whole, half_cmp)) return false;
  const std::uint64_t q = rounded(whole, half_cmp);
  if (q < whole) return false;  // wrapped
  const bool minus = x < 0 && q != 0;
  // Digits before the point: at least one, a 0 when q < 10^d.
  int int_digits = q < pow10[d] ? 1 : digit_count(q) - d;
  const int len = (minus ? 1 : 0) + int_digits + 1 + d;
  if (len > w) {
    if (q < pow10[d] && len == w + 1) {  // the leading zero gives way
      int_digits = 0;
    } else {
      fill(field, w, '*');
      return true;
    }
  }
  char* end = field + w;
  const std::uint64_t integer = put_digits(q, d, end);
  end -= d;
  *--end = '.';
  put_digits(integer, int_digits, end);
  end -= int_digits;
  if (minus) *--end = '-';
  fill(field, static_cast<int>(end - field), ' ');
  return true;
}

// d significant digits of mag > 0 and the exponent e of 0.d1d2...;
// false outside the fast range.
bool fast_significant(double mag, int d, char* digits, int& e) {
  if (d > 18) return false;
  int binary_exponent;
  std::frexp(mag, &binary_exponent);
  // An estimate of floor(log10(mag)), corrected below on exact integers.
  const int e10 = static_cast<int>(std::floor((binary_exponent - 1) * 0.30102999566398120));
  int k = d - 1 - e10;
  std::uint64_t whole = 0;
  int half_cmp = 0;
  for (int attempt = 0;; ++attempt) {
    if (k < 0 || k > 19 || attempt == 3 || !scale(mag, k, whole, half_cmp)) return false;
    if (whole >= pow10[d]) {
      --k;
    } else if (whole < pow10[d - 1]) {
      ++k;
    } else {
      break;
    }
  }
  std::uint64_t q = rounded(whole, half_cmp);
  if (q == pow10[d]) {  // 9.99996 -> 0.1000E+02
    q = pow10[d - 1];
    --k;
  }
  put_digits(q, d, digits + d);
  e = d - k;
  return true;
}
#else
bool fast_fixed(char*, double, int, int) { return false; }
bool fast_significant(double, int, char*, int&) { return false; }
#endif

}  // namespace

void edit_f(char* field, double x, int w, int d) {
  if (!std::isfinite(x)) {
    edit_non_finite(field, x, w);
    return;
  }
  if (fast_fixed(field, x, w, d)) return;
  char buf[digit_room + 1];
  char* digits = buf + 1;  // buf[0] is room for the sign
  const auto r = std::to_chars(digits, buf + sizeof buf, std::fabs(x),
                               std::chars_format::fixed, d);
  if (r.ec != std::errc{}) {
    fill(field, w, '*');
    return;
  }
  int n = static_cast<int>(r.ptr - digits);
  // A negative value shows its sign only if some written digit is not 0;
  // negative zero and values that round to zero come out unsigned.
  bool minus = false;
  if (x < 0) {
    for (const char* p = digits; p != digits + n; ++p) {
      if (*p != '0' && *p != '.') {
        minus = true;
        break;
      }
    }
  }
  if (n + (minus ? 1 : 0) > w) {
    // One character too many and a leading zero: the zero gives way.
    if (digits[0] == '0' && n + (minus ? 1 : 0) == w + 1) {
      ++digits;
      --n;
    } else {
      fill(field, w, '*');
      return;
    }
  }
  if (minus) {
    *--digits = '-';
    ++n;
  }
  right_justify(field, w, digits, n);
}

void edit_e(char* field, double x, int w, int d) {
  if (!std::isfinite(x)) {
    edit_non_finite(field, x, w);
    return;
  }
  if (d < 1 || d >= digit_room) {
    fill(field, w, '*');
    return;
  }
  // Collect d significant digits and the decimal exponent e of 0.d1d2...
  char mantissa[digit_room];
  int e = 0;
  const double mag = std::fabs(x);
  if (mag == 0.0) {
    fill(mantissa, d, '0');
  } else if (!fast_significant(mag, d, mantissa, e)) {
    char sci[digit_room];
    const auto r = std::to_chars(sci, sci + sizeof sci, mag,
                                 std::chars_format::scientific, d - 1);
    if (r.ec != std::errc{}) {
      fill(field, w, '*');
      return;
    }
    int k = 0;
    const char* p = sci;
    for (; p != r.ptr && *p != 'e'; ++p) {
      if (*p != '.') mantissa[k++] = *p;
    }
    std::from_chars(p + (*(p + 1) == '+' ? 2 : 1), r.ptr, e);
    e += 1;
  }
  const bool minus = x < 0;  // negative zero is edited as zero
  char exponent[4];
  const int ae = e < 0 ? -e : e;
  if (ae <= 99) {
    exponent[0] = 'E';
    exponent[1] = e < 0 ? '-' : '+';
    exponent[2] = static_cast<char>('0' + ae / 10);
    exponent[3] = static_cast<char>('0' + ae % 10);
  } else {
    exponent[0] = e < 0 ? '-' : '+';
    exponent[1] = static_cast<char>('0' + ae / 100);
    exponent[2] = static_cast<char>('0' + ae / 10 % 10);
    exponent[3] = static_cast<char>('0' + ae % 10);
  }
  const int mandatory = (minus ? 1 : 0) + 1 + d + 4;
  if (w < mandatory) {
    fill(field, w, '*');
    return;
  }
  const bool zero_lead = w > mandatory;
  const int len = mandatory + (zero_lead ? 1 : 0);
  char* p = field;
  fill(p, w - len, ' ');
  p += w - len;
  if (minus) *p++ = '-';
  if (zero_lead) *p++ = '0';
  *p++ = '.';
  std::memcpy(p, mantissa, static_cast<std::size_t>(d));
  p += d;
  std::memcpy(p, exponent, 4);
}

std::string list_real(double x) {
  std::string text = x < 0 ? " -" : "  ";
  if (x == 0.0) {
    text += "0.";
    return text;
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x),
                               std::chars_format::general, 9);
  std::string mag(buf, r.ptr);
  for (char& c : mag) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (std::isfinite(x) && mag.find('.') == std::string::npos) {
    const auto exp_at = mag.find('E');
    if (exp_at == std::string::npos) {
      mag += '.';
    } else {
      mag.insert(exp_at, 1, '.');
    }
  }
  return text + mag;
}

std::string list_integer(std::int32_t n) {
  char buf[16] = {' '};
  const auto r = std::to_chars(buf + 1, buf + sizeof buf, n);
  return std::string(buf, r.ptr);
}

}  // namespace trislip
