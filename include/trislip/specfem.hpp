// Finite sources for SPECFEM3D Cartesian: a CMTSOLUTION with one entry per
// point (a double-couple moment tensor from its strike, dip, rake and
// moment) and, per entry, an external source time function file that
// holds the point's normalised slip delayed by its rupture time.
//
// What SPECFEM3D (4.0 and later) does with them: with an external file it
// applies no time shift and no half duration of its own (both written as
// 0), reads one value per solver step at its own DT (it checks no DT), and
// multiplies the entry's moment tensor by the value. Fewer values than
// NSTEP stop the run; more are ignored with a warning. Moments are in
// dyne cm, the tensor in (r, theta, phi) = (up, south, east).
//
// Where an entry goes: latorUTM and longorUTM are latitude and longitude
// (degrees) for a mesh that SPECFEM3D projects itself, or y and x in
// metres for one that suppresses its projection (SUPPRESS_UTM_PROJECTION);
// depth is km below the surface, or z in metres under
// USE_SOURCES_RECEIVERS_Z.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/srf.hpp"
#include "trislip/trislip.hpp"

namespace trislip {

// A moment tensor in SPECFEM's (r, theta, phi) components, in the unit of
// the moment it was made from.
struct moment_tensor {
  double mrr = 0, mtt = 0, mpp = 0, mrt = 0, mrp = 0, mtp = 0;
};

// The double couple of a fault of strike, dip and rake (degrees; Aki and
// Richards' convention) and scalar moment m0.
moment_tensor double_couple(double strike, double dip, double rake, double m0);

// The normalised slip (slip / dmax) of p's function starting at tinit_s,
// at k * p.dt for k from 0 to nt - 1: 0 up to and at tinit_s, then the
// trapezoidal integral of the velocity sampled at k * dt - tinit_s (the
// first interval from the rupture itself), divided by dmax. With tinit_s
// 0 these are the synthesis's own displacements divided by dmax.
std::vector<double> delayed_normalised_slip(const parameters& p, double tinit_s, std::int32_t nt);

// The positions an entry's latorUTM and longorUTM hold.
enum class specfem_frame {
  geographic,  // latitude and longitude, degrees (SPECFEM3D projects them with its UTM zone)
  utm,         // northing and easting, m, in a UTM zone on WGS84
  local,       // y north and x east, m, from an origin (transverse Mercator, scale 1 there)
};

struct specfem_cmt_options {
  double dt = 0.01;                // the solver's DT, s
  std::int32_t nt = 1000;          // values per file: at least the solver's NSTEP
  bool binary = false;             // .bin files: one Fortran unformatted record of reals
  bool double_precision = false;   // .bin reals as float64, for a build whose CUSTOM_REAL is double
  specfem_frame frame = specfem_frame::geographic;
  int utm_zone = 0;                // utm: 1 to 60 north, -1 to -60 south (SPECFEM3D's UTM_PROJECTION_ZONE)
  double origin_lon = 0, origin_lat = 0;  // local: the frame's origin, degrees
  bool depth_as_z = false;         // depth as z in metres, up, 0 at the model's depth 0
                                   // (USE_SOURCES_RECEIVERS_Z) instead of km below
  std::string stf_dir = "DATA/specfem_stf";  // where the solver finds the files, from its run folder
  record_codes event;              // start_us: the event time of every entry's PDE line
  double hyp_lat = 0, hyp_lon = 0, hyp_depth_km = 0;  // the PDE line's hypocentre
  std::string par_file;            // the mesh's Par_file these options follow, if any (said in summaries)
};

// Latitudes and longitudes (geographic) are projected by SPECFEM3D with its
// UTM_PROJECTION_ZONE, and each tensor applied in the grid's axes: given
// utm_zone, the writer turns the tensors by the grid azimuth of north as
// it does for utm; without it they are written as measured from true
// north, off by that azimuth in the mesh.

struct specfem_cmt_summary {
  std::size_t entries = 0;
  double m0_nm = 0;                       // the sum of the entries' scalar moments
  std::string projection;                 // the PROJ string of a utm or local frame
  // utm and local: the grid azimuth of true north at the entries (degrees,
  // clockwise from the y axis). Each tensor is turned by it, so that its
  // strike is measured from the mesh's y axis.
  double grid_north_min_deg = 0, grid_north_max_deg = 0;
  // Whether the tensors were turned by it: true for utm and local, and for
  // geographic with a zone. Geographic without one: the range above is
  // that of the zone the points lie in (points_zone), which the tensors
  // are off by in a mesh projected with it (both 0 without PROJ).
  bool tensors_turned = false;
  int points_zone = 0;
  std::int32_t nt_needed = 0;             // the fewest values a file that hold every function, when above nt
  std::vector<srf_warning> warnings;      // by point: record_too_short (its delay plus function beyond the
                                          // record), slip_lost (its last value beyond 0.1% of 1)
};

// The longest name, folder included, that SPECFEM3D reads whole from a
// CMTSOLUTION entry's last line.
inline constexpr std::size_t specfem_max_name = 256;

// Checks the options for `points` entries: throws parameter_error naming
// dt, nt, stf_dir (a file name beyond specfem_max_name characters),
// double_precision (without binary), utm_zone or origin.
void check_specfem_cmt_options(const specfem_cmt_options& o, std::size_t points);

// The UTM zone that holds the points: of the centre of their longitudes,
// south (negative) when the centre of their latitudes is.
int utm_zone_of_points(const std::vector<srf_point>& points);

// Throws parameter_error naming utm_zone when the options' zone (utm, or
// geographic with a zone) does not hold the points: a point more than 6
// degrees of longitude from its central meridian (the zone and half of
// each neighbour), or every point across the equator from its hemisphere.
void check_specfem_utm_zone(const specfem_cmt_options& o, const std::vector<srf_point>& points);

// A value of a Par_file and its line (0: the file does not set it).
template <class T>
struct specfem_par_value {
  T value{};
  std::size_t line = 0;
};

// What a mesh's DATA/Par_file says that the files depend on, read as
// SPECFEM3D reads it: the first line "NAME = value" of each name (the value
// without blanks, then at most a # comment), reals with d exponents,
// logicals .true./.false. (T or F).
struct specfem_par_file {
  std::string path;
  specfem_par_value<double> dt;
  specfem_par_value<std::int32_t> nstep;
  specfem_par_value<bool> use_external_source_file, suppress_utm_projection, use_sources_receivers_z;
  specfem_par_value<int> utm_projection_zone;
};

// Throws parameter_error naming par_file (the path, or the path and line of
// a value that is not one) for a file that cannot be read or is no Par_file.
specfem_par_file read_specfem_par_file(const std::string& path);

// Which of the options the user chose; the others follow the Par_file.
struct specfem_given {
  bool dt = false, nt = false, frame = false, utm_zone = false, depth = false;
};

// Brings o into line with the mesh's Par_file: DT, NSTEP (nt at least it),
// the frame (SUPPRESS_UTM_PROJECTION: .false. is geographic, with
// UTM_PROJECTION_ZONE as utm_zone), depth (USE_SOURCES_RECEIVERS_Z).
// Throws parameter_error naming the option given that disagrees (dt, nt,
// coordinates, utm_zone, depth), its rule the file's value and line; or
// par_file for USE_EXTERNAL_SOURCE_FILE = .false.; or coordinates when the
// file suppresses the projection and no metric frame (utm, local) is given.
void follow_specfem_par_file(specfem_cmt_options& o, const specfem_par_file& par, const specfem_given& given);

// The name of point k's time function file: stf_000001.txt (.bin), numbered
// from 1, at least six digits.
std::string specfem_stf_name(std::size_t k, bool binary);

// Writes the CMTSOLUTION of the points (moment = rigidity * area * slip)
// to `cmt`, and each point's time function file through
// file(name, write), which must create the file, hand write a sink and
// close it; it is called from `threads` threads at once. Throws
// std::invalid_argument for a bad point, DT, NT or rigidity.
specfem_cmt_summary write_specfem_cmt(
    const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa, const specfem_cmt_options& o,
    byte_sink& cmt, const std::function<void(const std::string&, const std::function<void(byte_sink&)>&)>& file,
    unsigned threads = 1);

// The same into a folder: CMTSOLUTION and the time function files beside it.
specfem_cmt_summary write_specfem_cmt(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                                      const specfem_cmt_options& o, const std::string& folder, unsigned threads = 1);

}  // namespace trislip
