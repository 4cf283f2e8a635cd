// The steps that trislip-custom and trislip-fault share once their run is
// planned: the output folder with its staged files published as one set,
// the warnings (said on standard error, listed in trislip.json, refused
// under --strict), the SRF file and what trislip.json says of it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "trislip/exports.hpp"
#include "trislip/fault.hpp"
#include "trislip/nrf.hpp"
#include "trislip/runs/staged_file.hpp"
#include "trislip/specfem.hpp"
#include "trislip/srf.hpp"

namespace trislip {

// Input that cannot give the files asked for; what() names the option or
// the input line and the rule. Raised before anything is written.
class refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using json = nlohmann::ordered_json;

// The folder of a run and its files, each staged under a temporary name
// and all put in place together by publish().
class output_folder {
 public:
  // Creates the folder (a refusal naming --output-dir when it cannot) and
  // removes what ended runs left of the files in `names`.
  output_folder(std::string dir, const std::vector<std::string>& names);
  // A run that ends without publishing (refused late, by --strict, or
  // failed) takes away the folders it created, when they are still empty.
  ~output_folder();
  output_folder(const output_folder&) = delete;
  output_folder& operator=(const output_folder&) = delete;
  // A new staged file; finish() it once written.
  staged_file& add(const std::string& name);
  // A new staged folder of files; finish() it once they are written.
  staged_folder& add_folder(const std::string& name);
  void publish();
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::vector<std::string> created_;  // deepest first
  bool published_ = false;
  std::vector<std::unique_ptr<staged_file>> files_;
  std::vector<std::unique_ptr<staged_folder>> folders_;
};

// A staged file as a writer's byte sink.
class staged_sink final : public byte_sink {
 public:
  explicit staged_sink(staged_file& f) : f_(f) {}
  void write(const char* data, std::size_t n) override { f_.put(data, n); }

 private:
  staged_file& f_;
};

// The warnings of a run: each said on standard error as "PROGRAM: warning:
// ..." and listed in trislip.json.
class warning_log {
 public:
  explicit warning_log(std::string program) : program_(std::move(program)) {}
  // A warning that --strict refuses, or (strict false) one it lets pass:
  // a value filled in, which the user can see and accept.
  void add(const std::string& check, const std::string& message, bool strict = true);
  // The sampling warnings of many points, each named by label(point): the
  // first 20 said, up to 1000 listed, the rest counted. `rows` names them
  // in the closing count ("rows'").
  void add_points(const std::vector<srf_warning>& found, const std::function<std::string(std::size_t)>& label,
                  const char* rows);
  // With strict, any warning that strict refuses refuses the run.
  void refuse_if_strict(bool strict) const;
  // trislip.json's "warnings" (and "warnings_not_listed").
  void to_json(json& j) const;

