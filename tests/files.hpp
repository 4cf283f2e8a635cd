// Whole-file reading and writing for the tests that run the programs.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
