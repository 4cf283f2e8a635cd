#pragma once

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>

#include "trislip/exports.hpp"
#include "trislip/runs/layouts.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/srf.hpp"
#include "trislip/trislip.hpp"

// A run of trislip-custom: the program's run with the user's parameters,
// written into a folder of the user's choice, without waiting for input.
namespace trislip {

// The kinematic source of --export srf: one point from the options, or a
// table of subfaults. `given` holds the names of the options the user gave.
struct srf_source {
  double lon = 0, lat = 0, depth = 0, strike = 0, dip = 0, rake = 0, area = 0, tinit = 0;
  double vs = std::nan(""), density = std::nan(""), mu = std::nan("");
  std::string version = "1.0";
  std::string subfaults, plane;
  std::set<std::string> given;
};

struct custom_options {
  parameters p;
  layout format = layout::fixed;
  std::string output_dir = ".";
  bool quiet = false;
  std::string exports;                       // comma-separated export formats
  std::string seed_id = default_seed_id;     // NET.STA.LOC of SAC and miniSEED
  std::string start_time = default_start_time;
  bool strict = false;                       // a sampling warning refuses the run
  srf_source srf;
  specfem_settings specfem;                  // --export specfem-cmt's options
  nrf_settings nrf;                          // --export nrf's
  bool srf_without_plane = false;            // trislip.srf without its PLANE block
};

// Checks the parameters, the exports and what the chosen layout can hold,
// checks the sampling (warnings on standard error, or a refusal when
// strict), creates the output folder, prints the parameter report (unless
// quiet) and writes Tri_Slip.csv, Tri_Amp.csv, the exports and
// trislip.json, all or none. Throws refusal for bad input and
// std::runtime_error when writing fails.
void run_custom(const custom_options& o);

// Every check of run_custom, with nothing created or written: returns
// normally where run_custom would go on to write, throws refusal where it
// would refuse.
void check_custom(const custom_options& o);

}  // namespace trislip
