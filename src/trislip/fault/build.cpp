// From a model as its file states it to the points of a kinematic source:
// the rules every format shares.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "trislip/fault/geometry.hpp"
#include "trislip/fault/model_text.hpp"
#include "trislip/power.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/exports/kept_rate.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

using detail::normalised_strike;
using detail::offset_km;

// Rake into (-180, 180].
double normalised_rake(double r) {
  r = std::fmod(r, 360.0);
  if (r > 180) r -= 360;
  if (r <= -180) r += 360;
  return r;
}

// The first few lines of `count` found, and "..." for the rest.
std::string lines_text(const std::vector<std::size_t>& lines, std::size_t count) {
  std::string l;
  for (std::size_t k = 0; k < lines.size(); ++k) l += (k ? ", " : "") + std::to_string(lines[k]);
  if (count > lines.size()) l += ", ...";
  return l;
}

// A fill-in of one kind: how many subfaults took it, from where, which lines.
struct fill {
  std::size_t count = 0;
  std::string from;
  std::vector<std::size_t> lines;
  void add(std::size_t line, const std::string& source) {
    if (count++ == 0) from = source;
    if (lines.size() < 5) lines.push_back(line);
  }
  void say(std::vector<fault_warning>& to, const char* check, const char* what, std::size_t of) const {
    if (count == 0) return;
    to.push_back({check, std::string(what) + " of " + std::to_string(count) + " of " + std::to_string(of) +
                             " subfaults filled in from " + from + " (lines " + lines_text(lines, count) + ")"});
  }
};

// The layer whose top is the deepest one at or above the depth; above the
// shallowest top, the shallowest layer (above_top then says so): a table
// that starts below the surface reaches up to it whichever way its depths
// are read, as a layer's top or its middle.
const velocity_layer* layer_at(const std::vector<velocity_layer>& layers, double depth_km, bool& above_top) {
  const velocity_layer *found = nullptr, *top = nullptr;
  for (const velocity_layer& l : layers) {
    if (l.top_km <= depth_km && (found == nullptr || l.top_km >= found->top_km)) found = &l;
    if (top == nullptr || l.top_km < top->top_km) top = &l;
  }
  above_top = found == nullptr && top != nullptr;
  return above_top ? top : found;
}

// Samples from time 0 to the first at or after the end of the longest pulse;
// more than max_samples (which the caller refuses) when that is too many
// to count in an integer.
std::int64_t samples_to_end(const parameters& p) {
  const double taumax = detail::make_pulse(slip_params_of(p), p.nv).tauj;
  const double steps = std::ceil(taumax / p.dt);
  if (!(steps < static_cast<double>(max_samples))) return std::int64_t{max_samples} + 1;
  auto n = static_cast<std::int64_t>(steps) + 1;
  while (n > 2 && static_cast<double>(n - 2) * p.dt >= taumax) --n;
  while (n <= max_samples && static_cast<double>(n - 1) * p.dt < taumax) ++n;
  return std::max<std::int64_t>(n, min_samples);
}

// A point's own rate brought to the step dt without losing its slip: its
// running slip (each sample the rate over the step centred on it) taken
// at half steps of dt, and each new sample the slip gained over its step.
// The file's own samples when dt is its step.
std::vector<double> resampled_rate(const std::vector<double>& rate, double from_dt, double dt, const std::string& line) {
  if (dt == from_dt) return rate;
  const std::vector<double> c = detail::kept_rate_cumulative(rate, from_dt);
  const double end = (static_cast<double>(rate.size()) - 0.5) * from_dt;  // where the last step ends
  const double steps = std::ceil(end / dt + 0.5);
  if (!(steps <= static_cast<double>(max_samples))) {
    throw model_error(line + ": its rate function of " + shortest_text(end) + " s at --dt " + shortest_text(dt) +
                      " s needs more than 2^26 samples");
  }
  std::vector<double> out(static_cast<std::size_t>(std::max(1.0, steps)));
  double before = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double after = detail::kept_rate_slip_at(c, from_dt, (static_cast<double>(i) + 0.5) * dt);
    out[i] = (after - before) / dt;
    before = after;
  }
  return out;
}

