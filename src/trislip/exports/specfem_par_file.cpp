// A SPECFEM3D mesh's DATA/Par_file, read as the solver reads it, and the
// writer's options brought into line with it.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>

#include "trislip/specfem.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

// A value as Fortran's list-directed read takes it: up to a comma or a
// slash; reals may have a d exponent (0.05d0); logicals are an optional
// period then T or F, whatever follows.
std::string item_of(const std::string& value) { return value.substr(0, value.find_first_of(",/")); }

bool real_of(const std::string& value, double& x) {
  std::string t = item_of(value);
  std::replace(t.begin(), t.end(), 'd', 'e');
  std::replace(t.begin(), t.end(), 'D', 'e');
  if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  x = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && errno == 0 && std::isfinite(x);
}

bool whole_of(const std::string& value, long long& n) {
  const std::string t = item_of(value);
  if (t.empty() || t.find_first_not_of("0123456789+-") != std::string::npos) return false;
  char* end = nullptr;
  errno = 0;
  n = std::strtoll(t.c_str(), &end, 10);
  return end == t.c_str() + t.size() && errno == 0;
}

bool logical_of(const std::string& value, bool& b) {
  std::size_t i = !value.empty() && value[0] == '.' ? 1 : 0;
  if (i >= value.size()) return false;
  const char c = value[i];
  if (c != 'T' && c != 't' && c != 'F' && c != 'f') return false;
  b = c == 'T' || c == 't';
  return true;
}

}  // namespace

specfem_par_file read_specfem_par_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw parameter_error("par_file", path, "a readable file (a mesh's DATA/Par_file)");
  std::ostringstream whole;
  whole << in.rdbuf();
  if (in.bad()) throw parameter_error("par_file", path, "a readable file (a mesh's DATA/Par_file)");
  const std::string text = whole.str();
  specfem_par_file par;
  par.path = path;
  // The solver's reader: a line "NAME = value", the value without blanks,
  // then at most a # comment; the first line of a name counts, and lines
  // of any other shape are passed over. It reads 254 characters at a time,
  // so a longer line is read as pieces, each tried alone.
  static const std::regex line_shape(R"(^[ \t]*([^# \t]*)[ \t]*=[ \t]*([^# \t]*)[ \t]*(#.*)?$)");
  constexpr std::size_t piece_max = 254;
  std::size_t number = 1, at = 0;
  bool any = false;
  while (at < text.size()) {
    const std::size_t newline = text.find('\n', at);
    const std::size_t end = std::min(newline == std::string::npos ? text.size() : newline + 1, at + piece_max);
    std::string line = text.substr(at, end - at);
    const std::size_t line_number = number;
    at = end;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      ++number;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch m;
    if (!std::regex_match(line, m, line_shape)) continue;
    any = true;
    const std::string name = m[1], value = m[2];
    const auto bad = [&](const char* what) {
      return parameter_error("par_file", path + " line " + std::to_string(line_number),
                             std::string("a file whose ") + name + " is " + what + " (it says \"" + value + "\")");
    };
    const auto first = [&](auto& entry) { return entry.line == 0 ? &entry : nullptr; };
    if (name == "DT") {
      if (auto* e = first(par.dt)) {
        if (!real_of(value, e->value) || !(e->value > 0)) throw bad("a step in seconds above 0");
        e->line = line_number;
      }
    } else if (name == "NSTEP") {
      if (auto* e = first(par.nstep)) {
        long long n = 0;
        if (!whole_of(value, n) || n < 1 || n > max_samples) {
          throw bad(("a whole number of steps from 1 to " + std::to_string(max_samples)).c_str());
        }
        e->value = static_cast<std::int32_t>(n);
        e->line = line_number;
      }
    } else if (name == "UTM_PROJECTION_ZONE") {
      if (auto* e = first(par.utm_projection_zone)) {
        long long n = 0;
        if (!whole_of(value, n) || n == 0 || n < -60 || n > 60) {
          throw bad("a UTM zone, 1 to 60 north of the equator or -1 to -60 south");
        }
        e->value = static_cast<int>(n);
        e->line = line_number;
      }
    } else {
      specfem_par_value<bool>* flag = name == "USE_EXTERNAL_SOURCE_FILE" ? &par.use_external_source_file
                                      : name == "SUPPRESS_UTM_PROJECTION" ? &par.suppress_utm_projection
                                      : name == "USE_SOURCES_RECEIVERS_Z" ? &par.use_sources_receivers_z
                                                                          : nullptr;
      if (flag && flag->line == 0) {
        if (!logical_of(value, flag->value)) throw bad("a logical, .true. or .false.");
        flag->line = line_number;
      }
    }
  }
  if (!any) throw parameter_error("par_file", path, "a Par_file: no line of it reads NAME = value");
  return par;
}

