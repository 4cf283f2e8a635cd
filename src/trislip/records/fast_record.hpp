// The records of the program's two FORMATs, edited inline where they are
// written: field by field on the fast exact path, copied from the previous
// record where a value repeats, with the general editors for whatever the
// fast path declines (overflow, non-finite values).
#pragma once

#include <cstddef>
#include <cstring>

#include "trislip/records/edit.hpp"
#include "trislip/records/edit_fast.hpp"
#include "trislip/records/formatted.hpp"

#if defined(__GNUC__)
#define TRISLIP_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define TRISLIP_ALWAYS_INLINE inline
#endif

namespace trislip {
namespace fast_record_detail {

template <int W, int D>
TRISLIP_ALWAYS_INLINE void f_field(char* out, double x) {
  if (!edit_fast::fixed_field<W, D>(out, x)) edit_f(out, x, W, D);
}

template <int W, int D>
TRISLIP_ALWAYS_INLINE void e_field(char* out, double x) {
  static_assert(D == 4, "four significant digits");
  if (!edit_fast::fast_e4<W>(out, x)) edit_e(out, x, W, D);
}

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One field of a record at out + At: copied from the memo's text when the
// value repeats, otherwise edited.
template <std::size_t At, int W, int D, char Kind>
TRISLIP_ALWAYS_INLINE void field(const double* items, std::size_t i, char* out,
                                 const record_memo* memo) {
  if (memo != nullptr && same_bits(items[i], memo->items[i])) {
    std::memcpy(out + At, memo->text + At, W);
  } else if constexpr (Kind == 'E') {
    e_field<W, D>(out + At, items[i]);
  } else {
    f_field<W, D>(out + At, items[i]);
  }
}

// A record of FORMAT 1000 (F8.4 then three F15.7, 56 characters) or 1100
// (F8.4, two E12.4 and the group's last comma, 35 characters).
template <bool spectrum>
TRISLIP_ALWAYS_INLINE std::size_t fast_record(const record_format& fmt, const double* items,
                                              char* out, record_memo* memo) {
  const record_memo* known = memo != nullptr && memo->fmt == &fmt ? memo : nullptr;
  field<0, 8, 4, 'F'>(items, 0, out, known);
  out[8] = ',';
  constexpr std::size_t length = spectrum ? 35 : 56;
  if constexpr (spectrum) {
    field<9, 12, 4, 'E'>(items, 1, out, known);
    out[21] = ',';
    field<22, 12, 4, 'E'>(items, 2, out, known);
    out[34] = ',';
  } else {
    field<9, 15, 7, 'F'>(items, 1, out, known);
    out[24] = ',';
    field<25, 15, 7, 'F'>(items, 2, out, known);
    out[40] = ',';
    field<41, 15, 7, 'F'>(items, 3, out, known);
  }
  if (memo != nullptr) {
    memo->fmt = &fmt;
    std::memcpy(memo->items, items, (spectrum ? 3 : 4) * sizeof(double));
    memo->text = out;
  }
  return length;
}

}  // namespace fast_record_detail

// A record of FORMAT 1000 or 1100 into out; 0 for any other FORMAT or
// item count, which edit_record handles.
TRISLIP_ALWAYS_INLINE std::size_t edit_program_record(const record_format& fmt,
                                                     const double* items, std::size_t count,
                                                     char* out, record_memo* memo) {
  if (count == 4 && &fmt == &format_1000) {
    return fast_record_detail::fast_record<false>(fmt, items, out, memo);
  }
  if (count == 3 && &fmt == &format_1100) {
    return fast_record_detail::fast_record<true>(fmt, items, out, memo);
  }
  return 0;
}

}  // namespace trislip
