// The browser build's to_chars and from_chars for doubles, built here
// against the C++ library's own: the same texts and the same values.
#define TRISLIP_CHARCONV_DOUBLES_TEST
#include "charconv_doubles.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string library_text(double x, std::chars_format fmt, int precision) {
  char buf[400];
  const std::to_chars_result r = precision >= 0               ? std::to_chars(buf, buf + sizeof buf, x, fmt, precision)
                                 : fmt == std::chars_format{} ? std::to_chars(buf, buf + sizeof buf, x)
                                                              : std::to_chars(buf, buf + sizeof buf, x, fmt);
  return std::string(buf, r.ptr);
}

// Random bit patterns, integers and binary fractions of every size, and
// the values where the notation or the digit count changes.
std::vector<double> values() {
  std::vector<double> xs = {0.0, 1.0, 1000.0, 1e5, 1e6, 1e15, 1e16, 1e21, 1e22, 1e23, 0.0001, 1e-5, 0.1,
                            1.0 / 3, 9007199254740992.0, 9007199254740993.0, 5e-324, 1.7976931348623157e308,
                            123456789012345680000.0, INFINITY, NAN};
  std::mt19937_64 g(20261209);
  for (int i = 0; i < 5000; ++i) {
    const std::uint64_t bits = g();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    xs.push_back(x);
    xs.push_back(std::ldexp(static_cast<double>(g() % 1000000), static_cast<int>(g() % 100) - 50));
    xs.push_back(static_cast<double>(g() % 100000));
  }
  const std::size_t n = xs.size();
  for (std::size_t i = 0; i < n; ++i) xs.push_back(-xs[i]);
  return xs;
}

TEST(charconv_doubles, texts_and_values_are_the_libraries) {
  using f = std::chars_format;
  for (const double x : values()) {
    for (const f fmt : {f{}, f::general, f::fixed, f::scientific}) {
      ASSERT_EQ(trislip_web::shortest(x, fmt), library_text(x, fmt, -1)) << std::hexfloat << x;
    }
    for (const int precision : {0, 4, 9, 17}) {
      for (const f fmt : {f::general, f::fixed, f::scientific}) {
        if (fmt == f::fixed && std::fabs(x) > 1e30) continue;  // 300-digit texts say nothing more
        ASSERT_EQ(trislip_web::with_precision(x, fmt, precision), library_text(x, fmt, precision))
            << std::hexfloat << x << " precision " << precision;
      }
    }
    // Read back: the shortest text, and it cut short.
    const std::string text = library_text(x, f{}, -1);
    for (const std::string& t : {text, text.substr(0, text.size() / 2 + 1)}) {
      double ours = 7, theirs = 7;
      const auto a = trislip_web::read(t.data(), t.data() + t.size(), ours);
      const auto b = std::from_chars(t.data(), t.data() + t.size(), theirs);
      ASSERT_EQ(a.ec, b.ec) << t;
      ASSERT_EQ(a.ptr, b.ptr) << t;
      ASSERT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << t;
    }
  }
  // What the general format does not take, and values beyond a double.
  for (const std::string t : {"", "-", "+1", " 1", ".", "e5", "1e", "1e+", "0x10", "1e400", "-1e400", "1e-400", "infinity",
                              "-inf", "nan", "1.5e3x", "..1"}) {
    double ours = 7, theirs = 7;
    const auto a = trislip_web::read(t.data(), t.data() + t.size(), ours);
    const auto b = std::from_chars(t.data(), t.data() + t.size(), theirs);
    EXPECT_EQ(a.ec, b.ec) << t;
    EXPECT_EQ(a.ptr, b.ptr) << t;
    EXPECT_TRUE(ours == theirs || (std::isnan(ours) && std::isnan(theirs))) << t;
  }
}

}  // namespace
