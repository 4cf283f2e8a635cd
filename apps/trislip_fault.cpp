// trislip-fault: a published finite-fault model (FSP, USGS .param, or a
// CSV table of subfaults) into a kinematic source whose every subfault
// carries the regularized triangle slip velocity function. Writes
// trislip.srf, moment_rate.csv and trislip.json into the output folder.
//   exit 0: all files written; 2: bad input, nothing written;
//   1: writing failed or the run was interrupted, no file changed.
#include "trislip/options/command_line.hpp"
#include "trislip/options/fault_command_line.hpp"
#include "trislip/runs/fault_run.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/trislip.hpp"

int main(int argc, char** argv) {
  trislip::fault_command_line line;
  if (const auto status = trislip::parse_command_line(line.app, argc, argv, "trislip-fault")) return *status;
  return trislip::exit_status_of("trislip-fault", [&] { trislip::run_fault(line.r); });
}
