#pragma once

#include <charconv>
#include <string>

namespace trislip {

// A value as a user would write it in a message: the shortest text that
// reads back as the same double ("0.0004", "1e+300", "nan").
inline std::string shortest_text(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general).ptr);
}

// Appends the shortest text that reads back as the same double, in
// std::to_chars's own choice of fixed or scientific ("0.004", "1e+20"):
// the numbers of the files written for other codes.
inline void append_shortest(std::string& out, double x) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

}  // namespace trislip