namespace {

std::string where(const specfem_par_file& par, std::size_t line) {
  return par.path + ", line " + std::to_string(line);
}

}  // namespace

void follow_specfem_par_file(specfem_cmt_options& o, const specfem_par_file& par, const specfem_given& given) {
  if (par.use_external_source_file.line != 0 && !par.use_external_source_file.value) {
    throw parameter_error("par_file", par.path,
                          "a Par_file with USE_EXTERNAL_SOURCE_FILE = .true.: SPECFEM3D reads the time function "
                          "files only then (" + where(par, par.use_external_source_file.line) + " says .false.)");
  }
  if (par.dt.line != 0) {
    if (given.dt && o.dt != par.dt.value) {
      throw parameter_error("dt", shortest_text(o.dt),
                            "the mesh's DT = " + shortest_text(par.dt.value) + " (" + where(par, par.dt.line) +
                                "): SPECFEM3D reads one value a step and checks no step of its own");
    }
    o.dt = par.dt.value;
  }
  if (par.nstep.line != 0) {
    if (given.nt && o.nt < par.nstep.value) {
      throw parameter_error("nt", std::to_string(o.nt),
                            "at least the mesh's NSTEP = " + std::to_string(par.nstep.value) + " (" +
                                where(par, par.nstep.line) + "): fewer values stop the solver");
    }
    if (!given.nt) o.nt = par.nstep.value;
  }
  if (par.suppress_utm_projection.line != 0) {
    const std::string at = where(par, par.suppress_utm_projection.line);
    if (!par.suppress_utm_projection.value) {
      // SPECFEM3D projects latitudes and longitudes with its zone.
      if (given.frame && o.frame != specfem_frame::geographic) {
        throw parameter_error("coordinates", o.frame == specfem_frame::utm ? "utm" : "local",
                              "geographic: the mesh's SUPPRESS_UTM_PROJECTION = .false. (" + at +
                                  ") has SPECFEM3D project latitudes and longitudes itself");
      }
      o.frame = specfem_frame::geographic;
      const auto& zone = par.utm_projection_zone;
      if (zone.line != 0) {
        if (given.utm_zone && o.utm_zone != zone.value) {
          throw parameter_error("utm_zone", std::to_string(o.utm_zone),
                                "the mesh's UTM_PROJECTION_ZONE = " + std::to_string(zone.value) + " (" +
                                    where(par, zone.line) + ")");
        }
        o.utm_zone = zone.value;
      }
    } else if (!given.frame || o.frame == specfem_frame::geographic) {
      throw parameter_error("coordinates", given.frame ? "geographic" : "(not given)",
                            "utm or local, the frame the mesh is in: its SUPPRESS_UTM_PROJECTION = .true. (" + at +
                                ") has SPECFEM3D take positions as metres in the mesh's own axes");
    }
  }
  if (par.use_sources_receivers_z.line != 0) {
    if (given.depth && o.depth_as_z != par.use_sources_receivers_z.value) {
      throw parameter_error("depth", o.depth_as_z ? "z" : "km",
                            std::string(par.use_sources_receivers_z.value ? "z" : "km") +
                                ": the mesh's USE_SOURCES_RECEIVERS_Z = " +
                                (par.use_sources_receivers_z.value ? ".true." : ".false.") + " (" +
                                where(par, par.use_sources_receivers_z.line) + ")");
    }
    o.depth_as_z = par.use_sources_receivers_z.value;
  }
  o.par_file = par.path;
}

}  // namespace trislip
