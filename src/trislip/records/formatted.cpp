#include "trislip/records/formatted.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

#include "trislip/records/edit.hpp"
#include "trislip/records/fast_record.hpp"

namespace trislip {
namespace {

char* edit(const edit_descriptor& ed, double x, char* out) {
  if (ed.kind == 'E') {
    edit_e(out, x, ed.w, ed.d);
  } else {
    edit_f(out, x, ed.w, ed.d);
  }
  return out + ed.w;
}

}  // namespace

std::size_t edit_record(const record_format& fmt, const double* items,
                        std::size_t count, char* out, record_memo* memo) {
  if (const std::size_t n = edit_program_record(fmt, items, count, out, memo)) return n;
  if (count > 1 + static_cast<std::size_t>(fmt.repeat)) {
    throw std::invalid_argument("record of " + std::to_string(count) +
                                " items under FORMAT " + std::string(fmt.text) +
                                ", which edits at most " +
                                std::to_string(1 + fmt.repeat));
  }
  char* p = out;
  if (count == 0) return 0;
  p = edit(fmt.first, items[0], p);
  for (int r = 0; r < fmt.repeat; ++r) {
    std::memcpy(p, fmt.literal.data(), fmt.literal.size());
    p += fmt.literal.size();
    const std::size_t next = static_cast<std::size_t>(r) + 1;
    if (next >= count) break;
    p = edit(fmt.repeated, items[next], p);
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace trislip
