#include "trislip/custom/staged_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace trislip {
namespace {

// The temporary files of this run. A handler may read the table at any
// moment, so a slot's path is complete before it is marked in use, and
// slots change only while the ending signals are held.
constexpr int max_staged = 4;
constexpr std::size_t max_path = 4096;
struct staged {
  volatile std::sig_atomic_t in_use = 0;
  bool finished = false;
  char temp_path[max_path] = {};
  std::string final_path;
};
staged table[max_staged];

const char* program_name = "trislip";

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

class signals_held {
 public:
  signals_held() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : ending_signals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t old_;
};

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
  throw std::runtime_error("cannot " + what + " " + path + ": " + std::strerror(err));
}

void say(const char* text) { (void)!::write(2, text, std::strlen(text)); }

extern "C" void on_ending_signal(int) {
  discard_staged_files();
  say(program_name);
  say(": interrupted, unfinished files removed\n");
  ::_exit(1);
}

}  // namespace

staged_file::staged_file(const std::string& dir, const std::string& name)
    : final_path_(dir + "/" + name), buffer_(new char[buffer_size]) {
  const std::string stem = dir + "/." + name + ".tmp" + std::to_string(::getpid());
  signals_held hold;
  for (int i = 0; i < max_staged && slot_ < 0; ++i) {
    if (!table[i].in_use) slot_ = i;
  }
  if (slot_ < 0) {
    delete[] buffer_;
    throw std::logic_error("too many staged files");
  }
  // A stale file of an earlier run with the same process number is left
  // alone: the next free name is taken instead.
  std::string temp;
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp = attempt == 0 ? stem : stem + "." + std::to_string(attempt);
    if (temp.size() >= max_path) {
      delete[] buffer_;
      fail("create", temp, ENAMETOOLONG);
    }
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt == 99)) {
      const int err = errno;
      delete[] buffer_;
      fail("create", temp, err);
    }
  }
  staged& s = table[slot_];
  std::memcpy(s.temp_path, temp.c_str(), temp.size() + 1);
  s.final_path = final_path_;
  s.finished = false;
  s.in_use = 1;
}

staged_file::~staged_file() {
  if (fd_ >= 0) ::close(fd_);
  {
    // Not published: the temporary file goes.
    signals_held hold;
    staged& s = table[slot_];
    if (s.in_use) {
      ::unlink(s.temp_path);
      s.in_use = 0;
    }
  }
  delete[] buffer_;
}

void staged_file::put(const char* text, std::size_t n) {
  while (n > 0) {
    const std::size_t room = buffer_size - used_;
    const std::size_t part = n < room ? n : room;
    std::memcpy(buffer_ + used_, text, part);
    used_ += part;
    text += part;
    n -= part;
    if (used_ == buffer_size) flush();
  }
}

void staged_file::flush() {
  const char* p = buffer_;
  std::size_t n = used_;
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) fail("write", final_path_, w < 0 ? errno : EIO);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  used_ = 0;
}

void staged_file::finish() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("write", final_path_, errno);
  table[slot_].finished = true;
}

void publish_staged_files() {
  signals_held hold;
  for (staged& s : table) {
    if (!s.in_use) continue;
    if (!s.finished) throw std::logic_error("publishing an unfinished file");
    if (::rename(s.temp_path, s.final_path.c_str()) != 0) fail("rename to", s.final_path, errno);
    s.in_use = 0;
  }
}

void discard_staged_files() noexcept {
  for (staged& s : table) {
    if (s.in_use) {
      ::unlink(s.temp_path);
      s.in_use = 0;
    }
  }
}

void discard_staged_files_on_signals(const char* program) {
  program_name = program;
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  sigemptyset(&action.sa_mask);
  for (int s : ending_signals) sigaddset(&action.sa_mask, s);
  for (int s : ending_signals) {
    struct sigaction old {};
    // A signal ignored at start (nohup) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace trislip
