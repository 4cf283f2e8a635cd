#include "trislip/options/custom_command_line.hpp"

#include <string>

#include "trislip/options/command_line.hpp"

namespace trislip {

custom_command_line::custom_command_line() {
  parameters& p = o.p;
  app.description(
      "The regularized triangle slip velocity function with your own parameters: writes\n"
      "Tri_Slip.csv, Tri_Amp.csv and trislip.json into the output folder.");
  app.name("trislip-custom");
  app.set_version_flag("--version", std::string("trislip-custom ") + version);
  app.add_option("--dt", p.dt, "sample spacing, s (> 0)")
      ->capture_default_str()
      ->each([this](const std::string&) { o.specfem.dt_given = true; });
  app.add_option("--nt", p.nt, "number of samples, time 0 included (2 to 67108864)")
      ->capture_default_str()
      ->each([this](const std::string&) { o.specfem.nt_given = true; });
  app.add_option("--dmax", p.dmax, "final slip, m (> 0)")->capture_default_str();
  app.add_option("--fmax", p.fmax, "highest source frequency, Hz; the first pulse lasts 1/fmax s (> 0)")
      ->capture_default_str();
  app.add_option("--tr", p.tr, "duration ratio of successive pulses, and duration/rise time (> 1)")
      ->capture_default_str();
  app.add_option("--ar", p.ar, "weight ratio of successive pulses (>= 0)")->capture_default_str();
  app.add_option("--nv", p.nv, "number of pulses (1 to 64)")->capture_default_str();
  app.add_option("--output-dir", o.output_dir, "folder for the files, created when missing")
      ->capture_default_str();
  app.add_option("--format", format,
                 "fixed: trislip's layout (4 decimals of time, 7 of slip, 4 digits of spectrum);\n"
                 "full: every value to the last bit, comma-separated")
      ->check(CLI::IsMember({"fixed", "full"}))
      ->capture_default_str();
  app.add_flag("--quiet", o.quiet, "no parameter report on standard output");
  app.add_option("--export", o.exports,
                 "also write files for other codes, comma-separated: sw4, specfem, specfem-globe,\n"
                 "pylith (normalised slip, slip/dmax), sac, mseed (slip velocity m/s, slip m,\n"
                 "slip acceleration m/s^2), srf (slip rate, cm/s; see the SRF options),\n"
                 "specfem-cmt (CMTSOLUTION in dyne cm and one normalised slip file per point, delayed\n"
                 "by its rupture time; needs the SRF source options and --mu or --vs/--density), nrf\n"
                 "(SeisSol's trislip.nrf, slip rates in m/s; the same, and --nrf-projection)");
  app.add_option("--seed-id", o.seed_id, "NET.STA.LOC codes of the SAC and miniSEED series")
      ->capture_default_str();
  app.add_option("--start-time", o.start_time,
                 "time of the first sample in SAC and miniSEED, YYYY-MM-DDTHH:MM:SS[.ffffff] UTC")
      ->capture_default_str();
  srf_source& srf = o.srf;
  const std::pair<const char*, std::pair<double*, const char*>> srf_numbers[] = {
      {"--lon", {&srf.lon, "longitude of the point source, degrees"}},
      {"--lat", {&srf.lat, "latitude, degrees"}},
      {"--depth", {&srf.depth, "depth of the point, km"}},
      {"--strike", {&srf.strike, "strike, degrees (0 to 360)"}},
      {"--dip", {&srf.dip, "dip, degrees (0 to 90)"}},
      {"--rake", {&srf.rake, "rake, degrees (-180 to 180)"}},
      {"--area", {&srf.area, "area of its square subfault, m^2"}},
      {"--tinit", {&srf.tinit, "rupture time, s (default 0)"}},
      {"--vs", {&srf.vs, "shear-wave speed for SRF 2.0 and the moment, m/s"}},
      {"--density", {&srf.density, "density for SRF 2.0 and the moment, kg/m^3"}},
      {"--mu", {&srf.mu, "rigidity for the seismic moment in trislip.json, Pa"}},
  };
  for (const auto& [name, target] : srf_numbers) app.add_option(name, *target.first, target.second)->group("SRF (--export srf)");
  app.add_option("--srf-version", srf.version, "SRF version: 1.0 (read by every reader) or 2.0 (adds VS and DEN)")
      ->check(CLI::IsMember({"1.0", "2.0"}))
      ->capture_default_str()
      ->group("SRF (--export srf)");
  app.add_option("--subfaults", srf.subfaults,
                 "CSV table of subfaults, one SRF point per row: lon, lat, depth_km, strike, dip, rake,\n"
                 "area_m2, slip_m, tinit_s; optional fmax_hz, tr, ar, nv, vs_m_s, density_kg_m3")
      ->group("SRF (--export srf)");
  app.add_option("--plane", srf.plane,
                 "the PLANE segment for a table: ELON,ELAT,NSTK,NDIP,LEN,WID,STK,DIP,DTOP,SHYP,DHYP\n"
                 "(degrees, km)")
      ->group("SRF (--export srf)");
  add_specfem_options(app, o.specfem);
  add_nrf_options(app, o.nrf);
  app.add_flag("--srf-without-plane", o.srf_without_plane,
               "write trislip.srf without its PLANE block, as SeisSol's converter rconv reads it\n"
               "(SW4's rupture command needs the block)")
      ->group("SRF (--export srf)");
  app.add_flag("--strict", o.strict,
               "refuse the run (status 2, nothing written) when the sampling loses the function\n"
               "(a record too short, a step too coarse for the shortest pulse, slip lost), or when\n"
               "--plane does not hold the points");
  app.footer(
      "Sampling warnings (trislip-custom: warning: ...) go to standard error and into\n"
      "trislip.json; the run still writes its files, unless --strict.\n"
      "Exit status: 0 when all files are written; 2 for bad input, with nothing written;\n"
      "1 when writing fails or the run is interrupted, with no file changed; 3 when the run\n"
      "is interrupted after all its files were put in place (they are complete).");
}

void custom_command_line::finish() {
  o.format = format == "full" ? layout::full : layout::fixed;
  for (const char* name : {"--lon", "--lat", "--depth", "--strike", "--dip", "--rake", "--area", "--tinit", "--vs",
                           "--density", "--mu", "--srf-version", "--subfaults", "--plane"}) {
    if (app.count(name) > 0) o.srf.given.insert(name);
  }
}

}  // namespace trislip
