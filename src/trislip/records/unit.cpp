#include "trislip/records/unit.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trislip/records/fast_record.hpp"
#include "trislip/records/fatal.hpp"
#include "trislip/runtime.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trislip {
namespace {

// Thin shims over the descriptor calls so that the logic below reads the
// same on every platform. On Windows the descriptors are opened in text
// mode, where the C runtime stores each line feed as CR LF.
#ifdef _WIN32
using offset = long long;
int os_open(const char* name, int how) {
  switch (how) {
    case 0: return _open(name, _O_RDWR | _O_TEXT);
    case 1: return _open(name, _O_RDONLY | _O_TEXT);
    default:
      return _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT,
                   _S_IREAD | _S_IWRITE);
  }
}
long long os_write(int fd, const char* p, std::size_t n) {
  return _write(fd, p, static_cast<unsigned>(n));
}
// Text mode turns each line feed into two bytes, so the file offset after
// a write is asked for, and a partial write at an offset counts as none.
long long os_write_at(int fd, const char* p, std::size_t n, offset at) {
  if (_lseeki64(fd, at, SEEK_SET) < 0) return -1;
  const long long w = _write(fd, p, static_cast<unsigned>(n));
  return w == static_cast<long long>(n) ? w : 0;
}
offset os_advance(int fd, offset, std::size_t) { return _lseeki64(fd, 0, SEEK_CUR); }
int os_read(int fd, char* c) { return _read(fd, c, 1); }
int os_close(int fd) { return _close(fd); }
bool os_is_regular(int fd) {
  struct _stat64 st;
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFREG);
}
// -1: cannot tell, 0: nothing beyond pos, 1: longer than pos.
int os_longer_than(int fd, offset pos) {
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0) return -1;
  return st.st_size > pos ? 1 : 0;
}
int os_truncate(int fd, offset pos) { return _chsize_s(fd, pos) == 0 ? 0 : -1; }

// Console signal handlers run on a thread of their own on Windows; there
// is no mask to set.
class signal_block {
 public:
  signal_block() {}
  ~signal_block() {}
};
#else
using offset = off_t;
int os_open(const char* name, int how) {
  switch (how) {
    case 0: return ::open(name, O_RDWR);
    case 1: return ::open(name, O_RDONLY);
    default: return ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  }
}
long long os_write(int fd, const char* p, std::size_t n) { return ::write(fd, p, n); }
long long os_write_at(int fd, const char* p, std::size_t n, offset at) {
  return ::pwrite(fd, p, n, at);
}
offset os_advance(int, offset at, std::size_t n) { return at + static_cast<offset>(n); }
int os_read(int fd, char* c) { return static_cast<int>(::read(fd, c, 1)); }
int os_close(int fd) { return ::close(fd); }
bool os_is_regular(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
int os_longer_than(int fd, offset pos) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return st.st_size > pos ? 1 : 0;
}
int os_truncate(int fd, offset pos) { return ::ftruncate(fd, pos); }

// Holds off the signals whose handlers close the units, while a unit's
// descriptor, bookkeeping or registration is changing. Never held across
// a write that can block.
class signal_block {
 public:
  signal_block() {
    sigset_t set;
    sigemptyset(&set);
    add_handled_signals(set);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~signal_block() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  signal_block(const signal_block&) = delete;
  signal_block& operator=(const signal_block&) = delete;

 private:
  sigset_t old_;
};
#endif

// Writes all n bytes, resuming after partial writes and interruptions.
// Returns 0, or the errno of the failure.
int write_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const long long w = os_write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (w == 0) return EIO;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return 0;
}

// The connected file units, for the exit hook, the signal handlers and
// the fatal error report. Changed only while signals are held off.
constexpr int max_units = 4;
file_unit* volatile connected_units[max_units] = {};

void connect(file_unit* u) {
  for (auto& slot : connected_units) {
    if (slot == nullptr) {
      slot = u;
      return;
    }
  }
}

void disconnect(file_unit* u) {
  for (auto& slot : connected_units) {
    if (slot == u) slot = nullptr;
  }
}

}  // namespace

void console_unit::put_record(std::string_view record) {
  note_record_statement("list io", false);
  // Record and line end in one write, so that a pipe gets whole lines.
  std::string line;
  line.reserve(record.size() + 1);
  line.append(record).push_back('\n');
  const int err = write_all(1, line.data(), line.size());
  if (err != 0 && failure_ == 0) failure_ = err;
}

console_unit& console() {
  static console_unit unit;
  return unit;
}

file_unit::~file_unit() {
  // Units outlive the run; one still open here is closed without a report.
  if (connected()) emergency_close();
}

void file_unit::open() {
  if (connected()) return;
  int err = 0;
  {
    signal_block hold;
    int fd = os_open(name_, 0);
    writable_ = fd >= 0;
    if (fd < 0) fd = os_open(name_, 1);
    if (fd < 0) {
      fd = os_open(name_, 2);
      writable_ = fd >= 0;
    }
    err = errno;
    fd_ = fd;
    regular_ = fd >= 0 && os_is_regular(fd);
    wrote_ = 0;
    pending_ = 0;
    buffer_start_ = 0;
    memo_ = record_memo{};
    if (fd >= 0) connect(this);
  }
  if (fd_ < 0) fatal_io("open", std::strerror(err), number_, name_, true);
}

void file_unit::start_write(const char* context) {
  if (!writable_) fatal_io(context, "can't write file", number_, name_, true);
  wrote_ = 1;
}

