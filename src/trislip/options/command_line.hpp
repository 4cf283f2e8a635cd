// What the programs' command lines share: parsing with CLI11, where --help
// and --version end the program with status 0 and a bad option with a
// one-line message and status 2.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "trislip/runs/run_steps.hpp"

namespace trislip {

// Parses the command line; returns the exit status when the program ends
// here (help, version, or a bad option said as "PROGRAM: ... (see --help)").
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv, const char* program) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s (see --help)\n", program, e.what());
    return 2;
  }
  return std::nullopt;
}

// The SPECFEM3D options of both programs, in their own group of --help.
inline void add_specfem_options(CLI::App& app, specfem_settings& s) {
  const char* group = "SPECFEM3D (--export specfem-cmt)";
  app.add_option("--specfem-stf-dir", s.stf_dir,
                 "where SPECFEM3D finds the time function files, from its run folder (the CMTSOLUTION\n"
                 "names them there; at most 256 characters with a file's name)")
      ->capture_default_str()
      ->group(group);
  app.add_flag("--specfem-binary", s.binary,
               "write the time function files as .bin (one Fortran record of reals) instead of text")
      ->group(group);
  app.add_option("--specfem-precision", s.precision,
                 "the reals of the .bin files: single (float32) or double (float64), as the SPECFEM3D\n"
                 "build's CUSTOM_REAL (double for one configured with --enable-double-precision)")
      ->check(CLI::IsMember({"single", "double"}))
      ->capture_default_str()
      ->group(group);
  app.add_option("--specfem-coordinates", s.coordinates,
                 "what latorUTM and longorUTM hold: geographic (latitude and longitude, for a mesh that\n"
                 "SPECFEM3D projects itself), utm (northing and easting in metres in --specfem-utm-zone)\n"
                 "or local (y north and x east in metres from --specfem-origin), for a mesh with\n"
                 "SUPPRESS_UTM_PROJECTION = .true.")
      ->check(CLI::IsMember({"geographic", "utm", "local"}))
      ->capture_default_str()
      ->each([&s](const std::string&) { s.coordinates_given = true; })
      ->group(group);
  app.add_option("--specfem-utm-zone", s.utm_zone,
                 "the mesh's UTM_PROJECTION_ZONE, 1 to 60 north of the equator, -1 to -60 south: for utm,\n"
                 "and for geographic, whose tensors are then turned to the grid's north as SPECFEM3D\n"
                 "projects them")
      ->group(group);
  app.add_option("--specfem-origin", s.origin,
                 "local: the frame's origin, LON,LAT in degrees (transverse Mercator, scale 1 there)")
      ->group(group);
  app.add_option("--specfem-depth", s.depth,
                 "what depth holds: km (below the surface) or z (metres, up, 0 at the model's depth 0,\n"
                 "for USE_SOURCES_RECEIVERS_Z = .true.)")
      ->check(CLI::IsMember({"km", "z"}))
      ->capture_default_str()
      ->each([&s](const std::string&) { s.depth_given = true; })
      ->group(group);
  app.add_option("--specfem-par-file", s.par_file,
                 "the mesh's DATA/Par_file: DT, NSTEP, the frame (SUPPRESS_UTM_PROJECTION,\n"
                 "UTM_PROJECTION_ZONE) and depth (USE_SOURCES_RECEIVERS_Z) as it says; an option given\n"
                 "that disagrees with it is refused")
      ->group(group);
}

// The NRF options of both programs.
inline void add_nrf_options(CLI::App& app, nrf_settings& s) {
  const char* group = "SeisSol (--export nrf)";
  app.add_option("--nrf-projection", s.projection,
                 "the mesh's coordinates as a PROJ string, as SeisSol's converter takes it, such as\n"
                 "\"+proj=utm +zone=11 +datum=WGS84 +units=m\" (+axis= orders the axes; default enu)")
      ->group(group);
  app.add_flag("--nrf-shift-onsets", s.shift_onsets, "every onset less the first, so that the rupture starts at 0")
      ->group(group);
}

}  // namespace trislip
