// What the tests that run the programs share: whole-file reading and
// writing, and a fresh folder for each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A folder of its own under /tmp for each test, open to every user (some
// runs drop to an unprivileged one), removed with all it holds afterwards.
class scratch_test : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/trislip-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    chmod(dir_.c_str(), 0777);
  }
  void TearDown() override {
    std::system(("chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};
