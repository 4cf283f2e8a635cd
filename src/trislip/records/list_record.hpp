#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trislip {

// Where finished records go: one call per record, without its line end.
class record_sink {
 public:
  virtual void put_record(std::string_view record) = 0;

 protected:
  ~record_sink() = default;
};

// Builds list-directed records item by item and hands each finished record
// to a sink. A record that would reach column 80 is ended before the item
// that would take it there, so one sequence of items may give several
// records; an item is never split.
class list_writer {
 public:
  explicit list_writer(record_sink& sink) : sink_(sink) {}

  list_writer& text(std::string_view s);
  list_writer& real(double x);
  list_writer& integer(std::int32_t n);
  // Ends the sequence; with no items at all it writes an empty record.
  void end();

  static constexpr std::size_t wrap_column = 80;

 private:
  void make_room(std::size_t width);

  record_sink& sink_;
  std::string record_;
};

}  // namespace trislip
