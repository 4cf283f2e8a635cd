#include "trislip/records/formatted.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string edit(const trislip::record_format& fmt, std::vector<double> items) {
  std::string s(fmt.max_length(), '?');
  s.resize(trislip::edit_record(fmt, items.data(), items.size(), s.data()));
  return s;
}

TEST(format_1000, time_series_records) {
  using trislip::format_1000;
  EXPECT_EQ(edit(format_1000, {0.0, 0.0, 0.0, 0.0}),
            "  0.0000,      0.0000000,      0.0000000,      0.0000000");
  EXPECT_EQ(edit(format_1000, {0.005, 1.2345678, 0.0000001, -0.0000001}),
            "  0.0050,      1.2345678,      0.0000001,     -0.0000001");
  EXPECT_EQ(edit(format_1000, {20.4765625, 123456.789, -0.00000004, -0.0}),
            " 20.4766, 123456.7890000,      0.0000000,      0.0000000");
  EXPECT_EQ(edit(format_1000, {1000.0, 12345678.9, 0.00390626, -1234567.0}),
            "********,***************,      0.0039063,***************");
}

TEST(format_1100, spectrum_records_end_with_the_group_literal) {
  using trislip::format_1100;
  EXPECT_EQ(edit(format_1100, {0.0, 1.0, 0.0}), "  0.0000,  0.1000E+01,  0.0000E+00,");
  EXPECT_EQ(edit(format_1100, {3.955078125, 1.0e-12, 123456.789}),
            "  3.9551,  0.1000E-11,  0.1235E+06,");
  EXPECT_EQ(edit(format_1100, {2.392578125, 9.99996, 1.0e-120}),
            "  2.3926,  0.1000E+02,  0.1000-119,");
  EXPECT_EQ(edit(format_1100, {std::nextafter(0.78125, 0.0), 1.0e100, 5.0e-100}),
            "  0.7812,  0.1000+101,  0.5000E-99,");
}

TEST(edit_record, record_stops_at_the_first_descriptor_without_an_item) {
  EXPECT_EQ(edit(trislip::format_1000, {}), "");
  EXPECT_EQ(edit(trislip::format_1000, {1.0}), "  1.0000,");
  EXPECT_EQ(edit(trislip::format_1100, {1.0, 2.0}), "  1.0000,  0.2000E+01,");
}

TEST(edit_record, more_items_than_descriptors_is_rejected) {
  std::vector<double> items(5, 1.0);
  std::string s(200, '?');
  EXPECT_THROW(trislip::edit_record(trislip::format_1000, items.data(), 5, s.data()),
               std::invalid_argument);
}

}  // namespace
