#include "trislip/runs/shortest.hpp"
#include "trislip/runs/subfaults.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::string library_text(double x) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

std::string our_text(double x) {
  char buf[32];
  return std::string(buf, trislip::shortest_chars(buf, x));
}

// The text must be std::to_chars's, byte for byte: any bit pattern, the
// values either side of every switch between fixed and scientific
// notation, steps of sampled time, integers up to and past 2^53, and
// subnormals.
TEST(shortest_chars, writes_what_std_to_chars_writes) {
  int differences = 0;
  const auto same = [&](double x) {
    const std::string expected = library_text(x);
    const std::string actual = our_text(x);
    if (expected != actual && ++differences <= 5) ADD_FAILURE() << expected << " written as " << actual;
  };
  std::mt19937_64 bits(20261209);
  for (int i = 0; i < 2000000; ++i) {
    const std::uint64_t u = bits();
    double x;
    std::memcpy(&x, &u, sizeof x);
    same(x);
  }
  std::uniform_real_distribution<double> unit(1.0, 10.0);
  for (int k = -330; k <= 310; ++k) {
    const double scale = std::pow(10.0, k);
    same(scale);
    same(-scale);
    same(std::nextafter(scale, 0.0));
    for (int i = 0; i < 200; ++i) same(unit(bits) * scale);
    for (int digits = 1; digits <= 17; ++digits) same(std::round(unit(bits) * std::pow(10.0, digits - 1)) * scale);
  }
  for (int i = 0; i < 300000; ++i) {
    same(i * 0.005);
    same(i * 0.0009);
    same(i * 4.76837158203125e-05);
  }
  for (std::int64_t n = (std::int64_t{1} << 53) - 64; n < (std::int64_t{1} << 53) + 64; ++n) same(static_cast<double>(n));
  same(0.0);
  same(-0.0);
  same(std::numeric_limits<double>::denorm_min());
  same(std::numeric_limits<double>::max());
  same(std::numeric_limits<double>::infinity());
  same(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(differences, 0);
}

// A table's cells are read as from_chars reads them: the same bits, and
// the same refusals, for decimals short and long, exponents in and beyond
// the exact powers of ten, and texts that are not one number.
TEST(read_number, reads_what_std_from_chars_reads) {
  std::vector<std::string> cells = {"0",     "-0",    "1e6",     "-117.7280", "34.2470", "9007199254740992",
                                    "9007199254740993", "12345678901234567890", "1e22", "1e23", "1e-22",
                                    "1.5e-23", "4.9e-324", "1e309", "1E+5",  "2e05",    "1e0001",  "",
                                    "-",     "1.",    ".5",      "1e",        "1e+",     "+1",      "1.5x",
                                    " 1",    "inf",   "nan",     "0x1p3",     "1,5",     "00012.500"};
  std::mt19937_64 random(23);
  for (int i = 0; i < 100000; ++i) {
    std::string c = random() % 4 == 0 ? "-" : "";
    c += std::to_string(random() % 100000000);
    if (random() % 2) c += "." + std::to_string(random() % 1000000000).substr(0, random() % 9 + 1);
    if (random() % 3 == 0) c += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
    cells.push_back(c);
  }
  for (const std::string& c : cells) {
    double want = 0, got = 0;
    const auto r = std::from_chars(c.data(), c.data() + c.size(), want);
    const bool ok = r.ec == std::errc() && r.ptr == c.data() + c.size();
    ASSERT_EQ(trislip::read_number(c.data(), c.data() + c.size(), got), ok) << c;
    if (ok) {
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << c;
    }
  }
}

}  // namespace
