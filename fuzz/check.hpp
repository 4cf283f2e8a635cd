// What the fuzz targets check beyond "no crash". A broken property aborts
// with what was expected, so that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/srf.hpp"

namespace fuzz {

[[noreturn]] inline void broken(const std::string& what) {
  std::fprintf(stderr, "fuzz: property broken: %s\n", what.c_str());
  std::abort();
}

inline void expect(bool ok, const std::string& what) {
  if (!ok) broken(what);
}

inline std::string text_of(const unsigned char* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// A refusal of a file read as `name`: the message starts "NAME:" (or,
// with an empty name, "line N"), and a "line N" in it is a line of the text.
void expect_names_file_and_line(const std::string& message, const std::string& name, const std::string& text);

// A value given on a command line holds no NUL, so inputs with one are
// not values at all.
inline bool command_line_value(const std::string& text) { return text.find('\0') == std::string::npos; }

class string_sink : public trislip::byte_sink {
 public:
  void write(const char* data, std::size_t n) override { text.append(data, n); }
  std::string text;
};

// Writes the points as SRF 1.0 and reads the file back the way its readers
// do (version line, PLANE block, POINTS, each point's two lines and NT1
// slip rates): the same number of planes and points, every header value
// read back equal to the one written, NT1 values each.
void expect_srf_round_trip(const std::vector<trislip::srf_point>& points,
                           const std::vector<trislip::srf_plane>& planes);

}  // namespace fuzz
