#pragma once

#include <string_view>

// The fatal error report: what failed, on which unit, under which FORMAT,
// and in what kind of transfer. Record statements note themselves here so
// that the report can describe the most recent one.
namespace trislip {

// The most recent record statement, for the report.
struct io_state {
  std::string_view last_format;  // empty until the first record statement
  bool reading = false;
};
extern io_state last_statement;

// "list io" for list-directed records, otherwise the FORMAT as written.
// Inline: every record notes itself.
inline void note_record_statement(std::string_view format, bool reading) {
  last_statement.last_format = format;
  last_statement.reading = reading;
}

// Writes the report to standard error, closes every connected unit and
// terminates abnormally. name is null for a unit not connected to a file.
// show_format adds the "last format" line when a record statement preceded.
[[noreturn]] void fatal_io(const char* context, const char* reason, int unit,
                           const char* name, bool show_format);

}  // namespace trislip
