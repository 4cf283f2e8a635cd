#pragma once

#include <string_view>

// The fatal error report: what failed, on which unit, under which FORMAT,
// and in what kind of transfer. Record statements note themselves here so
// that the report can describe the most recent one.
namespace trislip {

// "list io" for list-directed records, otherwise the FORMAT as written.
void note_record_statement(std::string_view format, bool reading);

// Writes the report to standard error, closes every connected unit and
// terminates abnormally. name is null for a unit not connected to a file.
// show_format adds the "last format" line when a record statement preceded.
[[noreturn]] void fatal_io(const char* context, const char* reason, int unit,
                           const char* name, bool show_format);

}  // namespace trislip
