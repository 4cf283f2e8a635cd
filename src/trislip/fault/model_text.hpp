// What the model readers share: the file's lines, their blank-separated
// fields, numbers read exactly, the fillers that mean "unknown", and
// "NAME = value" pairs of header lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "trislip/fault.hpp"

namespace trislip {

// A cell [first, last) read as std::from_chars reads a double (the general
// format, the whole cell): the same value, or false where from_chars finds
// no number or one that ends before the cell does.
bool read_number(const char* first, const char* last, double& x);
inline bool read_number(std::string_view s, double& x) { return read_number(s.data(), s.data() + s.size(), x); }

namespace detail {

// The lines of a text, without their line ends (LF or CR LF); line i is
// line i + 1 of the file.
std::vector<std::string_view> lines_of(const std::string& text);

// The line without its leading and trailing blanks and tabs.
std::string_view trimmed(std::string_view s);

// The blank-separated fields of a line.
std::vector<std::string_view> fields_of(std::string_view line);

// 999 and -999 are the models' fillers for a value nobody knows.
inline double known(double x) { return x == 999 || x == -999 ? std::nan("") : x; }

// The number after "NAME =" (or "NAME=") in a line, where NAME stands as a
// word of its own (case as written); the number may run into a unit
// ("17.93km") or a comma. Not-a-number when the pair is not there, or the
// value is a filler.
double value_of(std::string_view line, std::string_view name);

// The file's name and line for a message: "NAME: line N".
std::string where(const std::string& name, std::size_t line);

// Upper-case copy, for names compared whatever their case.
std::string upper(std::string_view s);

}  // namespace detail
}  // namespace trislip
