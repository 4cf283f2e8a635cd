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

}  // namespace trislip