// An SRF point's own rates, taken along the net slip of its samples and
// across it: the part across adds up to no slip, and is not 0 only where
// components 1 and 2 differ in shape, turning the slip in time.
struct own_rates {
  double slip1 = 0, slip2 = 0, net = 0;  // the samples' slip in components 1 and 2, and its size, m
  std::vector<double> along, across;     // m/s, at the file's step
  double peak = 0, across_peak = 0;      // the largest of each, m/s
};

own_rates own_rates_of(const model_subfault& s) {
  own_rates r;
  r.slip1 = detail::kept_rate_slip(s.rate1_m_s, s.rate_dt_s);
  r.slip2 = detail::kept_rate_slip(s.rate2_m_s, s.rate_dt_s);
  r.net = std::hypot(r.slip1, r.slip2);
  if (!(r.net > 0)) return r;
  const double along1 = r.slip1 / r.net, along2 = r.slip2 / r.net;
  const std::size_t n = std::max(s.rate1_m_s.size(), s.rate2_m_s.size());
  r.along.resize(n);
  r.across.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double a = k < s.rate1_m_s.size() ? s.rate1_m_s[k] : 0, b = k < s.rate2_m_s.size() ? s.rate2_m_s[k] : 0;
    r.along[k] = a * along1 + b * along2;
    r.across[k] = b * along1 - a * along2;
    r.peak = std::max(r.peak, std::fabs(r.along[k]));
    r.across_peak = std::max(r.across_peak, std::fabs(r.across[k]));
  }
  return r;
}

// Something found in points of one kind: how many, the first few lines,
// and what the first one is.
struct tally {
  std::size_t count = 0;
  std::string first;
  std::vector<std::size_t> lines;
  void add(std::size_t line, const std::function<std::string()>& what) {
    if (count++ == 0) first = what();
    if (lines.size() < 5) lines.push_back(line);
  }
  void say(std::vector<fault_warning>& to, const char* check, const std::string& what, std::size_t of,
           bool strict) const {
    if (count == 0) return;
    to.push_back({check, std::to_string(count) + " of " + std::to_string(of) + " points " + what + " (lines " +
                             lines_text(lines, count) + "); the first: " + first,
                  strict});
  }
};

// The windows' length and overlap, which time every window: both known,
// the length > 0 and the overlap from 0 to less than the length, so that
// each window starts after the one before.
void check_windows(const time_windows& w) {
  if (std::isnan(w.length_s) || std::isnan(w.overlap_s)) {
    throw model_error("line " + std::to_string(w.columns_line) + ": time-window columns, and the header gives no "
                      "window length and overlap (% Invs : LEN = .. s SHF = .. s): give --merge-windows for one "
                      "function per subfault");
  }
  const std::string at = "line " + std::to_string(w.length_line) + ": ";
  if (!(w.length_s > 0 && std::isfinite(w.length_s))) {
    throw model_error(at + "window length LEN = " + shortest_text(w.length_s) + " s: must be > 0");
  }
  if (!(w.overlap_s >= 0 && w.overlap_s < w.length_s)) {
    throw model_error(at + "window overlap SHF = " + shortest_text(w.overlap_s) +
                      " s: must be from 0 to less than the window length " + shortest_text(w.length_s) + " s");
  }
}

// A window whose slip is unknown (a filler) takes what SLIP leaves after
// the others, shared equally among the unknown ones; said as a fill-in.
void fill_windows(const model_subfault& s, std::vector<double>& slip, fill& said) {
  double known = 0;
  std::size_t unknown = 0;
  for (std::size_t w = 0; w < slip.size(); ++w) {
    if (std::isnan(slip[w])) {
      ++unknown;
    } else if (!(slip[w] >= 0)) {
      throw model_error("line " + std::to_string(s.line) + ", window " + std::to_string(w + 1) + ": slip " +
                        shortest_text(slip[w]) + " m: must be >= 0");
    } else {
      known += slip[w];
    }
  }
  if (unknown == 0) return;
  if (!(s.slip_m >= known)) {
    throw model_error("line " + std::to_string(s.line) + ": a window's slip is unknown, and SLIP leaves none for it");
  }
  for (double& x : slip) {
    if (std::isnan(x)) x = (s.slip_m - known) / static_cast<double>(unknown);
  }
  said.add(s.line, "SLIP less the subfault's other windows");
}

}  // namespace

