#pragma once

#include <cstdint>
#include <string>

#include "trislip/fault.hpp"
#include "trislip/runs/run_steps.hpp"

// A run of trislip-fault: a published finite-fault model into a kinematic
// source, written as one set into a folder of the user's choice.
namespace trislip {

struct fault_request {
  std::string model_path;
  std::string model_format;       // csv, fsp, usgs-param; empty: from the content
  fault_options fault;            // the function's shape and step, and what the model may lack
  std::string srf_version = "1.0";
  std::string output_dir = ".";
  std::string exports;            // further formats, comma-separated: specfem-cmt, nrf
  std::int32_t nt = 0;            // specfem-cmt: values per file (0: to the end of the last function)
  std::string start_time = "1970-01-01T00:00:00";  // specfem-cmt: the event time
  specfem_settings specfem;       // specfem-cmt: where its files go and what they hold
  nrf_settings nrf;               // nrf: the mesh's projection
  bool srf_without_plane = false; // trislip.srf without its PLANE block
  bool strict = false;            // a sampling warning refuses the run
  bool quiet = false;             // no summary on standard output
};

// Reads and maps the model, checks every subfault, then writes
// trislip.srf, moment_rate.csv and trislip.json into the output folder,
// all or none. Throws refusal for bad input (nothing written) and
// std::runtime_error when writing fails (no file changed).
void run_fault(const fault_request& r);

}  // namespace trislip