 private:
  std::string program_;
  std::vector<sampling_warning> list_;
  std::size_t not_listed_ = 0;
  std::size_t refused_by_strict_ = 0;
};

// What trislip.json says of an SRF file.
struct srf_record {
  bool written = false;
  bool plane_block = false;  // a PLANE block before the points
  std::string version = "1.0";
  srf_summary summary;
  double moment = std::nan("");        // N m from the nominal slips, where the rigidity is known
  double slip1_moment = std::nan("");  // N m from SLIP1 as written
};

// Writes trislip.srf into the folder, its points formatted on every core.
srf_record write_srf_file(output_folder& out, const std::vector<srf_point>& points,
                          const std::vector<srf_plane>& planes, srf_version v);
// The moment of the points' nominal slips for each point's rigidity (Pa),
// N m: not a number when any rigidity is unknown.
double nominal_moment(const std::vector<srf_point>& points, const std::vector<double>& mu);
// The moments of a written file for each point's rigidity (Pa).
void add_moments(srf_record& r, const std::vector<srf_point>& points, const std::vector<double>& mu);
// trislip.json's "srf" entry and its line in "exports".
void add_srf_json(json& j, const srf_record& r);

// The SPECFEM3D options both programs take, as given on the command line.
struct specfem_settings {
  std::string stf_dir = "DATA/specfem_stf";  // the time function files, as the solver opens them
  bool binary = false;                       // .bin files instead of text
  std::string precision = "single";          // the solver build's CUSTOM_REAL: single or double
  std::string coordinates = "geographic";    // geographic, utm or local
  int utm_zone = 0;                          // utm: 0 is not given
  std::string origin;                        // local: LON,LAT
  std::string depth = "km";                  // km, or z (metres, USE_SOURCES_RECEIVERS_Z)
  std::string par_file;                      // the mesh's DATA/Par_file, which the rest follows
  // Which were given: those left out follow the Par_file.
  bool dt_given = false, nt_given = false, coordinates_given = false, depth_given = false;
};

// With --specfem-par-file: reads it and brings the run's step dt and
// length nt (0: the run's own choice) and the settings into line with it
// (DT, NSTEP, the frame and zone, depth as z), marking them given, so that
// following it again changes nothing. Refuses an option given that
// disagrees, naming both values and the file's line; the file without
// specfem-cmt in `exports` (--export's list); a file that cannot be read.
void follow_par_file(specfem_settings& s, double& dt, std::int32_t& nt, const std::string& exports);

// The writer's options from the settings (the run sets dt, nt, the event
// and the hypocentre). Refuses, naming the option, any of them given
// without --export specfem-cmt (wanted false), a frame without its zone or
// origin, a zone or origin the frame does not use, and a projection in a
// build without PROJ.
specfem_cmt_options specfem_options_of(const specfem_settings& s, bool wanted);

// The writer's own check of the options for the points' entries (the zone
// among them), as a refusal that names the option.
void check_specfem_options(const specfem_cmt_options& o, const std::vector<srf_point>& points);

// The NRF options both programs take, as given.
struct nrf_settings {
  std::string projection;     // the mesh's coordinates, a PROJ string
  bool shift_onsets = false;  // the first onset at 0
};

// The writer's options, checked: refuses them given without --export nrf
// (wanted false), --export nrf without --nrf-projection, a projection PROJ
// cannot use, and a build without netCDF.
nrf_options nrf_options_of(const nrf_settings& s, bool wanted);

// Writes trislip.nrf into the folder; a point the writer cannot take is a
// refusal. trislip.json's "nrf" entry and its line in "exports".
nrf_summary write_nrf_file(output_folder& out, const std::vector<srf_point>& points,
                           const std::vector<double>& rigidity_pa, const nrf_options& o);
void add_nrf_json(json& j, const nrf_summary& s, const nrf_options& o);

// Writes CMTSOLUTION and the folder specfem_stf of time function files
// into the output folder, the files on every core. label(k) names point k
// in warnings (record too short), which go to the log.
specfem_cmt_summary write_specfem_files(output_folder& out, const std::vector<srf_point>& points,
                                        const std::vector<double>& rigidity_pa, const specfem_cmt_options& o,
                                        warning_log& log, const std::function<std::string(std::size_t)>& label,
                                        const char* rows);
// With a Par_file, the files too short for some functions are said once
// more with the NSTEP that holds them all.
void add_nstep_warning(warning_log& log, const specfem_cmt_summary& s, const specfem_cmt_options& o);
// trislip.json's "specfem_cmt" entry and its lines in "exports".
void add_specfem_json(json& j, const specfem_cmt_summary& s, const specfem_cmt_options& o);

// trislip.json's "geometry": whether every point lies on its segment's
// plane and the hypocentre on one of them.
void add_geometry_json(json& j, const geometry_check& g);

// Writes j as trislip.json into the folder.
void write_json(output_folder& out, const json& j);

// Runs a program's run with the ending signals discarding its staged files,
// and turns how it ended into the exit status, saying why on standard
// error as "PROGRAM: ...": 0 done; 2 a refusal (nothing written); 1
// writing failed (no file changed) or was left incomplete.
int exit_status_of(const char* program, const std::function<void()>& run);

// The names of a comma-separated list such as --export's, empty ones
// included ("a," is "a" and ""); none for an empty list.
std::vector<std::string> comma_list(const std::string& list);

// The shortest text that reads back as the same double.
std::string number_text(double x);
// A moment as the programs print it: the shortest digits that read back as
// the same double, always in exponent form ("1.62262289617344e+19").
std::string moment_text(double x);

}  // namespace trislip