bool model::has_windows() const {
  for (const model_subfault& s : subfaults) {
    if (s.window_slip_m.size() >= 2) return true;
  }
  return false;
}

const char* model_format_name(model_format f) {
  switch (f) {
    case model_format::fsp: return "fsp";
    case model_format::usgs_param: return "usgs-param";
    case model_format::srf: return "srf";
    case model_format::csv: break;
  }
  return "csv";
}

model_format model_format_of(const std::string& name) {
  for (model_format f : {model_format::csv, model_format::fsp, model_format::usgs_param, model_format::srf}) {
    if (name == model_format_name(f)) return f;
  }
  throw std::invalid_argument(name + ": must be csv, fsp, usgs-param or srf");
}

const char* rigidity_source_name(rigidity_source s) {
  switch (s) {
    case rigidity_source::model_moment: return "model moment";
    case rigidity_source::velocity_structure: return "velocity structure";
    case rigidity_source::options: break;
  }
  return "options";
}

model read_model(const std::string& path, const model_format* format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw model_error(path + ": cannot read: " + std::strerror(errno));
  // The first 64 KiB tell the format, so that a file that is no model is
  // refused before the rest is read; the rest then comes in one read (a
  // stream's character-by-character copy is slow on a large file,
  // slowest in the browser page).
  std::string text(std::size_t{1} << 16, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw model_error(path + ": cannot read: " + std::strerror(errno));
  text.resize(static_cast<std::size_t>(in.gcount()));
  const bool more = !in.eof();
  model_format f;
  if (format != nullptr) {
    f = *format;
  } else {
    const std::string& head = text;
    if (looks_like_srf(head)) {
      f = model_format::srf;
    } else if (looks_like_usgs_param(head)) {
      f = model_format::usgs_param;
    } else if (looks_like_fsp(head)) {
      f = model_format::fsp;
    } else if (looks_like_csv(head)) {
      f = model_format::csv;
    } else {
      throw model_error(path + ": not a model this program reads: expected an FSP file (% header lines and a "
                        "% LAT LON ... SLIP ... column line), a USGS .param file (#Total number of "
                        "fault_segments, #Fault_segment lines), an SRF file (1.0 or 2.0, then PLANE or POINTS) or a CSV "
                        "table whose header names lon, lat, depth_km, ...");
    }
  }
  if (more) {
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size > 0 && static_cast<std::size_t>(size) > text.size()) {
      const std::size_t had = text.size();
      text.resize(static_cast<std::size_t>(size));
      in.seekg(static_cast<std::streamoff>(had));
      in.read(&text[had], static_cast<std::streamsize>(text.size() - had));
      text.resize(had + static_cast<std::size_t>(in.gcount()));
    }
    // A file that grows while read, or a stream without an end to seek:
    // the rest as it comes.
    in.clear();
    std::ostringstream rest;
    rest << in.rdbuf();
    text += rest.str();
    if (in.bad()) throw model_error(path + ": cannot read: " + std::strerror(errno));
  }
  switch (f) {
    case model_format::fsp: return read_fsp(text, path);
    case model_format::usgs_param: return read_usgs_param(text, path);
    case model_format::srf: return read_srf_model(text, path);
    case model_format::csv: break;
  }
  return read_csv_model(text, path);
}

std::string rigidity_disagreement(const fault_options& o) {
  return "--mu " + shortest_text(o.mu_pa) + ": disagrees with --vs " + shortest_text(o.vs_m_s) + " and --density " +
         shortest_text(o.density_kg_m3) + ", which give " +
         shortest_text(o.density_kg_m3 * o.vs_m_s * o.vs_m_s) + " Pa (density x vs^2) beyond 0.1%: give the "
         "rigidity one way";
}

