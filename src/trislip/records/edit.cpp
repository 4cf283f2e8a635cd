#include "trislip/records/edit.hpp"

#include "trislip/records/edit_fast.hpp"

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

using namespace edit_fast;

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
  if (d == 4 && w == 12 && fast_e4<12>(field, x)) return;
  // Collect d significant digits and the decimal exponent e of 0.d1d2...
  char mantissa[digit_room];
  int e = 0;
  const double mag = std::fabs(x);
  std::uint64_t q = 0;
  if (mag == 0.0) {
    fill(mantissa, d, '0');
  } else if (significant(mag, d, q, e)) {
    put_digits(q, d, mantissa + d);
  } else {
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
  fill(field, w - len, ' ');
  char* p = field + (w - len);
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
