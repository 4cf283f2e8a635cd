// SeisSol's NRF file, written with netCDF. (netCDF 4.9's in-memory files
// come out unreadable with the nested compound type NRF needs, so netCDF
// writes the file by name.)
#include "trislip/nrf.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef TRISLIP_HAVE_NETCDF
#include <netcdf.h>

#include "shared_library.hpp"
#endif

#include "trislip/projection.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

#ifdef TRISLIP_HAVE_NETCDF
constexpr double degree = 3.14159265358979323846 / 180;

struct vector3 {
  double x, y, z;
};

// The converter's compound layout, member for member.
struct subfault {
  double tinit, timestep, mu, area;
  vector3 tan1, tan2, normal;
};

// A vector in north, east, down, in the mesh's axes (e, w, n, s, u, d).
vector3 to_axes(const std::string& axes, double n, double e, double d) {
  double v[3];
  for (std::size_t i = 0; i < 3; ++i) {
    switch (axes[i]) {
      case 'e': v[i] = e; break;
      case 'w': v[i] = -e; break;
      case 'n': v[i] = n; break;
      case 's': v[i] = -n; break;
      case 'u': v[i] = -d; break;
      default: v[i] = d; break;  // 'd'
    }
  }
  return {v[0], v[1], v[2]};
}

// netCDF's functions, from the library this build was linked against,
// opened the first time an NRF file is written.
#define TRISLIP_NETCDF_FUNCTIONS(X)                                                                       \
  X(nc_close) X(nc_create) X(nc_def_compound) X(nc_def_dim) X(nc_def_var) X(nc_def_var_deflate) X(nc_enddef) \
  X(nc_insert_compound) X(nc_put_att) X(nc_put_att_text) X(nc_put_var) X(nc_put_var_double) X(nc_put_var_uint) \
  X(nc_strerror)

TRISLIP_OPENED_LIBRARY(netcdf_library, netcdf, TRISLIP_NETCDF_SONAME, "netCDF", TRISLIP_NETCDF_FUNCTIONS)

void check_nc(int status, const char* what, const std::string& path) {
  if (status != NC_NOERR) throw std::runtime_error("cannot write " + path + ": " + what + ": " + netcdf().nc_strerror(status));
}
#endif

// +axis= of a PROJ string (3 of e, w, n, s, u, d, one of each pair), and
// the string without it: the projection gives east and north, and the
// axes are then ordered here, the centres' and the vectors' alike.
std::string split_axes(const std::string& projection, std::string& axes) {
  axes = "enu";
  const std::size_t at = projection.find("+axis=");
  if (at == std::string::npos) return projection;
  const std::size_t end = std::min(projection.find(' ', at), projection.size());
  axes = projection.substr(at + 6, end - at - 6);
  const auto has = [&](const char* pair) { return axes.find_first_of(pair) != std::string::npos; };
  if (axes.size() != 3 || axes.find_first_not_of("ewnsud") != std::string::npos || !has("ew") || !has("ns") ||
      !has("ud")) {
    throw parameter_error("projection", projection,
                          "a PROJ string whose +axis= names one of e or w, one of n or s and one of u or d");
  }
  return projection.substr(0, at) + projection.substr(end);
}

}  // namespace

#ifdef TRISLIP_HAVE_NETCDF
bool nrf_available() { return netcdf().error.empty() && projection_available(); }
#else
bool nrf_available() { return false; }
#endif

void check_nrf_options(const nrf_options& o) {
  if (o.projection.empty()) throw parameter_error("projection", "", "the mesh's coordinates as a PROJ string");
  std::string axes;
  const std::string bare = split_axes(o.projection, axes);
  try {
    map_projection grid(bare);
  } catch (const std::invalid_argument& e) {
    // PROJ's reason, after the definition that map_projection repeats.
    std::string why = e.what();
    const std::size_t colon = why.rfind("\": ");
    throw parameter_error("projection", o.projection,
                          "a PROJ string of the mesh's coordinates; PROJ says: " +
                              (colon == std::string::npos ? why : why.substr(colon + 3)));
  }
}