fault build_fault(const model& m, const fault_options& o) {
  {
    parameters q = o.p;
    q.dmax = 1;
    q.fmax = 1;
    q.nt = min_samples;
    check(q);
  }
  if (!std::isnan(o.mu_pa) && !rigidity_agrees(o.mu_pa, o.vs_m_s, o.density_kg_m3)) {
    throw std::invalid_argument(rigidity_disagreement(o));
  }
  if (o.keep_rate_functions && m.format != model_format::srf) {
    throw std::invalid_argument(std::string("--keep-rate-functions: a model in ") + model_format_name(m.format) +
                                " has no slip-rate functions of its own; SRF files have");
  }
  fault f;
  f.read = m.subfaults.size();
  fill rake_fill, rise_fill, trup_fill, structure_fill, window_fill;
  tally slip_differs, rake_turns, coarser;
  f.warnings = m.notes;
  f.windowed = m.has_windows() && !o.merge_windows;
  if (f.windowed) check_windows(m.windows);
  // Segment order, file order within a segment.
  std::vector<const model_subfault*> order;
  for (const model_subfault& s : m.subfaults) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(),
                   [](const model_subfault* a, const model_subfault* b) { return a->segment < b->segment; });
  // Each segment's subfault centres, zero-slip ones too, which give its plane.
  std::vector<std::vector<detail::row_centre>> centres(m.segments.size());
  f.segment_first.assign(m.segments.size(), 0);
  std::vector<bool> first_seen(m.segments.size(), false);

  for (const model_subfault* sp : order) {
    const model_subfault& s = *sp;
    const std::string line = "line " + std::to_string(s.line);
    const model_segment* seg = s.segment < m.segments.size() ? &m.segments[s.segment] : nullptr;
    // A time-window subfault's slip is the sum of its windows'.
    const bool windowed = f.windowed && !s.window_slip_m.empty();
    std::vector<double> window_slip = windowed ? s.window_slip_m : std::vector<double>{};
    if (windowed) fill_windows(s, window_slip, window_fill);
    double slip = s.slip_m;
    if (windowed) {
      slip = 0;
      for (double x : window_slip) slip += x;
    }
    // An SRF's own rates kept: the slip is what their samples carry, which
    // its SLIP1 and SLIP2 should be.
    own_rates own;
    if (o.keep_rate_functions) {
      own = own_rates_of(s);
      slip = own.net;
      if (std::hypot(own.slip1 - s.slip1_m, own.slip2 - s.slip2_m) > 1e-3 * s.slip_m) {
        slip_differs.add(s.line, [&] {
          return "SLIP1 " + shortest_text(s.slip1_m) + " m and SLIP2 " + shortest_text(s.slip2_m) + " m, samples " +
                 shortest_text(own.slip1) + " m and " + shortest_text(own.slip2) + " m";
        });
      }
    }
    if (std::isnan(slip)) throw model_error(line + ": no slip (unknown or missing)");
    if (!(slip >= 0)) throw model_error(line + ": slip " + shortest_text(slip) + " m: must be >= 0");
    double lon = s.lon, lat = s.lat, depth = s.depth_km;
    if (std::isnan(lon) || std::isnan(lat) || std::isnan(depth)) {
      throw model_error(line + ": no position (latitude, longitude and depth are needed)");
    }
    const double strike = std::isnan(s.strike) && seg != nullptr ? seg->strike : s.strike;
    const double dip = std::isnan(s.dip) && seg != nullptr ? seg->dip : s.dip;
    if (std::isnan(strike) || std::isnan(dip)) throw model_error(line + ": no strike or dip (neither the row nor its segment gives one)");
    if (m.top_centre && (seg == nullptr || !(seg->dz_km > 0))) {
      throw model_error(line + ": top-centre coordinates, and no subfault size Dz to find the centre");
    }
    // To the subfault's centre, where the row is another of its points.
    if (seg != nullptr && seg->to_centre_along_km != 0) move_along_strike(lon, lat, strike, seg->to_centre_along_km);
    if (seg != nullptr && seg->to_centre_down_km != 0) move_down_dip(lon, lat, depth, strike, dip, seg->to_centre_down_km);
    // One centre a subfault: an SRF's time windows are points at one place,
    // one after another, and would weigh their subfault in the plane.
    if (seg != nullptr) {
      std::vector<detail::row_centre>& c = centres[s.segment];
      if (c.empty() || c.back().lon != lon || c.back().lat != lat || c.back().depth_km != depth) {
        c.push_back({lon, lat, depth});
      }
    }
    if (slip == 0) {
      ++f.zero_slip;
      continue;
    }
    if (seg != nullptr && !first_seen[s.segment]) {
      first_seen[s.segment] = true;
      f.segment_first[s.segment] = f.points.size();
    }
    srf_point pt;
    pt.lon = lon;
    pt.lat = lat;
    pt.depth_km = depth;
    pt.strike = normalised_strike(strike);
    pt.dip = dip;
    pt.area_m2 = !std::isnan(s.area_m2) ? s.area_m2
                 : seg != nullptr       ? seg->dx_km * seg->dz_km * 1e6  // km^2
                                        : std::nan("");
    if (std::isnan(pt.area_m2)) throw model_error(line + ": no subfault size (the segment gives no Dx and Dz)");
    // The subfault's rake, which a window without its own takes; not filled
    // in where every window with slip has its own.
    bool rake_needed = true;
    if (windowed) {
      rake_needed = false;
      for (std::size_t w = 0; w < window_slip.size(); ++w) {
        rake_needed = rake_needed || (window_slip[w] > 0 && std::isnan(s.window_rake[w]));
      }
    }
    double rake = s.rake;
    if (std::isnan(rake) && rake_needed) {
      if (!std::isnan(o.rake)) {
        rake = o.rake;
        rake_fill.add(s.line, "--rake " + shortest_text(o.rake));
      } else if (!std::isnan(m.rake)) {
        rake = m.rake;
        rake_fill.add(s.line, "the header's RAKE = " + shortest_text(m.rake));
      } else {
        throw model_error(line + ": no rake, and the header gives no mechanism: give --rake");
      }
    }
    pt.rake = std::isnan(rake) ? 0 : normalised_rake(rake);
    // Its function: the run's shape and step, a table's own where it has them.
    pt.p = o.p;
    pt.p.dmax = slip;
    if (!std::isnan(s.tr)) pt.p.tr = s.tr;
    if (!std::isnan(s.ar)) pt.p.ar = s.ar;
    if (!std::isnan(s.nv)) {
      if (!(s.nv >= 1 && s.nv <= max_pulses && s.nv == std::floor(s.nv))) {
        throw model_error(line + ", column nv: " + shortest_text(s.nv) + " is not a whole number from 1 to 64");
      }
      pt.p.nv = static_cast<std::int32_t>(s.nv);
    }
    double rise = windowed ? m.windows.length_s : s.rise_s;
    if (windowed) {
      pt.p.fmax = ipow(pt.p.tr, pt.p.nv - 1) / rise;  // the window's length, checked with the windows
    } else if (std::isnan(rise) && !std::isnan(s.fmax_hz)) {
      pt.p.fmax = s.fmax_hz;
    } else {
      if (std::isnan(rise)) {
        if (!std::isnan(o.rise_s)) {
          rise = o.rise_s;
          rise_fill.add(s.line, "--rise " + shortest_text(o.rise_s) + " s");
        } else if (!std::isnan(m.av_rise_s)) {
          rise = m.av_rise_s;
          rise_fill.add(s.line, "the header's avTr = " + shortest_text(m.av_rise_s) + " s");
        } else {
          throw model_error(line + ": no rise time, and the header gives no avTr: give --rise");
        }
      }
      if (!(rise > 0)) throw model_error(line + ": rise time " + shortest_text(rise) + " s: must be > 0");
      // The function lasts its longest pulse, tr^(nv-1) / fmax.
      pt.p.fmax = ipow(pt.p.tr, pt.p.nv - 1) / rise;
    }
    double trup = s.trup_s;
    if (std::isnan(trup)) {
      const double vr = !std::isnan(o.vr_km_s) ? o.vr_km_s : m.av_vr_km_s;
      if (std::isnan(vr)) throw model_error(line + ": no rupture time, and the header gives no avVr: give --vr");
      if (std::isnan(m.hyp_lon) || std::isnan(m.hyp_lat) || std::isnan(m.hyp_depth_km)) {
        throw model_error(line + ": no rupture time, and the header gives no hypocentre to time it from");
      }
      double east = 0, north = 0;
      offset_km(m.hyp_lon, m.hyp_lat, lon, lat, east, north);
      const double down = depth - m.hyp_depth_km;
      trup = std::sqrt(east * east + north * north + down * down) / vr;
      trup_fill.add(s.line, "the straight distance to the hypocentre at " +
                                (!std::isnan(o.vr_km_s) ? "--vr " + shortest_text(o.vr_km_s)
                                                        : "the header's avVr = " + shortest_text(m.av_vr_km_s)) +
                                " km/s");
    }
    pt.tinit_s = trup;
    // Rigidity: the model's own moment, else its velocity structure (or a
    // table's own VS and DEN), else the options.
    bool above_top = false;
    const velocity_layer* layer = layer_at(m.layers, depth, above_top);
    const bool layer_known = layer != nullptr && layer->vs_m_s > 0 && layer->density_kg_m3 > 0;
    bool layer_used = false;
    double mu = std::nan(""), density = std::nan("");
    rigidity_source from = rigidity_source::options;
    if (s.moment_nm > 0) {
      mu = s.moment_nm / (pt.area_m2 * slip);
      from = rigidity_source::model_moment;
      layer_used = std::isnan(s.density_kg_m3) && layer_known;
      density = !std::isnan(s.density_kg_m3) ? s.density_kg_m3 : layer_known ? layer->density_kg_m3 : o.density_kg_m3;
      pt.density_kg_m3 = density;
      pt.vs_m_s = std::sqrt(mu / density);
    } else if (s.vs_m_s > 0 && s.density_kg_m3 > 0) {
      pt.vs_m_s = s.vs_m_s;
      pt.density_kg_m3 = s.density_kg_m3;
      mu = s.density_kg_m3 * s.vs_m_s * s.vs_m_s;
      from = rigidity_source::velocity_structure;
    } else if (layer_known) {
      layer_used = true;
      pt.vs_m_s = layer->vs_m_s;
      pt.density_kg_m3 = layer->density_kg_m3;
      mu = layer->density_kg_m3 * layer->vs_m_s * layer->vs_m_s;
      from = rigidity_source::velocity_structure;
    } else if (!std::isnan(o.mu_pa)) {
      mu = o.mu_pa;
      pt.density_kg_m3 = o.density_kg_m3;
      pt.vs_m_s = std::sqrt(mu / o.density_kg_m3);
    } else if (!std::isnan(o.vs_m_s) && !std::isnan(o.density_kg_m3)) {
      pt.vs_m_s = o.vs_m_s;
      pt.density_kg_m3 = o.density_kg_m3;
      mu = o.density_kg_m3 * o.vs_m_s * o.vs_m_s;
    } else {
      throw model_error(line + ": no rigidity: the model gives no moment and no velocity structure there; give "
                        "--mu, or --vs and --density");
    }
    if (layer_used && above_top) {
      structure_fill.add(s.line, "its first layer, whose top (DEPTH = " +
                                     shortest_text(layer->top_km) + " km) is below them");
    }
    if (!(std::isfinite(mu) && mu > 0)) {
      throw model_error(line + ": rigidity " + shortest_text(mu) + " Pa (from the " + rigidity_source_name(from) +
                        "): must be finite and > 0");
    }
    const std::int64_t n = samples_to_end(pt.p);
    if (n > max_samples) {
      throw model_error(line + ": a function of " + shortest_text(rise) + " s at --dt " + shortest_text(o.p.dt) +
                        " s needs more than 2^26 samples");
    }
    pt.p.nt = static_cast<std::int32_t>(n);
    if (o.keep_rate_functions) {
      // Its own rates at the run's step, along the samples' net slip, whose
      // direction is the point's rake, and across it where the slip turns.
      pt.rake = normalised_rake(s.srf_rake + std::atan2(own.slip2, own.slip1) * (180 / 3.14159265358979323846));
      pt.rate_m_s = resampled_rate(own.along, s.rate_dt_s, o.p.dt, line);
      pt.p.dmax = detail::kept_rate_slip(pt.rate_m_s, o.p.dt);
      pt.p.nt = static_cast<std::int32_t>(std::max<std::size_t>(pt.rate_m_s.size(), min_samples));
      if (own.across_peak > 1e-6 * own.peak) {
        pt.rate2_m_s = resampled_rate(own.across, s.rate_dt_s, o.p.dt, line);
        rake_turns.add(s.line, [&] {
          return "a rate of up to " + shortest_text(own.across_peak) + " m/s across its rake, up to " +
                 shortest_text(own.peak) + " m/s along it";
        });
      }
      if (o.p.dt > s.rate_dt_s * (1 + 1e-9)) {
        coarser.add(s.line, [&] { return "DT " + shortest_text(s.rate_dt_s) + " s"; });
      }
    }
    const auto add = [&](const srf_point& q, std::int32_t window) {
      try {
        check_srf_point(q, srf_version::v1_0);
      } catch (const parameter_error& e) {
        throw model_error(line + (window > 0 ? ", window " + std::to_string(window) : "") + ": " + e.name() + " " +
                          e.value() + " must be " + e.rule());
      }
      f.points.push_back(q);
      f.lines.push_back(s.line);
      f.windows.push_back(window);
      f.rigidity_pa.push_back(mu);
      f.rigidity_from.push_back(from);
    };
    if (!windowed) {
      add(pt, 0);
      continue;
    }
    // Each window with slip a point of its own: its slip and rake, from its
    // onset after the front; a window without slip carries no rake.
    for (std::size_t w = 0; w < window_slip.size(); ++w) {
      if (window_slip[w] == 0) continue;
      const auto number = static_cast<std::int32_t>(w + 1);
      srf_point q = pt;
      q.p.dmax = window_slip[w];
      if (!std::isnan(s.window_rake[w])) q.rake = normalised_rake(s.window_rake[w]);
      q.tinit_s = pt.tinit_s + m.windows.onset_s(number);
      add(q, number);
    }
  }
  rake_fill.say(f.warnings, "rake_filled", "the rake", f.read);
  rise_fill.say(f.warnings, "rise_filled", "the rise time", f.read);
  trup_fill.say(f.warnings, "rupture_time_filled", "the rupture time", f.read);
  structure_fill.say(f.warnings, "structure_filled", "the velocity structure", f.read);
  window_fill.say(f.warnings, "window_slip_filled", "a window's slip", f.read);
  const std::size_t points = f.points.size();
  slip_differs.say(f.warnings, "rate_slip_differs",
                   "have samples whose slip (DT x their sum) differs from their SLIP1 and SLIP2 beyond 0.1%: the "
                   "samples' slip is kept",
                   points, true);
  rake_turns.say(f.warnings, "rate_rake_turns",
                 "have components 1 and 2 whose functions differ in shape, turning the slip in time: the rate "
                 "across each one's rake (its slip adding up to 0) is written as component 2 of trislip.srf (and "
                 "of trislip.nrf); the moment rate and SPECFEM3D's entries take the rate along it",
                 points, false);
  coarser.say(f.warnings, "rate_resampled_coarser",
              "have rate functions sampled finer than --dt " + shortest_text(o.p.dt) +
                  " s: resampled with their slip kept, their peaks smoothed; lower --dt to keep their shape",
              points, false);
  if (m.format == model_format::srf) {
    f.functions = o.keep_rate_functions
                      ? "each point's own slip-rate function kept (--keep-rate-functions): its components 1 and 2 "
                        "along their net slip (and across it, where the slip turns), its running slip resampled at "
                        "--dt " + shortest_text(o.p.dt) + " s and differenced, so that its slip is its samples'"
                      : "each point's slip kept, its rate function replaced by this program's function lasting the "
                        "span of its samples (up to its last sample above 0, and one step more)";
  }

  detail::planes_of_rows(m, centres, f);
  // A segment with no point with slip starts where the next one does.
  for (std::size_t k = m.segments.size(); k-- > 0;) {
    if (!first_seen[k]) f.segment_first[k] = k + 1 < m.segments.size() ? f.segment_first[k + 1] : f.points.size();
  }
  // Every point on its segment's plane, and the hypocentre on one of them.
  const double hyp[] = {m.hyp_lon, m.hyp_lat, m.hyp_depth_km};
  const bool hyp_known = std::isfinite(hyp[0]) && std::isfinite(hyp[1]) && std::isfinite(hyp[2]);
  f.geometry = check_geometry(f.points, f.planes, f.segment_first, hyp_known ? hyp : nullptr);
  for (fault_warning& w : geometry_warnings(f.geometry, f.points, f.planes,
                                            [&](std::size_t k) { return point_label(f, k); })) {
    f.warnings.push_back(std::move(w));
  }
  return f;
}

