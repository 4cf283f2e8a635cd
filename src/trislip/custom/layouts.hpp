#pragma once

#include <cstddef>

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
std::size_t edit_slip_record(layout l, double t, double v, double d, double a, char* out);
std::size_t edit_amp_record(layout l, double freq, double vel, double acc, char* out);

// Whether the fixed layout writes x as a number in an Fw.d field, rather
// than asterisks or a non-finite word.
bool fits_f(double x, int w, int d);

}  // namespace trislip
