// Published finite-fault models as kinematic sources: the FSP files of the
// SRCMOD database and of the USGS, the USGS "basic inversion" parameter
// file (.param), and a CSV table of subfaults, read into one model in SI
// units, then mapped onto SRF points that each carry this function with
// their own slip, rupture time and rise time.
//
// Reading is two steps. A reader (one per format) gives the model as the
// file states it: segments, subfaults, velocity structure, header values,
// with every unknown value (a missing column, a filler of 999 or -999) a
// not-a-number. Building the fault then applies the same rules to every
// format: zero-slip subfaults left out and counted, each row moved to its
// subfault's centre by the writer's rule, rise and rupture times and rakes
// filled in where the file lacks them (each fill a warning), each
// subfault's rigidity, and each segment's plane from its rows, with the
// header's own values checked against it.
//
// A multi-time-window model (rows with TW1, TW2, ... columns) keeps its
// windows: each window with slip becomes a point of its own at its
// subfault's place, with the window's slip and rake, lasting the window's
// length and starting at its onset after the rupture front.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/srf.hpp"
#include "trislip/trislip.hpp"

namespace trislip {

enum class model_format { csv, fsp, usgs_param, srf };
// "csv", "fsp", "usgs-param", "srf"
const char* model_format_name(model_format f);
// Throws std::invalid_argument naming the four names.
model_format model_format_of(const std::string& name);

// A file that cannot be read as a model: what() names the file, the line
// (and the column where there is one) and the text found.
class model_error : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// One layer of a model's velocity-density structure, from its top down to
// the next layer's top.
struct velocity_layer {
  double top_km = 0;
  double vs_m_s = std::nan("");
  double density_kg_m3 = std::nan("");
};

// Something filled in, left out or found wrong while reading or building,
// said once per kind: check names the kind ("rake_filled",
// "zero_slip_left_out", "header_top_centre", "point_outside_plane", ...),
// message says what, from where and how many. strict: a warning that
// --strict refuses (the source written would be wrong), not a value
// filled in or a header line the rows overrule.
struct fault_warning {
  std::string check;
  std::string message;
  bool strict = false;
};

// A fault segment as its file states it: lengths in km, angles in degrees.
// Unknown values are not-a-number. Strike, dip and the subfault size Dx,
// Dz place the rows; the other header values are claims that building the
// fault checks against the rows, each with its line (0: not stated).
struct model_segment {
  double strike = std::nan(""), dip = std::nan("");
  double dx_km = std::nan(""), dz_km = std::nan("");  // subfault size along strike and down dip
  // From a row to its subfault's centre, km along strike and down dip in
  // the row's own strike and dip: 0 where rows are centres.
  double to_centre_along_km = 0, to_centre_down_km = 0;
  double len_km = std::nan(""), wid_km = std::nan("");
  std::int32_t nx = 0, nz = 0;                        // subfaults along strike and down dip (0: unknown)
  double top_lon = std::nan(""), top_lat = std::nan("");  // what the file calls the top centre
  double dtop_km = std::nan("");                      // what it calls the depth of the top edge
  double hyp_along_km = std::nan("");                 // hypocentre along strike from the segment's first corner
  double hyp_down_km = std::nan("");                  // and down dip from its top edge
  std::size_t len_line = 0, wid_line = 0, top_line = 0, dtop_line = 0, hyp_line = 0;
};

// One subfault (one row of the file). Unknown values are not-a-number.
struct model_subfault {
  std::size_t line = 0;        // in the file, from 1
  std::size_t segment = 0;     // index into model::segments
  double lon = std::nan(""), lat = std::nan("");      // degrees
  double depth_km = std::nan("");
  double slip_m = std::nan("");
  double rake = std::nan(""), strike = std::nan(""), dip = std::nan("");  // degrees; strike, dip: the segment's when unknown
  double area_m2 = std::nan("");                      // the segment's dx * dz when unknown
  double trup_s = std::nan(""), rise_s = std::nan("");
  double moment_nm = std::nan("");                    // the model's own moment of the subfault
  double vs_m_s = std::nan(""), density_kg_m3 = std::nan("");  // a table's own columns
  double fmax_hz = std::nan(""), tr = std::nan(""), ar = std::nan(""), nv = std::nan("");  // a table's own shape
  // A time-window model's slip (m) and rake (degrees) of each window, in
  // window order; empty where the rows have no TW columns.
  std::vector<double> window_slip_m, window_rake;
  // An SRF point's own slip rates as written (m/s), sample i at trup_s +
  // i * rate_dt_s: component 1 along its RAKE (srf_rake) and component 2
  // at RAKE + 90 degrees. Empty for the other formats.
  std::vector<double> rate1_m_s, rate2_m_s;
  double rate_dt_s = std::nan(""), srf_rake = std::nan("");
  double slip1_m = std::nan(""), slip2_m = std::nan("");  // its SLIP1 and SLIP2 (slip_m is their vector's size)
};

// The time windows of a multi-time-window inversion, as its header states
// them: window w (from 1) of a subfault starts (w - 1) x (length - overlap)
// after the rupture front reaches it and lasts length. The FSP names them
// Ntw, LEN (s) and SHF (s, "the overlap of successive time-windows"), and
// their shape SVF.
struct time_windows {
  std::int32_t stated = 0;  // Ntw (0: not stated)
  double length_s = std::nan(""), overlap_s = std::nan("");
  std::string shape;        // as written
  std::size_t count_line = 0, length_line = 0;
  std::size_t columns_line = 0;  // the first column line naming windows
  // Onset of window w (from 1) after the front.
  double onset_s(std::int32_t w) const { return (w - 1) * (length_s - overlap_s); }
};

// A model as its file states it, in SI units (lengths and depths in km,
// angles in degrees, rake in (-180, 180], strike in [0, 360)).
struct model {
  model_format format = model_format::csv;
  std::string event, tag;
  std::vector<model_segment> segments;
  std::vector<model_subfault> subfaults;
  std::vector<velocity_layer> layers;
  bool top_centre = false;  // the points are the top centres of their subfaults
  // The header's values.
  double hyp_lon = std::nan(""), hyp_lat = std::nan(""), hyp_depth_km = std::nan("");
  std::size_t hyp_line = 0;
  double rake = std::nan("");                         // the mechanism's rake
  double av_rise_s = std::nan(""), av_vr_km_s = std::nan("");
  double moment_nm = std::nan(""), mw = std::nan("");  // as stated
  time_windows windows;                               // a time-window model's, else stated values or none
  std::vector<fault_warning> notes;                   // what reading found worth saying
  std::string reading;                                // how the file was read, where a summary should say it
  // Whether the rows give the slip of two windows or more: a model of one
  // window is read as one function per subfault.
  bool has_windows() const;
};

// Whether the first lines of text look like each format: cheap, never throws.
bool looks_like_fsp(const std::string& head);
bool looks_like_usgs_param(const std::string& head);
bool looks_like_csv(const std::string& head);
bool looks_like_srf(const std::string& head);

// The readers, from the file's whole text. `name` is how messages call the
// file. Throw model_error.
model read_fsp(const std::string& text, const std::string& name);
model read_usgs_param(const std::string& text, const std::string& name);
model read_csv_model(const std::string& text, const std::string& name);
// An SRF file (1.0 or 2.0): each point a subfault at its own place with its
// slip (components 1 and 2 as one vector, component 3 said and left out),
// rake, area, onset, VS and DEN (2.0), its rise time the span of its
// samples and its own rate along its slip; the PLANE block's segments,
// each point's by its POINTS block or its place in order.
model read_srf_model(const std::string& text, const std::string& name);

// Reads the file at path in the format given, or the one its content shows
// (model_error listing what was expected when it is none of them).
model read_model(const std::string& path, const model_format* format = nullptr);

// What building a fault takes beyond the model: the shape and step of
// every subfault's function, and the values a model may lack.
struct fault_options {
  parameters p;                  // dt, tr, ar, nv (nt, dmax and fmax are each subfault's)
  double rise_s = std::nan("");  // the function's duration where the model has none
  double vr_km_s = std::nan(""); // rupture speed for rupture times the model lacks
  double rake = std::nan("");    // degrees, where the model has none
  double mu_pa = std::nan("");   // rigidity where the model gives none
  double vs_m_s = std::nan(""), density_kg_m3 = std::nan("");  // or from these
  // A time-window model as one function per subfault: its total slip
  // (SLIP), its rake (RAKE) and its rise time (avTr), the windows merged.
  bool merge_windows = false;
  // An SRF file's own slip-rate functions instead of this program's: each
  // point's rake and slip those of its samples' net slip, its rate along
  // and across that rake (rate_m_s, rate2_m_s) with its running slip
  // resampled at p.dt (each sample the slip gained over the step centred
  // on it), so that its slip is its samples' to rounding. Only SRF files
  // have them.
  bool keep_rate_functions = false;
};

// What --mu beside --vs and --density that disagree with it (by
// rigidity_agrees) says: build_fault refuses those options with it, since
// the moments would take one rigidity and SRF 2.0's VS and DEN another.
std::string rigidity_disagreement(const fault_options& o);

// Where a subfault's rigidity came from.
enum class rigidity_source { model_moment, velocity_structure, options };
const char* rigidity_source_name(rigidity_source s);  // "model moment", "velocity structure", "options"

// Whether every point lies on its segment's plane and the hypocentre on
// one of them. A point is within its plane when it lies along strike
// within half the plane's length of its centre and down dip within its
// width of its top, each with half a subfault (LEN/NSTK, WID/NDIP) of
// slack; the hypocentre also within half a subfault of the plane itself.
struct geometry_check {
  bool made = false;                 // false: no planes to check against
  std::size_t points = 0;            // checked
  struct outside {
    std::size_t point = 0, segment = 0;
    double along_km = 0, down_km = 0;  // along strike from the plane's centre, down dip from its top
  };
  std::vector<outside> outside_points;
  bool hypocentre_known = false, hypocentre_inside = false;
  std::size_t hypocentre_segment = 0;  // the one it lies in, or the nearest
  double hyp_along_km = std::nan(""), hyp_down_km = std::nan(""), hyp_off_km = std::nan("");
  bool passed() const { return made && outside_points.empty() && (!hypocentre_known || hypocentre_inside); }
};

// The check of points against planes: point k belongs to the last segment
// whose segment_first is at most k (all to the first when segment_first
// is empty). The hypocentre is hyp (lon, lat, depth in km) when given,
// else each plane's own SHYP and DHYP.
geometry_check check_geometry(const std::vector<srf_point>& points, const std::vector<srf_plane>& planes,
                              const std::vector<std::size_t>& segment_first, const double* hyp = nullptr);

// Its failures as warnings that --strict refuses ("point_outside_plane",
// "hypocentre_outside_segments"); label(k) names point k.
std::vector<fault_warning> geometry_warnings(const geometry_check& g, const std::vector<srf_point>& points,
                                             const std::vector<srf_plane>& planes,
                                             const std::function<std::string(std::size_t)>& label);

// The fault to write: every subfault with slip, as an SRF point whose
// function lasts its rise time (fmax = tr^(nv-1) / rise) and whose record
// reaches the end of it, in segment order; in a time-window model each
// window with slip a point, in window order within its subfault.
struct fault {
  std::vector<srf_point> points;
  std::vector<srf_plane> planes;           // one per segment, from its rows (the header's claims stay in the
                                           // model's segments); empty when the model has no geometry
  std::vector<std::size_t> segment_first;  // index of each segment's first point (segments' order)
  std::vector<std::size_t> lines;          // each point's line in the file
  std::vector<std::int32_t> windows;       // each point's time window (from 1); 0: the whole subfault
  bool windowed = false;                   // the model's time windows kept, each a point
  std::vector<double> rigidity_pa;         // each point's
  std::vector<rigidity_source> rigidity_from;
  geometry_check geometry;
  std::size_t read = 0;                    // subfaults in the file
  std::size_t zero_slip = 0;               // left out
  std::size_t subfaults() const { return read - zero_slip; }  // written, as one point or its windows
  std::vector<fault_warning> warnings;
  // How each point's function was made, where a summary should say it (an
  // SRF file's: its own rate kept, or this program's in its place).
  std::string functions;
};

// How messages name point k of a fault: "line N", and ", window W" for a
// time window's point.
std::string point_label(const fault& f, std::size_t k);

// The mapping from a model to its points. Throws model_error naming the
// line for what cannot be filled (no slip, no position, no subfault size,
// no rise time, no rupture time, no rigidity).
fault build_fault(const model& m, const fault_options& o);

// Where moved points go: a point a distance down dip (km, along the
// subfault's dip) from (lon, lat, depth), and one a distance along strike
// (km, horizontally in the strike's direction) from (lon, lat).
void move_down_dip(double& lon, double& lat, double& depth_km, double strike, double dip, double distance_km);
void move_along_strike(double& lon, double& lat, double strike, double distance_km);

// The moment rate of the whole fault, N m/s, at i*dt from 0 to the first
// sample at or after the end of the last point's function: the sum over
// points of rigidity * area * slip velocity at t - tinit (the library's
// function of each point, 0 before its rupture time). Its integral is the
// moment of the nominal slips.
std::vector<double> moment_rate(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                                double dt);

}  // namespace trislip
