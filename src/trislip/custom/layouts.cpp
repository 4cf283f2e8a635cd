#include "trislip/custom/layouts.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "trislip/records/edit.hpp"
#include "trislip/records/formatted.hpp"
#include "trislip/result_files.hpp"

namespace trislip {
namespace {

std::size_t header(layout l, const char* text, char* out) {
  // The fixed layout's header is a list-directed record: one blank first.
  std::size_t n = 0;
  if (l == layout::fixed) out[n++] = ' ';
  const std::size_t len = std::strlen(text);
  std::memcpy(out + n, text, len);
  n += len;
  out[n++] = '\n';
  return n;
}

std::size_t fixed_record(const record_format& fmt, const double* items, std::size_t count,
                         char* out) {
  const std::size_t n = edit_record(fmt, items, count, out);
  out[n] = '\n';
  return n + 1;
}

std::size_t full_record(const double* items, std::size_t count, char* out) {
  char* p = out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) *p++ = ',';
    p = std::to_chars(p, out + max_record, items[i]).ptr;
  }
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

}  // namespace

std::size_t edit_slip_header(layout l, char* out) { return header(l, slip_header, out); }
std::size_t edit_amp_header(layout l, char* out) { return header(l, amp_header, out); }

std::size_t edit_slip_record(layout l, double t, double v, double d, double a, char* out) {
  const double items[] = {t, v, d, a};
  return l == layout::fixed ? fixed_record(format_1000, items, 4, out) : full_record(items, 4, out);
}

std::size_t edit_amp_record(layout l, double freq, double vel, double acc, char* out) {
  const double items[] = {freq, vel, acc};
  return l == layout::fixed ? fixed_record(format_1100, items, 3, out) : full_record(items, 3, out);
}

bool fits_f(double x, int w, int d) {
  if (!std::isfinite(x)) return false;
  char field[64];
  edit_f(field, x, w, d);
  return std::memchr(field, '*', static_cast<std::size_t>(w)) == nullptr;
}

}  // namespace trislip
