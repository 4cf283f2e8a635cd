#include "trislip/runtime.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "trislip/records/unit.hpp"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

// The handlers use only async-signal-safe calls: write(2) for the message,
// the units' emergency close, _exit and abort. Standard output needs no
// flushing here because every console record is flushed as it ends.
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

}  // namespace

void start_up() {
  std::signal(SIGFPE, on_fpe);
  std::signal(SIGABRT, on_abort);
#ifdef _WIN32
  if (std::signal(SIGINT, on_interrupt) == SIG_IGN) std::signal(SIGINT, SIG_IGN);
#else
  // Look before replacing, so that an ignored interrupt is never caught.
  struct sigaction old {};
  if (sigaction(SIGINT, nullptr, &old) != 0 || old.sa_handler != SIG_IGN) {
    std::signal(SIGINT, on_interrupt);
  }
#endif
  std::signal(SIGTERM, on_terminate);
  std::atexit(at_exit);
}

}  // namespace trislip
