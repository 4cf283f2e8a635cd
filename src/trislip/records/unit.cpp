#include "trislip/records/unit.hpp"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "trislip/records/fatal.hpp"

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
int os_read(int fd, char* c) { return _read(fd, c, 1); }
int os_close(int fd) { return _close(fd); }
offset os_tell(int fd) { return _lseeki64(fd, 0, SEEK_CUR); }
// -1: cannot tell, 0: nothing beyond pos, 1: a regular file longer than pos.
int os_longer_than(int fd, offset pos) {
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0) return -1;
  return (st.st_mode & _S_IFREG) && st.st_size > pos ? 1 : 0;
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
int os_read(int fd, char* c) { return static_cast<int>(::read(fd, c, 1)); }
int os_close(int fd) { return ::close(fd); }
offset os_tell(int fd) { return ::lseek(fd, 0, SEEK_CUR); }
int os_longer_than(int fd, offset pos) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return S_ISREG(st.st_mode) && st.st_size > pos ? 1 : 0;
}
int os_truncate(int fd, offset pos) { return ::ftruncate(fd, pos); }

// Holds off the asynchronous signals whose handlers close the units, while
// a unit's descriptor, buffer or registration is changing.
class signal_block {
 public:
  signal_block() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGABRT);
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
  std::fwrite(record.data(), 1, record.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
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
    wrote_ = 0;
    pending_ = 0;
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
  char text[256];
  if (fmt.max_length() > sizeof text) {
    fatal_io("write start", "record too long", number_, name_, true);
  }
  append(text, edit_record(fmt, items, count, text));
}

void file_unit::append(const char* text, std::size_t n) {
  if (!connected()) fatal_io("write start", "unit not connected", number_, name_, true);
  auto used = static_cast<std::size_t>(pending_);
  if (used + n + 1 > buffer_size) {
    flush_or_die();
    used = 0;
  }
  if (n + 1 > buffer_size) {
    // Longer than the buffer: straight to the file, under the same guard.
    int err = 0;
    {
      signal_block hold;
      err = write_all(fd_, text, n);
      if (err == 0) err = write_all(fd_, "\n", 1);
    }
    if (err != 0) fatal_io("write", std::strerror(err), number_, name_, true);
    return;
  }
  std::memcpy(buffer_ + used, text, n);
  buffer_[used + n] = '\n';
  // The record's bytes are in place before a signal handler can count them.
  std::atomic_signal_fence(std::memory_order_release);
  pending_ = static_cast<std::sig_atomic_t>(used + n + 1);
}

void file_unit::flush_or_die() {
  int err = 0;
  {
    signal_block hold;
    err = write_all(fd_, buffer_, static_cast<std::size_t>(pending_));
    pending_ = 0;
  }
  if (err != 0) fatal_io("write", std::strerror(err), number_, name_, true);
}

file_unit::settled file_unit::settle(int& err) noexcept {
  err = write_all(fd_, buffer_, static_cast<std::size_t>(pending_));
  pending_ = 0;
  if (err != 0) return settled::failed;
  if (!wrote_) return settled::ok;
  // Cut off the tail of an older, longer file.
  const offset end = os_tell(fd_);
  const int longer = end < 0 ? -1 : os_longer_than(fd_, end);
  if (longer < 0 || (longer > 0 && os_truncate(fd_, end) != 0)) {
    return settled::truncation_failed;
  }
  return settled::ok;
}

void file_unit::close() {
  if (!connected()) return;
  int err = 0;
  settled result;
  {
    signal_block hold;
    result = settle(err);
    if (os_close(fd_) != 0 && result == settled::ok) {
      err = errno;
      result = settled::failed;
    }
    fd_ = -1;
    disconnect(this);
  }
  if (result == settled::truncation_failed) {
    fatal_io("endfile", "truncation failed in endfile", number_, name_, false);
  }
  if (result == settled::failed) {
    fatal_io("close", std::strerror(err), number_, name_, false);
  }
}

void file_unit::emergency_close() noexcept {
  if (fd_ < 0) return;
  std::atomic_signal_fence(std::memory_order_acquire);
  int err = 0;
  settle(err);
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

}  // namespace trislip
