// std::to_chars and std::from_chars for double, which the C++ library of
// Debian 12's emscripten does not have: the web build includes this header
// first in every source. to_chars gives the texts of a complete C++17
// library:
// - with a precision, printf's in the "C" locale (emscripten's printf
//   rounds every double correctly), as the standard defines them;
// - without, the fewest significant digits that read back as the same
//   double (the nearest such decimal to it), in the notation asked for:
//   general takes printf's %g choice at its default precision (fixed for
//   decimal exponents from -4 to 5); with none asked, fixed or
//   scientific, whichever is shorter, fixed on a tie. A fixed text with no
//   fraction is the exact integer (the text of that length nearest the
//   double).
// from_chars reads what it reads in the general format ([-]digits, an
// optional fraction and exponent, or inf, infinity, nan), correctly
// rounded by strtod; a value beyond a double is out of range.
#pragma once

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <system_error>

namespace trislip_web {

// printf's text of x, or empty if it needs more than room bytes.
inline std::string printed(const char* format, int precision, double x) {
  const int n = std::snprintf(nullptr, 0, format, precision, x);
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(&s[0], s.size(), format, precision, x);
  s.pop_back();
  return s;
}

inline std::to_chars_result put(char* first, char* last, const std::string& s) {
  if (s.size() > static_cast<std::size_t>(last - first)) return {last, std::errc::value_too_large};
  std::memcpy(first, s.data(), s.size());
  return {first + s.size(), std::errc{}};
}

// The fewest significant digits (1 to 17) that read back as x.
inline int shortest_digits(double x) {
  for (int digits = 1; digits < 17; ++digits) {
    if (std::strtod(printed("%.*e", digits - 1, x).c_str(), nullptr) == x) return digits;
  }
  return 17;
}

inline std::string shortest(double x, std::chars_format fmt) {
  if (!std::isfinite(x)) return printed("%.*g", 1, x);
  if (x == 0) return printed(fmt == std::chars_format::scientific ? "%.*e" : "%.*f", 0, x);
  const int digits = shortest_digits(x);
  const std::string scientific = printed("%.*e", digits - 1, x);
  if (fmt == std::chars_format::scientific) return scientific;
  // Decimals after the point: those of the last significant digit.
  const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
  const int decimals = digits - 1 - exponent;
  const std::string fixed = printed("%.*f", decimals > 0 ? decimals : 0, x);
  if (fmt == std::chars_format::fixed) return fixed;
  // general: printf's %g choice at its default precision, 6.
  if (fmt == std::chars_format::general) return exponent >= -4 && exponent < 6 ? fixed : scientific;
  return fixed.size() <= scientific.size() ? fixed : scientific;
}

// printf's text of x with the precision, in the notation asked for.
inline std::string with_precision(double x, std::chars_format fmt, int precision) {
  const char* format = fmt == std::chars_format::fixed        ? "%.*f"
                       : fmt == std::chars_format::scientific ? "%.*e"
                       : fmt == std::chars_format::hex        ? "%.*a"
                                                              : "%.*g";
  return printed(format, precision, x);
}

// The length of the general format's longest match at [first, last).
inline std::size_t general_match(const char* first, const char* last) {
  const char* p = first;
  const auto digits = [&] {
    const char* from = p;
    while (p < last && *p >= '0' && *p <= '9') ++p;
    return p - from;
  };
  if (p < last && *p == '-') ++p;
  for (const char* word : {"infinity", "inf", "nan"}) {
    const std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(last - p) >= n && strncasecmp(p, word, n) == 0) {
      return static_cast<std::size_t>(p + n - first);
    }
  }
  auto whole = digits();
  if (p < last && *p == '.') {
    ++p;
    whole += digits();
  }
  if (whole == 0) return 0;
  const char* mantissa_end = p;
  if (p < last && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < last && (*p == '+' || *p == '-')) ++p;
    if (digits() == 0) p = mantissa_end;
  }
  return static_cast<std::size_t>(p - first);
}

// What from_chars reads at [first, last) in the general format.
inline std::from_chars_result read(const char* first, const char* last, double& value) {
  const std::size_t n = general_match(first, last);
  if (n == 0) return {first, std::errc::invalid_argument};
  const std::string text(first, n);
  errno = 0;
  const double x = std::strtod(text.c_str(), nullptr);
  if (errno == ERANGE && (std::isinf(x) || x == 0)) return {first + n, std::errc::result_out_of_range};
  value = x;
  return {first + n, std::errc{}};
}

}  // namespace trislip_web

// A native test of the texts above against the C++ library's own defines
// TRISLIP_CHARCONV_DOUBLES_TEST and takes trislip_web's functions alone.
#if !defined(TRISLIP_CHARCONV_DOUBLES_TEST)
namespace std {

inline to_chars_result to_chars(char* first, char* last, double x, chars_format fmt, int precision) {
  return trislip_web::put(first, last, trislip_web::with_precision(x, fmt, precision));
}

inline to_chars_result to_chars(char* first, char* last, double x, chars_format fmt) {
  return trislip_web::put(first, last, trislip_web::shortest(x, fmt));
}

inline to_chars_result to_chars(char* first, char* last, double x) {
  return trislip_web::put(first, last, trislip_web::shortest(x, chars_format{}));
}

inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                     chars_format = chars_format::general) {
  return trislip_web::read(first, last, value);
}

}  // namespace std
#endif