std::string point_label(const fault& f, std::size_t k) {
  std::string label = "line " + std::to_string(f.lines[k]);
  if (f.windows[k] > 0) label += ", window " + std::to_string(f.windows[k]);
  return label;
}

std::vector<double> moment_rate(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                                double dt) {
  if (!(dt > 0) || !std::isfinite(dt)) throw parameter_error("dt", shortest_text(dt), "finite and > 0");
  if (rigidity_pa.size() != points.size()) {
    throw std::invalid_argument("moment_rate: " + std::to_string(rigidity_pa.size()) + " rigidities for " +
                                std::to_string(points.size()) + " points");
  }
  double end = 0;
  std::vector<double> taumax(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    check(points[k].p);
    taumax[k] = detail::function_end_s(points[k]);
    end = std::max(end, points[k].tinit_s + taumax[k]);
  }
  std::size_t n = 1;
  while (static_cast<double>(n - 1) * dt < end) ++n;
  std::vector<double> rate(n, 0.0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const srf_point& pt = points[k];
    if (!pt.rate_m_s.empty()) {
      // Its own rate: the slip it gains over the step centred on each
      // sample, so that the steps' sum is its whole moment.
      const std::vector<double> c = detail::kept_rate_cumulative(pt.rate_m_s, pt.p.dt);
      const double scale = rigidity_pa[k] * pt.area_m2;
      // Only the steps around its own, a step more each side: before them
      // it has no slip, after them all of it.
      const double first = std::floor((pt.tinit_s - pt.p.dt / 2) / dt - 0.5) - 1;
      const double last = std::ceil((pt.tinit_s + taumax[k]) / dt + 0.5) + 1;
      double before = 0;
      for (auto i = static_cast<std::size_t>(std::max(0.0, first)); i < n && static_cast<double>(i) <= last; ++i) {
        const double after = detail::kept_rate_slip_at(c, pt.p.dt, (static_cast<double>(i) + 0.5) * dt - pt.tinit_s);
        rate[i] = rate[i] + scale * ((after - before) / dt);
        before = after;
      }
      continue;
    }
    const slip_params sp = slip_params_of(pt.p);
    const pulse_train train(sp);
    const double scale = rigidity_pa[k] * pt.area_m2;
    auto i = static_cast<std::size_t>(std::max(0.0, std::floor(pt.tinit_s / dt)));
    std::size_t first = 0;
    for (; i < n; ++i) {
      const double tau = static_cast<double>(i) * dt - pt.tinit_s;
      if (tau <= 0) continue;
      if (tau > taumax[k]) break;
      rate[i] = rate[i] + scale * ((train.sum_at(tau, first) * sp.dmax) / train.arsum);
    }
  }
  return rate;
}

}  // namespace trislip
