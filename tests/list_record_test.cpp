#include "trislip/records/list_record.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct collect final : trislip::record_sink {
  std::vector<std::string> records;
  void put_record(std::string_view r) override { records.emplace_back(r); }
};

using records = std::vector<std::string>;

TEST(list_writer, console_lines_of_the_report) {
  collect out;
  trislip::list_writer(out).end();
  trislip::list_writer(out).text(" dt,nt=").real(0.005).integer(4096).end();
  trislip::list_writer(out)
      .text(" DUR,DOM,NOM,EOM=")
      .real(20.48)
      .real(0.3067961576171875)
      .integer(2048)
      .real(628.3185308)
      .end();
  EXPECT_EQ(out.records, (records{"", "  dt,nt=  0.005 4096",
                                  "  DUR,DOM,NOM,EOM=  20.48  0.306796158 2048  628.318531"}));
}

TEST(list_writer, integer_wraps_only_when_its_digits_reach_column_80) {
  collect out;
  // A text of 74 characters puts the column at 75: 75 + 4 = 79 stays.
  trislip::list_writer(out).text(std::string(74, 'a')).integer(1234).end();
  ASSERT_EQ(out.records.size(), 1u);
  EXPECT_EQ(out.records[0].size(), 80u);
  EXPECT_EQ(out.records[0].substr(75), " 1234");

  // At column 76, 76 + 4 = 80: the integer opens the next record.
  out.records.clear();
  trislip::list_writer(out).text(std::string(75, 'a')).integer(-1234).end();
  EXPECT_EQ(out.records, (records{" " + std::string(75, 'a'), " -1234"}));
}

TEST(list_writer, double_counts_its_blank_and_sign_column) {
  collect out;
  // Column 70 + width 10 ("  0.306796158" is 13) reaches 80 and wraps.
  trislip::list_writer(out).text(std::string(69, 'b')).real(0.3067961576171875).end();
  EXPECT_EQ(out.records, (records{" " + std::string(69, 'b'), "  0.306796158"}));
  out.records.clear();
  trislip::list_writer(out).text(std::string(65, 'b')).real(0.3067961576171875).end();
  EXPECT_EQ(out.records.size(), 1u);
  EXPECT_EQ(out.records[0].size(), 79u);
}

TEST(list_writer, long_text_is_never_split_and_text_after_a_wrap_gets_a_blank) {
  collect out;
  const std::string long_text(85, 'x');
  trislip::list_writer(out).text(long_text).text("tail").end();
  EXPECT_EQ(out.records, (records{" " + long_text, " tail"}));
}

TEST(list_writer, empty_sequence_is_an_empty_record) {
  collect out;
  trislip::list_writer(out).end();
  EXPECT_EQ(out.records, (records{""}));
}

}  // namespace
