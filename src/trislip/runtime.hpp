#pragma once

namespace trislip {

// Process start-up: installs the handlers for floating-point exceptions,
// abort, interrupt and termination requests, and registers the closing of
// all units at exit. An interrupt that is ignored at start stays ignored.
void start_up();

}  // namespace trislip
