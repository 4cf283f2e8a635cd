#include "trislip/runs/layouts.hpp"

#include <cmath>
#include <cstring>

#include "trislip/records/edit.hpp"
#include "trislip/records/fast_record.hpp"
#include "trislip/records/formatted.hpp"
#include "trislip/result_files.hpp"
#include "trislip/runs/shortest.hpp"

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

}  // namespace

std::size_t edit_slip_header(layout l, char* out) { return header(l, slip_header, out); }
std::size_t edit_amp_header(layout l, char* out) { return header(l, amp_header, out); }

std::size_t record_editor::slip(double t, double v, double d, double a, char* out) {
  const double items[] = {t, v, d, a};
  if (layout_ == layout::full) return full(items, 4, out);
  std::size_t n = edit_program_record(format_1000, items, 4, out, &fixed_);
  out[n++] = '\n';
  return n;
}

std::size_t record_editor::amp(double freq, double vel, double acc, char* out) {
  const double items[] = {freq, vel, acc};
  if (layout_ == layout::full) return full(items, 3, out);
  std::size_t n = edit_program_record(format_1100, items, 3, out, &fixed_);
  out[n++] = '\n';
  return n;
}

// Four fields of at most 24 bytes and their commas, the last one with the
// 32 bytes of room shortest_chars needs.
static_assert(3 * (24 + 1) + 32 <= max_record);

std::size_t record_editor::full(const double* items, std::size_t count, char* out) {
  char* p = out;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) *p++ = ',';
    char* const start = p;
    if (full_known_ && std::memcmp(&items[i], &full_items_[i], sizeof(double)) == 0) {
      std::memcpy(p, full_field_[i], full_length_[i]);
      p += full_length_[i];
    } else {
      p = shortest_chars(p, items[i]);
    }
    full_field_[i] = start;
    full_length_[i] = static_cast<std::size_t>(p - start);
  }
  std::memcpy(full_items_, items, count * sizeof(double));
  full_known_ = true;
  *p++ = '\n';
  return static_cast<std::size_t>(p - out);
}

bool fits_f(double x, int w, int d) {
  if (!std::isfinite(x)) return false;
  char field[64];
  edit_f(field, x, w, d);
  return std::memchr(field, '*', static_cast<std::size_t>(w)) == nullptr;
}

}  // namespace trislip
