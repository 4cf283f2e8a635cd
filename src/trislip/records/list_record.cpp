#include "trislip/records/list_record.hpp"

#include "trislip/records/edit.hpp"

namespace trislip {

void list_writer::make_room(std::size_t width) {
  if (!record_.empty() && record_.size() + width >= wrap_column) {
    sink_.put_record(record_);
    record_.clear();
  }
}

list_writer& list_writer::text(std::string_view s) {
  make_room(s.size());
  // Text that opens a record is set off by one blank.
  if (record_.empty()) record_ += ' ';
  record_ += s;
  return *this;
}

list_writer& list_writer::real(double x) {
  const std::string item = list_real(x);
  make_room(item.size());
  record_ += item;
  return *this;
}

list_writer& list_writer::integer(std::int32_t n) {
  const std::string item = list_integer(n);
  // Only the digits count towards the wrap, not the blank or the sign.
  make_room(item.size() - (n < 0 ? 2 : 1));
  record_ += item;
  return *this;
}

void list_writer::end() {
  sink_.put_record(record_);
  record_.clear();
}

}  // namespace trislip
