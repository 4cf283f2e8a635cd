// trislip-fault's command line: every option bound to the run's request.
// The browser page parses the command it shows with it, so its values and
// refusals are the program's.
#pragma once

#include <CLI/CLI.hpp>

#include "trislip/runs/fault_run.hpp"

namespace trislip {

struct fault_command_line {
  fault_command_line();

  CLI::App app;
  fault_request r;
};

}  // namespace trislip
