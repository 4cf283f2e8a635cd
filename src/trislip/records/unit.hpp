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

// Standard output. Each record is written as it ends so that a prompt is
// visible before the program waits. A failed write does not stop the run;
// the first failure is kept for the stop (stop() below).
class console_unit final : public record_sink {
 public:
  void put_record(std::string_view record) override;
  // The errno of the first failed write, 0 while none failed.
  int first_failure() const { return failure_; }

 private:
  int failure_ = 0;
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

  // For a regular file: writes the whole records still buffered, exactly
  // once at the offset where the buffer starts (however much an
  // interrupted write had already written), then cuts the file after the
  // last whole record that reached it. A pipe, terminal or device gets
  // nothing more. Then closes, using only async-signal-safe calls, never
  // blocking and reporting nothing.
  void emergency_close() noexcept;

  static constexpr std::size_t buffer_size = 1 << 16;

 private:
  void start_write(const char* context);
  void append(const char* text, std::size_t n);
  void flush_or_die();
  // Writes the buffered records; returns 0 or the errno of the failure.
  // Signals are not held during the write, which may block on a pipe.
  int flush() noexcept;

  int number_;
  const char* name_;
  int fd_ = -1;
  bool writable_ = false;
  bool regular_ = false;  // a regular file, which can be cut
  // Whether the last transfer was a write, and the bytes of whole records
  // in buffer_: both change between records and are read by the signal
  // handlers.
  volatile std::sig_atomic_t wrote_ = 0;
  volatile std::sig_atomic_t pending_ = 0;
  // The file offset of buffer_[0]; changes only while signals are held.
  long long buffer_start_ = 0;
  record_memo memo_;
  char buffer_[buffer_size];
};

// Closes every connected file unit by the normal rule (the exit hook).
void close_all_units();
// The emergency rule for every connected unit, for signal handlers and
// the fatal error report: async-signal-safe, with the handled signals held,
// and done once only however often it is called.
void emergency_close_all_units() noexcept;

// Reads and discards standard input up to and including the first line
// feed; the end of input or a failed read ends it as well.
void final_read();

// The stop. A run whose console writes failed does not end as a success:
// it ends through the fatal error report for unit 6.
void stop();

}  // namespace trislip
