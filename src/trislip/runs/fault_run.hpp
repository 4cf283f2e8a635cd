#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
  // false: every check and warning of the run, in its order, and nothing
  // written (no folder, no file, no NRF): what the page shows beside its
  // drawing, without editing a 50 MB SRF it would drop.
  bool files = true;
};

// What a run reads, builds and checks before it writes anything.
struct fault_plan {
  std::vector<std::string> exports;
  bool cmt_wanted = false, nrf_wanted = false;
  record_codes event;
  specfem_cmt_options cmt;
  nrf_options nrf;
  srf_version v = srf_version::v1_0;
  model m;
  fault f;
  std::vector<double> rate;  // the fault's moment rate at dt, N m/s
  double rate_integral = 0;  // its trapezoids, N m
  double moment = 0;         // from the nominal slips, N m
  warning_log warnings{"trislip-fault"};  // the fill-ins and the geometry's, said as found
};

// Checks the options, reads the model and builds the fault; the refusals
// of run_fault.
fault_plan plan_fault(const fault_request& r);

// The summary the run prints: the model read and its moment, two lines.
std::string fault_summary(const fault_request& r, const fault_plan& plan);

// Reads and maps the model, checks every subfault, then writes
// trislip.srf, moment_rate.csv and trislip.json into the output folder,
// all or none. Throws refusal for bad input (nothing written) and
// std::runtime_error when writing fails (no file changed).
void run_fault(const fault_request& r);

}  // namespace trislip
