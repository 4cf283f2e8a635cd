#pragma once

#include <string>

#include "trislip/fault.hpp"

// A run of trislip-fault: a published finite-fault model into a kinematic
// source, written as one set into a folder of the user's choice.
namespace trislip {

struct fault_request {
  std::string model_path;
  std::string model_format;       // csv, fsp, usgs-param; empty: from the content
  fault_options fault;            // the function's shape and step, and what the model may lack
  std::string srf_version = "1.0";
  std::string output_dir = ".";
  std::string exports;            // further formats, comma-separated
  bool strict = false;            // a sampling warning refuses the run
  bool quiet = false;             // no summary on standard output
};

// Reads and maps the model, checks every subfault, then writes
// trislip.srf, moment_rate.csv and trislip.json into the output folder,
// all or none. Throws refusal for bad input (nothing written) and
// std::runtime_error when writing fails (no file changed).
void run_fault(const fault_request& r);

}  // namespace trislip
