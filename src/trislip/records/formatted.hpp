#pragma once

#include <cstddef>
#include <string_view>

namespace trislip {

struct edit_descriptor {
  char kind;  // 'F' or 'E'
  int w;
  int d;
};

// A FORMAT of the shape (first, n(literal, repeated)): all that the
// program's records need.
struct record_format {
  std::string_view text;  // as written, for the error report
  edit_descriptor first;
  std::string_view literal;
  edit_descriptor repeated;
  int repeat;

  constexpr std::size_t max_length() const {
    return static_cast<std::size_t>(first.w) +
           static_cast<std::size_t>(repeat) *
               (literal.size() + static_cast<std::size_t>(repeated.w));
  }
};

// Time-series records: time, velocity, displacement, acceleration.
inline constexpr record_format format_1000{
    "(F8.4,3(',',F15.7))", {'F', 8, 4}, ",", {'F', 15, 7}, 3};
// Spectrum records: frequency and two amplitudes, ending in a comma.
inline constexpr record_format format_1100{
    "(F8.4,3(',',E12.4))", {'F', 8, 4}, ",", {'E', 12, 4}, 3};

// The last record edited under one of the program's FORMATs and where its
// text still is: a field whose value is the same double as in that record
// is copied from it instead of being edited again, which is most of a time
// series once the slip has stopped (velocity and acceleration 0,
// displacement constant). The owner of the text clears fmt when it moves.
struct record_memo {
  const record_format* fmt = nullptr;
  double items[4] = {};
  const char* text = nullptr;
};

// Edits count items under fmt into out (room for fmt.max_length() chars)
// and returns the record's length. The record ends at the first value
// descriptor with no item left, after any literal before it, or at the end
// of the FORMAT. More items than value descriptors is a caller error
// (std::invalid_argument): the FORMAT would have to start a second record.
// memo, when given, is consulted and updated for the program's FORMATs.
std::size_t edit_record(const record_format& fmt, const double* items,
                        std::size_t count, char* out, record_memo* memo = nullptr);

}  // namespace trislip