void file_unit::put_record(std::string_view record) {
  note_record_statement("list io", false);
  start_write("list output start");
  append(record.data(), record.size());
}

void file_unit::write(const record_format& fmt, const double* items,
                      std::size_t count) {
  note_record_statement(fmt.text, false);
  start_write("write start");
  if (!connected()) fatal_io("write start", "unit not connected", number_, name_, true);
  // The record is edited straight into the buffer, after the whole
  // records; it counts only once its line end is in place.
  const std::size_t room = fmt.max_length() + 1;
  if (room > buffer_size) fatal_io("write start", "record too long", number_, name_, true);
  auto used = static_cast<std::size_t>(pending_);
  if (used + room > buffer_size) {
    flush_or_die();
    used = 0;
  }
  char* at = buffer_ + used;
  std::size_t n = edit_program_record(fmt, items, count, at, &memo_);
  if (n == 0) n = edit_record(fmt, items, count, at, &memo_);
  at[n] = '\n';
  std::atomic_signal_fence(std::memory_order_release);
  pending_ = static_cast<std::sig_atomic_t>(used + n + 1);
}

void file_unit::append(const char* text, std::size_t n) {
  if (!connected()) fatal_io("write start", "unit not connected", number_, name_, true);
  auto used = static_cast<std::size_t>(pending_);
  if (used + n + 1 > buffer_size) {
    flush_or_die();
    used = 0;
  }
  if (n + 1 > buffer_size) {
    // Longer than the buffer: straight to the file. A handler that runs
    // meanwhile cuts the file back to buffer_start_, before the record.
    int err = write_all(fd_, text, n);
    if (err == 0) err = write_all(fd_, "\n", 1);
    if (err != 0) fatal_io("write", std::strerror(err), number_, name_, true);
    signal_block hold;
    buffer_start_ = os_advance(fd_, buffer_start_, n + 1);
    return;
  }
  std::memcpy(buffer_ + used, text, n);
  buffer_[used + n] = '\n';
  // The record's bytes are in place before a signal handler can count them.
  std::atomic_signal_fence(std::memory_order_release);
  pending_ = static_cast<std::sig_atomic_t>(used + n + 1);
}

void file_unit::flush_or_die() {
  const int err = flush();
  if (err != 0) fatal_io("write", std::strerror(err), number_, name_, true);
}

int file_unit::flush() noexcept {
  const auto n = static_cast<std::size_t>(pending_);
  // A handler that runs during the write finds the buffer and its offset
  // unchanged and writes the same bytes at the same place.
  const int err = write_all(fd_, buffer_, n);
  if (err != 0) return err;
  signal_block hold;
  buffer_start_ = os_advance(fd_, buffer_start_, n);
  pending_ = 0;
  memo_.fmt = nullptr;  // the last record's text has left the buffer
  return 0;
}

void file_unit::close() {
  if (!connected()) return;
  int err = flush();
  if (err != 0) fatal_io("close", std::strerror(err), number_, name_, false);
  bool cut_failed = false;
  {
    signal_block hold;
    // Cut off the tail of an older, longer file. Pipes, terminals and
    // devices have no tail and cannot be cut.
    if (regular_ && wrote_) {
      const int longer = os_longer_than(fd_, buffer_start_);
      cut_failed = longer < 0 || (longer > 0 && os_truncate(fd_, buffer_start_) != 0);
    }
    if (os_close(fd_) != 0) err = errno;
    fd_ = -1;
    disconnect(this);
  }
  if (cut_failed) fatal_io("endfile", "truncation failed in endfile", number_, name_, false);
  if (err != 0) fatal_io("close", std::strerror(err), number_, name_, false);
}

void file_unit::emergency_close() noexcept {
  if (fd_ < 0) return;
  std::atomic_signal_fence(std::memory_order_acquire);
  if (regular_ && wrote_) {
    const auto n = static_cast<std::size_t>(pending_);
    std::size_t done = 0;
    while (done < n) {
      const long long w = os_write_at(fd_, buffer_ + done, n - done,
                                      buffer_start_ + static_cast<offset>(done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    // Only whole records stay: a write that failed part way is cut back
    // to the last line end that reached the file.
    offset end = buffer_start_;
    if (done == n) {
      end = os_advance(fd_, buffer_start_, n);
    } else {
      while (done > 0 && buffer_[done - 1] != '\n') --done;
      end = buffer_start_ + static_cast<offset>(done);
    }
    os_truncate(fd_, end);
  }
  os_close(fd_);
  fd_ = -1;
  disconnect(this);
}

void close_all_units() {
  for (file_unit* u : connected_units) {
    if (u != nullptr) u->close();
  }
}

void emergency_close_all_units() noexcept {
  static volatile std::sig_atomic_t started = 0;
  signal_block hold;
  if (started) return;
  started = 1;
  for (file_unit* u : connected_units) {
    if (u != nullptr) u->emergency_close();
  }
}

void final_read() {
  note_record_statement("list io", true);
  char c = 0;
  for (;;) {
    const int r = os_read(0, &c);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || c == '\n') return;
  }
}

void stop() {
  if (const int err = console().first_failure(); err != 0) {
    // The report is of the failed console write, not of the read.
    note_record_statement("list io", false);
    fatal_io("write", std::strerror(err), 6, nullptr, true);
  }
}

}  // namespace trislip
