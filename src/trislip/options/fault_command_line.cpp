#include "trislip/options/fault_command_line.hpp"

#include <string>
#include <utility>

#include "trislip/options/command_line.hpp"

namespace trislip {

fault_command_line::fault_command_line() {
  fault_options& f = r.fault;
  parameters& p = f.p;
  p.dt = 0.01;
  app.description(
      "A published finite-fault model into a kinematic source with the regularized triangle slip\n"
      "velocity function on every subfault: writes trislip.srf, moment_rate.csv and trislip.json\n"
      "into the output folder.");
  app.name("trislip-fault");
  app.set_version_flag("--version", std::string("trislip-fault ") + version);
  app.add_option("MODEL", r.model_path,
                 "the model: FSP (SRCMOD, USGS), USGS .param, SRF (1.0, 2.0) or a CSV table of subfaults")
      ->required();
  app.add_option("--model-format", r.model_format, "csv, fsp, usgs-param or srf (default: found from the content)")
      ->check(CLI::IsMember({"csv", "fsp", "usgs-param", "srf"}));
  app.add_option("--output-dir", r.output_dir, "folder for the files, created when missing")->capture_default_str();
  app.add_option("--dt", p.dt, "sample spacing of the slip rates and the moment rate, s (> 0)")
      ->capture_default_str()
      ->each([this](const std::string&) { r.specfem.dt_given = true; });
  app.add_option("--tr", p.tr, "duration ratio of successive pulses (> 1)")->capture_default_str();
  app.add_option("--ar", p.ar, "weight ratio of successive pulses (>= 0)")->capture_default_str();
  app.add_option("--nv", p.nv, "number of pulses (1 to 64)")->capture_default_str();
  app.add_option("--srf-version", r.srf_version, "SRF version: 1.0 (read by every reader) or 2.0 (adds VS and DEN)")
      ->check(CLI::IsMember({"1.0", "2.0"}))
      ->capture_default_str();
  const std::pair<const char*, std::pair<double*, const char*>> fills[] = {
      {"--rise", {&f.rise_s, "rise time (the function's duration), s, for subfaults the model gives none"}},
      {"--vr", {&f.vr_km_s, "rupture speed, km/s, timing subfaults the model gives no rupture time"}},
      {"--rake", {&f.rake, "rake, degrees, for subfaults the model gives none"}},
      {"--mu", {&f.mu_pa, "rigidity, Pa, where the model gives no moment and no velocity structure"}},
      {"--vs", {&f.vs_m_s, "shear-wave speed, m/s, for the rigidity (with --density)"}},
      {"--density", {&f.density_kg_m3, "density, kg/m^3, for the rigidity and SRF 2.0's DEN"}},
  };
  for (const auto& [name, target] : fills) {
    app.add_option(name, *target.first, target.second)->group("What the model may lack");
  }
  app.add_flag("--merge-windows", f.merge_windows,
               "a time-window model (TW1, TW2, ... columns) as one function per subfault with its\n"
               "SLIP and RAKE and the header's avTr; by default each window with slip is a source of\n"
               "its own, with its slip and rake, lasting LEN and starting (w - 1) x (LEN - SHF) after\n"
               "the rupture front");
  app.add_flag("--keep-rate-functions", f.keep_rate_functions,
               "an SRF model's own slip-rate functions instead of this program's: each point's\n"
               "components 1 and 2 along their net slip (and across it, where the slip turns), its\n"
               "running slip resampled at --dt and differenced, so that its slip is its samples'; by\n"
               "default each is replaced by this program's function lasting the span of its samples");
  app.add_option("--export", r.exports,
                 "further files, comma-separated (srf is always written): specfem-cmt (SPECFEM3D's\n"
                 "CMTSOLUTION in dyne cm and one normalised slip file per subfault, delayed by its\n"
                 "rupture time, in specfem_stf/), nrf (SeisSol's trislip.nrf: slip rates in m/s,\n"
                 "positions in --nrf-projection)");
  app.add_flag("--srf-without-plane", r.srf_without_plane,
               "write trislip.srf without its PLANE block, as SeisSol's converter rconv reads it\n"
               "(SW4's rupture command needs the block)");
  app.add_option("--nt", r.nt,
                 "specfem-cmt: values per time function file, at least the solver's NSTEP (default: to\n"
                 "the end of the last subfault's function); --dt must be the solver's DT")
      ->each([this](const std::string&) { r.specfem.nt_given = true; })
      ->group("SPECFEM3D (--export specfem-cmt)");
  app.add_option("--start-time", r.start_time, "specfem-cmt: the event time, YYYY-MM-DDTHH:MM:SS[.ffffff] UTC")
      ->capture_default_str()
      ->group("SPECFEM3D (--export specfem-cmt)");
  add_specfem_options(app, r.specfem);
  add_nrf_options(app, r.nrf);
  app.add_flag("--strict", r.strict,
               "refuse the run (status 2, nothing written) when a subfault's sampling loses its\n"
               "function (a step too coarse for its shortest pulse, slip lost), a point or the\n"
               "hypocentre lies off the model's segments, a time-window model's windows disagree\n"
               "with its header, or an SRF's rate functions kept disagree with its slips or turn\n"
               "in time where SPECFEM3D's entries cannot follow");
  app.add_flag("--quiet", r.quiet, "no summary on standard output");
  app.footer(
      "Every value filled in (a rake, rise time or rupture time the model lacks), every header\n"
      "line its rows disagree with (each segment is placed by its rows) and every sampling or\n"
      "geometry warning goes to standard error and into trislip.json.\n"
      "Exit status: 0 when all files are written; 2 for bad input, with nothing written;\n"
      "1 when writing fails or the run is interrupted, with no file changed; 3 when the run\n"
      "is interrupted after all its files were put in place (they are complete).");
}

}  // namespace trislip
