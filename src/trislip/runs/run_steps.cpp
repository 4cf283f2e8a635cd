#include "trislip/runs/run_steps.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "trislip/projection.hpp"
#include "trislip/text.hpp"
#include "trislip/threads.hpp"

namespace trislip {

output_folder::output_folder(std::string dir, const std::vector<std::string>& names) : dir_(std::move(dir)) {
  std::error_code ec;
  for (std::filesystem::path at = dir_; !at.empty() && !std::filesystem::exists(at, ec);
       at = at.parent_path()) {
    created_.push_back(at.string());
    if (at == at.parent_path()) break;
  }
  std::filesystem::create_directories(dir_, ec);
  if (ec || !std::filesystem::is_directory(dir_, ec)) {
    throw refusal("--output-dir " + dir_ + ": cannot create the folder: " +
                  (ec ? ec.message() : "a file of that name is in the way"));
  }
  remove_stale_staged_files(dir_, names);
}

staged_file& output_folder::add(const std::string& name) {
  files_.push_back(std::make_unique<staged_file>(dir_, name));
  return *files_.back();
}

staged_folder& output_folder::add_folder(const std::string& name) {
  folders_.push_back(std::make_unique<staged_folder>(dir_, name));
  return *folders_.back();
}

output_folder::~output_folder() {
  if (published_) return;
  // The staged files go first (their destructors), then the folders,
  // each only if empty: another run may be writing into it.
  files_.clear();
  folders_.clear();
  for (const std::string& d : created_) ::rmdir(d.c_str());
}

void output_folder::publish() {
  publish_staged_files(dir_);
  published_ = true;
}

void warning_log::add(const std::string& check, const std::string& message, bool strict) {
  std::fprintf(stderr, "%s: warning: %s\n", program_.c_str(), message.c_str());
  list_.push_back({check, message});
  refused_by_strict_ += strict;
}

void warning_log::add_points(const std::vector<srf_warning>& found,
                             const std::function<std::string(std::size_t)>& label, const char* rows) {
  constexpr std::size_t said_at_most = 20, listed_at_most = 1000;
  std::size_t said = 0;
  for (const srf_warning& w : found) {
    const std::string text = label(w.point) + ": " + w.w.message;
    ++refused_by_strict_;
    if (said++ < said_at_most) std::fprintf(stderr, "%s: warning: %s\n", program_.c_str(), text.c_str());
    if (list_.size() < listed_at_most) {
      list_.push_back({w.w.check, text});
    } else {
      ++not_listed_;
    }
  }
  if (said > said_at_most) {
    std::fprintf(stderr, "%s: warning: %zu more %s warnings (see trislip.json)\n", program_.c_str(),
                 said - said_at_most, rows);
  }
}

void warning_log::refuse_if_strict(bool strict) const {
  if (strict && refused_by_strict_ > 0) {
    throw refusal("--strict: refused for the warning" + std::string(refused_by_strict_ > 1 ? "s" : "") +
                  " above; nothing written");
  }
}

void warning_log::to_json(json& j) const {
  j["warnings"] = json::array();
  for (const sampling_warning& w : list_) j["warnings"].push_back({{"check", w.check}, {"message", w.message}});
  if (not_listed_ > 0) j["warnings_not_listed"] = not_listed_;
}

srf_record write_srf_file(output_folder& out, const std::vector<srf_point>& points,
                          const std::vector<srf_plane>& planes, srf_version v) {
  srf_record r;
  r.version = v == srf_version::v2_0 ? "2.0" : "1.0";
  staged_file& f = out.add("trislip.srf");
  staged_sink sink(f);
  r.summary = write_srf(points, planes, v, sink, worker_count());
  f.finish();
  r.written = true;
  r.plane_block = !planes.empty();
  return r;
}

double nominal_moment(const std::vector<srf_point>& points, const std::vector<double>& mu) {
  double nominal = 0;
  for (std::size_t k = 0; k < points.size(); ++k) nominal += mu[k] * points[k].area_m2 * points[k].p.dmax;
  return nominal;
}

void add_moments(srf_record& r, const std::vector<srf_point>& points, const std::vector<double>& mu) {
  double sampled = 0;
  for (std::size_t k = 0; k < points.size(); ++k) sampled += mu[k] * points[k].area_m2 * r.summary.slip1_m[k];
  r.moment = nominal_moment(points, mu);
  r.slip1_moment = sampled;
}

void add_srf_json(json& j, const srf_record& r) {
  if (!r.written) return;
  j["exports"].push_back({{"format", "srf"}, {"file", "trislip.srf"}, {"quantity", "slip rate"}, {"unit", "cm/s"}});
  json s = {{"file", "trislip.srf"}, {"version", r.version}, {"plane_block", r.plane_block},
            {"points", r.summary.points}, {"potency_m3", r.summary.potency_m3}};
  if (std::isfinite(r.moment)) {
    s["moment_Nm"] = r.moment;
    s["mw"] = moment_magnitude(r.moment);
    // Readers that scale by SLIP1 (SW4) carry the sampled slip, a little
    // less than the nominal one.
    s["moment_from"] = "the nominal slip of each point (rigidity x area x slip)";
    s["slip1_moment_Nm"] = r.slip1_moment;
  }
  j["srf"] = s;
}

nrf_options nrf_options_of(const nrf_settings& s, bool wanted) {
  if (!wanted && (!s.projection.empty() || s.shift_onsets)) {
    throw refusal(std::string(s.projection.empty() ? "--nrf-shift-onsets" : "--nrf-projection") +
                  ": goes with --export nrf");
  }
  nrf_options o;
  o.projection = s.projection;
  o.shift_onsets = s.shift_onsets;
  if (!wanted) return o;
  if (!nrf_available()) {
    throw refusal("--export nrf: this trislip cannot write NRF: it was built without netCDF and PROJ (Debian's "
                  "libnetcdf-dev and libproj-dev) or cannot load them");
  }
  if (s.projection.empty()) {
    throw refusal("--export nrf: needs --nrf-projection, the mesh's coordinates as a PROJ string, such as "
                  "\"+proj=utm +zone=11 +datum=WGS84 +units=m\"");
  }
  try {
    check_nrf_options(o);
  } catch (const parameter_error& e) {
    throw refusal("--nrf-projection " + e.value() + ": must be " + e.rule());
  }
  return o;
}

nrf_summary write_nrf_file(output_folder& out, const std::vector<srf_point>& points,
                           const std::vector<double>& rigidity_pa, const nrf_options& o) {
  staged_file& f = out.add("trislip.nrf");
  nrf_summary s;
  try {
    s = write_nrf(points, rigidity_pa, o, f.temp_path());
  } catch (const std::invalid_argument& e) {
    throw refusal(std::string("--export nrf: ") + e.what());
  }
  f.finish();
  return s;
}

void add_nrf_json(json& j, const nrf_summary& s, const nrf_options& o) {
  j["exports"].push_back({{"format", "nrf"},
                          {"file", "trislip.nrf"},
                          {"quantity", "slip rates (trislip.srf's SR1), onsets, rigidity, area, fault vectors, centres"},
                          {"unit", "m/s, s, Pa, m^2, 1, m"}});
  j["nrf"] = {{"file", "trislip.nrf"},
              {"sources", s.sources},
              {"samples", s.samples},
              {"projection", o.projection},
              {"axes", s.axes},
              {"centres", "the mesh's coordinates in m; the vertical axis 0 at the model's depth 0"},
              {"onset_shift_s", s.onset_shift_s},
              {"moment_Nm", s.m0_nm},
              {"grid_north_deg", {{"min", s.grid_north_min_deg}, {"max", s.grid_north_max_deg}}},
              {"rigidity", "the model's, per source (SeisSol uses it instead of the mesh's)"},
              {"seissol_parameters", "&SourceType Type = 42 FileName = 'trislip.nrf' /"}};
}

specfem_cmt_options specfem_options_of(const specfem_settings& s, bool wanted) {
  const specfem_settings defaults;
  const std::pair<const char*, bool> given[] = {
      {"--specfem-stf-dir", s.stf_dir != defaults.stf_dir}, {"--specfem-binary", s.binary},
      {"--specfem-precision", s.precision != defaults.precision},
      {"--specfem-coordinates", s.coordinates != defaults.coordinates}, {"--specfem-utm-zone", s.utm_zone != 0},
      {"--specfem-origin", !s.origin.empty()},        {"--specfem-depth", s.depth != defaults.depth},
      {"--specfem-par-file", !s.par_file.empty()}};
  for (const auto& [name, is_given] : given) {
    if (is_given && !wanted) throw refusal(std::string(name) + ": goes with --export specfem-cmt");
  }
  specfem_cmt_options o;
  o.stf_dir = s.stf_dir;
  o.binary = s.binary;
  o.double_precision = s.precision == "double";
  o.depth_as_z = s.depth == "z";
  if (o.double_precision && !o.binary) {
    throw refusal("--specfem-precision double: goes with --specfem-binary (text files have no precision)");
  }
  if (s.coordinates == "utm") o.frame = specfem_frame::utm;
  if (s.coordinates == "local") o.frame = specfem_frame::local;
  if (o.frame == specfem_frame::utm && s.utm_zone == 0) {
    throw refusal("--specfem-coordinates utm: needs --specfem-utm-zone (1 to 60 north of the equator, -1 to -60 "
                  "south, as the mesh's UTM_PROJECTION_ZONE)");
  }
  if (o.frame == specfem_frame::local && s.utm_zone != 0) {
    throw refusal("--specfem-utm-zone: goes with --specfem-coordinates utm, or geographic (the zone SPECFEM3D "
                  "projects with)");
  }
  if (o.frame == specfem_frame::local && s.origin.empty()) {
    throw refusal("--specfem-coordinates local: needs --specfem-origin LON,LAT (degrees)");
  }
  if (o.frame != specfem_frame::local && !s.origin.empty()) {
    throw refusal("--specfem-origin: goes with --specfem-coordinates local");
  }
  o.utm_zone = s.utm_zone;
  o.par_file = s.par_file;
  if (!s.origin.empty()) {
    // Two numbers, comma-separated, nothing else.
    const char* text = s.origin.c_str();
    const char* end = text + s.origin.size();
    const auto lon = std::from_chars(text, end, o.origin_lon);
    const bool comma = lon.ec == std::errc() && lon.ptr < end && *lon.ptr == ',';
    const auto lat = comma ? std::from_chars(lon.ptr + 1, end, o.origin_lat)
                           : std::from_chars_result{text, std::errc::invalid_argument};
    if (lat.ec != std::errc() || lat.ptr != end) {
      throw refusal("--specfem-origin " + s.origin + ": must be LON,LAT in degrees, such as -117.6,35.77");
    }
  }
  if ((o.frame != specfem_frame::geographic || o.utm_zone != 0) && !projection_available()) {
    throw refusal((o.frame == specfem_frame::geographic ? "--specfem-utm-zone " + std::to_string(o.utm_zone)
                                                        : "--specfem-coordinates " + s.coordinates) +
                  ": this trislip cannot project: it was built without PROJ (Debian's libproj-dev) or cannot "
                  "load it");
  }
  return o;
}

void follow_par_file(specfem_settings& s, double& dt, std::int32_t& nt, const std::string& exports) {
  if (s.par_file.empty()) return;
  const std::vector<std::string> names = comma_list(exports);
  if (std::find(names.begin(), names.end(), "specfem-cmt") == names.end()) {
    throw refusal("--specfem-par-file: goes with --export specfem-cmt");
  }
  specfem_cmt_options o;
  o.dt = dt;
  o.nt = nt;
  o.frame = s.coordinates == "utm" ? specfem_frame::utm
            : s.coordinates == "local" ? specfem_frame::local
                                       : specfem_frame::geographic;
  o.utm_zone = s.utm_zone;
  o.depth_as_z = s.depth == "z";
  specfem_given given;
  given.dt = s.dt_given;
  given.nt = s.nt_given && nt != 0;
  given.frame = s.coordinates_given;
  given.utm_zone = s.utm_zone != 0;
  given.depth = s.depth_given;
  try {
    follow_specfem_par_file(o, read_specfem_par_file(s.par_file), given);
  } catch (const parameter_error& e) {
    const std::pair<const char*, const char*> options[] = {
        {"dt", "--dt"}, {"nt", "--nt"}, {"coordinates", "--specfem-coordinates"},
        {"utm_zone", "--specfem-utm-zone"}, {"depth", "--specfem-depth"}, {"par_file", "--specfem-par-file"}};
    std::string name = e.name();
    for (const auto& [field, option] : options) {
      if (name == field) name = option;
    }
    if (e.name() == "coordinates" && !given.frame) throw refusal(name + ": needed: " + e.rule());
    throw refusal(name + " " + e.value() + ": must be " + e.rule());
  }
  dt = o.dt;
  nt = o.nt;
  s.coordinates = o.frame == specfem_frame::utm ? "utm" : o.frame == specfem_frame::local ? "local" : "geographic";
  s.utm_zone = o.utm_zone;
  s.depth = o.depth_as_z ? "z" : "km";
  s.dt_given = s.nt_given = s.coordinates_given = s.depth_given = true;
}

void check_specfem_options(const specfem_cmt_options& o, const std::vector<srf_point>& points) {
  try {
    check_specfem_cmt_options(o, points.size());
    check_specfem_utm_zone(o, points);
  } catch (const parameter_error& e) {
    const std::pair<const char*, const char*> options[] = {
        {"dt", "--dt"},
        {"nt", "--nt"},
        {"stf_dir", "--specfem-stf-dir"},
        {"double_precision", "--specfem-precision double"},
        {"utm_zone", o.par_file.empty() ? "--specfem-utm-zone" : "--specfem-utm-zone (or the Par_file's UTM_PROJECTION_ZONE)"},
        {"origin", "--specfem-origin"}};
    std::string name = e.name();
    for (const auto& [field, option] : options) {
      if (name == field) name = option;
    }
    throw refusal(name + " " + e.value() + ": must be " + e.rule());
  }
}

specfem_cmt_summary write_specfem_files(output_folder& out, const std::vector<srf_point>& points,
                                        const std::vector<double>& rigidity_pa, const specfem_cmt_options& o,
                                        warning_log& log, const std::function<std::string(std::size_t)>& label,
                                        const char* rows) {
  staged_file& cmt = out.add("CMTSOLUTION");
  staged_folder& folder = out.add_folder("specfem_stf");
  staged_sink sink(cmt);
  specfem_cmt_summary s;
  try {
    s = write_specfem_cmt(
        points, rigidity_pa, o, sink,
        [&](const std::string& name, const std::function<void(byte_sink&)>& write) {
          write_to_file(folder.path() + "/" + name, write);
        },
        worker_count());
  } catch (const std::invalid_argument& e) {
    // A point the writer cannot take (one outside the mesh's projection):
    // bad input, and nothing is published.
    throw refusal(std::string("--export specfem-cmt: ") + e.what());
  }
  cmt.finish();
  folder.finish();
  log.add_points(s.warnings, label, rows);
  return s;
}

void add_nstep_warning(warning_log& log, const specfem_cmt_summary& s, const specfem_cmt_options& o) {
  if (o.par_file.empty() || s.nt_needed <= o.nt) return;
  log.add("record_too_short", "the files' " + std::to_string(o.nt) + " values (the mesh's NSTEP, in " + o.par_file +
                                  ") end before some functions do: set NSTEP to at least " +
                                  std::to_string(s.nt_needed) + " and run again");
}

void add_specfem_json(json& j, const specfem_cmt_summary& s, const specfem_cmt_options& o) {
  j["exports"].push_back({{"format", "specfem-cmt"}, {"file", "CMTSOLUTION"}, {"quantity", "moment tensors"},
                          {"unit", "dyne cm"}});
  j["exports"].push_back({{"format", "specfem-cmt"}, {"file", "specfem_stf/"},
                          {"quantity", "normalised slip (moment function), one value per solver step"},
                          {"unit", "1"}});
  json frame;
  if (o.frame == specfem_frame::geographic) {
    frame = {{"frame", "geographic"},
             {"latorUTM", "latitude, degrees"},
             {"longorUTM", "longitude, degrees"}};
    if (s.tensors_turned) {
      frame["utm_zone"] = o.utm_zone;
      frame["projection"] = s.projection;
      frame["grid_north_deg"] = {{"min", s.grid_north_min_deg}, {"max", s.grid_north_max_deg}};
      frame["note"] = "SPECFEM3D projects the positions with UTM_PROJECTION_ZONE = " + std::to_string(o.utm_zone) +
                      " and applies each tensor in its grid's axes: each tensor's strike is turned by the grid "
                      "azimuth of true north at its entry";
    } else {
      std::string note =
          "each tensor is as measured from true north, and SPECFEM3D applies it in its grid's axes: off by the grid "
          "azimuth of true north at its entry";
      if (s.grid_north_min_deg != 0 || s.grid_north_max_deg != 0) {
        frame["points_zone"] = s.points_zone;
        frame["tensors_off_by_deg"] = {{"min", s.grid_north_min_deg}, {"max", s.grid_north_max_deg}};
        note += ", " + number_text(s.grid_north_min_deg) + " to " + number_text(s.grid_north_max_deg) +
                " degrees at these points in zone " + std::to_string(s.points_zone);
      }
      frame["note"] = note + "; give the mesh's zone (--specfem-utm-zone, or --specfem-par-file) to have them turned";
    }
  } else {
    frame = {{"frame", o.frame == specfem_frame::utm ? "utm" : "local"}};
    if (o.frame == specfem_frame::utm) frame["utm_zone"] = o.utm_zone;
    if (o.frame == specfem_frame::local) frame["origin"] = {{"lon", o.origin_lon}, {"lat", o.origin_lat}};
    frame["projection"] = s.projection;
    frame["latorUTM"] = o.frame == specfem_frame::utm ? "northing, m" : "y, m north of the origin";
    frame["longorUTM"] = o.frame == specfem_frame::utm ? "easting, m" : "x, m east of the origin";
    frame["grid_north_deg"] = {{"min", s.grid_north_min_deg}, {"max", s.grid_north_max_deg}};
    frame["note"] = "each tensor's strike is turned by the grid azimuth of true north at its entry";
  }
  frame["depth"] = o.depth_as_z ? "z, m, up, 0 at the model's depth 0" : "km below the surface";
  // The Par_file lines these files need.
  json par = {{"DT", o.dt}, {"NSTEP", "at most " + std::to_string(o.nt)}, {"USE_EXTERNAL_SOURCE_FILE", ".true."}};
  par["SUPPRESS_UTM_PROJECTION"] = o.frame == specfem_frame::geographic ? ".false." : ".true.";
  if (o.frame != specfem_frame::local) {
    const int zone = o.utm_zone != 0 ? o.utm_zone : s.points_zone;
    if (zone != 0) par["UTM_PROJECTION_ZONE"] = zone;
  }
  par["USE_SOURCES_RECEIVERS_Z"] = o.depth_as_z ? ".true." : ".false.";
  j["specfem_cmt"] = {{"file", "CMTSOLUTION"},
                      {"folder", "specfem_stf"},
                      {"entries", s.entries},
                      {"moment_dyne_cm", s.m0_nm * 1e7},
                      {"moment_Nm", s.m0_nm},
                      {"dt", o.dt},
                      {"nt", o.nt},
                      {"stf_dir", o.stf_dir},
                      {"binary", o.binary},
                      {"precision", !o.binary ? "text" : o.double_precision ? "float64" : "float32"},
                      {"coordinates", frame},
                      {"par_file", par},
                      {"note", "dt must be the solver's DT and nt at least its NSTEP"}};
  if (!o.par_file.empty()) j["specfem_cmt"]["par_file_followed"] = o.par_file;
}

void add_geometry_json(json& j, const geometry_check& g) {
  json out = {{"checked", g.made}};
  if (g.made) {
    out["result"] = g.passed() ? "passed" : "failed";
    out["points"] = g.points;
    out["points_outside"] = g.outside_points.size();
    if (g.hypocentre_known) {
      out["hypocentre"] = {{"on_a_segment", g.hypocentre_inside}, {"segment", g.hypocentre_segment + 1},
                           {"along_strike_km", g.hyp_along_km}, {"down_dip_km", g.hyp_down_km}};
      if (!std::isnan(g.hyp_off_km)) out["hypocentre"]["off_plane_km"] = g.hyp_off_km;
    }
  } else {
    out["why_not"] = "no PLANE block to check the points against";
  }
  j["geometry"] = out;
}

void write_json(output_folder& out, const json& j) {
  staged_file& f = out.add("trislip.json");
  const std::string text = j.dump(2) + "\n";
  f.put(text.data(), text.size());
  f.finish();
}

int exit_status_of(const char* program, const std::function<void()>& run) {
  discard_staged_files_on_signals(program);
  try {
    run();
  } catch (const refusal& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    return 2;
  } catch (const publish_incomplete& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s; no file changed\n", program, e.what());
    return 1;
  }
  return 0;
}

std::vector<std::string> comma_list(const std::string& list) {
  std::vector<std::string> names;
  for (std::size_t at = 0; !list.empty() && at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    names.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
  return names;
}

std::string number_text(double x) {
  std::string s;
  append_shortest(s, x);
  return s;
}

std::string moment_text(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific).ptr);
}

}  // namespace trislip
