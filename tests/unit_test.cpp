#include "trislip/records/unit.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

class file_unit_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/trislip-unit-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/out.csv";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }

  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }

  // Header and n records of FORMAT 1100 through a fresh unit.
  void write_file(int n) const {
    trislip::file_unit unit(12, path_.c_str());
    unit.open();
    unit.put_record(" head");
    for (int i = 0; i < n; ++i) {
      const double items[] = {static_cast<double>(i), 1.0, 2.0};
      unit.write(trislip::format_1100, items, 3);
    }
    unit.close();
  }

  std::string dir_;
  std::string path_;
};

const std::string record_0 = "  0.0000,  0.1000E+01,  0.2000E+01,\n";

TEST_F(file_unit_test, creates_a_new_file) {
  write_file(1);
  EXPECT_EQ(contents(), " head\n" + record_0);
}

TEST_F(file_unit_test, longer_old_file_is_cut_after_the_last_record) {
  put(std::string(100000, 'x'));
  write_file(1);
  EXPECT_EQ(contents(), " head\n" + record_0);
}

TEST_F(file_unit_test, shorter_old_file_is_overwritten_and_extended) {
  put("old");
  write_file(1);
  EXPECT_EQ(contents(), " head\n" + record_0);
}

TEST_F(file_unit_test, records_beyond_one_buffer_arrive_whole_and_in_order) {
  const int n = 5000;  // 36 bytes each: several buffers
  put(std::string(400000, 'x'));
  write_file(n);
  const std::string text = contents();
  ASSERT_EQ(text.size(), 6u + 36u * n);
  EXPECT_EQ(text.substr(6 + 36 * 9, 36), "  9.0000,  0.1000E+01,  0.2000E+01,\n");
  EXPECT_EQ(text.substr(6 + 36 * 4999, 36), "********,  0.1000E+01,  0.2000E+01,\n");
}

TEST_F(file_unit_test, closing_twice_and_closing_unopened_units_do_nothing) {
  trislip::file_unit unit(11, path_.c_str());
  unit.close();
  unit.open();
  unit.close();
  unit.close();
  EXPECT_EQ(contents(), "");
}

// Writes a header and n time-series records through unit on name and ends
// the process normally, which the tests below must never see.
void write_and_exit(const char* name, int unit, int n) {
  trislip::console().put_record("");
  trislip::file_unit u(unit, name);
  u.open();
  u.put_record(" head");
  const double items[] = {1.0, 2.0, 3.0, 4.0};
  for (int i = 0; i < n; ++i) u.write(trislip::format_1000, items, 4);
  u.close();
  std::exit(0);
}

// The death tests' children run in new processes that never reach a
// TearDown, so these tests make no folder of their own.
class file_unit_death_test : public ::testing::Test {};

TEST_F(file_unit_death_test, write_failure_is_reported_and_never_a_normal_end) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(write_and_exit("/dev/full", 11, 3000),
               "^write: No space left on device\n"
               "apparent state: unit 11 named /dev/full\n"
               "last format: \\(F8.4,3\\(',',F15.7\\)\\)\n"
               "lately writing sequential formatted external IO\n$");
}

TEST_F(file_unit_death_test, failure_at_close_is_reported_without_a_format) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(write_and_exit("/dev/full", 12, 0),
               "^close: No space left on device\n"
               "apparent state: unit 12 named /dev/full\n"
               "lately writing sequential formatted external IO\n$");
}

TEST_F(file_unit_death_test, uncreatable_file_is_reported_at_open) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string name = "/nonexistent/no/such/dir.csv";  // a path that never exists
  EXPECT_DEATH(write_and_exit(name.c_str(), 11, 0),
               "^open: No such file or directory\n"
               "apparent state: unit 11 named .*/no/such/dir.csv\n"
               "last format: list io\n"
               "lately writing sequential formatted external IO\n$");
}

}  // namespace
