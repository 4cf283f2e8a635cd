#include "trislip/runtime.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "trislip/records/unit.hpp"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

// The handlers use only async-signal-safe calls: write(2) for the message,
// the units' emergency close, _exit, raise and abort. Standard output needs
// no flushing here because every console record is written as it ends.
namespace trislip {
namespace {

void say(const char* message) {
  const auto n = std::strlen(message);
#ifdef _WIN32
  (void)_write(2, message, static_cast<unsigned>(n));
#else
  (void)!::write(2, message, n);
#endif
}

[[noreturn]] void exit_now(int status) {
#ifdef _WIN32
  _exit(status);
#else
  ::_exit(status);
#endif
}

[[noreturn]] void die(const char* message) {
  say(message);
  emergency_close_all_units();
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

[[noreturn]] void leave(const char* message) {
  say(message);
  emergency_close_all_units();
  exit_now(1);
}

extern "C" void on_fpe(int) { die("Floating Exception\n"); }
extern "C" void on_abort(int) { die("IOT Trap\n"); }
extern "C" void on_interrupt(int) { leave("Interrupt\n"); }
extern "C" void on_terminate(int) { leave("Killed\n"); }

extern "C" void at_exit() { close_all_units(); }

#ifndef _WIN32
// Signals that would end the process without a word: the units are closed
// by the emergency rule, then the signal's own default action is taken, so
// the process ends as it would have, with whole records in its files.
const int quiet_endings[] = {SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

extern "C" void on_quiet_ending(int sig) {
  emergency_close_all_units();
  std::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  ::_exit(128 + sig);  // not reached: the default action ends the process
}

bool ignored(int sig) {
  struct sigaction old {};
  return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

void install(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  add_handled_signals(action.sa_mask);
  sigaction(sig, &action, nullptr);
}

// A closed standard descriptor would be the next one open() returns.
void open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
}
#endif

}  // namespace

#ifndef _WIN32
void add_handled_signals(sigset_t& set) {
  for (int sig : {SIGFPE, SIGABRT, SIGINT, SIGTERM}) sigaddset(&set, sig);
  for (int sig : quiet_endings) sigaddset(&set, sig);
}
#endif

void start_up() {
#ifdef _WIN32
  std::signal(SIGFPE, on_fpe);
  std::signal(SIGABRT, on_abort);
  if (std::signal(SIGINT, on_interrupt) == SIG_IGN) std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, on_terminate);
#else
  open_closed_standard_descriptors();
  install(SIGFPE, on_fpe);
  install(SIGABRT, on_abort);
  // Look before replacing, so that an ignored interrupt is never caught.
  if (!ignored(SIGINT)) install(SIGINT, on_interrupt);
  install(SIGTERM, on_terminate);
  for (int sig : quiet_endings) {
    if (!ignored(sig)) install(sig, on_quiet_ending);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  std::atexit(at_exit);
}

}  // namespace trislip
