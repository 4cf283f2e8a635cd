#pragma once

#include <charconv>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

#include "trislip/exports.hpp"

namespace trislip::detail {

// Text in 64 KiB pieces to a byte_sink: numbers as the shortest text that
// reads back as the same double. finish() hands over the rest.
class text_out {
 public:
  explicit text_out(byte_sink& sink) : sink_(sink) {}
  text_out(const text_out&) = delete;
  text_out& operator=(const text_out&) = delete;

  text_out& text(const std::string& s) {
    room(s.size());
    std::memcpy(buf_ + used_, s.data(), s.size());
    used_ += s.size();
    return *this;
  }
  text_out& number(double x) {
    room(32);
    used_ = static_cast<std::size_t>(std::to_chars(buf_ + used_, buf_ + sizeof buf_, x).ptr - buf_);
    return *this;
  }
  text_out& number(long long n) {
    room(32);
    used_ = static_cast<std::size_t>(std::to_chars(buf_ + used_, buf_ + sizeof buf_, n).ptr - buf_);
    return *this;
  }
  text_out& put(char c) {
    room(1);
    buf_[used_++] = c;
    return *this;
  }
  void finish() {
    if (used_ > 0) sink_.write(buf_, used_);
    used_ = 0;
  }

 private:
  void room(std::size_t n) {
    if (used_ + n > sizeof buf_) finish();
    if (n > sizeof buf_) {
      // Longer than the buffer: cannot happen for the texts written here.
      throw std::length_error("text_out: a piece longer than the buffer");
    }
  }

  byte_sink& sink_;
  std::size_t used_ = 0;
  char buf_[1 << 16];
};

}  // namespace trislip::detail
