#pragma once

#include <cstddef>
#include <cstdint>

#include "trislip/records/formatted.hpp"

// The text of result records in the two layouts trislip-custom writes.
// fixed: the trislip program's own, byte for byte (a list-directed header
// with its leading blank, then FORMAT records F8.4 / F15.7 / E12.4).
// full: comma-separated shortest texts that read back as the exact
// doubles, a plain header and no trailing comma, for spreadsheets, NumPy
// and pandas.
namespace trislip {

enum class layout { fixed, full };

// Each writes one record with its line feed into out and returns its
// length; out needs max_record bytes.
inline constexpr std::size_t max_record = 128;
std::size_t edit_slip_header(layout l, char* out);
std::size_t edit_amp_header(layout l, char* out);

// Edits the data records of one buffer. It remembers the previous record,
// whose text must stay where it was written, so that a value repeated from
// it is copied rather than edited again: a new buffer takes a new editor.
class record_editor {
 public:
  explicit record_editor(layout l) : layout_(l) {}
  // Time, velocity, displacement, acceleration; or frequency and the two
  // amplitudes.
  std::size_t slip(double t, double v, double d, double a, char* out);
  std::size_t amp(double freq, double vel, double acc, char* out);

 private:
  std::size_t full(const double* items, std::size_t count, char* out);

  layout layout_;
  record_memo fixed_;
  // The previous full-layout record: its items and each field's text.
  bool full_known_ = false;
  double full_items_[4] = {};
  const char* full_field_[4] = {};
  std::size_t full_length_[4] = {};
};

// Whether the fixed layout writes x as a number in an Fw.d field, rather
// than asterisks or a non-finite word.
bool fits_f(double x, int w, int d);

}  // namespace trislip
