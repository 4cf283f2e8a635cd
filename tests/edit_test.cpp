#include "trislip/records/edit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace {

std::string f(double x, int w, int d) {
  std::string s(static_cast<std::size_t>(w), '?');
  trislip::edit_f(s.data(), x, w, d);
  return s;
}

std::string e(double x, int w, int d) {
  std::string s(static_cast<std::size_t>(w), '?');
  trislip::edit_e(s.data(), x, w, d);
  return s;
}

const double below_0_78125 = std::nextafter(0.78125, 0.0);

TEST(edit_f, rounds_to_nearest_and_right_justifies) {
  EXPECT_EQ(f(0.005, 8, 4), "  0.0050");
  EXPECT_EQ(f(20.4765625, 8, 4), " 20.4766");
  EXPECT_EQ(f(3.955078125, 8, 4), "  3.9551");
  EXPECT_EQ(f(below_0_78125, 8, 4), "  0.7812");
  EXPECT_EQ(f(0.00390626, 15, 7), "      0.0039063");
  EXPECT_EQ(f(123456.789, 15, 7), " 123456.7890000");
  EXPECT_EQ(f(1.2345678, 15, 7), "      1.2345678");
}

TEST(edit_f, negative_value_that_rounds_to_zero_has_no_sign) {
  EXPECT_EQ(f(-0.5, 8, 4), " -0.5000");
  EXPECT_EQ(f(-0.00004, 8, 4), "  0.0000");
  EXPECT_EQ(f(-0.00005, 8, 4), " -0.0001");  // the double lies above 0.00005
  EXPECT_EQ(f(-0.00000004, 15, 7), "      0.0000000");
  EXPECT_EQ(f(-0.0, 15, 7), "      0.0000000");
  EXPECT_EQ(f(-0.0000001, 15, 7), "     -0.0000001");
}

TEST(edit_f, overflow_fills_the_field_with_asterisks) {
  EXPECT_EQ(f(999.9999, 8, 4), "999.9999");
  EXPECT_EQ(f(-99.9999, 8, 4), "-99.9999");
  EXPECT_EQ(f(-100.0, 8, 4), "********");
  EXPECT_EQ(f(1000.0, 8, 4), "********");
  EXPECT_EQ(f(9999999.0, 15, 7), "9999999.0000000");
  EXPECT_EQ(f(-1000000.0, 15, 7), "***************");
  EXPECT_EQ(f(12345678.9, 15, 7), "***************");
  EXPECT_EQ(f(1e300, 15, 7), "***************");
}

TEST(edit_f, leading_zero_gives_way_when_one_character_short) {
  EXPECT_EQ(f(0.5, 5, 4), ".5000");
  EXPECT_EQ(f(-0.5, 6, 4), "-.5000");
  EXPECT_EQ(f(0.5, 4, 4), "****");
}

// Exact binary ties at the last digit round to even: to_chars breaks ties
// that way on every platform, so the files agree wherever they are made.
TEST(edit_f, exact_ties_round_to_even) {
  EXPECT_EQ(f(3.90625, 8, 4), "  3.9062");
  EXPECT_EQ(f(7.03125, 8, 4), "  7.0312");
  EXPECT_EQ(f(2.34375, 8, 4), "  2.3438");
}

TEST(edit_e, four_significant_digits_with_two_digit_exponent) {
  EXPECT_EQ(e(1.0, 12, 4), "  0.1000E+01");
  EXPECT_EQ(e(0.0, 12, 4), "  0.0000E+00");
  EXPECT_EQ(e(-0.0, 12, 4), "  0.0000E+00");
  EXPECT_EQ(e(-2.5, 12, 4), " -0.2500E+01");
  EXPECT_EQ(e(0.1, 12, 4), "  0.1000E+00");
  EXPECT_EQ(e(1.0e-12, 12, 4), "  0.1000E-11");
  EXPECT_EQ(e(123456.789, 12, 4), "  0.1235E+06");
  EXPECT_EQ(e(9.99996, 12, 4), "  0.1000E+02");
  EXPECT_EQ(e(5.0e-100, 12, 4), "  0.5000E-99");
}

TEST(edit_e, three_digit_exponent_drops_the_letter) {
  EXPECT_EQ(e(1.0e99, 12, 4), "  0.1000+100");
  EXPECT_EQ(e(1.0e100, 12, 4), "  0.1000+101");
  EXPECT_EQ(e(1.0e-120, 12, 4), "  0.1000-119");
  EXPECT_EQ(e(-4.9e-324, 12, 4), " -0.4941-323");
}

TEST(edit_e, narrow_fields_lose_the_zero_then_overflow) {
  EXPECT_EQ(e(1.0, 9, 4), ".1000E+01");
  EXPECT_EQ(e(-1.0, 10, 4), "-.1000E+01");
  EXPECT_EQ(e(1.0, 8, 4), "********");
}

TEST(edit, non_finite_values_are_named) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(f(inf, 8, 4), "     Inf");
  EXPECT_EQ(f(-inf, 8, 4), "    -Inf");
  EXPECT_EQ(e(std::nan(""), 12, 4), "         NaN");
  EXPECT_EQ(f(inf, 2, 0), "**");
}