nrf_summary write_nrf(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                      const nrf_options& o, [[maybe_unused]] const std::string& path) {
  check_nrf_options(o);
  check_points_and_rigidity(points, rigidity_pa, "nrf");
  // netCDF would take a dimension of length 0 as an unlimited one.
  if (points.empty()) throw std::invalid_argument("nrf: no points: a source file needs at least one");
  nrf_summary summary;
  const std::string bare = split_axes(o.projection, summary.axes);
#ifndef TRISLIP_HAVE_NETCDF
  throw std::invalid_argument("nrf: this build of trislip has no netCDF (Debian's libnetcdf-dev) to write NRF with");
#else
  if (!netcdf().error.empty()) throw std::invalid_argument("nrf: " + netcdf().error);
  const map_projection grid(bare);
  const srf_sr1 rates = srf_sr1_as_written(points), across = srf_sr1_as_written(points, 2);
  if (rates.m_s.size() > std::numeric_limits<unsigned>::max() || across.m_s.size() > std::numeric_limits<unsigned>::max()) {
    throw std::invalid_argument("nrf: " + std::to_string(rates.m_s.size() + across.m_s.size()) +
                                " slip rate samples: more than the file's 32-bit offsets hold");
  }
  double first_onset = 0;
  for (std::size_t k = 0; k < points.size(); ++k) {
    first_onset = k == 0 ? points[k].tinit_s : std::min(first_onset, points[k].tinit_s);
  }
  summary.onset_shift_s = o.shift_onsets ? first_onset : 0.0;

  std::vector<vector3> centres(points.size());
  std::vector<subfault> subfaults(points.size());
  std::vector<unsigned> offsets(3 * (points.size() + 1), 0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const srf_point& pt = points[k];
    map_projection::position at;
    try {
      at = grid.forward(pt.lon, pt.lat);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("point " + std::to_string(k) + ": " + e.what());
    }
    summary.grid_north_min_deg = k == 0 ? at.north_deg : std::min(summary.grid_north_min_deg, at.north_deg);
    summary.grid_north_max_deg = k == 0 ? at.north_deg : std::max(summary.grid_north_max_deg, at.north_deg);
    // x, y from the projection are east and north; z is up from depth 0.
    centres[k] = to_axes(summary.axes, at.y, at.x, pt.depth_km * 1000);
    // Aki and Richards in north, east, down, the strike from grid north:
    // s along strike, h the horizontal towards the dip, the slip
    // cos(rake) s + sin(rake) (up dip), its normal in the plane, and the
    // fault's normal (upwards on the hanging wall's side).
    const double phi = (pt.strike + at.north_deg) * degree, delta = pt.dip * degree, lambda = pt.rake * degree;
    const double sp = std::sin(phi), cp = std::cos(phi), sd = std::sin(delta), cd = std::cos(delta);
    const double sl = std::sin(lambda), cl = std::cos(lambda);
    subfault& sf = subfaults[k];
    sf.tinit = pt.tinit_s - summary.onset_shift_s;
    sf.timestep = pt.p.dt;
    sf.mu = rigidity_pa[k];
    sf.area = pt.area_m2;
    sf.tan1 = to_axes(summary.axes, cl * cp + sl * cd * sp, cl * sp - sl * cd * cp, -sl * sd);
    sf.tan2 = to_axes(summary.axes, -sl * cp + cl * cd * sp, -sl * sp - cl * cd * cp, -cl * sd);
    sf.normal = to_axes(summary.axes, -sd * sp, sd * cp, -cd);
    const std::size_t n = rates.first[k + 1] - rates.first[k];
    offsets[3 * (k + 1)] = static_cast<unsigned>(rates.first[k + 1]);
    offsets[3 * (k + 1) + 1] = static_cast<unsigned>(across.first[k + 1]);
    double slip = 0;
    for (std::size_t i = rates.first[k]; i < rates.first[k + 1]; ++i) slip += rates.m_s[i];
    summary.m0_nm += sf.mu * sf.area * slip * sf.timestep;
    summary.samples += n;
  }
  summary.sources = points.size();

  int nc = 0;
  check_nc(netcdf().nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), "create", path);
  // Any failure closes the file.
  try {
    int v3 = 0, units_type = 0, sf_type = 0;
    check_nc(netcdf().nc_def_compound(nc, sizeof(vector3), "Vector3", &v3), "Vector3", path);
    check_nc(netcdf().nc_insert_compound(nc, v3, "x", offsetof(vector3, x), NC_DOUBLE), "Vector3.x", path);
    check_nc(netcdf().nc_insert_compound(nc, v3, "y", offsetof(vector3, y), NC_DOUBLE), "Vector3.y", path);
    check_nc(netcdf().nc_insert_compound(nc, v3, "z", offsetof(vector3, z), NC_DOUBLE), "Vector3.z", path);
    const char* names[] = {"tinit", "timestep", "mu", "area", "tan1", "tan2", "normal"};
    check_nc(netcdf().nc_def_compound(nc, 7 * sizeof(char*), "Subfault_units", &units_type), "Subfault_units", path);
    for (std::size_t i = 0; i < 7; ++i) {
      check_nc(netcdf().nc_insert_compound(nc, units_type, names[i], i * sizeof(char*), NC_STRING), "Subfault_units", path);
    }
    check_nc(netcdf().nc_def_compound(nc, sizeof(subfault), "Subfault", &sf_type), "Subfault", path);
    const std::size_t at[] = {offsetof(subfault, tinit), offsetof(subfault, timestep), offsetof(subfault, mu),
                              offsetof(subfault, area),  offsetof(subfault, tan1),     offsetof(subfault, tan2),
                              offsetof(subfault, normal)};
    for (std::size_t i = 0; i < 7; ++i) {
      check_nc(netcdf().nc_insert_compound(nc, sf_type, names[i], at[i], i < 4 ? NC_DOUBLE : v3), "Subfault", path);
    }
    // Dimensions as the converter makes them: a length of 0 (an empty
    // second or third slip component) makes an unlimited dimension.
    int source = 0, sroffset = 0, direction = 0, sample[3] = {};
    check_nc(netcdf().nc_def_dim(nc, "source", points.size(), &source), "source", path);
    check_nc(netcdf().nc_def_dim(nc, "sroffset", points.size() + 1, &sroffset), "sroffset", path);
    check_nc(netcdf().nc_def_dim(nc, "direction", 3, &direction), "direction", path);
    check_nc(netcdf().nc_def_dim(nc, "sample1", rates.m_s.size(), &sample[0]), "sample1", path);
    check_nc(netcdf().nc_def_dim(nc, "sample2", across.m_s.size(), &sample[1]), "sample2", path);
    check_nc(netcdf().nc_def_dim(nc, "sample3", 0, &sample[2]), "sample3", path);
    int centres_id = 0, subfaults_id = 0, offsets_id = 0, rates_id[3] = {};
    check_nc(netcdf().nc_def_var(nc, "centres", v3, 1, &source, &centres_id), "centres", path);
    check_nc(netcdf().nc_def_var(nc, "subfaults", sf_type, 1, &source, &subfaults_id), "subfaults", path);
    check_nc(netcdf().nc_def_var_deflate(nc, subfaults_id, NC_NOSHUFFLE, 1, 1), "subfaults", path);
    const int offset_dims[] = {sroffset, direction};
    check_nc(netcdf().nc_def_var(nc, "sroffsets", NC_UINT, 2, offset_dims, &offsets_id), "sroffsets", path);
    check_nc(netcdf().nc_def_var_deflate(nc, offsets_id, NC_NOSHUFFLE, 1, 1), "sroffsets", path);
    const char* rate_names[] = {"sliprates1", "sliprates2", "sliprates3"};
    for (int i = 0; i < 3; ++i) {
      check_nc(netcdf().nc_def_var(nc, rate_names[i], NC_DOUBLE, 1, &sample[i], &rates_id[i]), rate_names[i], path);
      check_nc(netcdf().nc_def_var_deflate(nc, rates_id[i], NC_NOSHUFFLE, 1, 1), rate_names[i], path);
      check_nc(netcdf().nc_put_att_text(nc, rates_id[i], "units", 3, "m/s"), rate_names[i], path);
    }
    check_nc(netcdf().nc_put_att_text(nc, centres_id, "units", 1, "m"), "centres", path);
    const char* units[] = {"s", "s", "pascal", "m^2", "m", "m", "m"};
    check_nc(netcdf().nc_put_att(nc, subfaults_id, "units", units_type, 1, units), "subfaults", path);
    check_nc(netcdf().nc_enddef(nc), "enddef", path);
    if (!points.empty()) {
      check_nc(netcdf().nc_put_var(nc, centres_id, centres.data()), "centres", path);
      check_nc(netcdf().nc_put_var(nc, subfaults_id, subfaults.data()), "subfaults", path);
    }
    check_nc(netcdf().nc_put_var_uint(nc, offsets_id, offsets.data()), "sroffsets", path);
    if (!rates.m_s.empty()) check_nc(netcdf().nc_put_var_double(nc, rates_id[0], rates.m_s.data()), "sliprates1", path);
    if (!across.m_s.empty()) check_nc(netcdf().nc_put_var_double(nc, rates_id[1], across.m_s.data()), "sliprates2", path);
  } catch (...) {
    netcdf().nc_close(nc);
    throw;
  }
  check_nc(netcdf().nc_close(nc), "close", path);
  return summary;
#endif
}

}  // namespace trislip
