#include "trislip/records/fatal.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "trislip/records/unit.hpp"

namespace trislip {

io_state last_statement;

void fatal_io(const char* context, const char* reason, int unit,
              const char* name, bool show_format) {
  std::fprintf(stderr, "%s: %s\n", context, reason);
  if (name != nullptr) {
    std::fprintf(stderr, "apparent state: unit %d named %s\n", unit, name);
  } else {
    std::fprintf(stderr, "apparent state: unit %d (unnamed)\n", unit);
  }
  if (show_format && !last_statement.last_format.empty()) {
    std::fprintf(stderr, "last format: %.*s\n",
                 static_cast<int>(last_statement.last_format.size()),
                 last_statement.last_format.data());
  }
  std::fprintf(stderr, "lately %s sequential formatted external IO\n",
               last_statement.reading ? "reading" : "writing");
  std::fflush(stderr);
  emergency_close_all_units();
  // The abort must not be taken for an abort signal from outside.
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

}  // namespace trislip
