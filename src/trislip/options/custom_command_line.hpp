// trislip-custom's command line: every option bound to the run's options.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "trislip/runs/custom_run.hpp"

namespace trislip {

struct custom_command_line {
  custom_command_line();
  // After app.parse: the layout chosen and the SRF options given.
  void finish();

  CLI::App app;
  custom_options o;
  std::string format = "fixed";
};

}  // namespace trislip
