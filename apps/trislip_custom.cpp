// trislip-custom: the trislip run with the user's own parameters. Writes
// Tri_Slip.csv, Tri_Amp.csv, the exports asked for and trislip.json into
// the output folder and ends without waiting for input.
//   exit 0: all three files written; 2: bad input, nothing written;
//   1: writing failed or the run was interrupted, no file changed.
#include "trislip/options/command_line.hpp"
#include "trislip/options/custom_command_line.hpp"
#include "trislip/runs/custom_run.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/trislip.hpp"

int main(int argc, char** argv) {
  trislip::custom_command_line line;
  if (const auto status = trislip::parse_command_line(line.app, argc, argv, "trislip-custom")) return *status;
  line.finish();
  return trislip::exit_status_of("trislip-custom", [&] { trislip::run_custom(line.o); });
}