TEST(list_real, nine_significant_digits_completed_with_a_point) {
  EXPECT_EQ(trislip::list_real(1.0), "  1.");
  EXPECT_EQ(trislip::list_real(10.0), "  10.");
  EXPECT_EQ(trislip::list_real(0.005), "  0.005");
  EXPECT_EQ(trislip::list_real(0.1), "  0.1");
  EXPECT_EQ(trislip::list_real(1.633), "  1.633");
  EXPECT_EQ(trislip::list_real(3.096729655881234), "  3.09672966");
  EXPECT_EQ(trislip::list_real(100.00000001591549), "  100.");
  EXPECT_EQ(trislip::list_real(0.3067961576171875), "  0.306796158");
  EXPECT_EQ(trislip::list_real(123456789.0), "  123456789.");
}

TEST(list_real, sign_column_and_zero) {
  EXPECT_EQ(trislip::list_real(-2.5), " -2.5");
  EXPECT_EQ(trislip::list_real(0.0), "  0.");
  EXPECT_EQ(trislip::list_real(-0.0), "  0.");
}

TEST(list_real, exponent_form_outside_the_fixed_range) {
  EXPECT_EQ(trislip::list_real(0.0001), "  0.0001");
  EXPECT_EQ(trislip::list_real(0.00001), "  1.E-05");
  EXPECT_EQ(trislip::list_real(1.5e-7), "  1.5E-07");
  EXPECT_EQ(trislip::list_real(1.0e10), "  1.E+10");
  EXPECT_EQ(trislip::list_real(1234567890.0), "  1.23456789E+09");
  EXPECT_EQ(trislip::list_real(999999999.6), "  1.E+09");
  EXPECT_EQ(trislip::list_real(-1.0e-300), " -1.E-300");
}

TEST(list_integer, one_blank_then_the_digits) {
  EXPECT_EQ(trislip::list_integer(4096), " 4096");
  EXPECT_EQ(trislip::list_integer(0), " 0");
  EXPECT_EQ(trislip::list_integer(-5), " -5");
  EXPECT_EQ(trislip::list_integer(std::numeric_limits<std::int32_t>::min()), " -2147483648");
}

}  // namespace

namespace {

// The C library's exact conversions as an independent reference for the
// editors, over magnitudes and exact ties that the program never meets.
std::string reference_f(double x, int w, int d) {
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.*f", d, std::fabs(x));
  std::string text = digits;
  const bool minus = x < 0 && text.find_first_not_of("0.") != std::string::npos;
  if (minus) text.insert(0, "-");
  if (text.size() > static_cast<std::size_t>(w)) {
    const std::size_t zero = minus ? 1 : 0;
    if (text.size() == static_cast<std::size_t>(w) + 1 && text[zero] == '0') {
      text.erase(zero, 1);
    } else {
      return std::string(static_cast<std::size_t>(w), '*');
    }
  }
  return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

std::string reference_e(double x, int w, int d) {
  char sci[64];
  std::snprintf(sci, sizeof sci, "%.*E", d - 1, std::fabs(x));
  std::string digits;
  const char* p = sci;
  for (; *p != 'E'; ++p) {
    if (*p != '.') digits += *p;
  }
  const int e = x == 0 ? 0 : std::atoi(p + 1) + 1;
  char exponent[16];
  if (e >= -99 && e <= 99) {
    std::snprintf(exponent, sizeof exponent, "E%c%02d", e < 0 ? '-' : '+', std::abs(e));
  } else {
    std::snprintf(exponent, sizeof exponent, "%c%03d", e < 0 ? '-' : '+', std::abs(e));
  }
  const std::string text = std::string(x < 0 ? "-" : "") + "0." + digits + exponent;
  return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

TEST(editors, agree_with_the_c_library_over_many_values) {
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> exponent(-30.0, 30.0);
  std::uniform_int_distribution<std::int64_t> numerator(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
  std::uniform_int_distribution<int> shift(0, 40);
  for (int i = 0; i < 300000; ++i) {
    // Alternately a value of any magnitude and a short binary fraction,
    // which is often an exact tie at the last digit.
    const double x = (i % 2 == 0)
                         ? std::copysign(std::pow(10.0, exponent(rng)), static_cast<double>(numerator(rng)))
                         : std::ldexp(static_cast<double>(numerator(rng) >> shift(rng)), -shift(rng));
    ASSERT_EQ(f(x, 15, 7), reference_f(x, 15, 7)) << std::hexfloat << x;
    ASSERT_EQ(f(x, 8, 4), reference_f(x, 8, 4)) << std::hexfloat << x;
    ASSERT_EQ(f(x, 30, 12), reference_f(x, 30, 12)) << std::hexfloat << x;
    ASSERT_EQ(e(x, 12, 4), reference_e(x, 12, 4)) << std::hexfloat << x;
    ASSERT_EQ(e(x, 25, 17), reference_e(x, 25, 17)) << std::hexfloat << x;
  }
}

}  // namespace
