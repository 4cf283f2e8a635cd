#pragma once

#include <csignal>
#include <cstddef>
#include <string_view>

#include "trislip/records/formatted.hpp"
#include "trislip/records/list_record.hpp"

// Units: numbered connections to text streams. Unit 6 is standard output,
// the result files get units of their own. Every record reaches its stream
// whole, followed by one line feed; on platforms whose text mode stores a
// line end as CR LF the stream does that, not this code.
namespace trislip {

// Standard output. Each record is flushed as it ends so that a prompt is
// visible before the program waits. Console writes are not checked: there
// is nowhere better to report a failure.
class console_unit final : public record_sink {
 public:
  void put_record(std::string_view record) override;
};

console_unit& console();

// A named file opened with status "unknown": the existing file for update,
// failing that for reading only, failing that a new empty file. Records
// overwrite an existing file from its start; closing cuts off whatever of
// an older, longer file lies beyond the last record. Every failure to open,
// write or close ends the run through the fatal error report.
class file_unit final : public record_sink {
 public:
  file_unit(int number, const char* name) : number_(number), name_(name) {}
  file_unit(const file_unit&) = delete;
  file_unit& operator=(const file_unit&) = delete;
  ~file_unit();

  void open();
  // A list-directed record (the header).
  void put_record(std::string_view record) override;
  // One formatted record of the items under fmt.
  void write(const record_format& fmt, const double* items, std::size_t count);
  void close();

  bool connected() const { return fd_ >= 0; }
  int number() const { return number_; }
  const char* name() const { return name_; }

  // Writes the whole records still buffered, cuts the file after them and
  // closes it, using only async-signal-safe calls and reporting nothing.
  void emergency_close() noexcept;

  static constexpr std::size_t buffer_size = 1 << 16;

 private:
  void start_write(const char* context);
  void append(const char* text, std::size_t n);
  void flush_or_die();

  // Writes the buffered records and cuts off what an older, longer file
  // has beyond them; on failure err is the errno.
  enum class settled { ok, failed, truncation_failed };
  settled settle(int& err) noexcept;

  int number_;
  const char* name_;
  int fd_ = -1;
  bool writable_ = false;
  // Whether the last transfer was a write, and the bytes of whole records
  // in buffer_: both change between records and are read by the signal
  // handlers.
  volatile std::sig_atomic_t wrote_ = 0;
  volatile std::sig_atomic_t pending_ = 0;
  char buffer_[buffer_size];
};

// Closes every connected file unit by the normal rule (the exit hook).
void close_all_units();
// The same with async-signal-safe calls only, for signal handlers and the
// fatal error report.
void emergency_close_all_units() noexcept;

// Reads and discards standard input up to and including the first line
// feed; the end of input or a failed read ends it as well.
void final_read();

}  // namespace trislip
